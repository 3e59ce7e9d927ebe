#include "frontend/program.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "base/edit_distance.h"
#include "base/utf.h"
#include "document/location.h"
#include "frontend/formatting_run.h"
#include "frontend/messages.h"
#include "layout/allocation.h"
#include "layout/out_of_memory.h"
#include "markup/document_check.h"
#include "markup/vocabulary.h"
#include "platform/byte_sink.h"
#include "platform/file_input.h"
#include "platform/replacement_file.h"
#include "platform/text_output.h"

#ifndef QUARVEL_VERSION
#error "QUARVEL_VERSION must come from the build (the CMake project version)"
#endif

namespace quarvel {
namespace {

// The three usage lines, byte for byte as they have always been printed
// ("us" included): scripts read them, so they never change.
constexpr const char kUsage[] =
    "Quarvel Ver 0.1\n"
    "usage: quarvel XML_SOURCE_URL >OUTPUT_FILE\n"
    "input and output CES us UTF-16 little endian with BOM\n";

// The help, ended by where the manual is (kWhereTheManualIs).
constexpr const char kHelp[] =
    "Usage: quarvel [-o FILE] [--utf-8] [--] XML_SOURCE_URL\n"
    "       quarvel --check [--] XML_SOURCE_URL\n"
    "       quarvel --help | -h | --version\n"
    "Lays out the text of an XML document in fixed-width columns.\n"
    "\n"
    "XML_SOURCE_URL is a file path, a file: URL, an http:// or https:// URL, or -\n"
    "for standard input. The text is UTF-16 little endian with a byte-order mark\n"
    "and CR LF row ends; on a terminal it is UTF-8, as with --utf-8.\n"
    "\n"
    "Options, before or after XML_SOURCE_URL (long ones also by a prefix):\n"
    "  -o FILE, -oFILE, --output=FILE, --output FILE\n"
    "               write to FILE instead of standard output; FILE is replaced\n"
    "               only when the run succeeds (-o - is standard output)\n"
    "  --utf-8      write UTF-8 with LF row ends and no byte-order mark\n"
    "  --check      write no text: report what the formatter would ignore or\n"
    "               misread, one line each on standard error in the form\n"
    "               XML_SOURCE_URL:LINE:COLUMN: warning: ... (the first\n"
    "               1000; then one line counts the rest)\n"
    "  --           end the options: the next argument is the location even if\n"
    "               it starts with - (./-x works as well)\n"
    "  -h, --help   print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Exit status: 0 laid out (--check: nothing to report), 1 failure (message\n"
    "on standard error; --check: something reported), 2 command line not\n"
    "recognised (the usage on standard output).\n"
    "\n"
    "Elements, limits and messages: ";

constexpr const char kVersion[] = "quarvel " QUARVEL_VERSION "\n";

enum class Action { kFormat, kCheck, kHelp, kVersion, kUsage };
enum class OutputForm { kUtf16, kUtf8 };

// What is wrong with a command line that holds an option. Without one, the
// usage alone answers a wrong command line.
enum class Problem {
  kNone,
  kUnknownOption,
  kNoDocument,
  kMoreThanOneDocument,
  kNotAlone,  // --help, -h or --version beside other arguments
  kNoFileName,
  kValueNotTaken,  // --check=x and the like
  kMoreThanOneOutput,
  kCheckWithOutput,  // --check writes nothing for -o to receive
};

struct CommandLine {
  Action action = Action::kUsage;
  OutputForm form = OutputForm::kUtf16;
  const char* location = nullptr;
  // -o FILE; nullptr for standard output ("-o -" included).
  const char* outputFile = nullptr;
  Problem problem = Problem::kNone;
  std::string_view culprit;     // the option that kUnknownOption and the like name
  std::string_view suggestion;  // for kUnknownOption: the option nearest to it, if any
};

// Every argument that starts with "-" is an option, but "-" itself (standard
// input); after "--" none is.
bool isOption(std::string_view argument) { return argument.size() > 1 && argument[0] == '-'; }

CommandLine usageFor(Problem problem, std::string_view culprit = {},
                     std::string_view suggestion = {}) {
  CommandLine line;
  line.problem = problem;
  line.culprit = culprit;
  line.suggestion = suggestion;
  return line;
}

// The long options, as --NAME, any unambiguous prefix of NAME, and
// --NAME=VALUE for the one that takes a value.
enum class Option { kOutput, kUtf8, kCheck, kHelp, kVersion };
struct LongOption {
  std::string_view name;  // with its dashes
  Option option;
};
constexpr LongOption kLongOptions[] = {
    {"--output", Option::kOutput}, {"--utf-8", Option::kUtf8},      {"--check", Option::kCheck},
    {"--help", Option::kHelp},     {"--version", Option::kVersion},
};

// The long option that `name` (dashes included, no value) spells or
// begins, when exactly one does.
const LongOption* findLongOption(std::string_view name) {
  const LongOption* found = nullptr;
  for (const LongOption& entry : kLongOptions) {
    if (entry.name == name) return &entry;
    if (entry.name.starts_with(name)) {
      if (found != nullptr) return nullptr;
      found = &entry;
    }
  }
  return found;
}

// The long option within two edits of `name` (dashes included: "-check"
// is one from "--check"), if any.
std::string_view nearestOption(std::string_view name) {
  if (name.size() > 20) return {};
  for (const LongOption& entry : kLongOptions) {
    if (editDistance(name, entry.name, std::equal_to<char>()) <= 2) return entry.name;
  }
  return {};
}

//   quarvel --help | -h | --version
//   quarvel [-o FILE | -oFILE | --output=FILE | --output FILE | --utf-8 | --check]...
//           [--] LOCATION
// with the options before or after the location (up to "--"), and long
// options also by an unambiguous prefix. Anything else is the usage: alone
// when no argument is an option (the lone "quarvel" included), with the
// problem named otherwise.
CommandLine parseCommandLine(int argc, char** argv) {
  CommandLine line;
  if (std::none_of(argv + 1, argv + argc, isOption)) {
    if (argc != 2) return line;
    line.action = Action::kFormat;
    line.location = argv[1];
    return line;
  }
  bool optionsEnded = false;
  bool outputGiven = false;
  bool checking = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (optionsEnded || !isOption(argument)) {
      if (line.location != nullptr) return usageFor(Problem::kMoreThanOneDocument);
      line.location = argv[i];
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    Option option;
    const char* value = nullptr;  // a value given in the same argument
    std::string_view shownName;   // how messages name the option
    if (argument.starts_with("--")) {
      const std::size_t equals = argument.find('=');
      const std::string_view name = argument.substr(0, equals);
      const LongOption* entry = findLongOption(name);
      if (entry == nullptr) {
        return usageFor(Problem::kUnknownOption, argument, nearestOption(name));
      }
      option = entry->option;
      shownName = entry->name;
      if (equals != std::string_view::npos) {
        if (option != Option::kOutput) return usageFor(Problem::kValueNotTaken, entry->name);
        value = argv[i] + equals + 1;
      }
    } else if (argument[1] == 'o') {
      option = Option::kOutput;
      shownName = "-o";
      if (argument.size() > 2) value = argv[i] + 2;
    } else if (argument == "-h") {
      option = Option::kHelp;
    } else {
      return usageFor(Problem::kUnknownOption, argument, nearestOption(argument));
    }
    switch (option) {
      case Option::kUtf8:
        line.form = OutputForm::kUtf8;
        break;
      case Option::kCheck:
        checking = true;
        break;
      case Option::kOutput: {
        const char* file = value != nullptr ? value : i + 1 < argc ? argv[++i] : "";
        if (*file == '\0') return usageFor(Problem::kNoFileName, shownName);
        if (outputGiven) return usageFor(Problem::kMoreThanOneOutput);
        outputGiven = true;
        line.outputFile = std::string_view(file) == "-" ? nullptr : file;
        break;
      }
      case Option::kHelp:
      case Option::kVersion:
        if (argc != 2) return usageFor(Problem::kNotAlone, argument);
        line.action = option == Option::kHelp ? Action::kHelp : Action::kVersion;
        return line;
    }
  }
  if (line.location == nullptr) return usageFor(Problem::kNoDocument);
  if (checking && outputGiven) return usageFor(Problem::kCheckWithOutput);
  line.action = checking ? Action::kCheck : Action::kFormat;
  return line;
}

// One line that names the problem, then where to read more.
void reportCommandLineProblem(const CommandLine& line) {
  const std::u16string name = toUtf16(line.culprit);
  switch (line.problem) {
    case Problem::kNone:
      return;
    case Problem::kUnknownOption:
      if (line.suggestion.empty()) {
        printMessage(stderr, u"quarvel: unrecognised option '%s'\n", {std::u16string_view(name)});
      } else {
        printMessage(stderr, u"quarvel: unrecognised option '%s'; did you mean '%s'?\n",
                     {std::u16string_view(name), std::u16string_view(toUtf16(line.suggestion))});
      }
      break;
    case Problem::kValueNotTaken:
      printMessage(stderr, u"quarvel: option '%s' takes no value\n", {std::u16string_view(name)});
      break;
    case Problem::kNoDocument:
      printMessage(stderr, u"quarvel: no document given\n", {});
      break;
    case Problem::kMoreThanOneDocument:
      printMessage(stderr, u"quarvel: one document at a time\n", {});
      break;
    case Problem::kNotAlone:
      printMessage(stderr, u"quarvel: '%s' takes no other argument\n", {std::u16string_view(name)});
      break;
    case Problem::kNoFileName:
      printMessage(stderr, u"quarvel: option '%s' needs a file name\n",
                   {std::u16string_view(name)});
      break;
    case Problem::kMoreThanOneOutput:
      printMessage(stderr, u"quarvel: one output file at a time\n", {});
      break;
    case Problem::kCheckWithOutput:
      printMessage(stderr, u"quarvel: --check writes no output for -o\n", {});
      break;
  }
  printMessage(stderr, u"Try 'quarvel --help' for more information.\n", {});
}

// `reason` is in UTF-8; `file` is the file of -o, nullptr for standard output.
void reportWriteError(const std::string& reason, const char* file) {
  const std::u16string text = toUtf16(reason);
  if (file == nullptr) {
    printMessage(stderr, u"quarvel: cannot write the output: %s\n", {std::u16string_view(text)});
  } else {
    printMessage(stderr, u"quarvel: cannot write \"%s\": %s\n",
                 {std::u16string_view(toUtf16(file)), std::u16string_view(text)});
  }
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
    reportWriteError(systemErrorText(error), nullptr);
    return kExitFailure;
  }
  return kExitSuccess;
}

// Nothing on a terminal is stored or parsed: it gets text that a person can
// read. Files and pipes get the bytes the format promises.
TextEncoder& outputEncoder(OutputForm form) {
  if (standardOutputIsTerminal()) return terminalOutput();
  if (form == OutputForm::kUtf16) {
    static Utf16Encoder utf16(standardOutput());
    return utf16;
  }
  static Utf8Encoder utf8(standardOutput());
  return utf8;
}

// Loads the document and formats it to `out`; returns the exit code. Memory
// running out anywhere ends it with the one stop; what was printed before
// stays in `out`, and is handed on.
int formatLocation(const CommandLine& line, TextEncoder& out, const ProgramSettings& settings) {
  int exitCode = kExitFailure;
  bool printing = false;
  // Loading, the messages and the conversions allocate as they please.
  const bool completed = completesOrRunsOut([&] {
    XmlDocument document;
    if (loadDocument(document, line.location, settings.load) != 0) return;
    XmlNode root = document.documentElement();
    if (!root) return;

    AllocationGate::setBudget(layoutBudgetFor(document.bytesRead()));
    if (settings.failAllocationAt != 0) AllocationGate::failAt(settings.failAllocationAt);
    printing = true;
    const RunOutcome outcome = formatDocument(root, out);
    exitCode = outcome == RunOutcome::kCompleted ? kExitSuccess : kExitFailure;
  });
  if ((printing || !completed) && !out.flush()) {
    reportWriteError(systemErrorText(out.error()), line.outputFile);
    return kExitFailure;
  }
  return completed ? exitCode : kExitFailure;
}

// -o FILE: the same bytes as standard output redirected to a file would get,
// written to a temporary file that replaces FILE only when the run succeeded.
// On every other exit FILE stays as it was and the temporary file is gone.
int formatToFile(const CommandLine& line, const ProgramSettings& settings) {
  // Replacing the document with its own layout would lose it: the same
  // file under any name (a link, another path) is refused.
  if (const auto document = filePathOf(line.location);
      document && sameFile(*document, line.outputFile)) {
    reportWriteError("it is the document being read (choose another output file)", line.outputFile);
    return kExitFailure;
  }
  ReplacementFile file;
  if (const auto reason = beginReplacement(line.outputFile, file)) {
    reportWriteError(*reason, line.outputFile);
    return kExitFailure;
  }
  int exitCode = kExitFailure;
  completesOrRunsOut([&] {
    // On the heap: the sink holds a 64 KiB buffer.
    auto bytes = std::make_unique<FileDescriptorSink>(file.descriptor);
    std::unique_ptr<TextEncoder> text;
    if (line.form == OutputForm::kUtf8) {
      text = std::make_unique<Utf8Encoder>(*bytes);
    } else {
      text = std::make_unique<Utf16Encoder>(*bytes);
    }
    exitCode = formatLocation(line, *text, settings);
  });
  const Replacement how = exitCode == kExitSuccess ? Replacement::kCommit : Replacement::kDiscard;
  if (const auto reason = endReplacement(file, how)) {
    reportWriteError(*reason, line.outputFile);
    exitCode = kExitFailure;
  }
  return exitCode;
}

// --check writes this many findings; the rest are only counted.
constexpr uint64_t kShownFindings = 1000;
// Findings wait in a buffer until it holds this many code units.
constexpr std::size_t kFindingBufferUnits = 32 * 1024;

// The findings of --check on standard error, as LOCATION:LINE:COLUMN:
// warning: MESSAGE lines: the first kShownFindings as they come, a buffer at
// a time, and then one line with the count of the rest. Memory does not
// grow with their number.
class FindingReport {
 public:
  explicit FindingReport(const char* location) : location_(toUtf16(location)) {}

  // Returns whether it still reads the messages.
  bool add(const Finding& finding) {
    if (++count_ > kShownFindings) return false;
    buffer_ += formatMessage(
        u"%s:%d:%d: warning: %s\n",
        {std::u16string_view(location_), static_cast<int32_t>(finding.at.line),
         static_cast<int32_t>(finding.at.column), std::u16string_view(finding.message)});
    if (buffer_.size() >= kFindingBufferUnits) flush();
    return count_ < kShownFindings;
  }

  // Writes what waits, and the count of the findings not shown.
  void finish() {
    if (count_ > kShownFindings) {
      const uint64_t rest = count_ - kShownFindings;
      const std::string number = std::to_string(rest);
      buffer_ +=
          formatMessage(rest == 1 ? u"%s: warning: %s more warning not shown\n"
                                  : u"%s: warning: %s more warnings not shown\n",
                        {std::u16string_view(location_), std::u16string_view(toUtf16(number))});
    }
    flush();
  }

  void flush() {
    if (buffer_.empty()) return;
    writeMessageText(stderr, buffer_);
    buffer_.clear();
  }

  uint64_t count() const { return count_; }

 private:
  std::u16string location_;
  std::u16string buffer_;
  uint64_t count_ = 0;
};

// --check: loads the document with positions and reports its findings
// (FindingReport). Writes no text, touches no -o file.
int checkLocation(const CommandLine& line, const ProgramSettings& settings) {
  std::unique_ptr<FindingReport> report;
  int exitCode = kExitFailure;
  completesOrRunsOut([&] {
    try {
      XmlDocument document;
      LoadSettings load = settings.load;
      load.recordPositions = true;
      if (loadDocument(document, line.location, load, ErrorForm::kCheck) != 0) return;
      report = std::make_unique<FindingReport>(line.location);
      checkDocument(document.documentElement(),
                    [&report](const Finding& finding) { return report->add(finding); });
      report->finish();
      exitCode = report->count() == 0 ? kExitSuccess : kExitFailure;
    } catch (const std::bad_alloc&) {
      // What was found so far comes before the stop, when there is memory
      // to write it.
      try {
        if (report) report->flush();
      } catch (const std::bad_alloc&) {
      }
      throw;
    }
  });
  return exitCode;
}

}  // namespace

int32_t loadDocument(XmlDocument& document, std::string_view location, const LoadSettings& settings,
                     ErrorForm form) {
  LoadSettings load = settings;
  load.keepsBlanksWithin = keepsBlanksWithin;
  document.load(location, load);
  const ParseError& error = document.parseError();
  if (error.errorCode != 0) reportParseError(error, form);
  return error.errorCode;
}

void reportParseError(const ParseError& error, ErrorForm form) {
  if (form == ErrorForm::kCheck) {
    if (error.line >= 1) {
      printMessage(stderr, u"%s:%d:%d: error: %s",
                   {std::u16string_view(error.url), error.line, error.linepos,
                    std::u16string_view(error.reason)});
    } else {
      printMessage(stderr, u"%s: error: %s",
                   {std::u16string_view(error.url), std::u16string_view(error.reason)});
    }
    return;
  }
  // Both forms are fixed, "positon" included: scripts match them.
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
      if (line.problem != Problem::kNone) {
        std::fflush(stdout);
        std::setlocale(LC_ALL, "");
        reportCommandLineProblem(line);
      }
      return kExitUsage;
    case Action::kHelp:
      return printAnswer(kHelp, (std::string(kWhereTheManualIs) + "\n").c_str());
    case Action::kVersion:
      return printAnswer(kVersion, nullptr);
    case Action::kFormat:
    case Action::kCheck:
      break;
  }
  std::setlocale(LC_ALL, "");
  if (line.action == Action::kCheck) return checkLocation(line, settings);
  if (line.outputFile != nullptr) return formatToFile(line, settings);
  prepareStandardOutput();
  return formatLocation(line, outputEncoder(line.form), settings);
}

}  // namespace quarvel
