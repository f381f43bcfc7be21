#pragma once

#include <memory>
#include <string>

#include "db/session.hpp"

namespace soci {
class session;
}

namespace cuserver {

// A cursor that fetches one row at a time through SOCI's dynamic row.
// Throws DatabaseError when the statement cannot be run.
std::unique_ptr<Cursor> OpenSociCursor(soci::session& session, const std::string& statement);

}  // namespace cuserver
