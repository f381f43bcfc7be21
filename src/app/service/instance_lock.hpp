#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cuserver {

// The lock file "cuserver.lock" of a start directory. A service holds it
// exclusively for its whole life and a one-shot command that computes (or
// simulates) for as long as it runs, so that no two of them work in one start
// directory at once. The holder writes its process id, its control page
// address (a service's; empty for a command) and its command into the file,
// a line each, for the message of the one refused. The lock (flock) goes with
// the process, so a killed process leaves no stale lock.
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
  // service's control page when a service holds the lock, or naming the
  // other command's process when a command holds it.
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
  std::string command;  // "serve" for a service
};
LockOwner ReadLockOwner(const std::filesystem::path& startDirectory);

// The commands that compute and so never run beside a service.
bool ComputesReports(std::string_view command);
// The commands that hold the start directory's lock while they run: those
// that compute, and simulate, which rewrites the database and the map folder.
bool LocksStartDirectory(std::string_view command);

}  // namespace cuserver
