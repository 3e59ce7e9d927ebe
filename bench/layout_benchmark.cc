// Micro-benchmarks of the layout hot paths: putting characters into a flow
// (ordinary, very wide and preformatted lines) and printing finished lines.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "layout/byte_sink.h"
#include "layout/formatter.h"
#include "layout/line.h"
#include "layout/line_style.h"
#include "layout/line_writer.h"

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

// English and Japanese prose with the punctuation the line breaker cares
// about; about 4 KB of code units.
std::u16string prose() {
  const std::u16string piece =
      u"The text is filled character by character into lines of the set width. "
      u"日本語の文章も同じ規則で組まれます。句読点は右の余白にぶら下がり、「開き括弧」は行末に残らず"
      u"次の行へ送られます。";
  std::u16string text;
  while (text.size() < 4096) text += piece;
  return text;
}

void putTextInto(benchmark::State& state, LineStyle style) {
  const std::u16string text = prose();
  DiscardingSink sink;
  style.out = &sink;
  for (auto _ : state) {
    Formatter f;
    f.putText(text, style);
    f.finishBlock(style);
  }
  benchmark::DoNotOptimize(sink.written);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// Lines of the default 62 columns, printed as they are finished.
void BM_PutTextOrdinary(benchmark::State& state) { putTextInto(state, LineStyle{}); }
BENCHMARK(BM_PutTextOrdinary);

// One line as wide as all the text: the cost of putChar must not grow with
// the width of the line it goes onto.
void BM_PutTextWideLine(benchmark::State& state) {
  LineStyle style;
  style.width = 1000000;
  putTextInto(state, style);
}
BENCHMARK(BM_PutTextWideLine);

void BM_PutTextUnderlined(benchmark::State& state) {
  LineStyle style;
  style.underline = u'-';
  putTextInto(state, style);
}
BENCHMARK(BM_PutTextUnderlined);

void BM_PutTextPre(benchmark::State& state) {
  LineStyle style;
  style.pre = 1;
  putTextInto(state, style);
}
BENCHMARK(BM_PutTextPre);

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
  for (auto _ : state) print(line, sink, -1);
  benchmark::DoNotOptimize(sink.written);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PrintLine(benchmark::State& state) { printLine(state, NoUnderline); }
BENCHMARK(BM_PrintLine)->Arg(62)->Arg(4096);

void BM_PrintUnderlinedLine(benchmark::State& state) { printLine(state, u'-'); }
BENCHMARK(BM_PrintUnderlinedLine)->Arg(62)->Arg(4096);

}  // namespace
}  // namespace quarvel

BENCHMARK_MAIN();
