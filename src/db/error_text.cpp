#include <fmt/format.h>
#include <soci/soci.h>

#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "db/driver_error.hpp"
#include "db/session.hpp"

namespace cuserver {

std::string DatabaseErrorText(const DatabaseError& error) {
  std::string text = error.what();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (!text.empty() || !error.Code()) return text;
  // Only a result code: the two forms the program has always shown.
  const auto hr = static_cast<std::uint32_t>(*error.Code());
  if (hr >= 0x80040201u && hr <= 0x8004FFFFu) return fmt::format("IDispatch error #{}", hr - 0x80040200u);
  return fmt::format("Unknown error 0x{:X}", hr);
}

void RethrowAsDatabaseError(std::string_view context) {
  const auto withContext = [&](std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
      message.pop_back();
    }
    if (context.empty()) return message;
    return std::string(context) + ": " + message;
  };
  try {
    throw;
  } catch (const DatabaseError&) {
    throw;
  } catch (const soci::soci_error& e) {
    throw DatabaseError(withContext(e.get_error_message()));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw DatabaseError(withContext(e.what()));
  }
}

}  // namespace cuserver
