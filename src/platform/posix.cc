// Everything that the program asks of Linux (and other POSIX systems):
// files and standard input, standard output and error, the terminal, and the
// system's steps of replacing the file of -o.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "base/utf.h"
#include "base/utf16.h"
#include "platform/file_input.h"
#include "platform/replacement_file.h"
#include "platform/replacement_system.h"
#include "platform/text_output.h"

namespace quarvel {

// Files and standard input

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Paths of PATH_MAX bytes or more are resolved a directory prefix at a time,
// so any path that the file system can hold can be opened.
int openForReading(const std::string& path, int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY) {
  const int fd = ::open(path.c_str(), kFlags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;

  std::unique_ptr<FileDescriptor> directory;
  size_t start = 0;
  while (path.size() - start >= PATH_MAX) {
    const size_t slash = path.rfind('/', start + PATH_MAX - 2);
    if (slash == std::string::npos || slash < start) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const std::string prefix = path.substr(start, slash + 1 - start);
    const int next = ::openat(directory ? directory->get() : AT_FDCWD, prefix.c_str(),
                              O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (next < 0) return -1;
    directory = std::make_unique<FileDescriptor>(next);
    start = slash + 1;
  }
  const std::string last = start == path.size() ? "." : path.substr(start);
  return ::openat(directory ? directory->get() : AT_FDCWD, last.c_str(), kFlags);
}

bool isDirectory(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens `path` only to tell which file it is: no read access asked, and a
// FIFO or a device is not waited for.
#ifdef O_PATH
constexpr int kIdentityFlags = O_PATH | O_CLOEXEC;
#else
constexpr int kIdentityFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
#endif

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  const FileDescriptor one(openForReading(a, kIdentityFlags));
  const FileDescriptor two(openForReading(b, kIdentityFlags));
  return one.get() >= 0 && two.get() >= 0 && ::fstat(one.get(), &first) == 0 &&
         ::fstat(two.get(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// strerror's text comes in the character set of the locale (LC_CTYPE; the
// language follows LC_MESSAGES), but reasons are UTF-8 like the parser's own:
// decode it with the locale (glibc's wchar_t holds code points). What the
// locale cannot decode becomes U+FFFD, one per byte.
std::string systemErrorText(int error) {
  const std::string text = std::generic_category().message(error);
  std::string utf8;
  std::mbstate_t state{};
  size_t i = 0;
  while (i < text.size()) {
    wchar_t wide = 0;
    const size_t length = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2)) {
      state = std::mbstate_t{};
      appendUtf8(utf8, 0xFFFD);
      ++i;
      continue;
    }
    const char32_t cp = static_cast<char32_t>(wide);
    appendUtf8(utf8, cp > 0x10FFFF || isSurrogateCodePoint(cp) ? 0xFFFD : cp);
    i += std::max<size_t>(length, 1);
  }
  return utf8;
}

FileInput::~FileInput() {
  if (owned_) ::close(static_cast<int>(handle_));
}

std::optional<std::string> FileInput::openFile(const std::string& path) {
  FileDescriptor file(openForReading(path));
  if (file.get() < 0) return systemErrorText(errno);
  // A directory fails here, with the system's own words, rather than later
  // as a read error.
  if (isDirectory(file.get())) return systemErrorText(EISDIR);
  handle_ = file.release();
  owned_ = true;
  return std::nullopt;
}

std::optional<std::string> FileInput::openStandardInput() {
  struct stat info {};
  if (::fstat(STDIN_FILENO, &info) != 0) return systemErrorText(errno);
  if (S_ISDIR(info.st_mode)) return systemErrorText(EISDIR);
  handle_ = STDIN_FILENO;
  return std::nullopt;
}

int FileInput::read(char* buffer, std::size_t length) {
  for (;;) {
    const ssize_t count =
        ::read(static_cast<int>(handle_), buffer, std::min<std::size_t>(length, INT_MAX));
    if (count >= 0) return static_cast<int>(count);
    if (errno != EINTR) {
      error_ = static_cast<unsigned long>(errno);
      return -1;
    }
  }
}

std::string FileInput::readFailure() const { return systemErrorText(static_cast<int>(error_)); }

// Standard output, the terminal and messages

// Installed, the manual is a page of its own; in the source tree it is
// read from the file.
const char kWhereTheManualIs[] = "man quarvel (in the source tree: man -l man/quarvel.1)";

void prepareStandardOutput() {}

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

TextEncoder& terminalOutput() {
  static Utf8Encoder terminal(standardOutput());
  return terminal;
}

// Converts UTF-16 to the locale's multibyte encoding, one code point at a time.
void writeMessageText(std::FILE* stream, std::u16string_view text) {
  std::string result;
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    std::size_t n = isSurrogateCodePoint(cp)
                        ? static_cast<std::size_t>(-1)
                        : std::wcrtomb(bytes, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<std::size_t>(-1)) {
      state = std::mbstate_t{};
      result += '?';
    } else {
      result.append(bytes, n);
    }
  }
  std::fwrite(result.data(), 1, result.size(), stream);
  std::fflush(stream);
}

// The file of -o

namespace replacement_system {
namespace {

// While a temporary file of -o exists, these signals remove it and then end
// the program as they would have. One replacement at a time.
constexpr int kRemovingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The temporary file's name, written before the handlers can read it: the
// handler may only make async-signal-safe calls, so it reads a plain buffer.
// A name that does not fit could not be opened either (ENAMETOOLONG).
char removedOnSignal[PATH_MAX];
volatile sig_atomic_t temporaryExists = 0;
// The dispositions before beginReplacement, put back by endReplacement; a
// signal that was ignored stays ignored and gets no handler.
struct sigaction previousActions[std::size(kRemovingSignals)];
bool handled[std::size(kRemovingSignals)];
// The signal mask before holdSignals.
sigset_t maskBeforeHolding;

extern "C" void removeTemporaryAndEnd(int signal) {
  if (temporaryExists != 0) ::unlink(removedOnSignal);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  ::sigaction(signal, &byDefault, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
}

}  // namespace

std::string processNumber() { return std::to_string(::getpid()); }

std::optional<std::string> refusePrefix(const std::string& prefix) {
  if (prefix.size() + 4 > sizeof removedOnSignal) return systemErrorText(ENAMETOOLONG);
  return std::nullopt;
}

void holdSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kRemovingSignals) sigaddset(&held, signal);
  ::sigprocmask(SIG_BLOCK, &held, &maskBeforeHolding);
}

void releaseSignals() { ::sigprocmask(SIG_SETMASK, &maskBeforeHolding, nullptr); }

void installRemovingHandlers() {
  for (std::size_t i = 0; i < std::size(kRemovingSignals); ++i) {
    handled[i] = false;
    if (::sigaction(kRemovingSignals[i], nullptr, &previousActions[i]) != 0) continue;
    if (previousActions[i].sa_handler == SIG_IGN) continue;
    struct sigaction removing {};
    removing.sa_handler = removeTemporaryAndEnd;
    sigemptyset(&removing.sa_mask);
    for (int signal : kRemovingSignals) sigaddset(&removing.sa_mask, signal);
    handled[i] = ::sigaction(kRemovingSignals[i], &removing, nullptr) == 0;
  }
}

void restoreHandlers() {
  for (std::size_t i = 0; i < std::size(kRemovingSignals); ++i) {
    if (handled[i]) ::sigaction(kRemovingSignals[i], &previousActions[i], nullptr);
    handled[i] = false;
  }
}

void markTemporary(const std::string& temporary) {
  std::memcpy(removedOnSignal, temporary.c_str(), temporary.size() + 1);
  temporaryExists = 1;
}

void unmarkTemporary() { temporaryExists = 0; }

}  // namespace replacement_system
}  // namespace quarvel
