#include "app/service/api_answer.hpp"

#include <exception>

#include "app/errors.hpp"
#include "db/session.hpp"
#include "run/run_session.hpp"

namespace cuserver {

void AnswerJson(HttpResponse& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.SetContent(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                      "application/json; charset=utf-8");
}

void AnswerFailure(HttpResponse& response) {
  try {
    throw;
  } catch (const ArgumentError& error) {
    AnswerJson(response, 400, {{"error", error.what()}});
  } catch (const ConnectionRefusedError& error) {
    AnswerJson(response, 503, {{"error", error.what()}});
  } catch (const SettingsError& error) {
    AnswerJson(response, 503, {{"error", error.what()}});
  } catch (const DatabaseError& error) {
    AnswerJson(response, 503, {{"error", "读取数据库失败：" + DatabaseErrorText(error)}});
  }
}

}  // namespace cuserver
