#include "db/row_statements.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include <deque>

#include "db/backend_session.hpp"
#include "db/driver_error.hpp"
#include "db/value_text.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {

namespace {

std::string Placeholder(Placeholders placeholders, std::size_t place) {
  switch (placeholders) {
    case Placeholders::Question: return "?";
    case Placeholders::Numbered: return fmt::format("${}", place);
    case Placeholders::Named: return fmt::format(":p{}", place);
  }
  return "?";
}

std::string ColumnList(const ReportRow& row) {
  std::string text;
  for (std::size_t i = 0; i < row.columns.size(); ++i) {
    if (i > 0) text += ", ";
    text += row.columns[i];
  }
  return text;
}

template <typename ValueText>
std::string RowText(const ReportRow& row, ValueText&& valueText) {
  std::string text;
  std::size_t place = 0;
  const auto keys = [&] {
    for (std::size_t i = 0; i < row.keyColumns.size(); ++i) {
      text += i == 0 ? " where " : " and ";
      text += row.keyColumns[i];
      text += " = ";
      text += valueText(place++);
    }
  };
  switch (row.action) {
    case RowAction::Insert:
      text = "insert into " + row.table + " (" + ColumnList(row) + ") values (";
      for (std::size_t i = 0; i < row.columns.size(); ++i) {
        if (i > 0) text += ", ";
        text += valueText(place++);
      }
      text += ')';
      break;
    case RowAction::Update:
      text = "update " + row.table + " set ";
      for (std::size_t i = 0; i < row.columns.size(); ++i) {
        if (i > 0) text += ", ";
        text += row.columns[i];
        text += " = ";
        text += valueText(place++);
      }
      keys();
      break;
    case RowAction::Delete:
      text = "delete from " + row.table;
      keys();
      break;
  }
  return text;
}

}  // namespace

std::string BoundRowText(const ReportRow& row, Placeholders placeholders) {
  return RowText(row, [placeholders](std::size_t place) { return Placeholder(placeholders, place + 1); });
}

std::string LiteralOf(const RowValue& value) {
  switch (value.GetKind()) {
    case RowValue::Kind::Null: return "NULL";
    case RowValue::Kind::Integer: return value.Text();
    case RowValue::Kind::Text: break;
  }
  return SqlLiteral(value.Text());
}

std::vector<std::string> MergedLiteralStatements(const std::vector<ReportRow>& rows) {
  std::vector<std::string> statements;
  const ReportRow* runHead = nullptr;
  for (const ReportRow& row : rows) {
    const bool joins = runHead != nullptr && row.action == RowAction::Insert && row.table == runHead->table &&
                       std::equal(row.columns.begin(), row.columns.end(), runHead->columns.begin(),
                                  runHead->columns.end());
    if (joins) {
      std::string& insert = statements.back();
      insert += ", (";
      for (std::size_t i = 0; i < row.values.size(); ++i) {
        if (i > 0) insert += ", ";
        insert += LiteralOf(row.values[i]);
      }
      insert += ')';
      continue;
    }
    statements.push_back(LiteralStatement(row));
    runHead = row.action == RowAction::Insert ? &row : nullptr;
  }
  return statements;
}

std::vector<BoundStatement> MergedBoundStatements(const std::vector<ReportRow>& rows, Placeholders placeholders) {
  constexpr std::size_t kMostValues = 5000;
  std::vector<BoundStatement> statements;
  const ReportRow* runHead = nullptr;
  for (const ReportRow& row : rows) {
    const bool joins = runHead != nullptr && row.action == RowAction::Insert && row.table == runHead->table &&
                       std::equal(row.columns.begin(), row.columns.end(), runHead->columns.begin(),
                                  runHead->columns.end()) &&
                       statements.back().values.size() + row.values.size() <= kMostValues;
    if (!joins) {
      statements.push_back({BoundRowText(row, placeholders), {}});
      for (const RowValue& value : row.values) statements.back().values.push_back(&value);
      runHead = row.action == RowAction::Insert ? &row : nullptr;
      continue;
    }
    BoundStatement& insert = statements.back();
    insert.text += ", (";
    for (std::size_t i = 0; i < row.values.size(); ++i) {
      if (i > 0) insert.text += ", ";
      insert.values.push_back(&row.values[i]);
      insert.text += Placeholder(placeholders, insert.values.size());
    }
    insert.text += ')';
  }
  return statements;
}

std::string LiteralStatement(const ReportRow& row) {
  return RowText(row, [&row](std::size_t place) { return LiteralOf(row.values[place]); });
}

RowImage ImageOf(const ReportRow& insert) {
  RowImage image;
  image.table = insert.table;
  image.columns.assign(insert.columns.begin(), insert.columns.end());
  image.values.reserve(insert.values.size());
  for (const RowValue& value : insert.values) image.values.push_back(value.Text());
  return image;
}

RowUpdate UpdateOf(const ReportRow& update) {
  RowUpdate out;
  out.table = update.table;
  std::size_t place = 0;
  for (const std::string_view column : update.columns) {
    if (place < update.values.size()) out.set.emplace_back(column, update.values[place++].Text());
  }
  for (const std::string_view column : update.keyColumns) {
    if (place < update.values.size()) out.where.emplace_back(column, update.values[place++].Text());
  }
  return out;
}

ReportRow WithEmptyTextAsNull(ReportRow row, ColumnTypes& types) {
  const SqlDialect dialect = types.Dialect();
  if (dialect == SqlDialect::Sqlite || dialect == SqlDialect::Oracle) return row;
  bool anyEmpty = false;
  for (const RowValue& value : row.values) {
    anyEmpty = anyEmpty || (value.GetKind() == RowValue::Kind::Text && value.Text().empty());
  }
  if (!anyEmpty) return row;
  const auto& columnTypes = types.Of(row.table);
  for (std::size_t i = 0; i < row.values.size() && i < row.columns.size(); ++i) {
    if (row.values[i].GetKind() != RowValue::Kind::Text || !row.values[i].Text().empty()) continue;
    const auto it = columnTypes.find(LowerAscii(row.columns[i]));
    if (it != columnTypes.end() && !it->second.textual) row.values[i] = RowValue::Null();
  }
  return row;
}

namespace {

// Runs the text with the values bound; returns the rows it affected.
long long RunBound(ReportDatabase& db, const std::string& text, const std::vector<const RowValue*>& values) {
  try {
    soci::statement statement(db.Native());
    // The bound values live until the statement has run.
    std::deque<std::string> texts;
    std::deque<long long> integers;
    std::deque<soci::indicator> indicators;
    for (const RowValue* value : values) {
      switch (value->GetKind()) {
        case RowValue::Kind::Integer:
          integers.push_back(value->IntegerValue());
          indicators.push_back(soci::i_ok);
          statement.exchange(soci::use(integers.back(), indicators.back()));
          break;
        case RowValue::Kind::Text:
        case RowValue::Kind::Null:
          texts.push_back(value->Text());
          indicators.push_back(value->IsNull() ? soci::i_null : soci::i_ok);
          statement.exchange(soci::use(texts.back(), indicators.back()));
          break;
      }
    }
    statement.alloc();
    statement.prepare(text);
    statement.define_and_bind();
    statement.execute(true);
    return statement.get_affected_rows();
  } catch (...) {
    RethrowAsDatabaseError();
  }
}

}  // namespace

void ExecuteBound(ReportDatabase& db, const BoundStatement& statement) { RunBound(db, statement.text, statement.values); }

void ExecuteRow(ReportDatabase& db, const ReportRow& row) {
  if (!db.Session().AnswersBoundRowsTruly()) {
    db.ExecuteStatement(LiteralStatement(row));
    return;
  }
  std::vector<const RowValue*> values;
  values.reserve(row.values.size());
  for (const RowValue& value : row.values) values.push_back(&value);
  const long long affected = RunBound(db, BoundRowText(row, Placeholders::Named), values);
  // A driver that answers success for an insert it did not make would lose
  // the row unseen.
  if (row.action == RowAction::Insert && affected == 0) {
    throw DatabaseError("the database answered the row as written but wrote none", std::nullopt,
                        DatabaseErrorKind::RowRefused);
  }
}

}  // namespace cuserver
