#include "db/backend_session.hpp"

#include <soci/soci.h>

#include <mutex>

#include "db/bound_texts.hpp"
#include "db/connect_string.hpp"
#include "db/cursors.hpp"
#include "db/driver_error.hpp"

namespace cuserver {

BackendSession::BackendSession(std::unique_ptr<soci::session> sql) : sql_(std::move(sql)) {}

BackendSession::~BackendSession() = default;

std::unique_ptr<Cursor> BackendSession::OpenQuery(const std::string& statement) {
  return OpenSociCursor(*sql_, statement);
}

void BackendSession::Execute(const std::string& statement) {
  try {
    *sql_ << statement;
  } catch (...) {
    RethrowAsDatabaseError();
  }
}

std::unique_ptr<Cursor> BackendSession::OpenBoundQuery(const std::string& statement,
                                                       const std::vector<std::string>& texts) {
  RequireNoNulByte(texts, "the " + sql_->get_backend_name() + " driver");
  return OpenSociCursor(*sql_, statement, texts);
}

void BackendSession::ExecuteBound(const std::string& statement, const std::vector<std::string>& texts) {
  RequireNoNulByte(texts, "the " + sql_->get_backend_name() + " driver");
  ExecuteSociBound(*sql_, statement, texts);
}

bool BackendSession::TableExists(const std::string& probe) {
  try {
    // MySQL's client takes a query's whole result before the first row.
    OpenQuery(Dialect() == SqlDialect::Mysql ? probe + "limit 0" : probe)->Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<soci::session> OpenSociSession(const ConnectionSettings& settings) {
  auto sql = std::make_unique<soci::session>();
  try {
    // psqlODBC's connect sets the process's locale and reads it back, which
    // two threads must not do at once (workers open their sessions side by
    // side): ODBC connections are opened one at a time.
    static std::mutex odbcConnects;
    std::unique_lock oneAtATime(odbcConnects, std::defer_lock);
    if (settings.backend == Backend::Odbc) oneAtATime.lock();
    sql->open(SociBackendName(settings.backend), SessionConnectString(settings));
  } catch (...) {
    RethrowAsDatabaseError();
  }
  return sql;
}

}  // namespace cuserver
