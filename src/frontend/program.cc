#include "frontend/program.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frontend/formatting_run.h"
#include "frontend/messages.h"
#include "layout/allocation.h"
#include "layout/byte_sink.h"

namespace quarvel {
namespace {

constexpr const char kUsage[] =
    "Quarvel Ver 0.1\n"
    "usage: quarvel XML_SOURCE_URL >OUTPUT_FILE\n"
    "input and output CES us UTF-16 little endian with BOM\n";

// strerror already speaks the locale's language and character set.
void reportWriteError(int error) {
  std::fprintf(stderr, "quarvel: cannot write the output: %s\n", std::strerror(error));
}

// Test hook, not a setting for users: QUARVEL_FAIL_ALLOCATION=N (N >= 1)
// makes the N-th layout allocation of the formatting run yield nothing, as
// if memory had run out, so that tests can drive the out-of-memory stop
// through the real program. Any other value is ignored.
void armAllocationFailureForTests() {
  const char* value = std::getenv("QUARVEL_FAIL_ALLOCATION");
  if (value == nullptr || *value < '0' || *value > '9') return;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(value, &end, 10);
  if (*end == '\0') AllocationGate::failAt(n);
}

}  // namespace

int32_t loadDocument(XmlDocument& document, std::string_view location) {
  document.load(location);
  const ParseError& error = document.parseError();
  if (error.errorCode != 0) reportParseError(error);
  return error.errorCode;
}

void reportParseError(const ParseError& error) {
  if (error.line >= 1) {
    printMessage(stderr, u"\"%s\" (%d): positon %d: %s",
                 {std::u16string_view(error.url), error.line, error.linepos,
                  std::u16string_view(error.reason)});
  } else {
    printMessage(stderr, u"\"%s\": %s",
                 {std::u16string_view(error.url), std::u16string_view(error.reason)});
  }
}

int runProgram(int argc, char** argv) {
  if (argc != 2) {
    std::fputs(kUsage, stdout);
    return kExitUsage;
  }
  std::setlocale(LC_ALL, "");

  XmlDocument document;
  if (loadDocument(document, argv[1]) != 0) return kExitFailure;
  XmlNode root = document.documentElement();
  if (!root) return kExitFailure;

  ByteSink& out = standardOutput();
  armAllocationFailureForTests();
  const RunOutcome outcome = formatDocument(root, out);
  if (!out.flush()) {
    reportWriteError(out.error());
    return kExitFailure;
  }
  return outcome == RunOutcome::kCompleted ? kExitSuccess : kExitFailure;
}

}  // namespace quarvel
