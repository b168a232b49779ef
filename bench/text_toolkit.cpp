// The text toolkit on adversarial pages of 1 and 4 mega-units: the throughput (units per second,
// reported as bytes/s) should stay the same from one size to the other, i.e. time is linear.
#include <benchmark/benchmark.h>

#include <string>

#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"

namespace {

using namespace mirava::analysis;

constexpr long long kOneMega = 1 << 20;

// `pattern` repeated to exactly `size` units.
template <class Char>
std::basic_string<Char> Repeat(std::basic_string_view<Char> pattern, std::size_t size) {
  std::basic_string<Char> text;
  text.reserve(size);
  while (text.size() < size)
    text.append(pattern);
  text.resize(size);
  return text;
}

void Report(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void SizeArgs(benchmark::internal::Benchmark* bench) {
  bench->Arg(kOneMega)->Arg(4 * kOneMega)->Unit(benchmark::kMillisecond);
}

void HtmlToText_Run(benchmark::State& state, std::u16string_view pattern) {
  const std::u16string html = Repeat(pattern, state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(HtmlToText(html));
  Report(state);
}
BENCHMARK_CAPTURE(HtmlToText_Run, empty_tags, u"<>")->Apply(SizeArgs);
BENCHMARK_CAPTURE(HtmlToText_Run, unclosed_tags, u"<a<a<a")->Apply(SizeArgs);
BENCHMARK_CAPTURE(HtmlToText_Run, numeric_references, u"&#&#&#")->Apply(SizeArgs);
BENCHMARK_CAPTURE(HtmlToText_Run, numeric_references_closed, u"&# 65x;")->Apply(SizeArgs);
BENCHMARK_CAPTURE(HtmlToText_Run, amp_references, u"&amp;")->Apply(SizeArgs);
BENCHMARK_CAPTURE(HtmlToText_Run, double_encoded, u"&amp;laquo;")->Apply(SizeArgs);
BENCHMARK_CAPTURE(HtmlToText_Run, page_like,
                  u"<div class=\"card\"><b>Кафе &laquo;Ромашка&raquo;</b><br>\r\n"
                  u"ул. Ленина, 1 &mdash; тел.&nbsp;123</div>\n")
    ->Apply(SizeArgs);

// The end marker is missing, and every unit starts a long partial match of it.
void ExtractBetween_U16(benchmark::State& state) {
  const std::u16string source = Repeat<char16_t>(u"a", state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractBetween(source, u"a", u"", u"aaaaaaaaaaaaaaaaaaaaaaab"));
  }
  Report(state);
}
BENCHMARK(ExtractBetween_U16)->Apply(SizeArgs);

void ExtractBetween_Bytes(benchmark::State& state) {
  const std::string source = Repeat<char>("a", state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractBetween(source, "a", "", "aaaaaaaaaaaaaaaaaaaaaaab"));
  }
  Report(state);
}
BENCHMARK(ExtractBetween_Bytes)->Apply(SizeArgs);

// A page-sized search for a marker that is not there.
void ExtractBetween_BytesPageLike(benchmark::State& state) {
  const std::string source =
      Repeat<char>("<div class=\"item\"><a href=\"/org/1\">Кафе</a></div>\n", state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractBetween(source, "<div class=\"", "", "<script type=\"x\">"));
  }
  Report(state);
}
BENCHMARK(ExtractBetween_BytesPageLike)->Apply(SizeArgs);

void LastPosBefore_U16(benchmark::State& state) {
  const std::u16string text = Repeat<char16_t>(u"a", state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        LastPosBefore(u"baaaaaaaaaaaaaaaaaaaaaaa", text, static_cast<long long>(text.size())));
  }
  Report(state);
}
BENCHMARK(LastPosBefore_U16)->Apply(SizeArgs);

void LastPosBefore_Bytes(benchmark::State& state) {
  const std::string text = Repeat<char>("a", state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        LastPosBefore("baaaaaaaaaaaaaaaaaaaaaaa", text, static_cast<long long>(text.size())));
  }
  Report(state);
}
BENCHMARK(LastPosBefore_Bytes)->Apply(SizeArgs);

void ReplaceAll_Spaces(benchmark::State& state) {
  const std::u16string text = Repeat<char16_t>(u" ", state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(ReplaceAll(text, u"  ", u" "));
  Report(state);
}
BENCHMARK(ReplaceAll_Spaces)->Apply(SizeArgs);

void Utf8ToUtf16_Malformed(benchmark::State& state) {
  const std::string bytes = Repeat<char>("Ёж\xE2\x82<\xF0\x9F", state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(Utf8ToUtf16(bytes));
  Report(state);
}
BENCHMARK(Utf8ToUtf16_Malformed)->Apply(SizeArgs);

}  // namespace

BENCHMARK_MAIN();
