#include <benchmark/benchmark.h>

#include "generators/main_py.h"
#include "micro/inputs.h"

namespace {

// `edits`: whether the text must come back edited, so that a broken input cannot quietly
// measure the wrong road.
void run_insert(benchmark::State& state, const std::string& text, bool edits = true) {
  if (generators::main_py::insert_auto_mount(text, "src").has_value() != edits) {
    state.SkipWithError("the input does not take the road this benchmark is named after");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(generators::main_py::insert_auto_mount(text, "src"));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// A long application body after the call: the common shape of a grown main.py.
void BM_InsertAutoMount_Body(benchmark::State& state) {
  run_insert(state, bench::main_py(bench::size_of(state)));
}
BENCHMARK(BM_InsertAutoMount_Body)->Apply(bench::sizes_1_to_10000);

// A long import header: the registry import is placed inside the project's own run.
void BM_InsertAutoMount_Imports(benchmark::State& state) {
  run_insert(state, bench::main_py_with_imports(bench::size_of(state)));
}
BENCHMARK(BM_InsertAutoMount_Imports)->Apply(bench::sizes_1_to_10000);

// A main.py that already has the block: what every make module after the first one sees.
void BM_InsertAutoMount_AlreadyThere(benchmark::State& state) {
  std::string text = bench::main_py(bench::size_of(state));
  text += generators::main_py::kAutoMountBlock.front();
  text += '\n';
  run_insert(state, text, /*edits=*/false);
}
BENCHMARK(BM_InsertAutoMount_AlreadyThere)->Apply(bench::sizes_1_to_10000);

}  // namespace
