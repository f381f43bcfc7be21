#include "app/command_serve.hpp"

#include <signal.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/service/control_server.hpp"
#include "app/service/instance_lock.hpp"
#include "app/service/service.hpp"

namespace cuserver {

void ServeCommand::AddArguments(CLI::App& command) {
  command.add_option("--listen", listen_, "Address and port of the control page (ADDR:PORT, [IPv6]:PORT)")
      ->capture_default_str();
}

void ServeCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  JsonText(arguments, "listen", listen_);
}

void ServeCommand::Setup() {
  const size_t colon = listen_.rfind(':');
  const std::string port = colon == std::string::npos ? std::string() : listen_.substr(colon + 1);
  host_ = colon == std::string::npos ? std::string() : listen_.substr(0, colon);
  if (host_.size() >= 2 && host_.front() == '[' && host_.back() == ']') host_ = host_.substr(1, host_.size() - 2);
  const bool portOk = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
                      std::stoi(port) <= 65535;
  if (host_.empty() || !portOk) {
    throw ArgumentError(fmt::format("--listen must be ADDR:PORT (for example 127.0.0.1:8064), not \"{}\"", listen_));
  }
  port_ = std::stoi(port);
}

void ServeCommand::Run(CommandEnvironment& env) {
  // Block the stop signals before any thread starts, so that every thread
  // inherits the mask and only the sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  InstanceLock lock = InstanceLock::ForService(env.StartDirectory());
  const std::string token = env.Settings().Value("Service", "Token");
  if (token.empty() && !IsLoopbackHost(host_)) {
    throw CannotRunError(fmt::format(
        "listening on {} needs a token: set Token in section [Service] of {}", host_, env.ConfigFile().string()));
  }

  ServiceLog log;
  ServiceOptions options;
  options.startDirectory = env.StartDirectory();
  options.configFile = env.ConfigFile();
  Service service(options, log);
  service.Start();

  ControlServer server(service, ControlServerOptions{host_, port_, token});
  server.Start();
  lock.Describe(server.PageUrl());
  log.Info(fmt::format("控制页面 {}", server.PageUrl()));
  env.Out() << "control page: " << server.PageUrl() << std::endl;

  int received = 0;
  sigwait(&stopSignals, &received);
  log.Info(fmt::format("stopping on signal {}: a day run in progress ends its current vehicles and is recorded "
                       "incomplete; it and the waiting runs run at the next start",
                       received));
  server.Stop();
  service.Stop();
}

}  // namespace cuserver
