#pragma once

// Helpers the ledger's files share; not for use outside src/db/ledger*.cpp.

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace cuserver::ledger_internal {

// Ledger texts are kept within their columns: a detail of 1000 characters at most.
std::string Clipped(std::string_view text, std::size_t limit);

int IntOf(const std::optional<std::string>& text);
std::string TextOf(const std::optional<std::string>& text);

// "yyyy-mm-dd hh:mm:ss" of a time, in UTC or local time.
std::string TimeText(std::time_t time, bool utc);

}  // namespace cuserver::ledger_internal
