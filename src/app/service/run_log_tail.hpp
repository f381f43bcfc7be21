#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "run/run_log.hpp"

namespace cuserver {

// The last entries of the run log of a start directory, oldest first, as
// UTF-8 text without their line ends and without the empty lines the
// entries' own line ends leave. Empty when there is no log.
std::vector<std::string> RunLogTail(const std::filesystem::path& startDirectory, RunLogEncoding encoding,
                                    std::size_t count);

}  // namespace cuserver
