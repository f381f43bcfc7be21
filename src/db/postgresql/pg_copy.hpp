#pragma once

#include <string>
#include <string_view>

#include "db/session.hpp"

namespace cuserver {

// Sends rows to a PostgreSQL session with COPY ... FROM STDIN: `copy` is the
// COPY statement, `rows` the data in its text format (tab-separated columns,
// "\N" for NULL, one line per row). Far faster than INSERT for bulk loads.
// Throws DatabaseError with the server's reason, or when the session is not
// a PostgreSQL one.
void PostgresCopyIn(ReportDatabase& db, const std::string& copy, std::string_view rows);

}  // namespace cuserver
