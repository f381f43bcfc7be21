#include "run/failure_text.hpp"

#include "db/session.hpp"

namespace cuserver {

std::string FailureText(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return FailureText(error);
  } catch (...) {
    return "unknown failure";
  }
}

std::string FailureText(const std::exception& failure) {
  if (auto* db = dynamic_cast<const DatabaseError*>(&failure)) return DatabaseErrorText(*db);
  return failure.what();
}

}  // namespace cuserver
