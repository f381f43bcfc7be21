#include "app/commands.hpp"

#include "app/command_days.hpp"
#include "app/command_deliver.hpp"
#include "app/command_import_roads.hpp"
#include "app/command_init_db.hpp"
#include "app/command_line_alarms.hpp"
#include "app/command_map_queries.hpp"
#include "app/command_report.hpp"
#include "app/command_summary.hpp"
#include "app/command_run_day.hpp"
#include "app/command_run_days.hpp"
#include "app/command_serve.hpp"
#include "app/command_simulate.hpp"

namespace cuserver {

std::vector<std::unique_ptr<Command>> AllCommands() {
  std::vector<std::unique_ptr<Command>> commands;
  commands.push_back(std::make_unique<RunDayCommand>());
  commands.push_back(std::make_unique<RunDaysCommand>());
  commands.push_back(std::make_unique<ServeCommand>());
  commands.push_back(std::make_unique<DaysCommand>());
  commands.push_back(std::make_unique<ReportCommand>());
  commands.push_back(std::make_unique<SummaryCommand>());
  commands.push_back(std::make_unique<DeliverCommand>());
  commands.push_back(std::make_unique<LineAlarmsCommand>());
  commands.push_back(std::make_unique<ImportRoadsCommand>());
  commands.push_back(std::make_unique<InitDbCommand>());
  commands.push_back(std::make_unique<HighwayTestCommand>());
  commands.push_back(std::make_unique<AreaNameCommand>());
  commands.push_back(std::make_unique<SimulateCommand>());
  return commands;
}

std::unique_ptr<Command> MakeCommand(std::string_view name) {
  for (auto& command : AllCommands()) {
    if (command->Name() == name) return std::move(command);
  }
  return nullptr;
}

}  // namespace cuserver
