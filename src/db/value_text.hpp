#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace soci {
class row;
}

namespace cuserver {

// The shortest decimal text that reads back as the same double: 80 -> "80",
// 3.704 -> "3.704", never "3.7040000000000002".
std::string NumberText(double value);
// NumberText's text appended to `text`.
void AppendNumberText(std::string& text, double value);

// yyyy-mm-dd hh:mm:ss
std::string TimeText(const std::tm& time);

// A column of a fetched row as text, by the column's data type; nullopt for NULL.
std::optional<std::string> RowValueText(const soci::row& row, std::size_t column);

// Column names compare without regard to ASCII case, as Oracle's unquoted names do.
bool SameColumnName(std::string_view a, std::string_view b);

}  // namespace cuserver
