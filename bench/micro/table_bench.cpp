#include <benchmark/benchmark.h>

#include "micro/inputs.h"
#include "table/table.h"

namespace {

// The table of `list` with one row per registered module.
void BM_TableRender(benchmark::State& state) {
  const std::vector<std::string> header = {"module", "path", "description"};
  const std::vector<std::vector<std::string>> rows = bench::list_rows(bench::size_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(table::render(header, rows));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TableRender)->Apply(bench::sizes_1_to_10000);

// The width of one cell of N characters, every one of which is decoded and classified.
void BM_DisplayWidth(benchmark::State& state) {
  const std::string cell = bench::long_name(bench::size_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(table::display_width(cell));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DisplayWidth)->Apply(bench::sizes_1_to_10000);

}  // namespace
