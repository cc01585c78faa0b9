// Number forms of the SVG writer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "drawing/format.hpp"
#include "drawing/markup.hpp"

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

// The column's commonest elements, each from its template.
void BM_MarkupElements(benchmark::State& state) {
  std::string out;
  out.reserve(1 << 16);
  const std::string host = "https://assets.example/live/note/custom01";
  for (auto _ : state) {
    out.clear();
    for (int i = 0; i < 128; ++i) {
      const double y = 2912.0 - i * 11.25;
      append_markup<R"svg(<line x1="{}" y1="{}" x2="{}" y2="{}" class="{}"/>)svg">(
          out, std::int64_t{40}, y, std::int64_t{232}, y, "beat-line");
      append_markup<R"svg(<use href="#notes-{}-{}" x="{}" y="{}" width="{}" height="{}"/>)svg">(
          out, i % 7, 3, 80.0, y - 14.0, 64.0, 28.0);
      append_markup<R"svg(<image href="{}/{}.{}" x="{}" y="{}" width="{}" height="{}"/>)svg">(
          out, Escaped{host}, "notes_long_among", Escaped{"png"}, 56.0, y - 8.0, 16, 16);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 128 * 3);
}
BENCHMARK(BM_MarkupElements);

}  // namespace
}  // namespace corvane
