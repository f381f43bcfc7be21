#pragma once

#include <string>

namespace soci {
class session;
}

namespace cuserver {

// The DBMS a SOCI session of the odbc backend reaches, as the driver names it.
enum class OdbcDbms { Oracle, Postgresql, Sqlite, Mysql, Other };
OdbcDbms OdbcDbmsOf(soci::session& session);
// The driver's own name of that DBMS (SQL_DBMS_NAME); empty when it gives none.
std::string OdbcDbmsName(soci::session& session);

}  // namespace cuserver
