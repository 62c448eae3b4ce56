#!/usr/bin/env bash
# Static analysis of src/, tests/ and fuzz/: clang-tidy with the checks in
# .clang-tidy, then cppcheck. Exits non-zero on any finding of either.
#
#   tools/lint.sh [BUILD_DIR]        default: build
#
# clang-tidy takes each unit's flags from BUILD_DIR/compile_commands.json
# (configured here when missing); fuzz/quorvel_fuzz.cpp is not in a normal
# build, so clang-tidy borrows the flags of its neighbours in src/.
# Needs cmake, clang-tidy, cppcheck and GoogleTest's headers.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build=${1:-build}
[[ -e $build/compile_commands.json ]] || cmake -S . -B "$build" > /dev/null

# The Windows unit needs Windows' headers: its cross build, with warnings as
# errors, checks it instead.
mapfile -t sources < <(find src tests fuzz -name '*.cpp' ! -name PlatformWindows.cpp | sort)

status=0
echo "lint: clang-tidy on ${#sources[@]} files"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
printf '%s\n' "${sources[@]}" | xargs -P 2 -n 1 clang-tidy -p "$build" --quiet > "$log" 2>&1 || status=1
# clang-tidy counts the warnings it hides in system headers on standard error: drop that line.
grep -v '^[0-9]* warnings\? generated\.$' "$log" || true

echo "lint: cppcheck"
cppcheck --enable=warning,performance,portability --library=googletest --inline-suppr --error-exitcode=1 \
    --std=c++17 --language=c++ --quiet -j 2 \
    -I src -I tests -DQUORVEL_COMMAND='"quorvel"' -DQUORVEL_BINARY='"quorvel"' -DQUORVEL_DATA_DIR='"data"' -DQUORVEL_FUZZ_DIR='"fuzz"' \
    src tests fuzz || status=1

if ((status == 0)); then
    echo "lint: no finding"
else
    echo "lint: findings above" >&2
fi
exit "$status"
