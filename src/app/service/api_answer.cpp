#include "app/service/api_answer.hpp"

#include <exception>

#include "app/failure.hpp"

namespace cuserver {

void AnswerJson(HttpResponse& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.SetContent(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                      "application/json; charset=utf-8");
}

void AnswerFailure(HttpResponse& response) {
  const Failure failure = FailureOf(std::current_exception());
  AnswerJson(response, failure.HttpStatus(), {{"error", failure.HttpMessage()}});
}

}  // namespace cuserver
