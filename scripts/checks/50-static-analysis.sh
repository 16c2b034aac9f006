#!/usr/bin/env bash
# Static analysis: clang-tidy with the checked-in .clang-tidy over src/,
# tests/ (fuzz targets included) and tools/, then cppcheck over all of these
# and bench/. Any finding fails the check.
#
# bench/ is left to cppcheck alone: its measuring programs interpose the C
# library's allocator under its reserved names and read their own arguments
# with atoi, which clang-tidy's cert checks flag by design; they are not
# shipped.
set -euo pipefail
cd "$(dirname "$0")/../.."

# A clang configuration of every target; only its compile commands are used.
# The hidapi backend is built only in a configuration of its own; its
# commands for the files that the first one does not build are added, and
# each file keeps one command.
cmake -S . -B build/analysis -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DRXB540_BUILD_FUZZERS=ON -DRXB540_BUILD_BENCH=ON >/dev/null
cmake -S . -B build/analysis-hidapi -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DRXB540_PLATFORM=hidapi -DRXB540_BUILD_TESTS=OFF >/dev/null
python3 - build/analysis/compile_commands.json build/analysis-hidapi/compile_commands.json <<'PYTHON'
import json, sys
every, hidapi = (json.load(open(path)) for path in sys.argv[1:])
# One command per file: the library compiles the sources of board access and
# of the backend a second time for librxb540, with the same code; analysing
# them twice would only double the time (and clang-tidy 14's analyzer
# reports a false va_list finding when it meets one file twice in a run).
unique = []
known = set()
for entry in every + hidapi:
    if entry["file"] not in known:
        known.add(entry["file"])
        unique.append(entry)
json.dump(unique, open(sys.argv[1], "w"), indent=1)
PYTHON

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -p build/analysis -j 2 -quiet "$PWD/(src|tests|tools)/" >"$log" 2>&1; then
    cat "$log"
    echo "clang-tidy: findings above"
    exit 1
fi
# run-clang-tidy prints one command line per file (with a "[n/total]" prefix
# since clang 15).
echo "clang-tidy: clean ($(grep -c -- ' -p=build/analysis ' "$log") files)"

# Switched off:
#   useStlAlgorithm: a style preference for <algorithm> calls over plain loops;
#     the code keeps small plain loops on purpose.
#   missingIncludeSystem: cppcheck reads the system headers from its own
#     library files (googletest, std) instead.
# Single findings that are not faults carry an inline "cppcheck-suppress"
# with the reason beside it.
# cppcheck 2.11 and later follow only so many branches of a function unless
# told to follow all (and say so); this code is small enough for all.
depth=()
if cppcheck --help | grep -- '--check-level=' >/dev/null; then
    depth=(--check-level=exhaustive)
fi
cppcheck --project=build/analysis/compile_commands.json --std=c++17 \
    --enable=warning,style,performance,portability --library=googletest --inline-suppr \
    --suppress=useStlAlgorithm --suppress=missingIncludeSystem "${depth[@]}" \
    --error-exitcode=1 -q -j 2
echo "cppcheck: clean"
