#include "db/value_text.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include "db/session.hpp"

#include <cmath>
#include <iterator>

namespace cuserver {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string NumberText(double value) {
  std::string text;
  AppendShortestNumberText(text, value);
  return text;
}

void AppendNumberText(std::string& text, double value) { AppendShortestNumberText(text, value); }

std::string TimeText(const std::tm& time) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", time.tm_year + 1900, time.tm_mon + 1,
                     time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
}

std::optional<std::string> RowValueText(const soci::row& row, std::size_t column) {
  if (row.get_indicator(column) == soci::i_null) return std::nullopt;
  // row::get<T> throws std::bad_cast unless T is the column's own type.
  switch (row.get_properties(column).get_data_type()) {
    case soci::dt_string:
    case soci::dt_xml:
    case soci::dt_blob:
      return row.get<std::string>(column);
    case soci::dt_double:
      return NumberText(row.get<double>(column));
    case soci::dt_integer:
      return fmt::format("{}", row.get<int>(column));
    case soci::dt_long_long:
      return fmt::format("{}", row.get<long long>(column));
    case soci::dt_unsigned_long_long:
      return fmt::format("{}", row.get<unsigned long long>(column));
    case soci::dt_date:
      return TimeText(row.get<std::tm>(column));
  }
  throw DatabaseError("column " + row.get_properties(column).get_name() + " has a type that cannot be read as text");
}

bool SameColumnName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

int ColumnFinder::Lookup(std::string_view column) const {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (SameColumnName(names_[i], column)) return static_cast<int>(i);
  }
  return -1;
}

int ColumnFinder::Find(std::string_view column) const {
  const std::size_t place = asked_++;
  if (place < order_.size() && order_[place].asked == column) return order_[place].index;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (!SameColumnName(names_[i], column)) continue;
    AskedColumn asked{std::string(column), static_cast<int>(i)};
    if (place < order_.size()) {
      order_[place] = std::move(asked);
    } else if (place == order_.size() && place < 4 * names_.size()) {
      order_.push_back(std::move(asked));
    }
    return static_cast<int>(i);
  }
  return -1;
}

}  // namespace cuserver
