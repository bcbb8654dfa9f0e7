#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "micro/inputs.h"
#include "table/table.h"

namespace {

// The table of `list` with one row per registered module, drawn into pieces that are dropped.
void BM_TableDraw(benchmark::State& state) {
  const std::vector<std::string_view> header = {"module", "path", "description"};
  const std::vector<std::string> cells = bench::list_cells(bench::size_of(state));
  const std::vector<std::string_view> views(cells.begin(), cells.end());
  for (auto _ : state) {
    std::size_t drawn = 0;
    table::draw(header, views, [&drawn](std::string_view piece) {
      drawn += piece.size();
      return true;
    });
    benchmark::DoNotOptimize(drawn);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TableDraw)->Apply(bench::sizes_1_to_10000);

// The width of one cell of N characters, every one of which is decoded and classified.
void BM_DisplayWidth(benchmark::State& state) {
  const std::string cell = bench::long_name(bench::size_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(table::display_width(cell));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DisplayWidth)->Apply(bench::sizes_1_to_10000);

}  // namespace
