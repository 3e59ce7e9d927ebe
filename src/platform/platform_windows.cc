#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "base/utf.h"
#include "base/utf16.h"
#include "platform/file_input.h"
#include "platform/platform.h"

namespace quarvel {
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

// Takes UTF-8 and writes it to the console as UTF-16. A character whose
// bytes are split across two blocks waits for the rest.
class ConsoleSink final : public ByteSink {
 public:
  explicit ConsoleSink(HANDLE console) : console_(console) {}

 protected:
  int writeBytes(const uint8_t* data, std::size_t size) override {
    waiting_.append(reinterpret_cast<const char*>(data), size);
    const std::size_t whole = wholeCharacters(waiting_);
    const bool ok = writeConsole(console_, toUtf16(std::string_view(waiting_).substr(0, whole)));
    waiting_.erase(0, whole);
    return ok ? 0 : EIO;
  }

 private:
  // The length of `utf8` without an incomplete character at its end.
  static std::size_t wholeCharacters(std::string_view utf8) {
    std::size_t start = utf8.size();
    for (int back = 0; back < 3 && start > 0; ++back) {
      const auto byte = static_cast<unsigned char>(utf8[start - 1]);
      if ((byte & 0xC0) != 0x80) {
        const std::size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return utf8.size() - (start - 1) < needed ? start - 1 : utf8.size();
      }
      --start;
    }
    return utf8.size();
  }

  HANDLE console_;
  std::string waiting_;
};

}  // namespace

const char kWhereTheManualIs[] = "quarvel.txt, beside quarvel.exe in the zip";

void prepareStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

bool standardOutputIsTerminal() { return isConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

ByteSink& terminalOutput() {
  static ConsoleSink console(GetStdHandle(STD_OUTPUT_HANDLE));
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

std::optional<std::string> beginReplacement(const std::string& path, ReplacementFile& file) {
  const std::wstring target = windowsPath(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return std::string(kNotARegularFile);
  }
  // Beside the file, so that the rename stays on one volume. CREATE_NEW
  // fails on anything already there, and another name is tried.
  const std::size_t nameStart = path.find_last_of("/\\:") + 1;  // 0 when there is none
  const std::string prefix = path.substr(0, nameStart) + "." + path.substr(nameStart) +
                             ".quarvel-" + std::to_string(GetCurrentProcessId()) + "-";
  constexpr int kAttempts = 100;
  for (int attempt = 0;; ++attempt) {
    std::string temporary = prefix + std::to_string(attempt);
    const std::wstring name = windowsPath(temporary);
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS && attempt + 1 < kAttempts) continue;
      return windowsErrorText(error);
    }
    // A C runtime descriptor, written as standard output is.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
      CloseHandle(handle);
      DeleteFileW(name.c_str());
      return systemErrorText(EMFILE);
    }
    file = ReplacementFile{descriptor, path, std::move(temporary)};
    return std::nullopt;
  }
}

std::optional<std::string> endReplacement(ReplacementFile& file, Replacement how) {
  std::optional<std::string> failure;
  // _commit flushes the file to the disk before the rename, as fsync does.
  if (how == Replacement::kCommit && _commit(file.descriptor) != 0) {
    failure = systemErrorText(errno);
  }
  if (_close(file.descriptor) != 0 && !failure && how == Replacement::kCommit) {
    failure = systemErrorText(errno);
  }
  file.descriptor = -1;
  const std::wstring temporary = windowsPath(file.temporary);
  if (how == Replacement::kCommit && !failure) {
    if (MoveFileExW(temporary.c_str(), windowsPath(file.path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return std::nullopt;
    }
    failure = windowsErrorText(GetLastError());
  }
  DeleteFileW(temporary.c_str());
  return failure;
}

}  // namespace quarvel
