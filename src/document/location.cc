#include "document/location.h"

#include <cstring>
#include <utility>

#include "base/ascii.h"
#include "document/http_source.h"

namespace quarvel {
namespace {

// A location is a URL when it starts with "scheme://" or with "file:";
// everything else is a file path.
bool hasUrlScheme(std::string_view location) {
  if (startsWithIgnoringAsciiCase(location, "file:")) return true;
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto isSchemeChar = [&](char c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
  };
  if (location.empty() || !isLetter(location[0])) return false;
  size_t i = 1;
  while (i < location.size() && isSchemeChar(location[i])) ++i;
  return location.substr(i, 3) == "://";
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A '%' that is not followed by two hex digits stands for itself.
std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// "file:///p", "file://localhost/p", "file:/p" and "file:p" name the path p
// (percent-decoded); a query or fragment is not part of the path.
std::optional<ParseError> filePathOfUrl(std::string_view url, std::string& path) {
  std::string_view rest = url.substr(std::strlen("file:"));
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && startsWithIgnoringAsciiCase(host, "localhost"))) {
      return readError(kUnsupportedLocation, "file URL names another host: " + std::string(host));
    }
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  path = percentDecode(rest);
  return std::nullopt;
}

// Opens the file at `path`, or standard input when there is none.
OpenedLocation openFile(const std::string* path) {
  auto file = std::make_unique<FileSource>();
  std::optional<ParseError> failure =
      path == nullptr ? file->openStandardInput() : file->openFile(*path);
  if (failure) return {nullptr, *std::move(failure)};
  return {std::move(file), {}};
}

}  // namespace

// Exactly "-" is standard input; "./-" and "-x" are file paths.
OpenedLocation openLocation(std::string_view location, const LoadSettings& settings) {
  if (location.find('\0') != std::string_view::npos) {
    return {nullptr, readError(kCannotReadLocation, "the location holds a NUL character")};
  }
  if (location == "-") return openFile(nullptr);
  if (!hasUrlScheme(location)) {
    const std::string path(location);
    return openFile(&path);
  }
  if (startsWithIgnoringAsciiCase(location, "file:")) {
    std::string path;
    if (std::optional<ParseError> failure = filePathOfUrl(location, path)) {
      return {nullptr, *std::move(failure)};
    }
    return openFile(&path);
  }
  if (startsWithIgnoringAsciiCase(location, "http://") ||
      startsWithIgnoringAsciiCase(location, "https://")) {
    auto http = std::make_unique<HttpSource>();
    if (std::optional<ParseError> failure = http->start(std::string(location), settings)) {
      return {nullptr, *std::move(failure)};
    }
    return {std::move(http), {}};
  }
  return {nullptr,
          readError(kUnsupportedLocation, "unsupported URL scheme: " +
                                              std::string(location.substr(0, location.find(':'))))};
}

std::optional<std::string> filePathOf(std::string_view location) {
  if (location == "-" || location.find('\0') != std::string_view::npos) return std::nullopt;
  if (!hasUrlScheme(location)) return std::string(location);
  std::string path;
  if (!startsWithIgnoringAsciiCase(location, "file:") || filePathOfUrl(location, path)) {
    return std::nullopt;
  }
  return path;
}

}  // namespace quarvel
