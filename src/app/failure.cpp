#include "app/failure.hpp"

#include <fmt/format.h>

#include "app/errors.hpp"
#include "db/ledger.hpp"
#include "db/session.hpp"
#include "map/map_services.hpp"
#include "reports/translate.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

// The one table: each kind's exit status, whether a run could not run at all,
// its detail's prefix, HTTP status and the HTTP message's prefix.
struct KindAnswers {
  int exitStatus;
  bool couldNotRun;
  const char* runPrefix;
  int httpStatus;
  const char* httpPrefix;
};

KindAnswers AnswersOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::Refused:
      return {2, true, "无法计算：", 400, ""};
    case FailureKind::NotFound:
      return {2, true, "无法计算：", 404, ""};
    case FailureKind::Unreachable:
      return {3, true, "", 503, ""};
    case FailureKind::CannotRun:
      return {3, true, "无法计算：", 503, ""};
    case FailureKind::Database:
      return {1, false, "数据库出错：", 503, "读取数据库失败："};
    case FailureKind::Sending:
      return {1, false, "发送失败：", 502, "发送邮件失败："};
    case FailureKind::Internal:
      break;
  }
  return {1, true, "无法计算：", 500, "服务内部错误："};
}

}  // namespace

int Failure::ExitStatus() const { return AnswersOf(kind).exitStatus; }
bool Failure::CouldNotRun() const { return AnswersOf(kind).couldNotRun; }
std::string Failure::RunDetail() const { return AnswersOf(kind).runPrefix + text; }
int Failure::HttpStatus() const { return AnswersOf(kind).httpStatus; }
std::string Failure::HttpMessage() const { return AnswersOf(kind).httpPrefix + text; }

Failure FailureOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const ArgumentError& e) {
    return {FailureKind::Refused, e.what()};
  } catch (const NotFoundError& e) {
    return {FailureKind::NotFound, e.what()};
  } catch (const ConnectionRefusedError& e) {
    return {FailureKind::Unreachable, e.what()};
  } catch (const UnavailableError& e) {
    return {FailureKind::Unreachable, e.what()};
  } catch (const CannotRunError& e) {
    return {FailureKind::CannotRun, e.what()};
  } catch (const SettingsError& e) {
    return {FailureKind::CannotRun, e.what()};
  } catch (const MapError& e) {
    return {FailureKind::CannotRun, e.what()};
  } catch (const DayClaimedError& e) {
    return {FailureKind::CannotRun, e.what()};
  } catch (const SendError& e) {
    return {FailureKind::Sending, e.what()};
  } catch (const DatabaseError& e) {
    return {FailureKind::Database, DatabaseErrorText(e)};
  } catch (const std::exception& e) {
    return {FailureKind::Internal, e.what()};
  } catch (...) {
    return {FailureKind::Internal, Tr("unknown failure")};
  }
}

}  // namespace cuserver
