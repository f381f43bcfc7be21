#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/text_number.hpp"

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

// The text with its ASCII letters in lower or upper case; other bytes as they are.
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);

// Column names compare without regard to ASCII case, as Oracle's unquoted names do.
bool SameColumnName(std::string_view a, std::string_view b);

// A query's columns, found by name (SameColumnName). A reader asks for the
// same columns in the same order on every row: the column found at this
// place of the row before is tried first.
class ColumnFinder {
 public:
  void Add(std::string name) { names_.push_back(std::move(name)); }
  // The column's index; -1 when the query has none of that name.
  int Find(std::string_view column) const;
  // The column's index without remembering the asking; -1 when there is none.
  int Lookup(std::string_view column) const;
  int Count() const { return static_cast<int>(names_.size()); }
  // A new row: the places count from its first column again.
  void NextRow() { asked_ = 0; }

 private:
  struct AskedColumn {
    std::string asked;
    int index;
  };
  std::vector<std::string> names_;
  mutable std::vector<AskedColumn> order_;  // the columns in the order a row was read
  mutable std::size_t asked_ = 0;
};

}  // namespace cuserver
