#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

#include "base/utf.h"
#include "platform/file_input.h"

namespace quarvel {
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
    appendUtf8(utf8, cp >= 0xD800 && cp <= 0xDFFF ? 0xFFFD : cp);
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

}  // namespace quarvel
