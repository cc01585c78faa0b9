// Chart line reading: classification and item parsing, the per-line hot path
// of opening a score.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "line.hpp"
#include "support/chart_gen.hpp"

namespace {

void BM_LineClassify(benchmark::State& state) {
  const std::string chart = corvane::generate_chart(static_cast<int>(state.range(0)), 7);
  std::size_t lines = 0;
  for (auto _ : state) {
    corvane::for_each_raw_line(chart, [&](std::string_view raw) {
      corvane::Line line(raw);
      benchmark::DoNotOptimize(line.kind);
      ++lines;
    });
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chart.size()));
}
BENCHMARK(BM_LineClassify)->Arg(200);

void BM_LineParse(benchmark::State& state) {
  const std::string chart = corvane::generate_chart(static_cast<int>(state.range(0)), 7);
  const std::vector<corvane::Line> lines = corvane::split_lines(chart);
  std::vector<corvane::ParsedItem> items;
  std::size_t count = 0;
  for (auto _ : state) {
    for (const auto& line : lines) {
      items.clear();
      line.parse_into(items);
      count += items.size();
    }
  }
  state.counters["lines/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * lines.size()), benchmark::Counter::kIsRate);
  benchmark::DoNotOptimize(count);
}
BENCHMARK(BM_LineParse)->Arg(200);

}  // namespace
