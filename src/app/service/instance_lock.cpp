#include "app/service/instance_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "app/errors.hpp"

namespace cuserver {
namespace {

int OpenLockFile(const std::filesystem::path& startDirectory) {
  const std::filesystem::path file = startDirectory / InstanceLock::kFileName;
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw CannotRunError(fmt::format("cannot open the lock file {}: {}", file.string(), std::strerror(errno)));
  }
  return fd;
}

bool TryLock(int fd, int operation) {
  while (::flock(fd, operation | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

std::string OwnerText(const LockOwner& owner) {
  return owner.pid.empty() ? std::string("another cuserver process") : fmt::format("process {}", owner.pid);
}

void WriteNote(int fd, std::string_view command, const std::string& pageUrl) {
  const std::string text = fmt::format("{}\n{}\n{}\n", ::getpid(), pageUrl, command);
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    // The lock itself holds; only the note for others is missing.
  }
}

// The holder writes its note just after it took the lock: a refused process
// that came in between waits a moment for it.
LockOwner HolderOf(const std::filesystem::path& startDirectory) {
  LockOwner owner = ReadLockOwner(startDirectory);
  for (int i = 0; i < 20 && owner.pid.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    owner = ReadLockOwner(startDirectory);
  }
  return owner;
}

// A service's note says "serve"; one written before notes named their
// command has only a page address.
bool IsService(const LockOwner& owner) {
  return owner.command == "serve" || (owner.command.empty() && !owner.pageUrl.empty());
}

}  // namespace

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

LockOwner ReadLockOwner(const std::filesystem::path& startDirectory) {
  LockOwner owner;
  std::ifstream in(startDirectory / InstanceLock::kFileName);
  std::getline(in, owner.pid);
  std::getline(in, owner.pageUrl);
  std::getline(in, owner.command);
  return owner;
}

InstanceLock InstanceLock::ForService(const std::filesystem::path& startDirectory) {
  int fd = OpenLockFile(startDirectory);
  if (!TryLock(fd, LOCK_EX)) {
    ::close(fd);
    const LockOwner owner = HolderOf(startDirectory);
    if (!IsService(owner)) {
      throw CannotRunError(fmt::format("a cuserver command is computing in {} ({}, {}); start the service when it has ended",
                                       startDirectory.string(), owner.command.empty() ? "a command" : owner.command,
                                       OwnerText(owner)));
    }
    throw CannotRunError(fmt::format("a cuserver service already runs in {}: {}, control page {}",
                                     startDirectory.string(), OwnerText(owner), owner.pageUrl));
  }
  InstanceLock lock(fd);
  lock.Describe("");
  return lock;
}

void InstanceLock::Describe(const std::string& pageUrl) { WriteNote(fd_, "serve", pageUrl); }

InstanceLock InstanceLock::ForCommand(const std::filesystem::path& startDirectory, std::string_view command) {
  int fd = ::open((startDirectory / kFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A start directory without write access: a service there would have made
  // the file, so without one none runs.
  if (fd < 0) fd = ::open((startDirectory / kFileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return InstanceLock(-1);
  if (!TryLock(fd, LOCK_EX)) {
    ::close(fd);
    const LockOwner owner = HolderOf(startDirectory);
    if (IsService(owner)) {
      throw CannotRunError(fmt::format(
          "{} does not compute while the cuserver service ({}) runs in {}; use its control page {}", command,
          OwnerText(owner), startDirectory.string(),
          owner.pageUrl.empty() ? std::string("(address unknown)") : owner.pageUrl));
    }
    throw CannotRunError(fmt::format(
        "{} does not run while another cuserver command ({}, {}) is working in {}; run it when that has ended",
        command, owner.command.empty() ? "unknown" : owner.command, OwnerText(owner), startDirectory.string()));
  }
  WriteNote(fd, command, "");
  return InstanceLock(fd);
}

bool ComputesReports(std::string_view command) {
  return command == "run-day" || command == "run-days" || command == "line-alarms" || command == "import-roads";
}

bool LocksStartDirectory(std::string_view command) { return ComputesReports(command) || command == "simulate"; }

}  // namespace cuserver
