#pragma once

#include <string_view>

struct sqlite3;

namespace cuserver {

class DatabaseError;

// SQLite's last failure on the connection, with its kind (a value the
// table's rules refuse, a table it does not have) and its result code.
DatabaseError SqliteFailure(sqlite3* connection);

// Rethrows the exception being handled as a DatabaseError that keeps the
// driver's own message (SOCI's context lines left out); an error that already
// is a DatabaseError passes unchanged. Call only inside a catch block.
[[noreturn]] void RethrowAsDatabaseError(std::string_view context = {});

}  // namespace cuserver
