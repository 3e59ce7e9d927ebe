#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cwchar>
#include <string>

#include "document/file_input.h"
#include "document/utf.h"
#include "frontend/platform.h"

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
  constexpr int kAttempts = 100;
  for (int attempt = 0;; ++attempt) {
    std::string temporary = prefix + std::to_string(attempt);
    // 0666: the kernel takes the umask off, as for any new file.
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (descriptor < 0) {
      if (errno == EEXIST && attempt + 1 < kAttempts) continue;
      return systemErrorText(errno);
    }
    if (exists && ::fchmod(descriptor, existing.st_mode & 0777) != 0) {
      const int error = errno;
      ::close(descriptor);
      ::unlink(temporary.c_str());
      return systemErrorText(error);
    }
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
  if (how == Replacement::kCommit && error == 0) {
    if (::rename(file.temporary.c_str(), file.path.c_str()) == 0) return std::nullopt;
    error = errno;
  }
  ::unlink(file.temporary.c_str());
  if (how == Replacement::kDiscard) return std::nullopt;
  return systemErrorText(error);
}

}  // namespace quarvel
