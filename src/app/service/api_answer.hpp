#pragma once

#include <nlohmann/json.hpp>

#include "app/service/http_server.hpp"

namespace cuserver {

// The body as JSON (UTF-8; invalid bytes replaced) with the given status.
void AnswerJson(HttpResponse& response, int status, const nlohmann::json& body);

// Called from a catch block: answers the exception being handled as
// {"error": ...}: 400 for refused arguments, 503 when the database cannot be
// reached or read. Any other exception is thrown on.
void AnswerFailure(HttpResponse& response);

}  // namespace cuserver
