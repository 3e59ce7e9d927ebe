// Files and standard input, opened and read by the operating system's own
// means: posix.cc on Linux, windows.cc on Windows.
#ifndef QUARVEL_PLATFORM_FILE_INPUT_H_
#define QUARVEL_PLATFORM_FILE_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quarvel {

// One open file, or standard input, read from start to end.
class FileInput {
 public:
  FileInput() = default;
  ~FileInput();
  FileInput(const FileInput&) = delete;
  FileInput& operator=(const FileInput&) = delete;

  // Opens the file at `path` (UTF-8, without NUL; any length that the file
  // system can hold). A directory is refused. When the file cannot be read,
  // returns the system's reason, in UTF-8 and without a line end.
  std::optional<std::string> openFile(const std::string& path);
  // Standard input, which stays open afterwards. A directory is refused.
  std::optional<std::string> openStandardInput();

  // Copies up to `length` next bytes into `buffer`: the count, 0 at the
  // end, -1 when reading failed (readFailure() says why). Never throws.
  int read(char* buffer, std::size_t length);
  // The system's reason for the failed read, in UTF-8.
  std::string readFailure() const;

 private:
  // A file descriptor on Linux, a HANDLE on Windows.
  std::intptr_t handle_ = -1;
  bool owned_ = false;
  // errno on Linux, GetLastError() on Windows, of the failed read.
  unsigned long error_ = 0;
};

// Whether the paths `a` and `b` (UTF-8) name one existing file, links
// followed: the same device and inode on Linux, the same volume and file
// index on Windows. False when either cannot be examined.
bool sameFile(const std::string& a, const std::string& b);

// The system's text for errno value `error`, in UTF-8, in the user's
// language where the system has it.
std::string systemErrorText(int error);

#ifdef _WIN32
// Windows' own text for a GetLastError() code, in UTF-8 and without a line
// end, in the user's language.
std::string windowsErrorText(unsigned long error);

// `path` (UTF-8) as Windows takes it whole: a file: URL's "/C:/dir" names the
// drive, and a path longer than MAX_PATH gets the "\\?\" prefix, under which
// there is no such limit.
std::wstring windowsPath(const std::string& path);
#endif

}  // namespace quarvel

#endif  // QUARVEL_PLATFORM_FILE_INPUT_H_
