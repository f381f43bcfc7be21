#include "reports/diagnostics.hpp"

#include <fmt/format.h>

#include <utility>

#include "reports/translate.hpp"

namespace cuserver {

Diagnostics::Diagnostics(LineSink sink) : sink_(std::move(sink)) {}

Diagnostics::Diagnostics(LineSink sink, LineSink infoSink)
    : sink_(std::move(sink)), infoSink_(std::move(infoSink)), separateInfo_(true) {}

void Diagnostics::Emit(const std::string& line) {
  if (sink_) sink_(line);
}

void Diagnostics::RowRefused(std::string_view table, std::string_view simId,
                             std::string_view reason) {
  std::lock_guard lock(mutex_);
  ++refusedRows_;
  ++refusedByTable_[std::string(table)];
  Emit(TrFormat("row refused: table {}, SIMID {}: {}", table, simId, reason));
}

void Diagnostics::ReportFailed(std::string_view report, std::string_view simId,
                               std::string_view reason) {
  std::lock_guard lock(mutex_);
  ++failedReports_;
  failedReportList_.push_back({std::string(report), std::string(simId), std::string(reason)});
  Emit(TrFormat("report failed: {}, SIMID {}: {}", report, simId, reason));
}

void Diagnostics::VehicleSkipped(std::string_view simId, std::string_view reason) {
  std::lock_guard lock(mutex_);
  ++skippedVehicles_;
  skippedList_.push_back({std::string(simId), std::string(reason)});
  Emit(TrFormat("vehicle skipped: SIMID {}: {}", simId, reason));
}

void Diagnostics::Failure(std::string_view message) {
  std::lock_guard lock(mutex_);
  ++failures_;
  failureList_.emplace_back(message);
  Emit(std::string(message));
}

void Diagnostics::Info(std::string_view message) {
  std::lock_guard lock(mutex_);
  if (!separateInfo_) {
    Emit(std::string(message));
  } else if (infoSink_) {
    infoSink_(std::string(message));
  }
}

void Diagnostics::CountMessage(std::string_view message) {
  std::lock_guard lock(mutex_);
  auto it = messages_.find(message);
  if (it == messages_.end()) {
    messages_.emplace(std::string(message), 1);
    messageOrder_.emplace_back(message);
  } else {
    ++it->second;
  }
}

void Diagnostics::FlushMessages() {
  std::lock_guard lock(mutex_);
  for (const auto& message : messageOrder_) {
    Emit(TrFormat("{} ({} vehicles)", message, messages_[message]));
  }
  messages_.clear();
  messageOrder_.clear();
}

void Diagnostics::Absorb(const Diagnostics& part, const std::vector<std::string>& lines) {
  std::scoped_lock lock(mutex_, part.mutex_);
  refusedRows_ += part.refusedRows_;
  failedReports_ += part.failedReports_;
  skippedVehicles_ += part.skippedVehicles_;
  failures_ += part.failures_;
  skippedList_.insert(skippedList_.end(), part.skippedList_.begin(), part.skippedList_.end());
  failedReportList_.insert(failedReportList_.end(), part.failedReportList_.begin(), part.failedReportList_.end());
  for (const auto& [table, count] : part.refusedByTable_) refusedByTable_[table] += count;
  failureList_.insert(failureList_.end(), part.failureList_.begin(), part.failureList_.end());
  for (const auto& message : part.messageOrder_) {
    auto [it, added] = messages_.emplace(message, 0);
    if (added) messageOrder_.push_back(message);
    it->second += part.messages_.at(message);
  }
  for (const std::string& line : lines) Emit(line);
}

int Diagnostics::RefusedRows() const {
  std::lock_guard lock(mutex_);
  return refusedRows_;
}

int Diagnostics::FailedReports() const {
  std::lock_guard lock(mutex_);
  return failedReports_;
}

int Diagnostics::SkippedVehicles() const {
  std::lock_guard lock(mutex_);
  return skippedVehicles_;
}

int Diagnostics::Failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

bool Diagnostics::AnyFailure() const {
  std::lock_guard lock(mutex_);
  return refusedRows_ + failedReports_ + skippedVehicles_ + failures_ > 0;
}

std::vector<Diagnostics::SkippedVehicle> Diagnostics::SkippedList() const {
  std::lock_guard lock(mutex_);
  return skippedList_;
}

std::vector<Diagnostics::FailedReport> Diagnostics::FailedReportList() const {
  std::lock_guard lock(mutex_);
  return failedReportList_;
}

std::map<std::string, int, std::less<>> Diagnostics::RefusedByTable() const {
  std::lock_guard lock(mutex_);
  return refusedByTable_;
}

std::vector<std::string> Diagnostics::FailureList() const {
  std::lock_guard lock(mutex_);
  return failureList_;
}

std::string Diagnostics::Summary() const {
  std::lock_guard lock(mutex_);
  if (refusedRows_ + failedReports_ + skippedVehicles_ + failures_ == 0) return {};
  std::string text = TrFormat("{} rows refused, {} reports failed, {} vehicles skipped", refusedRows_, failedReports_,
                              skippedVehicles_);
  if (failures_ > 0) text += TrFormat(", {} other failures", failures_);
  return text;
}

}  // namespace cuserver
