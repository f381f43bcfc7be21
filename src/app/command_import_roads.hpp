#pragma once

#include <optional>
#include <string>

#include "app/command.hpp"
#include "run/road_import.hpp"

namespace cuserver {

// import-roads: copies the roads of HighWay/wxxlxl.tab in the start directory
// into roadlightmapinfo (replaced), roadlightmapinfomain and
// roadlightmapinfose (added to), as the operator's "添加道路信息" button did,
// and ends with one summary line. Reads the map table by itself; no geoset
// is loaded.
class ImportRoadsCommand : public Command {
 public:
  std::string Name() const override { return "import-roads"; }
  std::string Synopsis() const override {
    return Tr("Copy the roads of HighWay/wxxlxl.tab into the road information tables");
  }
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;  // {}
  void Setup() override {}
  void Run(CommandEnvironment& env) override;
  bool JsonOutput() const override { return json_; }
  void AddToSummary(nlohmann::json& summary) const override;

 private:
  bool json_ = false;
  std::optional<RoadImportCounts> counts_;
};

}  // namespace cuserver
