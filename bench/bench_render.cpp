// Rendering a whole generated chart to SVG.
#include <benchmark/benchmark.h>

#include <string>

#include "drawing/drawing.hpp"
#include "lyric.hpp"
#include "score.hpp"
#include "support/chart_gen.hpp"

namespace corvane {
namespace {

Drawing bench_drawing() {
  MusicMeta mm;
  mm.skill_score_solo.assign(64, 0.5);
  mm.skill_score_multi.assign(64, 0.6);
  mm.fever_end_time = 120;
  mm.fever_score = 0.2;
  return Drawing(std::nullopt, std::nullopt, true, mm, std::nullopt, std::nullopt);
}

// The score as it is kept between renderings: its timing table is built.
void BM_RenderSvg(benchmark::State& state) {
  Score score = Score::from_str(generate_chart(static_cast<int>(state.range(0)), 7));
  const Lyric lyric = Lyric::load("1: la/li/lu/le\n4: one/two\n9: x//y\n");
  Drawing drawing = bench_drawing();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string svg = drawing.svg(score, &lyric);
    bytes = svg.size();
    benchmark::DoNotOptimize(svg);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["svg_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderSvg)->Arg(24)->Arg(120)->Unit(benchmark::kMillisecond);

// As the Python Drawing does it: a fresh copy of the score each time, so the
// timing table is rebuilt.
void BM_RenderSvgFreshScore(benchmark::State& state) {
  const Score parsed = Score::from_str(generate_chart(static_cast<int>(state.range(0)), 7));
  Drawing drawing = bench_drawing();
  std::size_t bytes = 0;
  for (auto _ : state) {
    Score score = parsed;
    std::string svg = drawing.svg(score, nullptr);
    bytes = svg.size();
    benchmark::DoNotOptimize(svg);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["svg_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderSvgFreshScore)->Arg(120)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
