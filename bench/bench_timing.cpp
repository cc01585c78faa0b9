#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "fraction.hpp"
#include "score.hpp"
#include "support/chart_gen.hpp"
#include "support/timing_table_access.hpp"

namespace {

corvane::Score generated_score(int measures) {
  return corvane::Score::from_str(corvane::generate_chart(measures, 42));
}

// Bar positions at sixteenth resolution across the whole chart, as the
// renderer's tick and note loops ask for them.
std::vector<corvane::Fraction> sixteenths(int measures) {
  std::vector<corvane::Fraction> bars;
  bars.reserve(static_cast<std::size_t>(measures) * 16);
  for (int k = 0; k < measures * 16; ++k) bars.emplace_back(k, 16);
  return bars;
}

// Seconds spread evenly over the chart's length.
std::vector<double> spread_times(corvane::Score& score, int measures, int count) {
  const double length = score.time_at(corvane::Fraction(measures)).to_double();
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) times.push_back(length * i / count);
  return times;
}

// One pass over the events: build the timing table from scratch.
void BM_TimingTableBuild(benchmark::State& state) {
  corvane::Score score = generated_score(1000);
  for (auto _ : state) {
    corvane::TimingTableAccess::table(score).reset();
    benchmark::DoNotOptimize(score.time_at(corvane::Fraction(0)));
  }
  state.counters["events"] = static_cast<double>(score.events.size());
}
BENCHMARK(BM_TimingTableBuild)->Unit(benchmark::kMicrosecond);

// The renderer's hot lookup: time and state of many bars on a built table.
void BM_TimeAt(benchmark::State& state) {
  const int measures = static_cast<int>(state.range(0));
  corvane::Score score = generated_score(measures);
  const std::vector<corvane::Fraction> bars = sixteenths(measures);
  score.time_at(corvane::Fraction(0));
  for (auto _ : state) {
    for (corvane::Fraction bar : bars) {
      benchmark::DoNotOptimize(score.time_at(bar));
      benchmark::DoNotOptimize(&score.state_at(bar));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bars.size()));
  state.counters["events"] = static_cast<double>(score.events.size());
}
BENCHMARK(BM_TimeAt)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The bar-at-time query, one walk per call (overlays, Python).
void BM_BarByTime(benchmark::State& state) {
  const int measures = static_cast<int>(state.range(0));
  corvane::Score score = generated_score(measures);
  const std::vector<double> times = spread_times(score, measures, 256);
  for (auto _ : state) {
    for (double t : times) benchmark::DoNotOptimize(score.get_bar_by_time(t));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(times.size()));
  state.counters["events"] = static_cast<double>(score.events.size());
}
BENCHMARK(BM_BarByTime)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The rebase pattern: events pushed one at a time, a lookup after each.
void BM_TimeWalkIncremental(benchmark::State& state) {
  corvane::Score score = generated_score(1000);
  const std::vector<double> times = spread_times(score, 1000, static_cast<int>(score.events.size()));
  corvane::TimeWalk walk;
  for (auto _ : state) {
    walk.clear();
    for (std::size_t i = 0; i < score.events.size(); ++i) {
      walk.push(score.events[i]);
      benchmark::DoNotOptimize(walk.bar_at(times[i]));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(score.events.size()));
  state.counters["events"] = static_cast<double>(score.events.size());
}
BENCHMARK(BM_TimeWalkIncremental)->Unit(benchmark::kMicrosecond);

}  // namespace
