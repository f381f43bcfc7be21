#pragma once

#include <string_view>

namespace cuserver {

// Rethrows the exception being handled as a DatabaseError that keeps the
// driver's own message (SOCI's context lines left out); an error that already
// is a DatabaseError passes unchanged. Call only inside a catch block.
[[noreturn]] void RethrowAsDatabaseError(std::string_view context = {});

}  // namespace cuserver
