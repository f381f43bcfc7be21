#include "app/service/service_log.hpp"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <string_view>

#include "app/service/run_queue.hpp"

namespace cuserver {

ServiceLog::ServiceLog(std::size_t keep) : keep_(keep) {
  auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  logger_ = std::make_shared<spdlog::logger>("cuserver", sink);
  logger_->set_pattern("[%Y-%m-%d %H:%M:%S.%e] [%l] %v");
  // Debug lines (every vehicle's caption) only when SPDLOG_LEVEL=debug.
  logger_->set_level(spdlog::level::info);
  if (const char* level = std::getenv("SPDLOG_LEVEL"); level != nullptr && std::string_view(level) == "debug") {
    logger_->set_level(spdlog::level::debug);
  }
  logger_->flush_on(spdlog::level::debug);
}

void ServiceLog::Info(const std::string& text) {
  logger_->info(text);
  Add("info", text);
}

void ServiceLog::Warning(const std::string& text) {
  logger_->warn(text);
  Add("warning", text);
}

void ServiceLog::Error(const std::string& text) {
  logger_->error(text);
  Add("error", text);
}

void ServiceLog::Debug(const std::string& text) { logger_->debug(text); }

void ServiceLog::ShowOnStderr(bool debug, bool warningsOnly) {
  if (debug) logger_->set_level(spdlog::level::debug);
  if (warningsOnly) logger_->set_level(spdlog::level::warn);
}

void ServiceLog::Add(const char* level, const std::string& text) {
  std::lock_guard lock(mutex_);
  messages_.push_back(ServiceMessage{++sequence_, NowText(), level, text});
  while (messages_.size() > keep_) messages_.pop_front();
}

std::vector<ServiceMessage> ServiceLog::Recent() const {
  std::lock_guard lock(mutex_);
  return {messages_.begin(), messages_.end()};
}

ServiceCaption::ServiceCaption(ServiceLog& log, std::string initial) : log_(log) {
  state_.text = std::move(initial);
}

void ServiceCaption::Show(const std::string& text) {
  bool inVehicleLoop = false;
  {
    std::lock_guard lock(mutex_);
    state_.text = text;
    inVehicleLoop = state_.total >= 0 && state_.done < state_.total;
  }
  if (inVehicleLoop) {
    log_.Debug(text);
  } else {
    log_.Info(text);
  }
}

void ServiceCaption::Progress(int done, int total) {
  std::lock_guard lock(mutex_);
  state_.done = done;
  state_.total = total;
}

void ServiceCaption::DayOfRange(int day, int days) {
  std::lock_guard lock(mutex_);
  state_.day = day;
  state_.days = days;
}

ServiceCaption::State ServiceCaption::Current() const {
  std::lock_guard lock(mutex_);
  return state_;
}

}  // namespace cuserver
