#!/usr/bin/env bash
# Plays one scenario under Wine: the real program (build/win64, or build/win32 with WINE_ARCH=win32)
# beside the controller, with the driver double. The trace goes to standard output, as vudizeri-sim
# writes it, with the "audio" event before the last line: the harness plays what the microphone
# hears into the sound server's "mic" sink and records its "speaker" sink's monitor for the whole
# run, and vudizeri-wine-audio sets both beside what the driver double wrote and took.
# WINE_RTPRIO (env.sh: 10 unless set; empty for none): the controller, the program and the harness's
# own sound clients run under chrt -r N (start.sh runs the wineserver and the driver double so too).
# Exit status 3: the scenario needs what the prefix cannot be made to have (see lines.cpp); 2: a bad
# scenario (named on standard error).
# Needs tools/wine/start.sh first.
set -euo pipefail
source "$(dirname "$0")/env.sh"
scenario=$(realpath "$1")
lines=$WINE_OUT/play.lines
"$WINE_ROOT/build/host/bin/vudizeri-wine-lines" "$scenario" "$WINE_OUT" >"$lines" || exit $?
cp "$WINE_PROGRAM" "$WINE_OUT/vudizeri.exe"
export DISPLAY=$(cat "$WINE_OUT/display")
end_ms=$(sed -n 's/^end //p' "$lines")
limit=$(( ${end_ms:-0} / 1000 + 60 ))
cd "$WINE_OUT"
rt=()
[ -z "${WINE_RTPRIO:-}" ] || rt=(chrt -r "$WINE_RTPRIO")
rm -f capture.raw mic-heard.raw line-out.raw capture.start mic-heard.start mic.start play.trace stalls.txt
# The machine itself watched for stalls (a processor taken away by a virtual machine's host) for the
# whole run: a sample lost while the program's process could not run is told apart from the program's.
watcher=
if [ -x "$WINE_ROOT/build/host/bin/vudizeri-wine-stalls" ]; then
  "$WINE_ROOT/build/host/bin/vudizeri-wine-stalls" stalls.txt 2>stalls.log &
  watcher=$!
fi
format=(--raw --format=s16le --rate=8000 --channels=1 --latency-msec=20)
# The microphone from its sample 0 into the "mic" sink; the speaker as heard and the microphone as
# Wine hears it, recorded from the two monitors for the whole run.
date +%s%N >mic.start
"${rt[@]}" pacat --playback -d mic "${format[@]}" <mic.raw >pacat.log 2>&1 &
feeder=$!
"${rt[@]}" parec -d speaker.monitor "${format[@]}" >capture.raw 2>parec.log &
recorder=$!
"${rt[@]}" parec -d mic.monitor "${format[@]}" >mic-heard.raw 2>>parec.log &
listener=$!
sleep 0.1
if ! kill -0 "$feeder" 2>/dev/null || ! kill -0 "$recorder" 2>/dev/null || ! kill -0 "$listener" 2>/dev/null; then
  echo "play.sh: the sound server did not take the microphone or the recorders:" >&2
  cat pacat.log parec.log >&2
  kill "$feeder" "$recorder" "$listener" $watcher 2>/dev/null || true
  exit 1
fi
timeout "$limit" "${rt[@]}" "$WINE" vxcontrol.exe play.lines vudizeri.exe >play.trace 2>play.err || true
# A recording runs at the server's pace to its end: its first sample was heard its length before
# now (a client's own start-up delays the start, not the end).
stopped=$(date +%s%N)
kill "$recorder" "$listener" "$feeder" $watcher 2>/dev/null || true
wait "$recorder" "$listener" "$feeder" $watcher 2>/dev/null || true
for f in capture mic-heard; do
  echo $(( stopped - $(stat -c %s $f.raw) / 2 * 125000 )) >$f.start
done
tr -d '\r' <play.trace >play.clean
audio=$("$WINE_ROOT/build/host/bin/vudizeri-wine-audio" "$scenario" play.clean "$WINE_OUT") || {
  echo "play.sh: no audio figures" >&2
  audio=""
}
# The audio event before the run's last line ("end"), where the world writes its own.
if [ -n "$audio" ] && grep -q '"ev":"end"' play.clean; then
  sed '$d' play.clean
  echo "$audio"
  tail -n 1 play.clean
else
  cat play.clean
  [ -z "$audio" ] || echo "$audio"
fi
