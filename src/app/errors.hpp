#pragma once

#include <stdexcept>

namespace cuserver {

// Bad arguments or refused input; the message is the operator's answer.
// Exit status 2.
class ArgumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command could not run at all (no map, no database, no settings).
// Exit status 3.
class CannotRunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What was asked for does not exist (HTTP 404).
class NotFoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The work cannot be accepted now, the database being out of reach (HTTP
// 503); asking again later may succeed.
class UnavailableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The mail server did not take a message (refused, unreachable, login or
// recipient rejected); the message names the server. Exit status 1: the
// files were made, the send failed.
class SendError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace cuserver
