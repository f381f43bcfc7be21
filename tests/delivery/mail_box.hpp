#pragma once

// A real SMTP server for the tests, Debian's python3-aiosmtpd keeping every
// message it takes in a Maildir, and the messages read back with Python's
// email module and openpyxl.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "run_binary.hpp"
#include "support/wait_until.hpp"

extern char** environ;

namespace cuserver::test {

// Whether something listens on the port of 127.0.0.1.
inline bool Listening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// A port of 127.0.0.1 that nothing listens on (the system's choice, given back).
inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("no free port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

inline bool HaveMailTools() {
  return std::system("/usr/bin/python3 -c 'import aiosmtpd, openpyxl' >/dev/null 2>&1") == 0;
}

class MailBox {
 public:
  MailBox(int port, std::filesystem::path folder) : folder_(std::move(folder)) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const std::string maildir = (folder_ / "maildir").string();
    const std::string log = (folder_ / "smtpd.log").string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    const char* argv[] = {"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
                          "aiosmtpd.handlers.Mailbox", maildir.c_str(), nullptr};
    const int failed = posix_spawn(&pid_, argv[0], &files, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&files);
    if (failed != 0) throw std::runtime_error("aiosmtpd did not start");
    if (!WaitUntil([port] { return Listening(port); })) throw std::runtime_error("aiosmtpd does not listen");
  }
  ~MailBox() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  MailBox(const MailBox&) = delete;
  MailBox& operator=(const MailBox&) = delete;

  // Every message taken, oldest first: {"subject", "to", "rcptTo", "text",
  // "files": [{"name", "type", "sheets": {title: rows from the header on,
  // each cell as [type, value]}}]}.
  nlohmann::json Messages() const {
    const std::filesystem::path script = folder_ / "read_mail.py";
    std::ofstream(script) << R"(import email, email.policy, glob, io, json, os, sys, openpyxl
messages = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], 'new', '*')), key=os.path.getmtime):
    m = email.message_from_bytes(open(path, 'rb').read(), policy=email.policy.default)
    files = []
    for part in m.iter_attachments():
        book = openpyxl.load_workbook(io.BytesIO(part.get_content()))
        files.append({'name': part.get_filename(), 'type': part.get_content_type(),
                      'sheets': {s.title: [[[type(c.value).__name__, str(c.value)] for c in r]
                                           for r in s.iter_rows(min_row=2)] for s in book.worksheets}})
    messages.append({'subject': str(m['subject']), 'to': str(m['to']), 'rcptTo': str(m['X-RcptTo']),
                     'text': m.get_body(('plain',)).get_content(), 'files': files})
print(json.dumps(messages))
)";
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + (folder_ / "maildir").string() +
                                "' > '" + (folder_ / "messages.json").string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("the messages cannot be read");
    return nlohmann::json::parse(ReadFile(folder_ / "messages.json"));
  }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = 0;
};

}  // namespace cuserver::test
