// Micro-benchmarks of each step of a run: converting the parser's UTF-8 text,
// loading a document into the store, putting characters into a flow
// (letters, ideographs, mixed prose; ordinary, very wide and preformatted
// lines), ending lines that carry, printing finished lines, and a whole small
// document through the walker.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "base/utf.h"
#include "document/xml_document.h"
#include "frontend/formatting_run.h"
#include "layout/formatter.h"
#include "layout/line.h"
#include "layout/line_style.h"
#include "layout/line_writer.h"
#include "platform/text_output.h"

namespace quarvel {
namespace {

// Counts bytes and drops them.
class DiscardingSink final : public ByteSink {
 public:
  std::size_t written = 0;

 protected:
  int writeBytes(const uint8_t*, std::size_t size) override {
    written += size;
    return 0;
  }
};

// `piece` repeated to about 4 K code units.
std::u16string repeated(std::u16string_view piece) {
  std::u16string text;
  while (text.size() < 4096) text += piece;
  return text;
}

// English and Japanese prose with the punctuation the line breaker cares
// about.
std::u16string prose() {
  return repeated(
      u"The text is filled character by character into lines of the set width. "
      u"日本語の文章も同じ規則で組まれます。句読点は右の余白にぶら下がり、「開き括弧」は行末に残ら"
      u"ず"
      u"次の行へ送られます。");
}
std::u16string letters() { return repeated(u"Lines are filled one character at a time. "); }
std::u16string ideographs() { return repeated(u"日本語の文章も同じ規則で組まれます"); }

void putTextInto(benchmark::State& state, const std::u16string& text, LineStyle style) {
  DiscardingSink sink;
  Utf16Encoder encoder(sink);
  style.out = &encoder;
  for (auto _ : state) {
    Formatter f;
    f.putText(text, style);
    f.finishBlock(style);
  }
  benchmark::DoNotOptimize(sink.written);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// The same through putChar, one call per code unit.
void putCharsInto(benchmark::State& state, const std::u16string& text, LineStyle style) {
  DiscardingSink sink;
  Utf16Encoder encoder(sink);
  style.out = &encoder;
  for (auto _ : state) {
    Formatter f;
    for (char16_t ch : text) f.putChar(ch, style);
    f.finishBlock(style);
  }
  benchmark::DoNotOptimize(sink.written);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// Lines of the default 62 columns, printed as they are finished.
void BM_PutTextOrdinary(benchmark::State& state) { putTextInto(state, prose(), LineStyle{}); }
BENCHMARK(BM_PutTextOrdinary);

void BM_PutTextLetters(benchmark::State& state) { putTextInto(state, letters(), LineStyle{}); }
BENCHMARK(BM_PutTextLetters);

void BM_PutTextIdeographs(benchmark::State& state) {
  putTextInto(state, ideographs(), LineStyle{});
}
BENCHMARK(BM_PutTextIdeographs);

void BM_PutCharLetters(benchmark::State& state) { putCharsInto(state, letters(), LineStyle{}); }
BENCHMARK(BM_PutCharLetters);

void BM_PutCharIdeographs(benchmark::State& state) {
  putCharsInto(state, ideographs(), LineStyle{});
}
BENCHMARK(BM_PutCharIdeographs);

// One line as wide as all the text: the cost of putChar must not grow with
// the width of the line it goes onto.
void BM_PutTextWideLine(benchmark::State& state) {
  LineStyle style;
  style.width = 1000000;
  putTextInto(state, prose(), style);
}
BENCHMARK(BM_PutTextWideLine);

void BM_PutTextUnderlined(benchmark::State& state) {
  LineStyle style;
  style.underline = u'-';
  putTextInto(state, prose(), style);
}
BENCHMARK(BM_PutTextUnderlined);

void BM_PutTextPre(benchmark::State& state) {
  LineStyle style;
  style.pre = 1;
  putTextInto(state, prose(), style);
}
BENCHMARK(BM_PutTextPre);

// Lines of 20 columns that each end in two opening brackets, ended by
// breakLine: every break carries both to the next line. Items are breaks.
void BM_BreakLineCarrying(benchmark::State& state) {
  DiscardingSink sink;
  Utf16Encoder encoder(sink);
  LineStyle style;
  style.out = &encoder;
  const std::u16string_view line = u"abcdefghijklmnop「（";
  for (auto _ : state) {
    Formatter f;
    for (int i = 0; i < 64; ++i) {
      f.putText(line, style);
      f.breakLine(style);
    }
    f.finishBlock(style);
  }
  benchmark::DoNotOptimize(sink.written);
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_BreakLineCarrying);

// Prints one line of state.range(0) columns, plain or underlined.
void printLine(benchmark::State& state, char16_t underline) {
  LineStyle style;
  style.width = static_cast<int32_t>(state.range(0));
  style.align = kAlignCenter;
  Line line(style);
  const std::u16string text = prose();
  for (int64_t i = 0; i < state.range(0); ++i)
    line.glyphs.append(newGlyph(text[static_cast<std::size_t>(i) % text.size()], underline));
  DiscardingSink sink;
  Utf16Encoder encoder(sink);
  for (auto _ : state) print(line, encoder, -1);
  benchmark::DoNotOptimize(sink.written);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PrintLine(benchmark::State& state) { printLine(state, NoUnderline); }
BENCHMARK(BM_PrintLine)->Arg(62)->Arg(4096);

void BM_PrintUnderlinedLine(benchmark::State& state) { printLine(state, u'-'); }
BENCHMARK(BM_PrintUnderlinedLine)->Arg(62)->Arg(4096);

// A document of blocks, runs, underlines, Japanese text and a column
// paragraph, about 100 KB.
std::string benchDocument() {
  const std::string section =
      "<center>A HEADING</center>\n"
      "<left>Lines are filled one character at a time under two rules. "
      "「組版」について、見出しは中央に置かれ、整形済みの部分は改行をそのまま保つ。\n"
      "Some words stay together: <nonbreak>these words stay</nonbreak>, and some are "
      "<underline>underlined as they go</underline>. 段組みでは列が横に並ぶ。</left>\n"
      "<right>signed at the end</right>\n"
      "<par><div width=\"28\">The left column of a paragraph in two.</div>"
      "<div width=\"28\">右の列も同じ規則で組まれます。</div></par>\n"
      "<pre>  preformatted\n    lines keep their breaks</pre>\n";
  std::string xml = "<quarvel>\n";
  while (xml.size() < 100000) xml += section;
  xml += "</quarvel>\n";
  return xml;
}

// Text as the parser hands it over, into the store's UTF-16. Items are bytes.
void BM_ConvertText(benchmark::State& state) {
  const std::string text =
      "Lines are filled one character at a time under two rules. "
      "「組版」について、見出しは中央に置かれ、整形済みの部分は改行をそのまま保つ。";
  std::u16string out(text.size(), u'\0');
  for (auto _ : state) benchmark::DoNotOptimize(writeUtf16(text, out.data()));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ConvertText);

// Parsing the document below into the store. Items are input bytes.
void BM_LoadDocument(benchmark::State& state) {
  const std::string xml = benchDocument();
  for (auto _ : state) {
    XmlDocument document;
    document.loadMemory(xml, "bench.xml");
    benchmark::DoNotOptimize(document.parseError().errorCode);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}
BENCHMARK(BM_LoadDocument);

// The document loaded once and formatted each iteration: the walker and the
// XML layer's accessors as well as the layout. Items are input bytes.
void BM_FormatDocument(benchmark::State& state) {
  const std::string xml = benchDocument();
  XmlDocument document;
  document.loadMemory(xml, "bench.xml");
  if (document.parseError().errorCode != 0) {
    state.SkipWithError("the benchmark document does not parse");
    return;
  }
  DiscardingSink sink;
  Utf16Encoder encoder(sink);
  for (auto _ : state) formatDocument(document.documentElement(), encoder);
  benchmark::DoNotOptimize(sink.written);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}
BENCHMARK(BM_FormatDocument);

}  // namespace
}  // namespace quarvel

BENCHMARK_MAIN();
