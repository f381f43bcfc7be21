#pragma once

#include <string>
#include <string_view>

namespace cuserver {

// A value for a '...' literal of a statement: single quotes are doubled, so any
// value (a SIMID "13'9", a road name with an apostrophe, Chinese text) reaches
// the database intact and cannot end the literal. Ordinary values are unchanged.
std::string SqlValue(std::string_view value);

// The whole literal: SqlValue between single quotes.
std::string SqlLiteral(std::string_view value);

// True when a table name formed from stored texts (a prefix and year and month
// digits) consists of letters, digits and underscores only and may be put into
// a statement as it is.
bool IsPlainTableName(std::string_view name);

}  // namespace cuserver
