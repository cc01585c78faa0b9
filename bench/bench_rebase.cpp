// Retiming a generated chart by a rebase document with a tempo change every
// measure: the cost should grow with notes x log(events), not notes x events.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>

#include "rebase.hpp"
#include "support/chart_gen.hpp"
#include "support/timing_table_access.hpp"

namespace {

// One event per measure, tempos cycling through a few values, plus a bar
// length change every 16 measures.
std::string rebase_document(int measures) {
  static constexpr const char* kBpms[] = {"150", "172.5", "96", "210", "128"};
  std::string doc = R"({"offset": 0.35, "meta": {"title": "bench"}, "events": [)";
  char buf[16];
  for (int m = 0; m < measures; ++m) {
    if (m) doc += ", ";
    doc += R"({"bar": )";
    doc.append(buf, std::to_chars(buf, buf + sizeof buf, m).ptr);
    doc += R"(, "bpm": )";
    doc += kBpms[m % 5];
    if (m % 16 == 0) doc += m % 32 ? R"(, "barLength": 3)" : R"(, "barLength": 4)";
    doc += '}';
  }
  doc += "]}";
  return doc;
}

void BM_RebaseApply(benchmark::State& state) {
  const int measures = static_cast<int>(state.range(0));
  corvane::Score score = corvane::Score::from_str(corvane::generate_chart(measures, 11));
  const corvane::Rebase rebase = corvane::Rebase::from_json(rebase_document(measures));
  for (auto _ : state) {
    corvane::TimingTableAccess::table(score).reset();  // each retiming builds the old score's table once
    corvane::Score moved = rebase.apply(score);
    benchmark::DoNotOptimize(moved.notes.data());
  }
  state.counters["notes"] = static_cast<double>(score.notes.size());
  state.counters["events"] = static_cast<double>(rebase.events.size() + score.events.size());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(score.notes.size()));
}
BENCHMARK(BM_RebaseApply)->Arg(250)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
