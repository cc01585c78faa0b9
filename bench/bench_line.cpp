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

// Counts the items a line hands over; keeps none.
class CountingSink final : public corvane::ItemSink {
 public:
  std::size_t count = 0;
  void take(corvane::item::MetaField&&) override { ++count; }
  void take(const corvane::item::TicksPerBeat&) override { ++count; }
  void take(const corvane::item::HiSpeed&) override { ++count; }
  void take(corvane::item::SpeedTimeline&&) override { ++count; }
  void take(corvane::item::BarLength&&) override { ++count; }
  void take(const corvane::item::BpmDefinition&) override { ++count; }
  void take(const corvane::item::BpmChange&) override { ++count; }
  void expect_notes(std::size_t) override {}
  void take(const corvane::NoteCell& cell) override {
    benchmark::DoNotOptimize(cell);
    ++count;
  }
};

void BM_LineParse(benchmark::State& state) {
  const std::string chart = corvane::generate_chart(static_cast<int>(state.range(0)), 7);
  const std::vector<corvane::Line> lines = corvane::split_lines(chart);
  CountingSink sink;
  for (auto _ : state) {
    for (const auto& line : lines) line.parse(sink);
  }
  state.counters["lines/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * lines.size()), benchmark::Counter::kIsRate);
  benchmark::DoNotOptimize(sink.count);
}
BENCHMARK(BM_LineParse)->Arg(200);

}  // namespace
