#pragma once

// Runs the built cuserver binary in a start directory and collects what it
// printed and its exit status.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace cuserver {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// "cuserver ARGS" in the start directory, without $CUSERVER_CONFIG and in
// the sources' language whatever the developer's locale (LC_ALL= undoes it);
// the environment settings are prefixed as NAME=value words.
inline Outcome RunCuserver(const std::filesystem::path& startDirectory, const std::string& args,
                           const std::string& environment = "") {
  const std::filesystem::path out = startDirectory / "stdout.txt";
  const std::filesystem::path err = startDirectory / "stderr.txt";
  const std::string command = "cd '" + startDirectory.string() + "' && env -u CUSERVER_CONFIG -u LANGUAGE LC_ALL=C.UTF-8 " + environment +
                              " '" CUSERVER_BINARY "' " + args + " >'" + out.string() + "' 2>'" + err.string() +
                              "' </dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
}

}  // namespace cuserver
