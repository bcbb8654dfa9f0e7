#pragma once

#include <CLI/CLI.hpp>

#include "cli/commands.h"

// The command-line definition on CLI11 and the conversion of its parse result into `Cli`.
namespace cli {}  // namespace cli
