#include "frontend/messages.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "base/utf16.h"
#include "platform/text_output.h"

namespace quarvel {
namespace {

constexpr std::size_t kMaxMessageUnits = 1039;

// The string arguments' text without a final line end, which is never cut.
std::u16string_view body(std::u16string_view argument) {
  return argument.ends_with(u'\n') ? argument.substr(0, argument.size() - 1) : argument;
}

// The largest `cap` at which cutting every string argument's body to at most
// `cap` units leaves no more than `room` units of them.
std::size_t commonCap(std::initializer_list<MessageArgument> arguments, std::size_t room) {
  std::size_t low = 0;
  std::size_t high = 0;
  for (const MessageArgument& argument : arguments) {
    if (const auto* s = std::get_if<std::u16string_view>(&argument)) {
      high = std::max(high, body(*s).size());
    }
  }
  auto fits = [&](std::size_t cap) {
    std::size_t total = 0;
    for (const MessageArgument& argument : arguments) {
      if (const auto* s = std::get_if<std::u16string_view>(&argument)) {
        total += std::min(body(*s).size(), cap);
      }
    }
    return total <= room;
  };
  while (low < high) {
    const std::size_t middle = low + (high - low + 1) / 2;
    if (fits(middle)) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}

// Formats `format` with every string argument's body cut to at most `cap`
// code units (its line end kept).
std::u16string formatCut(std::u16string_view format,
                         std::initializer_list<MessageArgument> arguments, std::size_t cap) {
  std::u16string text;
  const MessageArgument* next = arguments.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 == format.size()) {
      text += format[i];
      continue;
    }
    const char16_t conversion = format[++i];
    if (conversion == u'%') {
      text += u'%';
    } else if (next != arguments.end() && (conversion == u's' || conversion == u'd')) {
      if (const auto* s = std::get_if<std::u16string_view>(next)) {
        const std::u16string_view kept = body(*s);
        text += kept.substr(0, keptUnits(kept, cap));
        if (kept.size() < s->size()) text += u'\n';
      } else {
        for (char c : std::to_string(std::get<int32_t>(*next))) text += static_cast<char16_t>(c);
      }
      ++next;
    }
  }
  return text;
}

}  // namespace

std::u16string formatMessage(std::u16string_view format,
                             std::initializer_list<MessageArgument> arguments) {
  std::u16string text = formatCut(format, arguments, SIZE_MAX);
  if (text.size() > kMaxMessageUnits) {
    // Too long: the longest string arguments give way, down to a length
    // that all the cut ones share. A long reason is cut inside itself; a
    // location that is longer still is cut too rather than leave no reason.
    const std::size_t others = formatCut(format, arguments, 0).size();
    const std::size_t room = others < kMaxMessageUnits ? kMaxMessageUnits - others : 0;
    text = formatCut(format, arguments, commonCap(arguments, room));
  }
  if (text.size() > kMaxMessageUnits) {
    // Only a format longer than the limit by itself gets here.
    const bool lineEnd = text.ends_with(u'\n');
    text.resize(keptUnits(text, kMaxMessageUnits - (lineEnd ? 1 : 0)));
    if (lineEnd) text += u'\n';
  }
  return text;
}

int printMessage(std::FILE* stream, std::u16string_view format,
                 std::initializer_list<MessageArgument> arguments) {
  const std::u16string text = formatMessage(format, arguments);
  writeMessageText(stream, text);
  return static_cast<int>(text.size());
}

}  // namespace quarvel
