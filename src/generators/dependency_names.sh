#!/usr/bin/env bash
# Rewrites dependency_names.h beside it from a freshly generated project: `brintle new`, then
# uv resolves the project for every platform and lists the packages of its lock, runtime and
# dev, which are then normalised as package indexes compare names. Run it after a change to
# templates/project/pyproject.toml.j2, and review the diff.
#   src/generators/dependency_names.sh [BRINTLE]   (default build/brintle; UV names uv if it
#                                                    is not on the PATH)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
brintle=$(realpath "${1:-$here/../../build/brintle}")
uv=${UV:-uv}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$scratch" && "$brintle" new probe >/dev/null)
(cd "$scratch/probe" && "$uv" lock --quiet &&
  "$uv" export --quiet --frozen --all-groups --no-emit-project --no-hashes --no-header \
    --no-annotate --format requirements.txt) >"$scratch/requirements.txt"
# "name==1.0 ; marker" or "name[extra]==1.0": the name, lower-cased, each run of "-", "_" and
# "." as one "-".
names=$(sed -E 's/[][ ;=<>!~@].*//' "$scratch/requirements.txt" | grep . |
  tr '[:upper:]' '[:lower:]' | sed -E 's/[-_.]+/-/g' | LC_ALL=C sort -u)
count=$(wc -l <<<"$names")

{
  cat <<EOF
#pragma once

#include <array>
#include <string_view>

// Written by dependency_names.sh beside this file, from the lock of a new project: run it again
// rather than editing this list.
namespace generators::project {

/// Every package of a new project's resolved dependencies, runtime and dev, on every platform,
/// by normalised name: lower case, each run of "-", "_" and "." as one "-".
inline constexpr std::array<std::string_view, $count> kDependencyNames = {
EOF
  sed -E 's/.*/    "&",/' <<<"$names"
  cat <<EOF
};

}  // namespace generators::project
EOF
} >"$here/dependency_names.h"
echo "wrote $count names to $here/dependency_names.h"
