// The web build's API entry, in place of main: the calls that the module's
// JavaScript side (packaging/npm/quarvel.js) makes to format or check one
// document held in memory. Each call runs under its own heap budget and
// leaves its result in the module until quarvel_release(); messages go to
// standard error, where the JavaScript side collects them, exactly as the
// program writes them.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "frontend/formatting_run.h"
#include "frontend/program.h"
#include "layout/allocation.h"
#include "layout/out_of_memory.h"
#include "markup/document_check.h"
#include "markup/vocabulary.h"
#include "platform/byte_sink.h"
#include "platform/heap_budget.h"
#include "platform/text_output.h"

namespace quarvel {
namespace {

// What a call returns to JavaScript.
enum Status : int {
  kStatusDone = 0,         // formatted; or checked with nothing to say
  kStatusFindings = 1,     // checked, with findings
  kStatusParseError = 2,   // not loaded: the message is on standard error
  kStatusOutOfMemory = 3,  // the budget ran out: the message is on standard error
};

// The check reports this many findings and counts the rest, as the program does.
constexpr int kShownFindings = 1000;

// The rows of a call, held for the caller. They count four times against
// the call's budget: their buffer with its room to grow, and the caller's
// copy of them (twice over as a JavaScript string). Past that, writing them
// is memory running out, so that a few bytes of markup that ask for
// gigabytes of rows stop early.
class ResultBytes final : public ByteSink {
 public:
  const std::string& bytes() {
    flush();
    return bytes_;
  }
  void limitTo(std::size_t bytes) { limit_ = bytes; }

 protected:
  int writeBytes(const uint8_t* data, std::size_t size) override {
    if (size > limit_ - bytes_.size()) throw std::bad_alloc();
    bytes_.append(reinterpret_cast<const char*>(data), size);
    return 0;
  }

 private:
  std::string bytes_;
  std::size_t limit_ = 0;
};

struct CallResult {
  ResultBytes bytes;  // the text
  std::string json;   // the findings
  ParseError error;
  int notShown = 0;
};

std::unique_ptr<CallResult> result;

void appendJsonString(std::string& json, std::u16string_view text) {
  json += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    if (cp == u'"' || cp == u'\\') {
      json += '\\';
      json += static_cast<char>(cp);
    } else if (cp < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      json += "\\u00";
      json += kHex[cp >> 4];
      json += kHex[cp & 15];
    } else {
      appendUtf8(json, cp);
    }
  }
  json += '"';
}

// Loads the document as the program loads a file; reports a parse error.
bool load(XmlDocument& document, std::string_view bytes, const char* name, bool positions) {
  LoadSettings settings;
  settings.keepsBlanksWithin = keepsBlanksWithin;
  settings.recordPositions = positions;
  document.loadMemory(bytes, name, settings);
  if (document.parseError().errorCode == 0) return true;
  result->error = document.parseError();
  reportParseError(result->error, positions ? ErrorForm::kCheck : ErrorForm::kNormal);
  return false;
}

// Runs `work` under the budget; the status it gives, or kStatusOutOfMemory.
template <typename Work>
int budgeted(double budget, Work&& work) {
  result = std::make_unique<CallResult>();
  int status = kStatusParseError;
  limitHeap(budget >= static_cast<double>(SIZE_MAX) ? SIZE_MAX : static_cast<std::size_t>(budget));
  const bool completed = completesOrRunsOut([&] { status = work(); });
  unlimitHeap();
  return completed ? status : kStatusOutOfMemory;
}

}  // namespace
}  // namespace quarvel

using namespace quarvel;

extern "C" {

// Formats `length` bytes at `document`, named `name` in messages, to UTF-16
// (or UTF-8 when `utf8` is not 0) as the program writes it.
EMSCRIPTEN_KEEPALIVE int quarvel_format(const char* document, int length, const char* name,
                                        int utf8, double budget) {
  return budgeted(budget, [&] {
    XmlDocument loaded;
    if (!load(loaded, std::string_view(document, static_cast<std::size_t>(length)), name, false)) {
      return kStatusParseError;
    }
    XmlNode root = loaded.documentElement();
    // The layout keeps the chunks of its record pools for reuse, also from
    // earlier calls: this call gets its own allowance on top of them.
    AllocationGate::setBudget(AllocationGate::bytesHeld() + layoutBudgetFor(loaded.bytesRead()));
    result->bytes.limitTo(budget / 4 >= static_cast<double>(SIZE_MAX)
                              ? SIZE_MAX
                              : static_cast<std::size_t>(budget / 4));
    std::unique_ptr<TextEncoder> text;
    if (utf8 != 0) {
      text = std::make_unique<Utf8Encoder>(result->bytes);
    } else {
      text = std::make_unique<Utf16Encoder>(result->bytes);
    }
    // On the out-of-memory stop the message has been written, and the
    // partial text is dropped unflushed.
    if (formatDocument(root, *text) != RunOutcome::kCompleted) return kStatusOutOfMemory;
    text->flush();
    return kStatusDone;
  });
}

// Checks the document as --check does; the findings as a JSON array of
// {"line", "column", "message"} objects, the first kShownFindings of them.
EMSCRIPTEN_KEEPALIVE int quarvel_check(const char* document, int length, const char* name,
                                       double budget) {
  return budgeted(budget, [&] {
    XmlDocument loaded;
    if (!load(loaded, std::string_view(document, static_cast<std::size_t>(length)), name, true)) {
      return kStatusParseError;
    }
    std::string& json = result->json;
    json = "[";
    int count = 0;
    checkDocument(loaded.documentElement(), [&](const Finding& finding) {
      if (++count > kShownFindings) {
        ++result->notShown;
        return false;
      }
      if (count > 1) json += ',';
      json += "{\"line\":" + std::to_string(finding.at.line) +
              ",\"column\":" + std::to_string(finding.at.column) + ",\"message\":";
      appendJsonString(json, finding.message);
      json += '}';
      return count < kShownFindings;
    });
    json += ']';
    return count == 0 ? kStatusDone : kStatusFindings;
  });
}

// The result of the last call: its bytes (the text, or the findings' JSON)
// and the place of its parse error.
EMSCRIPTEN_KEEPALIVE const char* quarvel_result_data() {
  return result->json.empty() ? result->bytes.bytes().data() : result->json.data();
}
EMSCRIPTEN_KEEPALIVE int quarvel_result_size() {
  return static_cast<int>(result->json.empty() ? result->bytes.bytes().size()
                                               : result->json.size());
}
EMSCRIPTEN_KEEPALIVE int quarvel_result_not_shown() { return result->notShown; }
EMSCRIPTEN_KEEPALIVE int quarvel_error_line() { return result->error.line; }
EMSCRIPTEN_KEEPALIVE int quarvel_error_position() { return result->error.linepos; }
EMSCRIPTEN_KEEPALIVE int quarvel_error_code() { return result->error.errorCode; }

// Frees the last result, and with it all the call's memory.
EMSCRIPTEN_KEEPALIVE void quarvel_release() { result.reset(); }

// Heap blocks in use, for the tests of the budget.
EMSCRIPTEN_KEEPALIVE double quarvel_heap_in_use() { return static_cast<double>(heapInUse()); }

}  // extern "C"
