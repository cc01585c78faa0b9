#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "fraction.hpp"
#include "unicode.hpp"

using corvane::Fraction;

namespace {

// Bar positions and timing-table values of the sizes a chart produces.
std::vector<Fraction> sample_values() {
  std::vector<Fraction> v;
  for (int i = 1; i <= 256; ++i) {
    v.emplace_back(i * 37 + 5, 1920);
    v.emplace_back(i * 999983, 1000000000);
  }
  return v;
}

void BM_FractionAdd(benchmark::State& state) {
  const auto v = sample_values();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v[i % v.size()] + v[(i + 1) % v.size()]);
    ++i;
  }
}
BENCHMARK(BM_FractionAdd);

void BM_FractionMul(benchmark::State& state) {
  const auto v = sample_values();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v[i % v.size()] * v[(i + 3) % v.size()]);
    ++i;
  }
}
BENCHMARK(BM_FractionMul);

void BM_FractionCompare(benchmark::State& state) {
  const auto v = sample_values();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v[i % v.size()] < v[(i + 1) % v.size()]);
    ++i;
  }
}
BENCHMARK(BM_FractionCompare);

void BM_FractionLimitDenominator(benchmark::State& state) {
  const Fraction pi(3141592653589793, 1000000000000000);
  for (auto _ : state) benchmark::DoNotOptimize(pi.limit_denominator(1000000));
}
BENCHMARK(BM_FractionLimitDenominator);

void BM_FractionParse(benchmark::State& state) {
  const std::string texts[] = {"120", " 3/4 ", "2.5", "1e-3"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Fraction::parse(texts[i % 4]));
    ++i;
  }
}
BENCHMARK(BM_FractionParse);

void BM_FractionFmtTo(benchmark::State& state) {
  const Fraction f(-7, 2);
  std::string out;
  out.reserve(64);
  for (auto _ : state) {
    out.clear();
    f.fmt_to(out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_FractionFmtTo);

void BM_UnicodeTrimLine(benchmark::State& state) {
  const std::string line = "\u3000 #00002:1a1a0000 \t";
  for (auto _ : state) benchmark::DoNotOptimize(corvane::unicode::trim(line));
}
BENCHMARK(BM_UnicodeTrimLine);

}  // namespace
