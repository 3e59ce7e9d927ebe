// Everything that the program asks of Windows: files and standard input,
// standard output and error, the console, and the system's steps of
// replacing the file of -o.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "base/utf16.h"
#include "platform/file_input.h"
#include "platform/replacement_file.h"
#include "platform/replacement_system.h"
#include "platform/text_output.h"

namespace quarvel {

// Files and standard input

namespace {

HANDLE asHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::wstring toWide(std::string_view utf8) {
  const std::u16string utf16 = toUtf16(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

std::string fromWide(std::wstring_view wide) {
  std::string utf8;
  const std::u16string_view utf16(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
  for (std::size_t i = 0; i < utf16.size();) {
    const char32_t cp = nextCodePoint(utf16, i);
    appendUtf8(utf8, isSurrogateCodePoint(cp) ? 0xFFFD : cp);
  }
  return utf8;
}

}  // namespace

std::string windowsErrorText(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return "system error " + std::to_string(error);
  std::wstring_view view(text, length);
  while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' ')) {
    view.remove_suffix(1);
  }
  std::string utf8 = fromWide(view);
  LocalFree(text);
  return utf8;
}

// A path longer than MAX_PATH is made absolute before it gets the prefix.
std::wstring windowsPath(const std::string& path) {
  std::string_view view(path);
  if (view.size() >= 3 && view[0] == '/' && view[2] == ':' &&
      ((view[1] >= 'A' && view[1] <= 'Z') || (view[1] >= 'a' && view[1] <= 'z'))) {
    view.remove_prefix(1);
  }
  std::wstring wide = toWide(view);
  if (wide.size() < MAX_PATH || wide.starts_with(L"\\\\")) return wide;
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  return L"\\\\?\\" + full;
}

namespace {

// The volume and the file index of what `path` names, links followed; false
// when it cannot be opened to ask.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& information) {
  HANDLE handle = CreateFileW(windowsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  return known;
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return fileIdentity(a, first) && fileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// The C runtime's text (English, in the ANSI code page).
std::string systemErrorText(int error) {
  const char* text = std::strerror(error);
  const int length = static_cast<int>(std::strlen(text));
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  const int units = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), length);
  wide.resize(static_cast<std::size_t>(std::max(units, 0)));
  return fromWide(wide);
}

FileInput::~FileInput() {
  if (owned_) CloseHandle(asHandle(handle_));
}

std::optional<std::string> FileInput::openFile(const std::string& path) {
  const std::wstring name = windowsPath(path);
  // A directory is refused by Windows itself ("Access is denied.").
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return windowsErrorText(GetLastError());
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  owned_ = true;
  return std::nullopt;
}

std::optional<std::string> FileInput::openStandardInput() {
  HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return windowsErrorText(ERROR_INVALID_HANDLE);
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  return std::nullopt;
}

int FileInput::read(char* buffer, std::size_t length) {
  DWORD count = 0;
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(length, INT_MAX));
  if (ReadFile(asHandle(handle_), buffer, wanted, &count, nullptr) != 0) {
    return static_cast<int>(count);
  }
  const DWORD error = GetLastError();
  // The writer of a pipe has closed it: the end of the bytes.
  if (error == ERROR_BROKEN_PIPE) return 0;
  error_ = error;
  return -1;
}

std::string FileInput::readFailure() const { return windowsErrorText(error_); }

// Standard output, the console and messages

namespace {

// The console behind `handle`, or nothing when it is a file or a pipe.
bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

HANDLE handleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// Writes UTF-16 to a console, in pieces it takes at once.
bool writeConsole(HANDLE console, std::u16string_view text) {
  constexpr std::size_t kPiece = 8192;
  while (!text.empty()) {
    std::size_t piece = std::min(text.size(), kPiece);
    // A surrogate pair stays whole.
    if (piece < text.size() && isHighSurrogate(text[piece - 1])) --piece;
    DWORD written = 0;
    if (WriteConsoleW(console, text.data(), static_cast<DWORD>(piece), &written, nullptr) == 0 ||
        written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

// The formatted text on a console: written as UTF-16, which the console
// shows whatever its code page, with the code points of ReadableCodePoints
// and LF row ends, as the UTF-8 of a terminal would have them.
class ConsoleEncoder final : public TextEncoder {
 public:
  explicit ConsoleEncoder(HANDLE console) : TextEncoder(u"\n"), console_(console) {}
  int error() const override { return error_; }

 protected:
  void encode(const char16_t* units, std::size_t count) override {
    if (error_ != 0) return;
    // No unit becomes more than one unit: a pair stays a pair.
    std::size_t used = 0;
    codePoints_.read(units, count, [&](char32_t cp) {
      if (cp >= 0x10000) {
        readable_[used++] = highSurrogateOf(cp);
        readable_[used++] = lowSurrogateOf(cp);
      } else {
        readable_[used++] = static_cast<char16_t>(cp);
      }
    });
    if (!writeConsole(console_, std::u16string_view(readable_, used))) error_ = EIO;
  }
  bool flushEncoded() override { return error_ == 0; }

 private:
  HANDLE console_;
  int error_ = 0;
  ReadableCodePoints codePoints_;
  // A pair whose high half waited from the call before is written whole
  // here: one unit more than a call brings.
  char16_t readable_[kBufferUnits + 1];
};

}  // namespace

const char kWhereTheManualIs[] = "quarvel.txt, beside quarvel.exe in the zip";

void prepareStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

bool standardOutputIsTerminal() { return isConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

TextEncoder& terminalOutput() {
  static ConsoleEncoder console(GetStdHandle(STD_OUTPUT_HANDLE));
  return console;
}

void writeMessageText(std::FILE* stream, std::u16string_view text) {
  std::fflush(stream);
  const HANDLE handle = handleOf(stream);
  if (isConsole(handle)) {
    // The console shows every character, whatever its code page.
    writeConsole(handle, text);
    return;
  }
  const std::wstring wide(text.begin(), text.end());
  // With UTF-8 as the ANSI code page (a Windows option) every character can
  // be written, and a default character is not allowed.
  const UINT codePage = GetACP();
  const char* unrepresentable = codePage == CP_UTF8 ? nullptr : "?";
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, unrepresentable, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size,
                        unrepresentable, nullptr);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

// The file of -o. Windows has no signals to hold back.

namespace replacement_system {

std::optional<std::string> examine(const std::string& path, Found& found) {
  const DWORD attributes = GetFileAttributesW(windowsPath(path).c_str());
  found.exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (found.exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                     FILE_ATTRIBUTE_DEVICE)) != 0) {
    return std::string(kNotARegularFile);
  }
  return std::nullopt;
}

std::size_t nameStart(const std::string& path) { return path.find_last_of("/\\:") + 1; }

std::string processNumber() { return std::to_string(GetCurrentProcessId()); }

std::optional<std::string> refusePrefix(const std::string&) { return std::nullopt; }

void holdSignals() {}
void releaseSignals() {}
void installRemovingHandlers() {}
void restoreHandlers() {}
void markTemporary(const std::string&) {}
void unmarkTemporary() {}

// The folder's defaults give the permissions: `found` is not needed.
Creation create(const std::string& temporary, const Found&, int& descriptor, std::string& reason) {
  const std::wstring name = windowsPath(temporary);
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    reason = windowsErrorText(error);
    return error == ERROR_FILE_EXISTS ? Creation::kNameTaken : Creation::kFailed;
  }
  // A C runtime descriptor, written as standard output is.
  descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    DeleteFileW(name.c_str());
    reason = systemErrorText(EMFILE);
    return Creation::kFailed;
  }
  return Creation::kCreated;
}

// _commit flushes the file to the disk, as fsync does.
std::optional<std::string> syncToDisk(int descriptor) {
  if (_commit(descriptor) != 0) return systemErrorText(errno);
  return std::nullopt;
}

std::optional<std::string> close(int descriptor) {
  if (_close(descriptor) != 0) return systemErrorText(errno);
  return std::nullopt;
}

std::optional<std::string> renameOver(const std::string& temporary, const std::string& path) {
  if (MoveFileExW(windowsPath(temporary).c_str(), windowsPath(path).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return std::nullopt;
  }
  return windowsErrorText(GetLastError());
}

void remove(const std::string& temporary) { DeleteFileW(windowsPath(temporary).c_str()); }

}  // namespace replacement_system
}  // namespace quarvel
