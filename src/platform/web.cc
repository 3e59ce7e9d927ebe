// Everything that the program asks of its host when it runs as WebAssembly:
// files and standard input, standard output and error, the terminal, and the
// steps of replacing the file of -o. The POSIX calls here are emscripten's:
// the Node command is linked with its file system on the real one (NODERAWFS),
// so files, pipes and -o behave as on Linux; a page has no files at all and
// reads documents from memory only. No signals: the host ends the program.
#include <emscripten/emscripten.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "base/utf.h"
#include "base/utf16.h"
#include "platform/file_input.h"
#include "platform/replacement_file.h"
#include "platform/replacement_system.h"
#include "platform/text_output.h"

// clang-format off
// Whether the host's file descriptor `fd` is a terminal: never in a page.
EM_JS(int, quarvel_host_isatty, (int fd), {
  if (typeof process === 'undefined' || typeof require !== 'function') return 0;
  return require('tty').isatty(fd) ? 1 : 0;
});

// The host's process number, or 0 in a page.
EM_JS(int, quarvel_host_pid, (), {
  return typeof process !== 'undefined' && process.pid ? process.pid : 0;
});

// Waits a little for a pipe that has nothing to read yet.
EM_JS(void, quarvel_host_wait, (), {
  Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 5);
});
// clang-format on

namespace quarvel {

// Files and standard input

std::string systemErrorText(int error) { return std::generic_category().message(error); }

namespace {

bool isDirectory(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

// Under Node the files are the machine's own, and stat tells their device
// and inode as on POSIX.
bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

FileInput::~FileInput() {
  if (owned_) ::close(static_cast<int>(handle_));
}

std::optional<std::string> FileInput::openFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return systemErrorText(errno);
  if (isDirectory(fd)) {
    ::close(fd);
    return systemErrorText(EISDIR);
  }
  handle_ = fd;
  owned_ = true;
  return std::nullopt;
}

// emscripten's file system cannot stat the host's standard input; a
// directory there fails at the first read, with the same words.
std::optional<std::string> FileInput::openStandardInput() {
  handle_ = STDIN_FILENO;
  return std::nullopt;
}

int FileInput::read(char* buffer, std::size_t length) {
  for (;;) {
    const ssize_t count =
        ::read(static_cast<int>(handle_), buffer, std::min<std::size_t>(length, INT_MAX));
    if (count >= 0) return static_cast<int>(count);
    // A pipe that the host opened without blocking has nothing yet.
    if (errno == EAGAIN) {
      quarvel_host_wait();
      continue;
    }
    if (errno != EINTR) {
      error_ = static_cast<unsigned long>(errno);
      return -1;
    }
  }
}

std::string FileInput::readFailure() const { return systemErrorText(static_cast<int>(error_)); }

// Standard output, the terminal and messages

const char kWhereTheManualIs[] = "README.md in the quarvel package";

void prepareStandardOutput() {}

bool standardOutputIsTerminal() { return quarvel_host_isatty(STDOUT_FILENO) != 0; }

TextEncoder& terminalOutput() {
  static Utf8Encoder terminal(standardOutput());
  return terminal;
}

// The host's streams take UTF-8.
void writeMessageText(std::FILE* stream, std::u16string_view text) {
  std::string result;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    appendUtf8(result, isSurrogateCodePoint(cp) ? char32_t{'?'} : cp);
  }
  std::fwrite(result.data(), 1, result.size(), stream);
  std::fflush(stream);
}

// The file of -o: no signals to catch; the file calls are POSIX's
// (posix_replacement.cc).

namespace replacement_system {

std::string processNumber() { return std::to_string(quarvel_host_pid()); }

std::optional<std::string> refusePrefix(const std::string&) { return std::nullopt; }

void holdSignals() {}
void releaseSignals() {}
void installRemovingHandlers() {}
void restoreHandlers() {}
void markTemporary(const std::string&) {}
void unmarkTemporary() {}

}  // namespace replacement_system
}  // namespace quarvel
