#!/usr/bin/env bash
# ./talviks demo builds only what the demonstration runs, with the parallel
# jobs TALVIKS_JOBS asks for. A copy of the script runs with stand-ins for
# cmake and the package query, so nothing is built or installed; the demo
# then stops for want of a simulator.
set -u
top=$1 # the source tree
work=$(mktemp -d "${TMPDIR:-/tmp}/talviks-demotest.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/tree" "$work/bin"
cp "$top/talviks" "$work/tree/"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$work/cmake-calls" >"$work/bin/cmake"
printf '#!/bin/sh\nprintf "install ok installed"\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/cmake" "$work/bin/dpkg-query"

TALVIKS_JOBS=2 TMPDIR=$work PATH="$work/bin:$PATH" "$work/tree/talviks" demo >"$work/out" 2>&1 &&
  fail "the demo ran without a simulator"
grep -qx -- "--build $work/tree/build -j 2 --target talviks-sim" "$work/cmake-calls" ||
  { cat "$work/cmake-calls" "$work/out"; fail "the demo does not build the simulator alone with 2 jobs"; }
[ "$(grep -c -- '--build' "$work/cmake-calls")" -eq 1 ] || fail "the demo builds more than once"
echo "talviks demo: ok"
