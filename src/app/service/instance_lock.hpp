#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cuserver {

// The lock file "cuserver.lock" of a start directory. A service holds it
// exclusively for its whole life and writes its process id and control page
// address into it; a one-shot command that computes holds it shared while it
// runs, so the two never work on one start directory at once. The lock
// (flock) goes with the process, so a killed service leaves no stale lock.
class InstanceLock {
 public:
  static constexpr std::string_view kFileName = "cuserver.lock";

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&&) = delete;
  ~InstanceLock();

  // For a service. Throws CannotRunError naming the running service (its
  // process id and page) when the lock is held.
  static InstanceLock ForService(const std::filesystem::path& startDirectory);
  // For a one-shot command. Throws CannotRunError pointing to the running
  // service's control page when a service holds the lock.
  static InstanceLock ForCommand(const std::filesystem::path& startDirectory, std::string_view command);

  // A service's note for others: its process id and control page address.
  void Describe(const std::string& pageUrl);

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// What a running service wrote into the lock file.
struct LockOwner {
  std::string pid;
  std::string pageUrl;
};
LockOwner ReadLockOwner(const std::filesystem::path& startDirectory);

// The commands that compute and so never run beside a service.
bool ComputesReports(std::string_view command);

}  // namespace cuserver
