#!/usr/bin/env bash
# The simulator from its command line: a sample print runs to "0" with a frame
# and a timeline row per layer; an abort ends with status 2 and the light off
# at once; a test pattern and a mask grid each give their frame; a bad
# command line is refused. The engine's own traces stay out of the output,
# in a file the summary names.
set -u
sim=("$@") # the simulator, behind an emulator in a cross build
# Named for this process like every test's scratch root, so that the next test
# run removes it should this script be killed before its trap runs.
root=$(mktemp -d "${TMPDIR:-/tmp}/talviks-test.$(stat -Lc %i /proc/self/ns/pid).$$.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"${sim[@]}" --make-sample "$root/sample.qds" --layers 3 >/dev/null || fail "no sample"
mkdir -p "$root/a" "$root/b"

TALVIKS_ROOT=$root/a "${sim[@]}" --speed 200 --quiet --out "$root/a/out" "$root/sample.qds" >"$root/a.txt" 2>&1
status=$?
[ $status -eq 0 ] || { cat "$root/a.txt"; fail "print ended with $status"; }
grep -q '^Result: 0$' "$root/a.txt" || fail "no result line"
[ "$(ls "$root/a/out"/frame-*.png | wc -l)" -eq 3 ] || fail "not one frame per layer"
[ "$(tail -n +2 "$root/a/out/timeline.csv" | wc -l)" -eq 3 ] || fail "not one timeline row per layer"
grep -q '0 shorter than requested' "$root/a.txt" || fail "an exposure was short"
grep -q "^Engine traces: $root/a/engine-traces.txt$" "$root/a.txt" || fail "no word of the engine's traces"
grep -q 'smem_len' "$root/a/engine-traces.txt" || fail "the engine's traces are not in their file"
grep -q 'smem_len' "$root/a.txt" && fail "the engine's traces reached the simulator's output"

TALVIKS_ROOT=$root/b "${sim[@]}" --speed 200 --quiet --no-frames --abort-at 1 --out "$root/b/out" "$root/sample.qds" \
    >"$root/b.txt" 2>&1
status=$?
[ $status -eq 2 ] || { cat "$root/b.txt"; fail "abort ended with $status"; }
grep -q 'aborted' "$root/b.txt" || fail "no abort result"
grep -q 'Abort to light off' "$root/b.txt" || fail "no abort latency"
[ "$(ls "$root/b/out" | grep -c png)" -eq 0 ] || fail "frames written with --no-frames"

mkdir -p "$root/c"
TALVIKS_ROOT=$root/c "${sim[@]}" --pattern gridline --out "$root/c/out" >"$root/c.txt" 2>&1 || { cat "$root/c.txt"; fail "no pattern"; }
[ -s "$root/c/out/pattern-gridline.png" ] || fail "no pattern frame"
TALVIKS_ROOT=$root/c "${sim[@]}" --mask-grid 4x3 --out "$root/c/out" >"$root/c.txt" 2>&1 || { cat "$root/c.txt"; fail "no mask grid"; }
[ -s "$root/c/out/mask-4x3.png" ] || fail "no mask grid frame"
[ -s "$root/c/data/etc/mask-serial.png" ] || fail "no mask image saved"
grep -q '^180 210 210 240 $' "$root/c.txt" || fail "no cell levels"

"${sim[@]}" --pattern nonsense >/dev/null 2>&1 && fail "an unknown pattern was accepted"
"${sim[@]}" --mask-grid 0x3 >/dev/null 2>&1 && fail "an empty mask grid was accepted"
"${sim[@]}" --pattern abc "$root/sample.qds" >/dev/null 2>&1 && fail "a pattern and a print at once were accepted"
"${sim[@]}" --speed nonsense x.qds >/dev/null 2>&1 && fail "a bad speed was accepted"
TALVIKS_ROOT= "${sim[@]}" "$root/sample.qds" >/dev/null 2>&1 && fail "ran without a scratch root"
echo "talviks-sim: ok"
