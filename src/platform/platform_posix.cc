#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include "base/utf.h"
#include "platform/file_input.h"
#include "platform/platform.h"

namespace quarvel {

const char kWhereTheManualIs[] = "man quarvel";

void prepareStandardOutput() {}

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

ByteSink& terminalOutput() { return standardOutput(); }

// Converts UTF-16 to the locale's multibyte encoding, one code point at a time.
void writeMessageText(std::FILE* stream, std::u16string_view text) {
  std::string result;
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    std::size_t n = (cp >= 0xD800 && cp <= 0xDFFF)
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

// Blocks the signals above for the life of the object, so that a temporary
// file is never created, renamed or removed without temporaryExists saying so.
class SignalsHeldBack {
 public:
  SignalsHeldBack() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kRemovingSignals) sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &before_);
  }
  ~SignalsHeldBack() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeldBack(const SignalsHeldBack&) = delete;
  SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

 private:
  sigset_t before_;
};

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

}  // namespace

std::optional<std::string> beginReplacement(const std::string& path, ReplacementFile& file) {
  // lstat, not stat: a link is not followed, so that renaming over it
  // cannot replace what it points at behind the user's back.
  struct stat existing {};
  const bool exists = ::lstat(path.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) return systemErrorText(errno);
  if (exists && !S_ISREG(existing.st_mode)) return std::string(kNotARegularFile);
  // Beside the file, so that the rename stays within one file system. The
  // name is guessable; O_EXCL makes that harmless (it fails on anything
  // already there, a planted link included) and another attempt follows.
  const std::size_t nameStart = path.rfind('/') + 1;  // 0 when there is no '/'
  const std::string prefix = path.substr(0, nameStart) + "." + path.substr(nameStart) +
                             ".quarvel-" + std::to_string(::getpid()) + "-";
  if (prefix.size() + 4 > sizeof removedOnSignal) return systemErrorText(ENAMETOOLONG);
  const SignalsHeldBack heldBack;
  installRemovingHandlers();
  constexpr int kAttempts = 100;
  for (int attempt = 0;; ++attempt) {
    std::string temporary = prefix + std::to_string(attempt);
    // 0666: the kernel takes the umask off, as for any new file.
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (descriptor < 0) {
      const int error = errno;
      if (error == EEXIST && attempt + 1 < kAttempts) continue;
      restoreHandlers();
      return systemErrorText(error);
    }
    if (exists && ::fchmod(descriptor, existing.st_mode & 0777) != 0) {
      const int error = errno;
      ::close(descriptor);
      ::unlink(temporary.c_str());
      restoreHandlers();
      return systemErrorText(error);
    }
    std::memcpy(removedOnSignal, temporary.c_str(), temporary.size() + 1);
    temporaryExists = 1;
    file = ReplacementFile{descriptor, path, std::move(temporary)};
    return std::nullopt;
  }
}

std::optional<std::string> endReplacement(ReplacementFile& file, Replacement how) {
  int error = 0;
  // fsync before the rename: after a crash the file holds either its old
  // bytes or all the new ones, never a renamed empty file.
  if (how == Replacement::kCommit && ::fsync(file.descriptor) != 0) error = errno;
  if (::close(file.descriptor) != 0 && error == 0) error = errno;
  file.descriptor = -1;
  // A signal that comes now waits until the file is renamed or removed and
  // the dispositions are back as they were.
  const SignalsHeldBack heldBack;
  const auto ended = [] {
    temporaryExists = 0;
    restoreHandlers();
  };
  if (how == Replacement::kCommit && error == 0) {
    if (::rename(file.temporary.c_str(), file.path.c_str()) == 0) {
      ended();
      return std::nullopt;
    }
    error = errno;
  }
  ::unlink(file.temporary.c_str());
  ended();
  if (how == Replacement::kDiscard) return std::nullopt;
  return systemErrorText(error);
}

}  // namespace quarvel
