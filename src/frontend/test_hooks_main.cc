// quarvel for tests only, never installed or packaged: the real program with
// settings taken from the environment, so that end-to-end tests can reach
// states the real program cannot be driven into quickly.
//   QUARVEL_FAIL_ALLOCATION=N      the N-th layout allocation fails (N >= 1)
//   QUARVEL_HTTP_TIMEOUT_MS=N      both http timeouts become N ms (N >= 1)
//   QUARVEL_HTTP_LIBRARY=NAME      http(s) loads go through the shared library
//                                  NAME instead of libcurl.so.4
// A number that is not a plain decimal one is ignored.
#include <cstdlib>
#include <optional>

#include "frontend/program.h"

namespace {

std::optional<unsigned long long> numberFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value < '1' || *value > '9') return std::nullopt;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(value, &end, 10);
  if (*end != '\0') return std::nullopt;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  quarvel::ProgramSettings settings;
  if (const auto n = numberFromEnvironment("QUARVEL_FAIL_ALLOCATION")) {
    settings.failAllocationAt = *n;
  }
  if (const auto ms = numberFromEnvironment("QUARVEL_HTTP_TIMEOUT_MS")) {
    settings.load.connectTimeoutMs = static_cast<long>(*ms);
    settings.load.totalTimeoutMs = static_cast<long>(*ms);
  }
  settings.load.httpLibrary = std::getenv("QUARVEL_HTTP_LIBRARY");
  return quarvel::runProgram(argc, argv, settings);
}
