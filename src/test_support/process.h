// Runs a program as a child process and collects what it printed, for tests
// that check the real binary byte for byte.
#ifndef QUARVEL_TEST_SUPPORT_PROCESS_H_
#define QUARVEL_TEST_SUPPORT_PROCESS_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quarvel::testing {

enum class StandardOutput {
  kCaptured,  // a pipe; the bytes end up in ProcessResult::out
  kFile,      // the file ProcessOptions::outputPath, opened for writing
  kClosed,    // descriptor 1 is closed in the child
  kTerminal,  // a pseudo-terminal in raw mode; the bytes end up in ProcessResult::out
};

enum class StandardInput {
  kNull,   // /dev/null
  kBytes,  // a pipe that delivers ProcessOptions::inputBytes, then its end
  kFile,   // the file ProcessOptions::inputPath, opened for reading
  // As kBytes, but the pipe stays open after the bytes, until the child
  // has ended: a reader waits for more that never comes.
  kBytesThenOpen,
};

struct ProcessOptions {
  StandardOutput output = StandardOutput::kCaptured;
  std::string outputPath;
  // Standard input: kBytes feeds `inputBytes` through a pipe; otherwise the
  // file `inputPath`, or /dev/null when it is empty.
  StandardInput input = StandardInput::kNull;
  std::string inputBytes;
  // kBytes only: when not 0, the bytes go this many at a time, each piece
  // 10 ms after the last, as from a slow pipe.
  std::size_t inputPieceBytes = 0;
  std::string inputPath;
  // The child's working directory; empty: the caller's.
  std::string workingDirectory;
  // The child's address space limit in bytes (RLIMIT_AS, as `ulimit -v`
  // sets it in KiB); 0: no limit of our own.
  unsigned long long addressSpaceLimit = 0;
  // The child's whole environment, "NAME=value" each; nothing is inherited.
  std::vector<std::string> environment;
  // A child still running after this long is killed and reported as such.
  std::chrono::milliseconds timeout{30000};
  // When set, runs on a thread of its own with the child's process id once
  // the child has started (for example, to send it a signal); joined before
  // runProcess returns.
  std::function<void(int pid)> whileRunning;
};

struct ProcessResult {
  std::string out;  // standard output bytes (captured mode only)
  std::string err;  // standard error bytes
  // The exit status, or nullopt when the child was killed by a signal (the
  // timeout included); `signal` then names it.
  std::optional<int> exitCode;
  int signal = 0;
  bool timedOut = false;
  // The child's peak resident set size in KiB.
  long peakResidentKb = 0;
};

// The script that runs the Windows build under wine
// (build-windows/quarvel-run), when the environment variable
// QUARVEL_WINDOWS_RUN names it: the end-to-end tests then run it instead of
// the Linux binary, in the cases that apply to Windows. nullptr otherwise.
const char* windowsProgram();

// The command that takes the place of the Linux binary, with the same
// expectations, when the environment variable QUARVEL_PROGRAM_RUN names it
// (the quarvel command of the npm package, under Node, in the web build's
// package test); nullptr otherwise.
const char* substituteProgram();

// Starts `program` with `arguments` (argv[0] is `program` itself) as
// `options` say, and waits for it. Throws std::runtime_error when the child
// cannot be started at all (a missing input file or working directory
// included).
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options);

}  // namespace quarvel::testing

#endif  // QUARVEL_TEST_SUPPORT_PROCESS_H_
