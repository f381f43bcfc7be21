#include "app/failure.hpp"

#include <gtest/gtest.h>

#include "app/errors.hpp"
#include "app/service/service.hpp"
#include "db/session.hpp"
#include "map/map_services.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

// The command line, the service and the page must agree on every failure:
// an operator's script reads the exit status, the page the HTTP status and
// the detail of the run. Each row is one exception as the code throws it.
TEST(Failure, EveryExceptionHasOneAnswerOnEveryChannel) {
  struct Row {
    std::exception_ptr error;
    int exitStatus;
    bool couldNotRun;
    std::string runDetail;
    int httpStatus;
    std::string httpMessage;
  };
  const std::vector<Row> rows = {
      {std::make_exception_ptr(ArgumentError("日期不对")), 2, true, "无法计算：日期不对", 400, "日期不对"},
      {std::make_exception_ptr(NotFoundError("no track")), 2, true, "无法计算：no track", 404, "no track"},
      {std::make_exception_ptr(ConnectionRefusedError("refused")), 3, true, "refused", 503, "refused"},
      {std::make_exception_ptr(ServiceUnavailableError("未记录")), 3, true, "未记录", 503, "未记录"},
      {std::make_exception_ptr(SettingsError("no ini")), 3, true, "无法计算：no ini", 503, "no ini"},
      {std::make_exception_ptr(MapError("no geoset")), 3, true, "无法计算：no geoset", 503, "no geoset"},
      {std::make_exception_ptr(CannotRunError("locked")), 3, true, "无法计算：locked", 503, "locked"},
      {std::make_exception_ptr(DatabaseError("disk full")), 1, false, "数据库出错：disk full", 503,
       "读取数据库失败：disk full"},
      {std::make_exception_ptr(SendError("smtp://mail:25 refused")), 1, false, "发送失败：smtp://mail:25 refused", 502,
       "发送邮件失败：smtp://mail:25 refused"},
      {std::make_exception_ptr(std::runtime_error("bug")), 1, true, "无法计算：bug", 500, "服务内部错误：bug"},
      {std::make_exception_ptr(42), 1, true, "无法计算：unknown failure", 500, "服务内部错误：unknown failure"},
  };
  for (const Row& row : rows) {
    const Failure failure = FailureOf(row.error);
    SCOPED_TRACE(failure.text);
    EXPECT_EQ(failure.ExitStatus(), row.exitStatus);
    EXPECT_EQ(failure.CouldNotRun(), row.couldNotRun);
    EXPECT_EQ(failure.RunDetail(), row.runDetail);
    EXPECT_EQ(failure.HttpStatus(), row.httpStatus);
    EXPECT_EQ(failure.HttpMessage(), row.httpMessage);
  }
}

}  // namespace
}  // namespace cuserver
