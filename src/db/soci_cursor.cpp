#include <soci/soci.h>

#include <vector>

#include "db/bound_texts.hpp"
#include "db/cursors.hpp"
#include "db/driver_error.hpp"
#include "db/value_text.hpp"

namespace cuserver {
namespace {

// Fetches row by row; the backend decides how many rows travel per round
// trip (psqlODBC 10000 with UseDeclareFetch, libpq the whole result).
class SociCursor : public Cursor {
 public:
  SociCursor(soci::session& session, const std::string& statement)
      : statement_((session.prepare << statement, soci::into(row_))) {
    hasRow_ = statement_.execute(true);
  }
  // `statement` with SOCI's placeholders (:p1 ...), one a text.
  SociCursor(soci::session& session, const std::string& statement, std::vector<std::string> texts)
      : texts_(std::move(texts)), statement_(Prepared(session, statement, row_, texts_)) {
    hasRow_ = statement_.execute(true);
  }

  bool AtEnd() const override { return !hasRow_; }

  std::optional<std::string> Value(std::string_view column) const override {
    if (!hasRow_) throw DatabaseError("no current row to read column " + std::string(column) + " from");
    for (std::size_t i = 0; i < row_.size(); ++i) {
      if (SameColumnName(row_.get_properties(i).get_name(), column)) {
        try {
          return RowValueText(row_, i);
        } catch (...) {
          RethrowAsDatabaseError("column " + std::string(column));
        }
      }
    }
    throw DatabaseError("the query has no column " + std::string(column));
  }

  int Place(std::string_view column) const override {
    for (std::size_t i = 0; i < row_.size(); ++i) {
      if (SameColumnName(row_.get_properties(i).get_name(), column)) return static_cast<int>(i);
    }
    return -1;
  }

  bool ValueAtInto(int place, std::string& text) const override {
    const std::size_t i = RequirePlace(place);
    text.clear();
    try {
      auto value = RowValueText(row_, i);
      if (!value) return false;
      text = std::move(*value);
      return true;
    } catch (...) {
      RethrowAsDatabaseError("column " + row_.get_properties(i).get_name());
    }
  }

  // Numbers as the driver gave them, without a text made and read back.
  void FixValueAt(int place, FixValue& value) const override {
    const std::size_t i = RequirePlace(place);
    try {
      if (row_.get_indicator(i) != soci::i_null) {
        switch (row_.get_properties(i).get_data_type()) {
          case soci::dt_double:
            value.SetReal(row_.get<double>(i));
            return;
          case soci::dt_integer:
            value.SetInteger(row_.get<int>(i));
            return;
          case soci::dt_long_long:
            value.SetInteger(row_.get<long long>(i));
            return;
          default:
            break;
        }
      }
    } catch (...) {
      RethrowAsDatabaseError("column " + row_.get_properties(i).get_name());
    }
    std::string text;
    if (ValueAtInto(place, text)) {
      value.SetText(text);
    } else {
      value.SetNull();
    }
  }

  void Next() override {
    if (!hasRow_) return;
    try {
      hasRow_ = statement_.fetch();
    } catch (...) {
      hasRow_ = false;
      RethrowAsDatabaseError();
    }
  }

  void Close() override {
    if (closed_) return;
    closed_ = true;
    hasRow_ = false;
    try {
      statement_.clean_up();
    } catch (...) {
      RethrowAsDatabaseError();
    }
  }

 private:
  std::size_t RequirePlace(int place) const {
    if (!hasRow_) throw DatabaseError("no current row to read from");
    if (place < 0 || static_cast<std::size_t>(place) >= row_.size()) {
      throw DatabaseError("the query has no column " + std::to_string(place));
    }
    return static_cast<std::size_t>(place);
  }

  static soci::details::prepare_temp_type Prepared(soci::session& session, const std::string& statement,
                                                   soci::row& row, const std::vector<std::string>& texts) {
    soci::details::prepare_temp_type prepared = (session.prepare << statement, soci::into(row));
    for (const std::string& text : texts) prepared, soci::use(text);
    return prepared;
  }

  soci::row row_;
  const std::vector<std::string> texts_;  // bound: they live as long as the statement
  soci::statement statement_;
  bool hasRow_ = false;
  bool closed_ = false;
};

bool IsSelect(std::string_view statement) {
  while (!statement.empty() && (statement.front() == ' ' || statement.front() == '\t')) statement.remove_prefix(1);
  return statement.size() >= 6 && SameColumnName(statement.substr(0, 6), "select");
}

// The statement bound to the texts, without reading its rows.
void RunBound(soci::session& session, const std::string& statement, const std::vector<std::string>& texts) {
  soci::details::prepare_temp_type prepared = (session.prepare << statement);
  for (const std::string& text : texts) prepared, soci::use(text);
  soci::statement(prepared).execute(true);
}

// `texts` null: a statement of literals only.
std::unique_ptr<Cursor> OpenCursor(soci::session& session, const std::string& statement,
                                   const std::vector<std::string>* texts) {
  try {
    if (texts == nullptr) return std::make_unique<SociCursor>(session, statement);
    return std::make_unique<SociCursor>(session, statement, *texts);
  } catch (const soci::soci_error&) {
    // SOCI's ODBC backend loses the driver's reason when a query fails while
    // its columns are described; running the query once more the plain way
    // fails again with the reason attached. Only a SELECT is run twice.
    if (session.get_backend_name() == "odbc" && IsSelect(statement)) {
      try {
        if (texts == nullptr) {
          session << statement;
        } else {
          RunBound(session, statement, *texts);
        }
      } catch (...) {
        RethrowAsDatabaseError();
      }
    }
    RethrowAsDatabaseError();
  } catch (...) {
    RethrowAsDatabaseError();
  }
}

}  // namespace

std::unique_ptr<Cursor> OpenSociCursor(soci::session& session, const std::string& statement) {
  return OpenCursor(session, statement, nullptr);
}

std::unique_ptr<Cursor> OpenSociCursor(soci::session& session, const std::string& statement,
                                       const std::vector<std::string>& texts) {
  return OpenCursor(session, NumberedPlaceholders(statement, ":p", texts.size()), &texts);
}

void ExecuteSociBound(soci::session& session, const std::string& statement, const std::vector<std::string>& texts) {
  const std::string numbered = NumberedPlaceholders(statement, ":p", texts.size());
  try {
    RunBound(session, numbered, texts);
  } catch (...) {
    RethrowAsDatabaseError();
  }
}

}  // namespace cuserver
