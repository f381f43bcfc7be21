#pragma once

#include <exception>
#include <string>

namespace cuserver {

// What went wrong, as whoever asked for the work must hear it.
enum class FailureKind {
  Refused,      // bad arguments or refused input
  NotFound,     // what was asked for does not exist
  Unreachable,  // the database cannot be reached, or cannot record the request
  CannotRun,    // settings, the map, or a day another run holds
  Database,     // the database failed a statement
  Sending,      // the mail server did not take a message
  Internal,     // anything else
};

// An exception turned into the answers of the three places work is asked
// for: a command's exit status, the service's run outcome and the control
// page's HTTP answer. They are read off one table, so that the command line,
// the service and the page never disagree on what a failure means.
struct Failure {
  FailureKind kind = FailureKind::Internal;
  std::string text;  // the exception's own message (a database error's with its SQL state)

  // 2 refused, 3 could not run at all, 1 failed while running.
  int ExitStatus() const;
  // The message a command ends with on stderr.
  const std::string& CommandMessage() const { return text; }
  // A service run that fails this way could not run (otherwise it failed).
  bool CouldNotRun() const;
  // The detail of such a run, as the page and the service log show it.
  std::string RunDetail() const;
  int HttpStatus() const;
  // The "error" of the JSON answer.
  std::string HttpMessage() const;
};

// The failure of the given exception (std::current_exception() in a catch
// block). Never throws.
Failure FailureOf(const std::exception_ptr& error);

}  // namespace cuserver
