#include "app/service/instance_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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
  return owner;
}

InstanceLock InstanceLock::ForService(const std::filesystem::path& startDirectory) {
  int fd = OpenLockFile(startDirectory);
  if (!TryLock(fd, LOCK_EX)) {
    // Shared holders are one-shot commands; the exclusive one is a service.
    const bool commandsOnly = TryLock(fd, LOCK_SH);
    ::close(fd);
    if (commandsOnly) {
      throw CannotRunError(fmt::format("a cuserver command is computing in {}; start the service when it has ended",
                                       startDirectory.string()));
    }
    const LockOwner owner = ReadLockOwner(startDirectory);
    throw CannotRunError(fmt::format("a cuserver service already runs in {}: {}, control page {}",
                                     startDirectory.string(), OwnerText(owner), owner.pageUrl));
  }
  InstanceLock lock(fd);
  lock.Describe("");
  return lock;
}

void InstanceLock::Describe(const std::string& pageUrl) {
  const std::string text = fmt::format("{}\n{}\n", ::getpid(), pageUrl);
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    // The lock itself holds; only the note for others is missing.
  }
}

InstanceLock InstanceLock::ForCommand(const std::filesystem::path& startDirectory, std::string_view command) {
  int fd = ::open((startDirectory / kFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A start directory without write access: a service there would have made
  // the file, so without one none runs.
  if (fd < 0) fd = ::open((startDirectory / kFileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return InstanceLock(-1);
  if (!TryLock(fd, LOCK_SH)) {
    ::close(fd);
    const LockOwner owner = ReadLockOwner(startDirectory);
    throw CannotRunError(fmt::format(
        "{} does not compute while the cuserver service ({}) runs in {}; use its control page {}", command,
        OwnerText(owner), startDirectory.string(),
        owner.pageUrl.empty() ? std::string("(address unknown)") : owner.pageUrl));
  }
  return InstanceLock(fd);
}

bool ComputesReports(std::string_view command) {
  return command == "run-day" || command == "run-days" || command == "line-alarms" || command == "import-roads";
}

}  // namespace cuserver
