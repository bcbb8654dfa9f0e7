#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "generators/registry.h"

// Inputs shaped like a real project's files, scaled by the benchmark's size argument.
namespace bench {

/// Sizes 1, 10, 100, 1,000 and 10,000, with the size as the complexity parameter.
inline void sizes_1_to_10000(benchmark::internal::Benchmark* benchmark) {
  benchmark->RangeMultiplier(10)->Range(1, 10'000)->Complexity();
}

/// The size argument of a running benchmark.
inline std::size_t size_of(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0));
}

/// The name of the i-th module: "feature_00042"; byte order equals numeric order.
std::string module_name(std::size_t i);

/// `count` registry entries of the source "src", in reverse name order so that sorting has
/// work to do.
std::vector<generators::registry::RegistryEntry> registry_entries(std::size_t count);

/// A main.py as a project made by hand would have it: a docstring, import groups, the
/// application call, then `body_lines` lines of route handlers; no auto-mount block.
std::string main_py(std::size_t body_lines);

/// A main.py whose first import group holds `import_lines` sorted imports.
std::string main_py_with_imports(std::size_t import_lines);

/// The cells of `count` rows of `list`, one row after another: name, import path, description.
std::vector<std::string> list_cells(std::size_t count);

/// A name of `length` characters mixing camel case, acronyms, digits and separators.
std::string long_name(std::size_t length);

}  // namespace bench
