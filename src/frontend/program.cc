#include "frontend/program.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <new>
#include <string>

#include "document/file_input.h"
#include "document/utf.h"
#include "frontend/formatting_run.h"
#include "frontend/messages.h"
#include "frontend/platform.h"
#include "layout/allocation.h"
#include "layout/byte_sink.h"
#include "layout/out_of_memory.h"

#ifndef QUARVEL_VERSION
#error "QUARVEL_VERSION must come from the build (the CMake project version)"
#endif

namespace quarvel {
namespace {

constexpr const char kUsage[] =
    "Quarvel Ver 0.1\n"
    "usage: quarvel XML_SOURCE_URL >OUTPUT_FILE\n"
    "input and output CES us UTF-16 little endian with BOM\n";

constexpr const char kOptions[] =
    "\n"
    "  quarvel [--utf-8] [--] XML_SOURCE_URL\n"
    "  quarvel --help | -h | --version\n"
    "\n"
    "XML_SOURCE_URL is a file path, a file: URL or an http:// or https:// URL.\n"
    "The text goes to standard output as UTF-16 little endian with a byte-order\n"
    "mark and CR LF row ends; a terminal gets UTF-8 instead.\n"
    "\n"
    "  --utf-8      write UTF-8 with LF row ends and no byte-order mark\n"
    "  --           end the options: the next argument is the location even if\n"
    "               it starts with - (./-x works as well)\n"
    "  -            as XML_SOURCE_URL: read the document from standard input\n"
    "  -h, --help   print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Exit status: 0 laid out, 1 failure (message on standard error), 2 command\n"
    "line not recognised. Elements, limits and messages: man quarvel\n";

constexpr const char kVersion[] = "quarvel " QUARVEL_VERSION "\n";

enum class Action { kFormat, kHelp, kVersion, kUsage };
enum class OutputForm { kUtf16, kUtf8 };

struct CommandLine {
  Action action = Action::kUsage;
  OutputForm form = OutputForm::kUtf16;
  const char* location = nullptr;
};

bool isHelp(std::string_view argument) { return argument == "--help" || argument == "-h"; }

// The spellings of options. Outside the option position none of them is
// taken for a location unless "--" came first; every other argument that
// starts with "-" is a location like any other ("-" itself: standard input).
bool isOptionSpelling(std::string_view argument) {
  return isHelp(argument) || argument == "--version" || argument == "--utf-8" || argument == "--";
}

//   quarvel --help | -h | --version
//   quarvel [--utf-8]... [--] LOCATION
// Anything else, the lone "quarvel" included, is the usage.
CommandLine parseCommandLine(int argc, char** argv) {
  CommandLine line;
  if (argc == 2 && isHelp(argv[1])) {
    line.action = Action::kHelp;
    return line;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    line.action = Action::kVersion;
    return line;
  }
  int next = 1;
  for (; next < argc && std::string_view(argv[next]) == "--utf-8"; ++next) {
    line.form = OutputForm::kUtf8;
  }
  bool optionsEnded = false;
  if (next < argc && std::string_view(argv[next]) == "--") {
    optionsEnded = true;
    ++next;
  }
  if (argc - next != 1 || (!optionsEnded && isOptionSpelling(argv[next]))) return line;
  line.action = Action::kFormat;
  line.location = argv[next];
  return line;
}

void reportWriteError(int error) {
  printMessage(stderr, u"quarvel: cannot write the output: %s\n",
               {std::u16string_view(toUtf16(systemErrorText(error)))});
}

// Help and version go to standard output in text mode, like the usage, but
// unlike the usage they are the answer asked for: failing to deliver it is a
// failure.
int printAnswer(const char* text, const char* more) {
  std::fputs(text, stdout);
  if (more != nullptr) std::fputs(more, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    std::setlocale(LC_ALL, "");
    reportWriteError(error);
    return kExitFailure;
  }
  return kExitSuccess;
}

// Nothing on a terminal is stored or parsed: it gets text that a person can
// read. Files and pipes get the bytes the format promises.
ByteSink& outputSink(OutputForm form) {
  if (standardOutputIsTerminal()) {
    static Utf8Sink terminal(terminalOutput());
    return terminal;
  }
  if (form == OutputForm::kUtf16) return standardOutput();
  static Utf8Sink utf8(standardOutput());
  return utf8;
}

// Loads `location` and formats it to `out`; returns the exit code. Memory
// running out here, outside the formatting run, throws std::bad_alloc.
int formatLocation(const char* location, ByteSink& out, const ProgramSettings& settings) {
  XmlDocument document;
  if (loadDocument(document, location, settings.load) != 0) return kExitFailure;
  XmlNode root = document.documentElement();
  if (!root) return kExitFailure;

  if (settings.failAllocationAt != 0) AllocationGate::failAt(settings.failAllocationAt);
  const RunOutcome outcome = formatDocument(root, out);
  if (!out.flush()) {
    reportWriteError(out.error());
    return kExitFailure;
  }
  return outcome == RunOutcome::kCompleted ? kExitSuccess : kExitFailure;
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
  const CommandLine line = parseCommandLine(argc, argv);
  switch (line.action) {
    case Action::kUsage:
      std::fputs(kUsage, stdout);
      return kExitUsage;
    case Action::kHelp:
      return printAnswer(kUsage, kOptions);
    case Action::kVersion:
      return printAnswer(kVersion, nullptr);
    case Action::kFormat:
      break;
  }
  std::setlocale(LC_ALL, "");
  prepareStandardOutput();

  ByteSink& out = outputSink(line.form);
  try {
    return formatLocation(line.location, out, settings);
  } catch (const std::bad_alloc&) {
    // Loading, the messages and the conversions allocate as they please;
    // wherever memory runs out, the program ends with the one stop. What
    // was printed before stays.
    writeOutOfMemoryMessage();
    if (!out.flush()) reportWriteError(out.error());
    return kExitFailure;
  }
}

}  // namespace quarvel
