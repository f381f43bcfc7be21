#pragma once

#include <string>

#include "app/command.hpp"

namespace cuserver {

// serve [--listen ADDR:PORT]: the unattended service with its nightly
// schedule and control page, until SIGTERM or SIGINT. One service per start
// directory. Listening on an address other than loopback needs the token of
// gpsserver.ini, section Service, key Token.
class ServeCommand : public Command {
 public:
  std::string Name() const override { return "serve"; }
  std::string Synopsis() const override {
    return Tr("Run as the unattended service: nightly schedule and control page (default 127.0.0.1:8064)");
  }
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;

 private:
  std::string listen_ = "127.0.0.1:8064";
  std::string host_;
  int port_ = 0;
};

}  // namespace cuserver
