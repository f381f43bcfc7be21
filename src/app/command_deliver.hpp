#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/command.hpp"
#include "reports/translate.hpp"
#include "app/delivery/delivery_settings.hpp"

namespace cuserver {

// deliver DAYKEY | --month yyyymm [--dry-run]: makes the workbook the
// schedule of [Delivery] would send for the day or month, writes it into
// Folder and sends it at once, so that an operator can try the settings;
// --dry-run only writes it. Reads the reports only and records nothing: the
// schedule still sends the period when it comes.
class DeliverCommand : public Command {
 public:
  std::string Name() const override { return "deliver"; }
  std::string Synopsis() const override { return Tr("Write a day's or month's reports as XLSX and send them by e-mail"); }
  void AddArguments(CLI::App& command) override;
  // {"day": "20140319"} or {"month": "201403"}; "dryRun": true only writes the file
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;
  // {"file": path, "sent": true|false}
  void AddToSummary(nlohmann::json& summary) const override;

 private:
  std::string dayKey_;
  std::string month_;
  bool dryRun_ = false;
  DeliveryPeriod period_;
  std::filesystem::path file_;
  bool sent_ = false;
};

}  // namespace cuserver
