#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "micro/inputs.h"
#include "naming/naming.h"

namespace {

// One name form of a name of N characters.
void BM_NameForm(benchmark::State& state, std::string (*form)(std::string_view)) {
  const std::string name = bench::long_name(bench::size_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(form(name));
  state.SetComplexityN(state.range(0));
}
BENCHMARK_CAPTURE(BM_NameForm, snake, naming::to_snake)->Apply(bench::sizes_1_to_10000);
BENCHMARK_CAPTURE(BM_NameForm, kebab, naming::to_kebab)->Apply(bench::sizes_1_to_10000);
BENCHMARK_CAPTURE(BM_NameForm, title, naming::to_title)->Apply(bench::sizes_1_to_10000);
BENCHMARK_CAPTURE(BM_NameForm, pascal, naming::to_pascal)->Apply(bench::sizes_1_to_10000);
BENCHMARK_CAPTURE(BM_NameForm, plural, naming::to_plural)->Apply(bench::sizes_1_to_10000);

void BM_SplitWords(benchmark::State& state) {
  const std::string name = bench::long_name(bench::size_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(naming::split_words(name));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SplitWords)->Apply(bench::sizes_1_to_10000);

}  // namespace
