#pragma once

// A report row as the computations hand it to the database: which table,
// which columns, and each value as text, integer or NULL. The database layer
// writes it with bound values, each backend its own way; RowStatementText
// gives the statement text this system has always written for it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cuserver {

class RowValue {
 public:
  enum class Kind { Text, Integer, Null };

  static RowValue Text(std::string text) { return RowValue(Kind::Text, std::move(text), 0); }
  static RowValue Integer(std::int64_t value) { return RowValue(Kind::Integer, std::to_string(value), value); }
  static RowValue Null() { return RowValue(Kind::Null, {}, 0); }

  Kind GetKind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  // The text stored: the text itself, an integer's decimal digits, "" for NULL.
  const std::string& Text() const { return text_; }
  std::int64_t IntegerValue() const { return integer_; }
  bool operator==(const RowValue&) const = default;

 private:
  RowValue(Kind kind, std::string text, std::int64_t integer) : kind_(kind), text_(std::move(text)), integer_(integer) {}
  Kind kind_;
  std::string text_;
  std::int64_t integer_;
};

enum class RowAction {
  Insert,  // columns take values
  Update,  // columns take the first values where keyColumns equal the rest
  Delete,  // every row where keyColumns equal the values
};

// The statement of a row writer, as this system has always written it: "{}"
// stands for the table name when the table is monthly, then for each value in
// turn ('{}' for a quoted one).
struct RowShape {
  RowAction action = RowAction::Insert;
  std::string_view statementTemplate;
  std::span<const std::string_view> columns;
  std::span<const std::string_view> keyColumns;
  bool namesTable = true;  // whether the template's first "{}" is the table
};

struct ReportRow {
  RowAction action = RowAction::Insert;
  std::string table;
  std::span<const std::string_view> columns;     // set or inserted
  std::span<const std::string_view> keyColumns;  // Update and Delete
  std::vector<RowValue> values;                  // columns' values, then keyColumns'
  const RowShape* shape = nullptr;               // the writer's statement, when it has one

  static ReportRow Of(const RowShape& shape, std::string table, std::vector<RowValue> values) {
    return ReportRow{shape.action, std::move(table), shape.columns, shape.keyColumns, std::move(values), &shape};
  }
};

// The statement text of a writer's row: its template with the table and the
// values put in (quotes doubled inside quoted values); empty for a row of no
// writer.
std::string RowStatementText(const ReportRow& row);

// Where a report computation puts its rows.
class RowSink {
 public:
  virtual ~RowSink() = default;

  // Writes one row. Returns false when the database refused it; the refusal
  // has then been recorded, naming the table, the SIMID and the driver's
  // reason. Never throws for a refused row.
  virtual bool Write(ReportRow row, std::string_view simId) = 0;
};

}  // namespace cuserver
