// Number forms of the SVG writer.
#include <benchmark/benchmark.h>

#include <string>

#include "drawing/format.hpp"

namespace corvane {
namespace {

void BM_FormatNumbers(benchmark::State& state) {
  std::string out;
  out.reserve(1 << 16);
  double v = 0.1;
  for (auto _ : state) {
    out.clear();
    for (int i = 0; i < 256; ++i) {
      append_round(out, v * i);
      append_format_g(out, v * i);
      append_shortest(out, v / (i + 1));
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 256 * 3);
}
BENCHMARK(BM_FormatNumbers);

}  // namespace
}  // namespace corvane
