#include <benchmark/benchmark.h>

#include <string>
#include <variant>
#include <vector>

#include "score.hpp"
#include "support/chart_gen.hpp"

namespace {

// Whole chart text to linked score: line reading, items, linking, events.
void BM_ScoreFromStr(benchmark::State& state) {
  const std::string chart = corvane::generate_chart(static_cast<int>(state.range(0)), 42);
  std::size_t notes = 0;
  for (auto _ : state) {
    corvane::Score s = corvane::Score::from_str(chart);
    notes = s.notes.size();
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(chart.size()));
  state.counters["notes"] = static_cast<double>(notes);
  state.counters["bytes"] = static_cast<double>(chart.size());
}
BENCHMARK(BM_ScoreFromStr)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// Sorting and linking alone, on the notes of the large chart in the order
// the line reader yields them.
void BM_ScoreInitNotes(benchmark::State& state) {
  corvane::Score raw;
  for (const corvane::Line& line : corvane::split_lines(corvane::generate_chart(1000, 42))) {
    for (corvane::ParsedItem& item : line.parse())
      if (auto* note = std::get_if<corvane::item::Note>(&item)) raw.notes.push_back(note->note);
  }
  for (auto _ : state) {
    state.PauseTiming();
    corvane::Score s = raw;
    state.ResumeTiming();
    s.init_notes();
    benchmark::DoNotOptimize(s.active_notes.data());
  }
  state.counters["notes"] = static_cast<double>(raw.notes.size());
}
BENCHMARK(BM_ScoreInitNotes)->Unit(benchmark::kMicrosecond);

}  // namespace
