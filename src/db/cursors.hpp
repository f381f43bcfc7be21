#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/session.hpp"

namespace soci {
class session;
}

namespace cuserver {

// A cursor that fetches one row at a time through SOCI's dynamic row.
// Throws DatabaseError when the statement cannot be run.
std::unique_ptr<Cursor> OpenSociCursor(soci::session& session, const std::string& statement);
// The same with the texts bound to the statement's `?` placeholders.
std::unique_ptr<Cursor> OpenSociCursor(soci::session& session, const std::string& statement,
                                       const std::vector<std::string>& texts);
// Runs a statement that returns no rows with the texts bound to its `?`
// placeholders. Throws DatabaseError.
void ExecuteSociBound(soci::session& session, const std::string& statement, const std::vector<std::string>& texts);

}  // namespace cuserver
