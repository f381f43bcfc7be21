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

namespace {

// The driver's message on one line: its lines joined with "; ", leaving out
// the caret lines that point into the statement.
std::string OneLine(std::string_view message) {
  std::string out;
  while (!message.empty()) {
    const auto end = message.find('\n');
    std::string_view line = message.substr(0, end);
    message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.find_first_not_of("^ ") == std::string_view::npos) continue;
    if (!out.empty()) out += "; ";
    out += line;
  }
  return out;
}

}  // namespace

void RethrowAsDatabaseError(std::string_view context) {
  const auto withContext = [&](const std::string& message) {
    if (context.empty()) return OneLine(message);
    return std::string(context) + ": " + OneLine(message);
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
