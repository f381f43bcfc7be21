#include "db/row_images.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <tuple>

#include "db/mysql/mysql.hpp"
#include "db/value_text.hpp"
#include "reports/sql_text.hpp"
#include "reports/text_number.hpp"

namespace cuserver {
namespace {

}  // namespace

void VehicleDayRows::Apply(const RowUpdate& update) {
  const auto columnOf = [](const RowImage& row, const std::string& name) -> int {
    for (std::size_t i = 0; i < row.columns.size(); ++i) {
      if (LowerAscii(row.columns[i]) == LowerAscii(name)) return static_cast<int>(i);
    }
    return -1;
  };
  for (RowImage& row : rows_) {
    if (LowerAscii(row.table) != LowerAscii(update.table)) continue;
    bool selected = true;
    for (const auto& [column, value] : update.where) {
      const int i = columnOf(row, column);
      if (i < 0 || row.values[static_cast<std::size_t>(i)] != value) selected = false;
    }
    if (!selected) continue;
    for (const auto& [column, value] : update.set) {
      const int i = columnOf(row, column);
      if (i >= 0) {
        row.values[static_cast<std::size_t>(i)] = value;
      } else {
        row.columns.push_back(column);
        row.values.push_back(value);
      }
    }
  }
}

namespace {

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes (UTF-8 text) as they are.
void AppendJsonText(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += fmt::format("\\u{:04x}", static_cast<unsigned char>(c));
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void AppendJsonArray(std::string& out, const std::vector<std::string>& texts) {
  out += '[';
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += ',';
    AppendJsonText(out, texts[i]);
  }
  out += ']';
}

}  // namespace

std::string VehicleDayRows::Serialise() const {
  std::vector<const RowImage*> rows;
  rows.reserve(rows_.size());
  for (const RowImage& row : rows_) rows.push_back(&row);
  return Serialise(rows);
}

std::string VehicleDayRows::Serialise(const std::vector<const RowImage*>& rows) {
  // Written by hand: a run writes one for every vehicle.
  std::vector<bool> done(rows.size(), false);
  std::string out = "[";
  for (std::size_t first = 0; first < rows.size(); ++first) {
    if (done[first]) continue;
    const RowImage& head = *rows[first];
    if (out.size() > 1) out += ',';
    out += "{\"t\":";
    AppendJsonText(out, head.table);
    out += ",\"c\":";
    AppendJsonArray(out, head.columns);
    out += ",\"r\":[";
    for (std::size_t i = first; i < rows.size(); ++i) {
      if (done[i] || rows[i]->table != head.table || rows[i]->columns != head.columns) continue;
      if (i != first) out += ',';
      AppendJsonArray(out, rows[i]->values);
      done[i] = true;
    }
    out += "]}";
  }
  out += ']';
  return out;
}

VehicleDayRows VehicleDayRows::Parse(std::string_view text) {
  VehicleDayRows rows;
  try {
    const nlohmann::json groups = nlohmann::json::parse(text);
    for (const auto& group : groups) {
      const auto table = group.at("t").get<std::string>();
      const auto columns = group.at("c").get<std::vector<std::string>>();
      for (const auto& values : group.at("r")) {
        RowImage row{table, columns, values.get<std::vector<std::string>>()};
        if (row.values.size() != row.columns.size()) throw std::runtime_error("row of the wrong width");
        rows.rows_.push_back(std::move(row));
      }
    }
  } catch (const std::exception& error) {
    throw std::runtime_error(std::string("unreadable ledger entry: ") + error.what());
  }
  return rows;
}

const std::map<std::string, ColumnType>& ColumnTypes::Of(const std::string& table) {
  const std::string key = LowerAscii(table);
  if (auto it = tables_.find(key); it != tables_.end()) return it->second;
  std::map<std::string, ColumnType>& columns = tables_[key];
  if (!IsPlainTableName(table)) return columns;
  try {
    if (dialect_ == SqlDialect::Sqlite) {
      auto cursor = db_.OpenQuery(fmt::format("PRAGMA table_info({})", table));
      for (; !cursor->AtEnd(); cursor->Next()) {
        const std::string type = LowerAscii(cursor->Value("type").value_or(""));
        const bool textual = type.find("char") != std::string::npos || type.find("text") != std::string::npos ||
                             type.find("clob") != std::string::npos;
        columns[LowerAscii(cursor->Value("name").value_or(""))] = ColumnType{textual, {}};
      }
      cursor->Close();
    } else if (dialect_ == SqlDialect::Oracle) {
      auto cursor = db_.OpenQuery(fmt::format(
          "select column_name, data_type, data_scale from user_tab_columns where table_name = '{}'",
          UpperAscii(table)));
      for (; !cursor->AtEnd(); cursor->Next()) {
        const std::string type = cursor->Value("data_type").value_or("");
        ColumnType column;
        column.textual = type.find("CHAR") != std::string::npos || type.find("CLOB") != std::string::npos;
        if (type == "NUMBER") {
          if (const auto scale = cursor->Value("data_scale"); scale && IsNumberText(*scale)) column.scale = std::stoi(*scale);
        }
        columns[LowerAscii(cursor->Value("column_name").value_or(""))] = column;
      }
      cursor->Close();
    } else if (dialect_ == SqlDialect::Postgresql) {
      auto cursor = db_.OpenQuery(fmt::format(
          "select column_name, data_type, numeric_precision, numeric_scale from information_schema.columns "
          "where table_schema = current_schema() and table_name = '{}'",
          key));
      for (; !cursor->AtEnd(); cursor->Next()) {
        const std::string type = cursor->Value("data_type").value_or("");
        ColumnType column;
        column.textual = type == "character varying" || type == "character" || type == "text";
        if (type == "numeric") {
          const auto precision = cursor->Value("numeric_precision");
          const auto scale = cursor->Value("numeric_scale");
          column.cast = precision ? fmt::format("numeric({},{})", *precision, scale.value_or("0")) : "numeric";
        } else if (!column.textual) {
          column.cast = type;
        }
        columns[LowerAscii(cursor->Value("column_name").value_or(""))] = column;
      }
      cursor->Close();
    } else if (dialect_ == SqlDialect::Mysql) {
      columns = MysqlColumnTypes(db_, table);
    }
  } catch (const DatabaseError&) {
    // Types unknown: values are matched as written.
  }
  return columns;
}

namespace {

// The conditions that select the stored rows equal to an image; valueSql
// gives what stands for a compared value (its literal, or a parameter).
template <typename ValueSql>
std::string MatchConditions(const RowImage& row, ColumnTypes& types, ValueSql&& valueSql) {
  const SqlDialect dialect = types.Dialect();
  const auto& columnTypes = types.Of(row.table);
  std::string conditions;
  for (std::size_t i = 0; i < row.columns.size(); ++i) {
    const std::string& column = row.columns[i];
    const std::string& value = row.values[i];
    ColumnType type;
    if (auto it = columnTypes.find(LowerAscii(column)); it != columnTypes.end()) type = it->second;
    if (!conditions.empty()) conditions += " and ";
    const bool typed = dialect == SqlDialect::Postgresql || dialect == SqlDialect::Mysql;
    if (value.empty() && (dialect == SqlDialect::Oracle || (typed && !type.textual))) {
      conditions += column + " is null";
    } else if (dialect == SqlDialect::Oracle && type.scale >= 0 && IsPlainDecimal(value)) {
      // The column kept the number rounded to its scale; the written text
      // has more digits and, compared as it is, would match nothing.
      conditions += fmt::format("{} = round({}, {})", column, value, type.scale);
    } else if (typed && !type.cast.empty()) {
      conditions += fmt::format("{} = cast({} as {})", column, valueSql(value), type.cast);
    } else if (dialect == SqlDialect::Mysql && type.textual) {
      // MySQL's texts compare by their collation, as a rule without regard
      // to case or trailing blanks; the bytes must match too (the first
      // equality lets an index find the row).
      const std::string text = valueSql(value);
      conditions += fmt::format("{0} = {1} and {0} = binary {1}", column, text);
    } else {
      conditions += fmt::format("{} = {}", column, valueSql(value));
    }
  }
  return conditions;
}

std::string MatchConditions(const RowImage& row, ColumnTypes& types) {
  return MatchConditions(row, types, [](const std::string& value) { return SqlLiteral(value); });
}

}  // namespace

std::vector<int> EqualImagesBefore(const std::vector<const RowImage*>& rows) {
  const auto less = [](const RowImage* a, const RowImage* b) {
    return std::tie(a->table, a->columns, a->values) < std::tie(b->table, b->columns, b->values);
  };
  std::map<const RowImage*, int, decltype(less)> seen(less);
  std::vector<int> earlier;
  earlier.reserve(rows.size());
  for (const RowImage* row : rows) earlier.push_back(seen[row]++);
  return earlier;
}

std::vector<std::string> DeleteStatements(const std::vector<const RowImage*>& rows, ColumnTypes& types) {
  const SqlDialect dialect = types.Dialect();
  std::vector<std::string> statements;
  if (dialect == SqlDialect::Oracle) {
    for (const RowImage* row : rows) {
      statements.push_back(fmt::format("delete from {0} where rowid = (select rowid from {0} where {1} and rownum = 1)",
                                       row->table, MatchConditions(*row, types)));
    }
    return statements;
  }
  if (dialect == SqlDialect::Mysql) {
    // MySQL's rows have no address to select them by, and a table may not
    // be read in the statement that deletes from it; each removal takes one
    // of the rows still equal to its image.
    for (const RowImage* row : rows) {
      statements.push_back(fmt::format("delete from {} where {} limit 1", row->table, MatchConditions(*row, types)));
    }
    return statements;
  }
  // Per table, one lookup of a stored row per image.
  std::vector<std::string> tables;
  std::map<std::string, std::string> lookups;
  const std::vector<int> earlier = EqualImagesBefore(rows);
  const char* key = dialect == SqlDialect::Sqlite ? "rowid" : "ctid";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const RowImage* row = rows[i];
    std::string& list = lookups[row->table];
    if (list.empty()) tables.push_back(row->table);
    if (!list.empty()) list += ", ";
    list += fmt::format("(select {} from {} where {} limit 1 offset {})", key, row->table,
                        MatchConditions(*row, types), earlier[i]);
  }
  for (const std::string& table : tables) {
    statements.push_back(dialect == SqlDialect::Sqlite
                             ? fmt::format("delete from {} where rowid in ({})", table, lookups[table])
                             : fmt::format("delete from {} where ctid = any(array[{}])", table, lookups[table]));
  }
  return statements;
}

PreparedRemoval PostgresRemoval(const RowImage& row, ColumnTypes& types) {
  PreparedRemoval removal;
  const std::string conditions = MatchConditions(row, types, [&removal](const std::string& value) {
    removal.values.push_back(value);
    return fmt::format("${}", removal.values.size());
  });
  removal.statement =
      fmt::format("delete from {0} where ctid = (select ctid from {0} where {1} limit 1)", row.table, conditions);
  return removal;
}

namespace {

void EnsureIndex(ReportDatabase& db, std::string name, const std::string& table, const std::string& columns) {
  if (name.size() > 30) name.resize(30);  // Oracle's limit on names
  const SqlDialect dialect = DialectOf(db);
  const bool oracle = dialect == SqlDialect::Oracle;
  try {
    if (dialect == SqlDialect::Postgresql) {
      // PostgreSQL tells an existing index as a notice on the client's stderr.
      auto found = db.OpenQuery(fmt::format(
          "select 1 as found from pg_indexes where schemaname = current_schema() and indexname = '{}'", name));
      const bool exists = !found->AtEnd();
      found->Close();
      if (exists) return;
    } else if (dialect == SqlDialect::Mysql) {
      // MySQL has no "if not exists" for an index (MariaDB has).
      if (MysqlIndexExists(db, table, name)) return;
    }
    const bool ifNotExists = !oracle && dialect != SqlDialect::Mysql;
    db.ExecuteStatement(
        fmt::format("create index {}{} on {} ({})", ifNotExists ? "if not exists " : "", name, table, columns));
  } catch (const DatabaseError&) {
    // Made by another run meanwhile, or not allowed: rows are then found by a scan.
  }
}

}  // namespace

void EnsureVehicleIndex(ReportDatabase& db, const RowImage& row) {
  if (row.columns.size() < 2 || !IsPlainTableName(row.table)) return;
  EnsureIndex(db, "cuserver_" + LowerAscii(row.table), row.table, row.columns[0] + ", " + row.columns[1]);
}

void EnsureDayIndex(ReportDatabase& db, const std::string& table, const std::string& timeColumn) {
  if (!IsPlainTableName(table) || !IsPlainTableName(timeColumn)) return;
  EnsureIndex(db, "cud_" + LowerAscii(table), table, timeColumn);
}

}  // namespace cuserver
