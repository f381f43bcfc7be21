#include "app/command_serve.hpp"

#include <signal.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <chrono>
#include <cstdlib>

#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/service/control_server.hpp"
#include "app/service/instance_lock.hpp"
#include "app/service/service.hpp"
#include "app/service/service_manager.hpp"
#include "reports/translate.hpp"

namespace cuserver {

void ServeCommand::AddArguments(CLI::App& command) {
  command.add_option("--listen", listen_, Tr("Address and port of the control page (ADDR:PORT, [IPv6]:PORT)"))
      ->type_name("ADDR:PORT")
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
    throw ArgumentError(TrFormat("--listen must be ADDR:PORT (for example 127.0.0.1:8064), not \"{}\"", listen_));
  }
  port_ = std::stoi(port);
}

namespace {

int SettingOr(const IniFile& settings, const char* key, int fallback) {
  const std::string text = settings.Value("Service", key);
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0 || value > 100000) return fallback;
  return static_cast<int>(value);
}

// [Service] RequestDeadlineSeconds, ConnectionsPerAddress and Connections:
// how long a client may take to send a request, and how many connections
// the control page holds open from one address and in all.
HttpServerLimits ReadControlLimits(const IniFile& settings, HttpServerLimits limits) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limits.requestDeadline).count();
  limits.requestDeadline =
      std::chrono::seconds{SettingOr(settings, "RequestDeadlineSeconds", static_cast<int>(seconds))};
  limits.connectionsPerAddress = SettingOr(settings, "ConnectionsPerAddress", limits.connectionsPerAddress);
  limits.connections = SettingOr(settings, "Connections", limits.connections);
  return limits;
}

}  // namespace

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
    throw CannotRunError(TrFormat(
        "listening on {} needs a token: set Token in section [Service] of {}", host_, env.ConfigFile().string()));
  }

  ServiceLog log;
  log.ShowOnStderr(env.GetVerbosity() == Verbosity::Verbose, env.GetVerbosity() == Verbosity::Quiet);
  ServiceManagerNotifier manager;
  ServiceOptions options;
  options.startDirectory = env.StartDirectory();
  options.configFile = env.ConfigFile();
  options.databaseAttempt = [&manager](bool connected, const std::string& detail) {
    manager.DatabaseAttempt(connected, detail);
  };
  Service service(options, log);
  service.Start();

  ControlServerOptions controlOptions{host_, port_, token};
  controlOptions.limits = ReadControlLimits(env.Settings(), controlOptions.limits);
  ControlServer server(service, controlOptions);
  server.Start();
  lock.Describe(server.PageUrl());
  log.Info(fmt::format("控制页面 {}", server.PageUrl()));
  if (env.GetVerbosity() != Verbosity::Quiet) env.Out() << Tr("control page: ") << server.PageUrl() << std::endl;
  manager.Listening(server.PageUrl());

  const int received = manager.WaitForSignal(stopSignals, [&service] {
    const auto running = service.Queue().Current();
    return running ? fmt::format("running: {}", running->label)
                   : std::string("waiting for the schedule or an operator");
  });
  manager.Stopping("stopping: the day run in progress ends its current vehicles");
  log.Info(fmt::format("收到信号 {}，服务停止：正在进行的计算算完当前车辆后记为未完成；它和等待中的计算在下次启动时进行",
                       received));
  server.Stop();
  service.Stop();
}

}  // namespace cuserver
