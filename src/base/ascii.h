// ASCII facts that every layer may use: the white space of XML and of the
// C locale, and letter case folded as ASCII, never as a locale would fold it.
#ifndef QUARVEL_BASE_ASCII_H_
#define QUARVEL_BASE_ASCII_H_

#include <cstddef>
#include <string_view>
#include <type_traits>

namespace quarvel {

// XML's white space: space, tab, carriage return, line feed.
constexpr bool isXmlSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The C locale's white space: space and tab through carriage return.
constexpr bool isCSpace(char32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

template <typename Char>
constexpr Char asciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + ('a' - 'A')) : c;
}

// Whether `a` and `b` hold the same characters, ASCII letters compared
// without regard to case.
template <typename Char>
constexpr bool equalIgnoringAsciiCase(std::basic_string_view<Char> a,
                                      std::type_identity_t<std::basic_string_view<Char>> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

// Whether `text` starts with `prefix`, ASCII letters compared without regard
// to case.
template <typename Char>
constexpr bool startsWithIgnoringAsciiCase(
    std::basic_string_view<Char> text, std::type_identity_t<std::basic_string_view<Char>> prefix) {
  return text.size() >= prefix.size() &&
         equalIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace quarvel

#endif  // QUARVEL_BASE_ASCII_H_
