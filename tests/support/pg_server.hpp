#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace cuserver::test {

// The throwaway PostgreSQL server of scripts/pg-start ($CUSERVER_PG_DIR), for
// tests that stop it and start it again. Such tests run alone.
inline std::string PgServerFolder() {
  const char* folder = std::getenv("CUSERVER_PG_DIR");
  return folder == nullptr ? std::string() : std::string(folder);
}

// pg_ctl on the test server with the given arguments; its exit status.
inline int PgCtl(const std::string& arguments) {
  const char* bin = std::getenv("CUSERVER_PG_BIN");
  const std::string pgBin = bin == nullptr || *bin == '\0' ? "/usr/lib/postgresql/15/bin" : bin;
  const std::string command = (::geteuid() == 0 ? "runuser -u postgres -- " : "") + pgBin + "/pg_ctl -D '" +
                              PgServerFolder() + "/data' " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str());
}

// As a crash: no checkpoint, sessions cut.
inline int StopPgServer() { return PgCtl("-m immediate -w stop"); }
inline int StartPgServer() { return PgCtl("-l '" + PgServerFolder() + "/server.log' -w -t 60 start"); }

// Starts the server again at the end of a test, also when the test failed.
struct PgServerRunningAtTheEnd {
  ~PgServerRunningAtTheEnd() {
    if (PgCtl("status") != 0) StartPgServer();
  }
};

}  // namespace cuserver::test
