#include <benchmark/benchmark.h>

#include "generators/registry.h"
#include "micro/inputs.h"

namespace {

using generators::registry::RegistryEntry;

// Writing the registry file: sort by name, one line per entry.
void BM_RegistryContent(benchmark::State& state) {
  const std::vector<RegistryEntry> entries = bench::registry_entries(bench::size_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(generators::registry::registry_content(entries));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RegistryContent)->Apply(bench::sizes_1_to_10000);

// Reading it back: every make module and every list reads the whole registry.
void BM_ParseRegistry(benchmark::State& state) {
  const std::string text =
      generators::registry::registry_content(bench::registry_entries(bench::size_of(state)));
  if (generators::registry::parse_registry(text).entries.size() != bench::size_of(state)) {
    state.SkipWithError("the registry text does not read back whole");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(generators::registry::parse_registry(text));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseRegistry)->Apply(bench::sizes_1_to_10000);

}  // namespace
