// The program entry: command line, loading, parse error messages, the
// formatting run and the exit code.
#ifndef QUARVEL_FRONTEND_PROGRAM_H_
#define QUARVEL_FRONTEND_PROGRAM_H_

#include <cstdint>
#include <string_view>

#include "document/xml_document.h"

namespace quarvel {

enum ExitCode : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// What a run may be told besides its command line. The program that users
// run always takes the defaults; only tests set anything else.
struct ProgramSettings {
  LoadSettings load;
  // When not 0, the n-th layout allocation of the formatting run yields
  // nothing, as if memory had run out (see AllocationGate::failAt).
  uint64_t failAllocationAt = 0;
};

// How a parse error is written: the normal run's fixed form, or --check's
// form that editors read (LOCATION:LINE:COLUMN: error: REASON).
enum class ErrorForm { kNormal, kCheck };

// Loads `location` into `document`; reports a parse error on standard error.
// Returns the parse error code: 0 when the document is usable.
int32_t loadDocument(XmlDocument& document, std::string_view location,
                     const LoadSettings& settings = {}, ErrorForm form = ErrorForm::kNormal);

// Writes the message for `error` to standard error: with line and position
// when the line is known, without them otherwise.
void reportParseError(const ParseError& error, ErrorForm form = ErrorForm::kNormal);

// Runs quarvel on the command line; returns the exit code.
int runProgram(int argc, char** argv, const ProgramSettings& settings = {});

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_PROGRAM_H_
