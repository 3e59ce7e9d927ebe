#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <memory>
#include <system_error>
#include <utility>

#include "base/utf.h"
#include "platform/file_input.h"

namespace quarvel {
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
int openForReading(const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
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

}  // namespace

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
    appendUtf8(utf8, cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp);
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

}  // namespace quarvel
