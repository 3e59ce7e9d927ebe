// The entry on Windows: the arguments as the user typed them, in UTF-16,
// handed on as UTF-8 (an unpaired surrogate becomes U+FFFD).
#include <windows.h>

#include <string>
#include <vector>

#include "frontend/program.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  std::vector<char*> pointers;
  for (int i = 0; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    if (size > 0) {
      WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, utf8.data(), size, nullptr, nullptr);
    }
    utf8.pop_back();  // the terminator
    arguments.push_back(std::move(utf8));
  }
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return quarvel::runProgram(argc, pointers.data());
}
