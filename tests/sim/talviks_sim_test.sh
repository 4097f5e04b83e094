#!/usr/bin/env bash
# The simulator from its command line: a sample print runs to "0" with a frame
# and a timeline row per layer; an abort ends with status 2 and the light off
# at once; a test pattern and a mask grid each give their frame; a print
# with a correction file and a mask applies both; a bad command line is refused. The engine's own traces stay out of the output,
# in a file the summary names.
set -u
sim=("$@") # the simulator, behind an emulator in a cross build
root=$(mktemp -d "${TMPDIR:-/tmp}/talviks-simtest.XXXXXX")
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

# A print with a correction file and a mask on a small panel: both steps
# run on every layer, the frames differ from the plain print's, and the
# summary gives the peak memory. Files that do not fit the panel are refused.
small=(--resolution 64x40)
mkdir -p "$root/d" "$root/e"
"${sim[@]}" "${small[@]}" --make-sample "$root/small.qds" --layers 2 >/dev/null || fail "no small sample"
"${sim[@]}" "${small[@]}" --make-correction "$root/small.corbin" >/dev/null || fail "no correction file"
[ "$(stat -c %s "$root/small.corbin")" -eq $((64 * 40 * 8)) ] || fail "the correction file is not two arrays of 64 x 40"
TALVIKS_ROOT=$root/d "${sim[@]}" "${small[@]}" --mask-grid 4x3 --out "$root/d/grid" >/dev/null 2>&1 || fail "no small mask"
cp "$root/d/data/etc/mask-serial.png" "$root/small-mask.png"
TALVIKS_ROOT=$root/d "${sim[@]}" "${small[@]}" --speed 200 --quiet --out "$root/d/out" "$root/small.qds" >/dev/null 2>&1 ||
    fail "the plain small print failed"
TALVIKS_ROOT=$root/e "${sim[@]}" "${small[@]}" --correction "$root/small.corbin" --mask "$root/small-mask.png" \
    --speed 200 --quiet --out "$root/e/out" "$root/small.qds" >"$root/e.txt" 2>&1
status=$?
[ $status -eq 0 ] || { cat "$root/e.txt"; fail "the corrected print ended with $status"; }
grep -qE '^Peak memory: [0-9.]+ MB$' "$root/e.txt" || fail "no peak memory in the summary"
[ "$(grep -c 'Correction Image Time' "$root/e/data/var/TalvikS.log")" -eq 2 ] || fail "not corrected on every layer"
[ "$(grep -c 'Add Mask Image Time' "$root/e/data/var/TalvikS.log")" -eq 2 ] || fail "not masked on every layer"
cmp -s "$root/d/out/frame-0000.png" "$root/e/out/frame-0000.png" && fail "correction and mask changed nothing"
head -c 1000 "$root/small.corbin" >"$root/short.corbin"
TALVIKS_ROOT=$root/e "${sim[@]}" "${small[@]}" --correction "$root/short.corbin" "$root/small.qds" >"$root/e.txt" 2>&1 &&
    fail "a short correction file was accepted"
grep -q 'holds 1000 bytes' "$root/e.txt" || fail "no word of the short correction file"
TALVIKS_ROOT=$root/e "${sim[@]}" --correction "$root/small.corbin" --mask "$root/small-mask.png" "$root/sample.qds" \
    >"$root/e.txt" 2>&1 && fail "files of another panel were accepted"

"${sim[@]}" --pattern nonsense >/dev/null 2>&1 && fail "an unknown pattern was accepted"
"${sim[@]}" --mask-grid 0x3 >/dev/null 2>&1 && fail "an empty mask grid was accepted"
"${sim[@]}" --pattern abc "$root/sample.qds" >/dev/null 2>&1 && fail "a pattern and a print at once were accepted"
"${sim[@]}" --speed nonsense x.qds >/dev/null 2>&1 && fail "a bad speed was accepted"
TALVIKS_ROOT= "${sim[@]}" "$root/sample.qds" >/dev/null 2>&1 && fail "ran without a scratch root"
echo "talviks-sim: ok"
