#!/usr/bin/env bash
# The simulator from its command line: a sample print runs to "0" with a frame
# and a timeline row per layer, layers counted from 1 everywhere, and logs
# no error up to the shutdown; an abort ends with status 2 and the light off
# at once, and SIGINT or SIGTERM ends a print as an abort does, with a status
# that names the signal; the progress shows homing, pauses, resumes, aborts
# and the remaining time's change of method; the summary's figures hold; a test
# pattern and a mask grid each give their frame; a print with a correction
# file and a mask applies both; a bad command line is refused. The engine's
# own traces stay out of the output, in a file the summary names.
set -u
sim=("$@") # the simulator, behind an emulator in a cross build
# Named for this process like every test's scratch root, so that the next test
# run removes it should this script be killed before its trap runs.
root=$(mktemp -d "${TMPDIR:-/tmp}/talviks-test.$(stat -Lc %i /proc/self/ns/pid).$$.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# The column of a timeline, by its header's name, without the header.
column() { awk -F, -v name="$2" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) c = i; next } { print $c }' "$1"; }
# A summary's time beyond the waits and the motion is never negative.
check_beyond() {
  local beyond low
  beyond=$(grep '^Per-layer time beyond the waits and the motion' "$1")
  low=$(sed -E 's/.*ms, (-?[0-9.]+) to .*/\1/' <<<"$beyond")
  [[ $low != -* ]] || fail "a layer took less than its waits and motion: $beyond"
}
# The colour type of a PNG file: 0 gray, 2 RGB.
png_colour() { od -An -tu1 -j25 -N1 "$1" | tr -d ' '; }

"${sim[@]}" --make-sample "$root/sample.qds" --layers 3 >/dev/null || fail "no sample"
"${sim[@]}" --make-sample "$root/long.qds" --layers 12 >/dev/null || fail "no long sample"
mkdir -p "$root/b"

# A scratch root that does not exist yet is made.
a=$root/a/not/yet/made
TALVIKS_ROOT=$a "${sim[@]}" --speed 200 --quiet --out "$a/out" "$root/sample.qds" >"$root/a.txt" 2>&1
status=$?
[ $status -eq 0 ] || { cat "$root/a.txt"; fail "print ended with $status"; }
grep -q '^Result: 0$' "$root/a.txt" || fail "no result line"
[ "$(cd "$a/out" && echo frame-*.png)" = "frame-0001.png frame-0002.png frame-0003.png" ] ||
  fail "frames not named by their layers from 1: $(ls "$a/out")"
[ "$(column "$a/out/timeline.csv" layer | tr '\n' ' ')" = "1 2 3 " ] || fail "timeline rows not layers 1 to 3"
# The sample's base layers fall from 3000 ms: the timeline holds this print's requests.
[ "$(column "$a/out/timeline.csv" requested_ms | tr '\n' ' ')" = "3000 2928 2857 " ] || fail "wrong requests"
# The sample's layers are gray, carried in one byte of the frame buffer.
[ "$(png_colour "$a/out/frame-0002.png")" = 0 ] || fail "frames are not gray"
grep -q '0 shorter than requested' "$root/a.txt" || fail "an exposure was short"
check_beyond "$root/a.txt"
grep -q "^Frames: 3 written: $a/out$" "$root/a.txt" || { cat "$root/a.txt"; fail "no frame count"; }
grep -qE '^Peak memory: [0-9]+\.[0-9] MB \(resident\)$' "$root/a.txt" || fail "no peak memory"
grep -q '^Exposure priority: ' "$root/a.txt" || fail "no word of the exposures' priority"
grep -q "^Engine traces: $a/engine-traces.txt$" "$root/a.txt" || fail "no word of the engine's traces"
grep -q 'smem_len' "$a/engine-traces.txt" || fail "the engine's traces are not in their file"
grep -q 'smem_len' "$root/a.txt" && fail "the engine's traces reached the simulator's output"
grep '\[ERRO\]' "$a/data/var/TalvikS.log" && fail "a print that went well logged an error"

TALVIKS_ROOT=$root/b "${sim[@]}" --speed 200 --no-frames --abort-at 2 --out "$root/b/out" "$root/sample.qds" \
    >"$root/b.txt" 2>&1
status=$?
[ $status -eq 2 ] || { cat "$root/b.txt"; fail "abort ended with $status"; }
grep -q 'aborted' "$root/b.txt" || fail "no abort result"
grep -q '^Abort asked during the exposure of layer 2$' "$root/b.txt" || fail "the abort is not in the progress"
grep -q '^Aborted$' "$root/b.txt" || fail "the end of the abort is not in the progress"
grep -q 'Abort to light off' "$root/b.txt" || fail "no abort latency"
[ "$(column "$root/b/out/timeline.csv" layer | tr '\n' ' ')" = "1 2 " ] || fail "not aborted in layer 2"
[ "$(ls "$root/b/out" | grep -c png)" -eq 0 ] || fail "frames written with --no-frames"
grep -q '^Frames: (not written)$' "$root/b.txt" || fail "no word of the frames not written"

# Ctrl-C or a service stop during the print ends it as an abort does: the
# light off, the summary with the signal, a status that names it, every
# frame whole. (A background job starts with SIGINT ignored; not this one.)
for sig in INT TERM; do
  s=$root/signal-$sig
  (trap - INT; TALVIKS_ROOT=$s exec "${sim[@]}" --speed 20 --out "$s/out" "$root/long.qds") >"$s.txt" 2>&1 &
  print=$!
  for _ in $(seq 3000); do
    grep -qs 'UVLight Is Opened' "$s/data/var/TalvikS.log" && break
    sleep 0.01
  done
  kill -$sig $print
  wait $print
  status=$?
  number=$(kill -l $sig)
  [ $status -eq $((128 + number)) ] || { cat "$s.txt"; fail "SIG$sig ended the print with $status"; }
  grep -q "^Aborted by signal $number (" "$s.txt" || { cat "$s.txt"; fail "SIG$sig: no abort in the progress"; }
  grep -q '^Result: aborted' "$s.txt" || fail "SIG$sig: no abort result"
  grep -q "^Stopped by signal $number (.*): the print ended as an abort$" "$s.txt" || fail "SIG$sig: not in the summary"
  sed -n "/Signal $number (/,\$p" "$s/data/var/TalvikS.log" | grep -q 'Printer UVLight Is Closed' ||
    fail "SIG$sig: the light's switch-off is not logged after the signal"
  # The light's last switch, as the display controller saw it: off.
  [[ $(column "$s/out/timeline.csv" light_off_s | tail -1) != -* ]] || fail "SIG$sig: the light was left on"
  [ -z "$(find "$s/out" -name '*.png' -size 0)" ] || fail "SIG$sig: an empty frame was left"
  for frame in $(column "$s/out/timeline.csv" frame); do
    [ -s "$s/out/$frame" ] || fail "SIG$sig: frame $frame is missing"
  done
done

# The progress of a print with a pause, as a log (not a terminal) gets it.
p=$root/p
TALVIKS_ROOT=$p "${sim[@]}" --speed 200 --no-frames --pause-at 2 --resume-after 1000 "$root/long.qds" >"$p.txt" 2>&1 ||
  { cat "$p.txt"; fail "the paused print failed"; }
first=$(grep -m1 '^layer ' "$p.txt")
[[ $first == "layer 1/12  homing "* ]] || { cat "$p.txt"; fail "the first line is not homing: $first"; }
grep -q 'Z 150.000' "$p.txt" && fail "the plate's height was shown before homing"
grep -q '^Pause asked during layer 2: the print pauses after it$' "$p.txt" || { cat "$p.txt"; fail "no pause asked"; }
grep -qE '^Paused after layer 2 at Z [0-9.]+ mm; resuming in 1.0 s$' "$p.txt" || fail "no pause in the progress"
grep -q '^Resumed: back to the working height for layer 3$' "$p.txt" || fail "no resume in the progress"
# The remaining time is the settings' estimate ("~") until a layer was measured, and says when it changes.
grep -q '^Remaining time from here on: the measured time of a layer' "$p.txt" || { cat "$p.txt"; fail "no change of estimate"; }
sed -n '/^Remaining time from here on/q; /^layer /p' "$p.txt" | grep -qv 'remaining ~' && fail "an estimate without ~"
sed -n '/^Remaining time from here on/,$p' "$p.txt" | grep -q 'remaining ~' && fail "a measured remaining time with ~"
for n in 1 2 3 4 5 6 7 8 9 10 11 12; do
  grep -q "^layer $n/12 " "$p.txt" || fail "no progress line for layer $n"
done
# Progress lines stop with the print: none after it shows another layer count.
grep '^layer ' "$p.txt" | grep -qv '^layer [0-9]*/12 ' && { cat "$p.txt"; fail "a progress line after the print"; }
grep -q '^Per-layer time beyond the waits and the motion: .* (layers followed by a pause left out)$' "$p.txt" ||
  fail "the pause is not left out"

check_beyond "$p.txt"

# The log moved aside in the middle of a print, as a rotation does: the
# timeline still holds every layer's waits.
l=$root/l
TALVIKS_ROOT=$l "${sim[@]}" --speed 20 --quiet --no-frames "$root/sample.qds" >"$l.txt" 2>&1 &
print=$!
for _ in $(seq 3000); do
  grep -qs 'Layer\[1\]' "$l/data/var/TalvikS.log" && break
  sleep 0.01
done
mv "$l/data/var/TalvikS.log" "$l/data/var/TalvikS_1.log"
wait $print || { cat "$l.txt"; fail "the print with a moved log failed"; }
[ "$(column "$l/sim-out/timeline.csv" requested_ms | tr '\n' ' ')" = "3000 2928 2857 " ] ||
  { cat "$l/sim-out/timeline.csv"; fail "the timeline lost the waits of the moved log"; }

# Without real-time priority for the exposures the summary says so. The
# capability leaves only the simulator's own process.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  nice=(setpriv --bounding-set=-sys_nice --inh-caps=-sys_nice --)
else
  nice=() # an unprivileged user has no real-time priority
fi
r=$root/r
(ulimit -r 0 && TALVIKS_ROOT=$r "${nice[@]}" "${sim[@]}" --speed 200 --quiet --no-frames "$root/sample.qds") >"$r.txt" 2>&1 ||
  { cat "$r.txt"; fail "the print without priority failed"; }
grep -q '^Exposure priority: 3 of 3 exposures WITHOUT real-time priority (Operation not permitted)' "$r.txt" ||
  { cat "$r.txt"; fail "no word of the missing priority"; }
grep -q 'Exposure timing without real-time priority' "$r/data/var/TalvikS.log" || fail "no warning in the log"
check_beyond "$r.txt"
check_beyond "$l.txt"

mkdir -p "$root/c"
TALVIKS_ROOT=$root/c "${sim[@]}" --pattern gridline --out "$root/c/out" >"$root/c.txt" 2>&1 || { cat "$root/c.txt"; fail "no pattern"; }
[ -s "$root/c/out/pattern-gridline.png" ] || fail "no pattern frame"
[ "$(png_colour "$root/c/out/pattern-gridline.png")" = 0 ] || fail "the pattern frame is not gray"
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
grep -qE '^Peak memory: [0-9.]+ MB \(resident\)$' "$root/e.txt" || fail "no peak memory in the summary"
[ "$(grep -c 'Correction Image Time' "$root/e/data/var/TalvikS.log")" -eq 2 ] || fail "not corrected on every layer"
[ "$(grep -c 'Add Mask Image Time' "$root/e/data/var/TalvikS.log")" -eq 2 ] || fail "not masked on every layer"
cmp -s "$root/d/out/frame-0001.png" "$root/e/out/frame-0001.png" && fail "correction and mask changed nothing"
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
for option in --pause-at --abort-at; do
  TALVIKS_ROOT=$root/z "${sim[@]}" --speed 200 --quiet --no-frames "$option" 0 "$root/sample.qds" >/dev/null 2>&1 &&
    fail "$option 0 was accepted: layers count from 1"
done
TALVIKS_ROOT= "${sim[@]}" "$root/sample.qds" >/dev/null 2>&1 && fail "ran without a scratch root"
echo "talviks-sim: ok"
