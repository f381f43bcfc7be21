#pragma once

#include <string>
#include <string_view>

#include "db/session.hpp"
#include "db/value_text.hpp"

namespace cuserver {

// A cursor that reads its columns by place: the readers by name find the
// column's place (ColumnFinder) and read there.
class PlacedCursor : public Cursor {
 public:
  bool ValueInto(std::string_view column, std::string& text) const override {
    RequireRow(column);
    return ValueAtInto(ColumnIndex(column), text);
  }

  void FixValueInto(std::string_view column, FixValue& value) const override {
    RequireRow(column);
    FixValueAt(ColumnIndex(column), value);
  }

  int Place(std::string_view column) const override { return columns_.Lookup(column); }

 protected:
  void AddColumn(std::string name) { columns_.Add(std::move(name)); }
  int ColumnCount() const { return columns_.Count(); }
  // A new row: the by-name places count from its first column again.
  void NextRow() { columns_.NextRow(); }

  void RequireRow(std::string_view column) const {
    if (AtEnd()) throw DatabaseError("no current row to read column " + std::string(column) + " from");
  }

  int ColumnIndex(std::string_view column) const {
    const int index = columns_.Find(column);
    if (index >= 0) return index;
    throw DatabaseError("the query has no column " + std::string(column));
  }

 private:
  ColumnFinder columns_;
};

}  // namespace cuserver
