#pragma once

#include <nlohmann/json.hpp>

#include "app/service/http_server.hpp"

namespace cuserver {

// The body as JSON (UTF-8; invalid bytes replaced) with the given status.
void AnswerJson(HttpResponse& response, int status, const nlohmann::json& body);

// Called from a catch block: answers the exception being handled as
// {"error": ...} with the status FailureOf gives it (400 refused, 404 not
// found, 503 when the database cannot be reached or read, 500 otherwise).
void AnswerFailure(HttpResponse& response);

}  // namespace cuserver
