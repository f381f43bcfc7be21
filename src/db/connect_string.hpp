#pragma once

#include <string>

#include "db/session.hpp"

namespace cuserver {

// The backend name SOCI loads ("sqlite3", "postgresql", "odbc", "mysql").
const char* SociBackendName(Backend backend);

// The SOCI connection string of the settings:
//   sqlite3:    db="<file>" timeout=<seconds>
//   postgresql: the libpq connection string (a bare name is a service name)
//               with user and password added
//   odbc:       DSN=<ds>;UID=<user>;PWD=<password> plus psqlODBC's options
//               that make a result stream instead of being held whole and
//               keep long VARCHAR values whole
//   mysql:      SOCI's MySQL string ("host=... port=... dbname=...") with
//               user, password and charset=utf8mb4 added where it sets none
// Throws DatabaseError for a SQLite file name that SOCI cannot carry.
std::string SociConnectString(const ConnectionSettings& settings);

// The connection string a session opens with: SociConnectString's, and for
// PostgreSQL TCP keepalives (a dead peer is noticed after about two minutes
// of silence) and a connect timeout of 20 s, each of them only where the
// data source does not set it already; for MySQL the same connect timeout
// and a read timeout of the statement timeout and 30 s.
std::string SessionConnectString(const ConnectionSettings& settings);

}  // namespace cuserver
