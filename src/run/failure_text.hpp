#pragma once

#include <exception>
#include <string>

namespace cuserver {

// What a user is told of a caught failure: a database error's text (the
// driver's reason), or the exception's message.
std::string FailureText(std::exception_ptr failure);
std::string FailureText(const std::exception& failure);

}  // namespace cuserver
