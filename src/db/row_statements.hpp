#pragma once

// How the database layer writes the report rows it is handed: as statements
// with their values bound, or, where a backend sends a batch as one text, as
// literals it makes itself from the typed values.

#include <string>
#include <vector>

#include "db/row_images.hpp"
#include "db/session.hpp"
#include "reports/report_row.hpp"

namespace cuserver {

enum class Placeholders {
  Question,  // ?       (SQLite)
  Numbered,  // $1, $2  (libpq)
  Named,     // :p1     (SOCI, which turns them into the driver's own)
};

// The row's statement with a placeholder for each of its values, in the
// order of ReportRow::values.
std::string BoundRowText(const ReportRow& row, Placeholders placeholders);

// A value as an SQL literal: a quoted text (quotes doubled), bare digits, NULL.
std::string LiteralOf(const RowValue& value);

// The rows as statements of literals, each run of consecutive inserts into
// the same table and columns as one insert of all its rows. A server that
// plans each statement plans a run once; it writes the rows each insert
// writes, or refuses the run as a whole.
std::vector<std::string> MergedLiteralStatements(const std::vector<ReportRow>& rows);

// A statement with placeholders and the values bound to them, in order.
struct BoundStatement {
  std::string text;
  std::vector<const RowValue*> values;  // the rows' own values
};

// The rows as statements with placeholders, each run of consecutive inserts
// into the same table and columns as one insert of all its rows (of at most
// a few thousand values, below every driver's limit on parameters).
std::vector<BoundStatement> MergedBoundStatements(const std::vector<ReportRow>& rows, Placeholders placeholders);

// One row's statement of literals.
std::string LiteralStatement(const ReportRow& row);

// The row a report insert writes, as the ledger keeps it.
RowImage ImageOf(const ReportRow& insert);

// What an update row sets and selects by, for the ledger's images.
RowUpdate UpdateOf(const ReportRow& update);

// The row with each empty text that goes into a column of another type than
// text written as NULL: PostgreSQL and MySQL refuse '' for a number or a
// time, Oracle, where these rows have always gone, stores it as NULL.
ReportRow WithEmptyTextAsNull(ReportRow row, ColumnTypes& types);

// Runs a statement with its values bound through the session. Throws
// DatabaseError with the driver's reason.
void ExecuteBound(ReportDatabase& db, const BoundStatement& statement);

// Writes the row through the session with its values bound. Throws
// DatabaseError with the driver's reason.
void ExecuteRow(ReportDatabase& db, const ReportRow& row);

}  // namespace cuserver
