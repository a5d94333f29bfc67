// Parse time of XmlDocument::SetText for generated documents of 1 to 64 MB (counted as UTF-16,
// two bytes a unit, as the document is held on Windows). Linear parsing shows as a flat
// bytes-per-second figure across the sizes.
#include <benchmark/benchmark.h>

#include <string>

#include "xml/XmlDocument.h"

namespace {

constexpr size_t kMB = 1024 * 1024;

// Mixed markup: attributes, text with references, comments, CDATA, nesting three deep.
std::wstring MixedDocument(size_t units) {
  const std::wstring item =
      L"  <item id=\"1234\" name='a&gt;b' flag=yes>\r\n"
      L"    <title>Backup set &amp; history &#x4e2d;&#25991;</title>\r\n"
      L"    <!-- a comment between elements -->\r\n"
      L"    <path><![CDATA[C:\\data\\<dir>\\file.txt]]></path>\r\n"
      L"    <size>123456</size><empty/>\r\n"
      L"  </item>\r\n";
  std::wstring s = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<list>\r\n";
  s.reserve(units + item.size());
  while (s.size() + item.size() + 9 < units) s += item;
  s += L"</list>\r\n";
  return s;
}

// Deeply nested elements, in blocks of 1,000 levels.
std::wstring NestedDocument(size_t units) {
  std::wstring block;
  for (int i = 0; i < 1000; ++i) block += L"<n>";
  block += L"x";
  for (int i = 0; i < 1000; ++i) block += L"</n>";
  std::wstring s = L"<r>";
  s.reserve(units + block.size());
  while (s.size() + block.size() + 4 < units) s += block;
  s += L"</r>";
  return s;
}

// Markup full of mistakes: unclosed and lone tags, bad "<" uses.
std::wstring BrokenDocument(size_t units) {
  const std::wstring chunk = L"<a><b>text</a></c>< 1 <!x> <c d=e/>&bogus; ";
  std::wstring s;
  s.reserve(units + chunk.size());
  while (s.size() + chunk.size() < units) s += chunk;
  return s;
}

template <std::wstring (*Make)(size_t)>
void BM_Parse(benchmark::State& state) {
  const std::wstring text = Make(static_cast<size_t>(state.range(0)) * kMB / 2);
  vq::XmlDocument d;
  for (auto _ : state) {
    d.SetText(text);
    benchmark::DoNotOptimize(d.ElementCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size() * 2));
  state.counters["elements"] = d.ElementCount();
}

// Parse plus a cursor walk reading the text of every element.
void BM_ParseAndWalk(benchmark::State& state) {
  const std::wstring text = MixedDocument(static_cast<size_t>(state.range(0)) * kMB / 2);
  vq::XmlDocument d;
  size_t chars = 0;
  for (auto _ : state) {
    d.SetText(text);
    for (;;) {
      if (d.FindNext()) {
        chars += d.ElementText().size();
        d.Descend();
        continue;
      }
      if (!d.Ascend()) break;
    }
  }
  benchmark::DoNotOptimize(chars);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size() * 2));
}

}  // namespace

BENCHMARK(BM_Parse<MixedDocument>)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse<NestedDocument>)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse<BrokenDocument>)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndWalk)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
