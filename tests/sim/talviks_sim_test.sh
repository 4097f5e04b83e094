#!/usr/bin/env bash
# The simulator from its command line: a sample print runs to "0" with a frame
# and a timeline row per layer, layers counted from 1 everywhere, and logs
# no error up to the shutdown; an abort ends with status 2 and the light off
# at once, and SIGINT or SIGTERM ends a print as an abort does, with a status
# that names the signal; the progress shows homing, pauses, resumes, aborts
# and the remaining time's change of method; the summary's figures hold; a test
# pattern and a mask grid each give their frame; a print with a correction
# file and a mask applies both, also when they already lie in the scratch
# root; a refused file leaves the earlier print's results; a bad command line,
# or an option that does not apply, is refused in one line. The engine's own
# traces stay out of the output, in a file the summary names.
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

# At the slowest speed a stop is still answered in real time: a SIGTERM during
# the boot's projector power-up (a machine second, 100 real ones at 0.01)
# ends the run within seconds, the rest of it at the top speed.
s=$root/slow
(trap - INT; TALVIKS_ROOT=$s exec "${sim[@]}" --speed 0.01 --out "$s/out" "$root/sample.qds") >"$s.txt" 2>&1 &
print=$!
for _ in $(seq 3000); do grep -qs 'Set Motor Micro Step' "$s/data/var/TalvikS.log" && break; sleep 0.01; done
kill -TERM $print
for _ in $(seq 300); do kill -0 $print 2>/dev/null || break; sleep 0.1; done
kill -0 $print 2>/dev/null && { kill -KILL $print; fail "at --speed 0.01 a SIGTERM left the run going for 30 s"; }
wait $print
status=$?
[ $status -eq 143 ] || { cat "$s.txt"; fail "SIGTERM at --speed 0.01 ended the run with $status"; }

# A signal as the print ends, while its last (4K) frames are written, is the run's too.
k=$root/k
"${sim[@]}" --make-sample "$root/k.qds" --layers 2 --resolution 3840x2160 >/dev/null || fail "no 4K sample"
(trap - INT; TALVIKS_ROOT=$k exec "${sim[@]}" --speed 200 --resolution 3840x2160 --out "$k/out" "$root/k.qds") >"$k.txt" 2>&1 &
print=$!
for _ in $(seq 3000); do
  grep -qs 'printFinished' "$k/data/var/TalvikS.log" && break
  sleep 0.01
done
if kill -TERM $print 2>/dev/null; then
  wait $print
  status=$?
  [ $status -eq 143 ] || { cat "$k.txt"; fail "SIGTERM as the print ended: status $status"; }
else
  wait $print
  echo "skipped: the print ended before its signal"
fi

# The progress of a print with a pause, as a log (not a terminal) gets it,
# with the simulator's main thread held back for a while after layer 9.
p=$root/p
TALVIKS_SIM_TEST_HOLD_PROGRESS=9:600 TALVIKS_ROOT=$p "${sim[@]}" --speed 200 --no-frames --pause-at 2 --resume-after 1000 "$root/long.qds" >"$p.txt" 2>&1 ||
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
# A layer's line shows once, with the plate's height at its exposure, as the timeline has it.
for n in 1 2 3 4 5 6 7 8 9 10 11 12; do
  z=$(awk -F, -v n=$n '$1 == n { printf "%.3f", $2 }' "$p/sim-out/timeline.csv")
  [ "$(grep -c "^layer $n/12  Z " "$p.txt")" -eq 1 ] || { cat "$p.txt"; fail "layer $n shown more than once"; }
  grep -qE "^layer $n/12  Z +$z mm " "$p.txt" || { cat "$p.txt"; fail "layer $n not shown at its exposure's Z $z"; }
done
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
TALVIKS_ROOT=$root/e "${sim[@]}" --resolution 32x20 --correction "$root/small.corbin" "$root/small.qds" >"$root/e.txt" 2>&1 &&
    fail "a correction file of a larger panel was accepted"
grep -q 'holds 20480 bytes; a correction for 32 x 20 pixels' "$root/e.txt" || { cat "$root/e.txt"; fail "no word of the long correction file"; }
# Files that already lie in their places in the scratch root are used as they are.
TALVIKS_ROOT=$root/d "${sim[@]}" "${small[@]}" --mask "$root/d/data/etc/mask-serial.png" --speed 200 --quiet --no-frames \
    "$root/d/data/model/small.qds" >"$root/d.txt" 2>&1 || { cat "$root/d.txt"; fail "files in their places were not used"; }

# A run into a folder of an earlier, longer run: its frames and timeline are
# this run's only; files of other names stay.
w=$root/w
TALVIKS_ROOT=$w "${sim[@]}" --speed 200 --quiet --out "$w/out" "$root/long.qds" >/dev/null 2>&1 || fail "the long print failed"
touch "$w/out/notes.txt" "$w/out/frame-x.png"
TALVIKS_ROOT=$w "${sim[@]}" --speed 200 --quiet --out "$w/out" "$root/sample.qds" >"$w.txt" 2>&1 || { cat "$w.txt"; fail "the second print failed"; }
[ "$(cd "$w/out" && echo *)" = "frame-0001.png frame-0002.png frame-0003.png frame-x.png notes.txt timeline.csv" ] ||
  fail "frames of the earlier print were left, or others removed: $(ls "$w/out")"
# A file the printer refuses leaves the earlier print's results as they were.
TALVIKS_ROOT=$w "${sim[@]}" --quiet --out "$w/out" "$root/small.qds" >"$w.txt" 2>&1 && fail "a file of another panel was printed"
[ "$(cd "$w/out" && ls -A | tr '\n' ' ')" = "frame-0001.png frame-0002.png frame-0003.png frame-x.png notes.txt timeline.csv " ] ||
  fail "a refused file cost the earlier print's results: $(ls -A "$w/out")"
# What a killed run left set aside is put back first, or named where a file
# of its name is there again; a user's folder of an output's name stops the
# run before the print, nothing moved; a user's file that looks like a
# writer's temporary stays.
mkdir -p "$w/out/.earlier-print.AbC123" "$w/out/.earlier-print.XyZ789" "$w/out/frame-0007.png"
touch "$w/out/.earlier-print.AbC123/frame-0009.png" "$w/out/.earlier-print.XyZ789/timeline.csv" \
  "$w/out/frame-0007.png/mine" "$w/out/.timeline.csv.backup"
TALVIKS_ROOT=$w "${sim[@]}" --quiet --out "$w/out" "$root/sample.qds" >"$w.txt" 2>&1 && fail "a print ran over a user's folder"
[ "$(cat "$w.txt")" = "talviks-sim: an earlier print's files stay in $w/out/.earlier-print.XyZ789: $w/out/timeline.csv is already there
talviks-sim: cannot print into $w/out: $w/out/frame-0007.png is a folder, not a frame or timeline of an earlier print" ] ||
  { cat "$w.txt"; fail "no line for the leftovers or the user's folder"; }
[ "$(cd "$w/out" && ls -A | tr '\n' ' ')" = ".earlier-print.XyZ789 .timeline.csv.backup frame-0001.png frame-0002.png \
frame-0003.png frame-0007.png frame-0009.png frame-x.png notes.txt timeline.csv " ] && [ -e "$w/out/frame-0007.png/mine" ] ||
  fail "files were moved or lost: $(ls -A "$w/out")"
rm -r "$w/out/frame-0007.png" "$w/out/.earlier-print.XyZ789"
TALVIKS_ROOT=$w "${sim[@]}" --speed 200 --quiet --out "$w/out" "$root/sample.qds" >"$w.txt" 2>&1 || { cat "$w.txt"; fail "the third print failed"; }
[ "$(cd "$w/out" && ls -A | tr '\n' ' ')" = ".timeline.csv.backup frame-0001.png frame-0002.png frame-0003.png frame-x.png notes.txt timeline.csv " ] ||
  fail "a user's file was removed, or a set-aside folder left: $(ls -A "$w/out")"
# One run at a time per folder: a second is refused at once, the first keeps every frame.
(TALVIKS_ROOT=$w exec "${sim[@]}" --speed 20 --quiet --out "$w/both" "$root/long.qds") >"$w-a.txt" 2>&1 &
first=$!
for _ in $(seq 3000); do [ -e "$w/both/frame-0004.png" ] && break; sleep 0.01; done
TALVIKS_ROOT=$w-b "${sim[@]}" --speed 200 --quiet --out "$w/both" "$root/sample.qds" >"$w.txt" 2>&1 && fail "two runs shared a folder"
[ "$(cat "$w.txt")" = "talviks-sim: --out: $w/both is in use by another run of the simulator" ] || { cat "$w.txt"; fail "no word of the folder in use"; }
wait $first || { cat "$w-a.txt"; fail "the first run into a shared folder failed"; }
[ "$(cd "$w/both" && echo frame-*.png | wc -w)" -eq 12 ] || fail "the first run lost frames: $(ls "$w/both")"

# Refusals name the file as given and the cause in words; a file that is
# missing or a folder gets one line before the scratch root is made.
f=$root/f
: >"$root/empty.qds"
for input in "$root/empty.qds:it is empty" \
             "$root/small.qds:it is sliced for 64x40 pixels; the machine's panel is 1920x1080 (--resolution sets another)"; do
  TALVIKS_ROOT=$f "${sim[@]}" --quiet "${input%%:*}" >"$f.txt" 2>&1 && fail "${input%%:*} was printed"
  grep -qxF "talviks-sim: the printer refused ${input%%:*}: ${input#*:}" "$f.txt" || { cat "$f.txt"; fail "no cause for ${input%%:*}"; }
done
printf 'head of svgx\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\034\0\0\0<svg>\n<g id="layer-0">\n</g>\n</svg>\n' >"$root/bare.svgx"
TALVIKS_ROOT=$f "${sim[@]}" --quiet "$root/bare.svgx" >"$f.txt" 2>&1 && fail "a file without print parameters was printed"
grep -qx "talviks-sim: the printer refused $root/bare.svgx: it has no print parameters (no <printparams> element)" "$f.txt" ||
  { cat "$f.txt"; fail "no cause for the file without print parameters"; }
for input in "$root/none.qds:there is no file $root/none.qds" "$root/b:$root/b is a folder, not a slice file"; do
  TALVIKS_ROOT=$root/unmade "${sim[@]}" --quiet "${input%%:*}" >"$f.txt" 2>&1 && fail "${input%%:*} was printed"
  [ "$(cat "$f.txt")" = "talviks-sim: ${input#*:}" ] || { cat "$f.txt"; fail "not one clear line for ${input%%:*}"; }
  [ -e "$root/unmade" ] && fail "the scratch root was made for ${input%%:*}"
done

# Layer counts the printer cannot count are refused as the file declares them.
cp "$root/sample.qds" "$root/huge.qds"
general=$(od -An -tu4 -j24 -N4 "$root/huge.qds" | tr -d ' ')
printf '\377\377\377\377' | dd of="$root/huge.qds" bs=1 seek=$((general + 356)) conv=notrunc status=none
for count in 99999999999 twelve; do
  printf 'head of svgx\0\0\0\0\0\0\0\0\0\0\0\0\034\0\0\0<svg>\n<printparams layercount="%s">\n</printparams>\n</svg>\n' \
    $count >"$root/$count.svgx"
done
for input in "$root/huge.qds:it declares 4294967295 layers, more than the printer counts (2147483647 at most)" \
             "$root/99999999999.svgx:it declares 99999999999 layers, more than the printer counts (2147483647 at most)" \
             "$root/twelve.svgx:its layer count \"twelve\" is no whole number"; do
  TALVIKS_ROOT=$f "${sim[@]}" --speed 200 --quiet --no-frames "${input%%:*}" >"$f.txt" 2>&1 && fail "${input%%:*} was printed"
  grep -qxF "talviks-sim: cannot print ${input%%:*}: ${input#*:}" "$f.txt" || { cat "$f.txt"; fail "no declared count for ${input%%:*}"; }
done

# A file cut short fails at the first layer past the cut: the result says
# what that means, and the cause, with the layer counted from 1.
head -c 9000 "$root/long.qds" >"$root/cut.qds"
TALVIKS_ROOT=$f "${sim[@]}" --speed 200 --quiet --no-frames "$root/cut.qds" >"$f.txt" 2>&1
status=$?
[ $status -eq 23 ] || { cat "$f.txt"; fail "the cut print ended with $status"; }
next=$(grep -c . "$f/sim-out/timeline.csv") # the layers exposed, plus one for the header
grep -q "^Result: 00020003 (layer failure: " "$f.txt" || { cat "$f.txt"; fail "no meaning of the result"; }
grep -qE "^Cause: layer $next: its raster of [0-9]+ bytes at byte [0-9]+ runs past the end of the file \(9000 bytes\)$" "$f.txt" ||
  { cat "$f.txt"; fail "no cause of the failure at layer $next"; }
# A layer the renderer cannot read, and a homing that fails: the causes say so.
{ printf 'head of svgx\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\034\0\0\0<svg>\n'
  printf '<printparams layerheight="0.05" volume="1" layercount="2" materialname="r" lightintensity="1" printmode="0">\n'
  printf '<projectiontime attachlayer="0" buildinlayer="0" attachtime="1" basetime="1"/>\n</printparams>\n'
  printf '<g id="layer-0" fill="white">\n<path d="M -1 -1 L 1 -1 L 1 1 Z"/>\n</g>\n'
  printf '<g id="layer-1" fill="white">\n<path d="M -1 -1 L 1 -1 L 1 1 Z">\n</g>\n</svg>\n'; } >"$root/unclosed.svgx"
TALVIKS_ROOT=$f "${sim[@]}" --speed 200 --quiet --no-frames "$root/unclosed.svgx" >"$f.txt" 2>&1
status=$?
[ $status -eq 23 ] || { cat "$f.txt"; fail "the unreadable layer ended with $status"; }
grep -qx "Cause: layer 2: its SVG cannot be read (the layer renderer cannot load it)" "$f.txt" ||
  { cat "$f.txt"; fail "no cause for the unreadable layer"; }
TALVIKS_SIM_TEST_STALL=1 TALVIKS_ROOT=$f "${sim[@]}" --speed 200 --quiet --no-frames "$root/sample.qds" >"$f.txt" 2>&1
status=$?
[ $status -eq 22 ] || { cat "$f.txt"; fail "the stalled homing ended with $status"; }
grep -qx "Cause: while the axis was homed, before layer 1" "$f.txt" || { cat "$f.txt"; fail "the homing not named"; }

# --out must be a folder files can be made in: checked before the print.
TALVIKS_ROOT=$f "${sim[@]}" --quiet --out "$root/sample.qds" "$root/sample.qds" >"$f.txt" 2>&1 && fail "--out a file was taken"
[ "$(cat "$f.txt")" = "talviks-sim: --out: $root/sample.qds is a file, not a folder" ] || { cat "$f.txt"; fail "no word of --out a file"; }

# A full disk: a 64 KiB file system, in a mount namespace of this test's own.
# Nothing half-written is left, nothing unwritten counted as written, and the
# run ends non-zero saying what could not be written. Likewise a read-only --out.
# A scratch root too small for a file it is given says so and keeps no part of it.
mkdir -p "$root/full" "$root/ro" "$root/tiny"
head -c 400000 /dev/zero >"$root/big.qds"
truncate -s $((1920 * 1080 * 8)) "$root/big.corbin"
if unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private sh -c '
    mount -t tmpfs -o size=64k tmpfs "$1/full" && mount -t tmpfs -o ro,size=64k tmpfs "$1/ro" &&
      mount -t tmpfs -o size=96k tmpfs "$1/tiny" || exit 99
    shift
    TALVIKS_ROOT=$0/tiny "$@" --quiet "$0/big.qds" >"$0/tiny.txt" 2>&1
    TALVIKS_ROOT=$0/tiny "$@" --quiet --correction "$0/big.corbin" "$0/sample.qds" >>"$0/tiny.txt" 2>&1
    ls -A "$0/tiny/data/model" "$0/tiny/data/etc" >"$0/tiny.ls"
    TALVIKS_ROOT=$0/full "$@" --speed 200 --quiet "$0/long.qds" >"$0/full.txt" 2>&1
    echo $? >"$0/full.status"
    ls -la "$0/full/sim-out" >"$0/full.ls"
    TALVIKS_ROOT=$0/full "$@" --mask-grid 4x3 --out "$0/grid" >"$0/grid.txt" 2>&1
    echo $? >"$0/grid.status"
    TALVIKS_ROOT=$0/f "$@" --quiet --out "$0/ro" "$0/sample.qds" >"$0/ro.txt" 2>&1
    echo $? >"$0/ro.status"' "$root" "$root" "${sim[@]}"
  [ $? -ne 99 ] || fail "no tmpfs in the test's own mount namespace"
  [ "$(cat "$root/full.status")" -eq 3 ] || { cat "$root/full.txt"; fail "a full disk ended with $(cat "$root/full.status")"; }
  # A slow writer (the emulator) drops some frames: every other one could not be written.
  grep -qE '^Frames: 0 written, [0-9]+ could not be written \(No space left on device\)(, [0-9]+ dropped: .*)?: ' "$root/full.txt" ||
    { cat "$root/full.txt"; fail "frames on a full disk counted as written"; }
  grep -q '^Timeline: not written (No space left on device): ' "$root/full.txt" || fail "the timeline on a full disk not said"
  grep -qE '^talviks-sim: not written whole: [0-9]+ frames, the timeline' "$root/full.txt" || fail "no last word of what was lost"
  grep -qE ' (frame-|timeline|\.frame-|\.timeline)' "$root/full.ls" && { cat "$root/full.ls"; fail "a file not written whole was left"; }
  [ "$(cat "$root/grid.status")" -eq 1 ] || fail "a mask image the disk could not take ended with $(cat "$root/grid.status")"
  grep -qx "talviks-sim: the mask image $root/full/data/etc/mask-serial.png could not be written whole" "$root/grid.txt" ||
    { cat "$root/grid.txt"; fail "no word of the mask image not written"; }
  grep -q '^Mask image: ' "$root/grid.txt" && fail "a mask image not written was named"
  for copied in big.qds big.corbin; do
    grep -qxF "talviks-sim: cannot copy $root/$copied into the scratch root: No space left on device" "$root/tiny.txt" ||
      { cat "$root/tiny.txt"; fail "no word of the full scratch disk for $copied"; }
  done
  grep -q 'big\.' "$root/tiny.ls" && { cat "$root/tiny.ls"; fail "a part of a copy was left"; }
  [ "$(cat "$root/ro.status")" -eq 1 ] || fail "a read-only --out was taken"
  grep -qx "talviks-sim: --out: cannot write in $root/ro: Read-only file system" "$root/ro.txt" ||
    { cat "$root/ro.txt"; fail "no word of the read-only --out"; }
else
  echo "skipped: the full disks and the read-only folder need a mount namespace of their own"
fi

# Bounds on what can be meant, and --quiet keeps the warnings.
for args in "--mask-grid 1000x1000" "--mask-grid 65x2" "--make-sample $root/x.qds --layers 100000" \
            "--make-sample $root/x.qds --layers 0" "--signals 0 $root/sample.qds" "--speed 0 $root/sample.qds"; do
  # shellcheck disable=SC2086 # the words of each case
  TALVIKS_ROOT=$root/z timeout 20 "${sim[@]}" $args >"$root/z.txt" 2>&1 && fail "$args was taken"
  grep -q '^talviks-sim: .* takes ' "$root/z.txt" || { cat "$root/z.txt"; fail "$args refused without a clear line"; }
  # The cause stays on a small screen: no usage after it.
  [ "$(sed 1d "$root/z.txt")" = "Try 'talviks-sim --help' for more." ] || { cat "$root/z.txt"; fail "$args: more than the cause"; }
done
# An option that does not apply to what is asked is refused, not ignored.
for input in "--make-sample $root/x.qds $root/sample.qds|a slice file to print or --make-sample, not both" \
             "--make-sample $root/x.qds --pattern abc|--make-sample or --pattern, not both" \
             "--mask-blocks $root/sample.qds|--mask-blocks applies only to --mask-grid" \
             "--resume-after 5 $root/sample.qds|--resume-after applies only with --pause-at" \
             "--layers 5 $root/sample.qds|--layers applies only to --make-sample" \
             "--pattern abc --pause-at 3|--pause-at applies only to a print" \
             "--make-correction $root/x.qds --out $root/z|--out applies only to a print, --pattern or --mask-grid"; do
  # shellcheck disable=SC2086 # the words of each case
  TALVIKS_ROOT=$root/z timeout 20 "${sim[@]}" ${input%|*} >"$root/z.txt" 2>&1 && fail "${input%|*} was taken"
  [ "$(head -1 "$root/z.txt")" = "talviks-sim: ${input#*|}" ] || { cat "$root/z.txt"; fail "${input%|*}: no clear refusal"; }
done
[ -e "$root/x.qds" ] && fail "a sample was written out of bounds"
TALVIKS_ROOT=$root/q "${sim[@]}" --speed 200 --quiet --no-frames --pause-at 40 "$root/sample.qds" >"$root/q.txt" 2>&1 ||
  fail "the quiet print failed"
grep -qx 'talviks-sim: --pause-at 40: the print has 3 layers; no layer 40' "$root/q.txt" || fail "--quiet hid a warning"

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
