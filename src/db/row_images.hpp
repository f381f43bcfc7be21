#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/dialect.hpp"
#include "db/session.hpp"

namespace cuserver {

// A row as this system's INSERT wrote it: the table, the columns it named and
// the text of each value (unquoted).
struct RowImage {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::string> values;
  bool operator==(const RowImage&) const = default;
};

// An update of report rows: what it sets and the equalities it selects by.
struct RowUpdate {
  std::string table;
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::pair<std::string, std::string>> where;
};

// The rows this system wrote for one vehicle and day, kept in the day ledger
// so that a later computation removes exactly them.
class VehicleDayRows {
 public:
  void Add(RowImage row) { rows_.push_back(std::move(row)); }
  // Applies an update that was executed to the rows it selects.
  void Apply(const RowUpdate& update);
  const std::vector<RowImage>& Rows() const { return rows_; }
  bool Empty() const { return rows_.empty(); }

  // A compact text (JSON): per table its columns once, then the rows' values.
  std::string Serialise() const;
  static std::string Serialise(const std::vector<const RowImage*>& rows);
  // Throws std::runtime_error for a text Serialise did not make.
  static VehicleDayRows Parse(std::string_view text);

 private:
  std::vector<RowImage> rows_;
};

// What a database keeps of a column's type, as far as matching a written
// value needs it.
struct ColumnType {
  bool textual = true;  // character types: '' is kept as ''
  std::string cast;     // PostgreSQL, MySQL: the type a literal is cast to for an exact match, e.g. "numeric(10,2)"
  int scale = -1;       // Oracle: the declared scale of a NUMBER(p,s), which rounds what it stores
};

// The column types of report tables, read once per table and session.
class ColumnTypes {
 public:
  ColumnTypes(ReportDatabase& db, SqlDialect dialect) : db_(db), dialect_(dialect) {}
  // Column name folded to lower case -> type. Unknown tables give an empty map.
  const std::map<std::string, ColumnType>& Of(const std::string& table);
  SqlDialect Dialect() const { return dialect_; }

 private:
  ReportDatabase& db_;
  SqlDialect dialect_;
  std::map<std::string, std::map<std::string, ColumnType>> tables_;
};

// For each image, how many equal images come before it: the k-th of several
// equal images is matched with the k-th equal stored row.
std::vector<int> EqualImagesBefore(const std::vector<const RowImage*>& rows);

// Removes, for each image, one stored row equal to it value by value as the
// database stored it (whichever of several equal rows; the others stay): one
// statement per table (per row on Oracle and MySQL).
std::vector<std::string> DeleteStatements(const std::vector<const RowImage*>& rows, ColumnTypes& types);

// PostgreSQL (`types` of that dialect): the removal of one stored row equal
// to the image, matched as DeleteStatements matches it, as a statement to
// prepare with the values as its parameters. Several equal images are removed
// one after the other, each taking an equal row the ones before left.
struct PreparedRemoval {
  std::string statement;            // delete from T where ctid = (select ctid from T where ... limit 1)
  std::vector<std::string> values;  // $1, $2 ...
};
PreparedRemoval PostgresRemoval(const RowImage& row, ColumnTypes& types);

// An index on a report table's SIMID and begin time, so that a vehicle's rows
// are found without reading the table; made when first needed.
void EnsureVehicleIndex(ReportDatabase& db, const RowImage& row);

// An index on a report table's begin time, so that a day's rows are read
// without reading the month's; made when first needed.
void EnsureDayIndex(ReportDatabase& db, const std::string& table, const std::string& timeColumn);

}  // namespace cuserver
