#include "frontend/program.h"

#include <clocale>
#include <cstdio>
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

}  // namespace

int32_t loadDocument(XmlDocument& document, std::string_view location,
                     const LoadSettings& settings) {
  document.load(location, settings);
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

int runProgram(int argc, char** argv, const ProgramSettings& settings) {
  if (argc != 2) {
    std::fputs(kUsage, stdout);
    return kExitUsage;
  }
  std::setlocale(LC_ALL, "");

  XmlDocument document;
  if (loadDocument(document, argv[1], settings.load) != 0) return kExitFailure;
  XmlNode root = document.documentElement();
  if (!root) return kExitFailure;

  ByteSink& out = standardOutput();
  if (settings.failAllocationAt != 0) AllocationGate::failAt(settings.failAllocationAt);
  const RunOutcome outcome = formatDocument(root, out);
  if (!out.flush()) {
    reportWriteError(out.error());
    return kExitFailure;
  }
  return outcome == RunOutcome::kCompleted ? kExitSuccess : kExitFailure;
}

}  // namespace quarvel
