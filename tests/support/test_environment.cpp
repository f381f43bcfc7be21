// Linked into every test program. The tests' SQLite databases are thrown
// away, so their commits need not wait for the disk: CTest sets
// CUSERVER_SQLITE_SYNCHRONOUS=OFF for each test, and a test program run by
// hand sets it here, before any test runs. The cuserver processes that
// tests start inherit it. A value already set is kept.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool kSynchronousOff = ::setenv("CUSERVER_SQLITE_SYNCHRONOUS", "OFF", 0) == 0;

}  // namespace
