#!/usr/bin/env bash
# The sound server of the Wine runs: PulseAudio with two null sinks at 8 kHz, 16-bit mono (see
# pulse/default.pa), its socket, configuration and state under $WINE_OUT/pulse. Wine plays into the
# sink "speaker" and records from "mic.monitor"; the harness records speaker.monitor and plays the
# microphone's signal into "mic".
#   pulse.sh start   starts it (ends one left over first) and waits until it answers; exit 1, with
#                    its log, when it cannot be started
#   pulse.sh stop    ends the server started here, by its pid
# Its sink threads take real-time priority of their own (as root); WINE_RTPRIO=N (env.sh: 10 unless
# set) puts all its threads under chrt -r N. env.sh points the clients (Wine, parec, pacat) at it
# with PULSE_SERVER.
set -uo pipefail
source "$(dirname "$0")/env.sh"
dir=$WINE_OUT/pulse
pidfile=$dir/server.pid

stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  if kill "$pid" 2>/dev/null; then
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

start() {
  stop
  command -v pulseaudio >/dev/null && command -v pactl >/dev/null || {
    echo "pulse.sh: pulseaudio and pulseaudio-utils are not installed" >&2
    return 1
  }
  mkdir -p "$dir/home" "$dir/runtime" "$dir/state"
  rm -f "$dir/native"
  sed "s|@SOCKET@|$dir/native|" "$WINE_ROOT/tools/wine/pulse/default.pa" >"$dir/default.pa"
  # PULSE_CONFIG names the daemon's settings: a daemon.conf under XDG_CONFIG_HOME is not read.
  # The server is started as its own process group's leader so that nothing else is signalled
  # with it.
  PULSE_CONFIG=$WINE_ROOT/tools/wine/pulse/daemon.conf PULSE_RUNTIME_PATH=$dir/runtime \
    PULSE_STATE_PATH=$dir/state HOME=$dir/home XDG_CONFIG_HOME=$dir/home \
    setsid pulseaudio --daemonize=no --system=false -n -F "$dir/default.pa" --exit-idle-time=-1 \
    --use-pid-file=no --log-target=file:"$dir/server.log" ${PULSE_VERBOSE:+-v} </dev/null >"$dir/stdout.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    if pactl info >/dev/null 2>&1; then
      # The server puts its main thread (where it talks to its clients) back to the ordinary
      # priority: every thread of it under chrt -r, when asked.
      [ -z "${WINE_RTPRIO:-}" ] || chrt -a -r -p "$WINE_RTPRIO" "$(cat "$pidfile")" >/dev/null
      return 0
    fi
    kill -0 "$(cat "$pidfile")" 2>/dev/null || break
    sleep 0.1
  done
  echo "pulse.sh: the sound server did not start (socket $dir/native):" >&2
  cat "$dir/stdout.log" "$dir/server.log" >&2 2>/dev/null
  stop
  return 1
}

case "${1:-}" in
start) start ;;
stop) stop ;;
*) echo "usage: pulse.sh start|stop" >&2; exit 2 ;;
esac
