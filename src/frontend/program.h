// The program entry: command line, loading, parse error messages, the
// formatting run and the exit code.
#ifndef QUARVEL_FRONTEND_PROGRAM_H_
#define QUARVEL_FRONTEND_PROGRAM_H_

#include <cstdint>
#include <string_view>

#include "frontend/xml_document.h"

namespace quarvel {

enum ExitCode : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// Loads `location` into `document`; reports a parse error on standard error.
// Returns the parse error code: 0 when the document is usable.
int32_t loadDocument(XmlDocument& document, std::string_view location);

// Writes the message for `error` to standard error: with line and position
// when the line is known, without them otherwise.
void reportParseError(const ParseError& error);

// Runs quarvel on the command line; returns the exit code.
int runProgram(int argc, char** argv);

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_PROGRAM_H_
