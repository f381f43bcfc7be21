#include "app/command_init_db.hpp"

#include <CLI/CLI.hpp>

#include "app/environment.hpp"
#include "app/json_arguments.hpp"
#include "db/ledger.hpp"
#include "db/schema.hpp"
#include "reports/translate.hpp"
#include "run/run_session.hpp"

namespace cuserver {

void InitDbCommand::AddArguments(CLI::App& /*command*/) {}

void InitDbCommand::FromJson(const nlohmann::json& arguments) { RequireJsonObject(arguments); }

void InitDbCommand::Run(CommandEnvironment& env) {
  ReportDatabase db;
  OpenRunSession(db, AllowingNewSqliteFile(env.Connection()), env.GetCaption());
  InitDatabase(db);
  Ledger(db).EnsureTables();
  if (env.Summaries(*this)) env.Out() << Tr("tables ready") << '\n';
}

}  // namespace cuserver
