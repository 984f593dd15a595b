#!/usr/bin/env bash
# Smoke test of tools/servers/xrdp: start (twice: the second does nothing), both RDP ports
# accept TCP, a real login runs the start program (marker) and touching stop-bizdesk ends the
# session so the client leaves by itself, stop leaves none of the server's processes behind.
# Needs root and the packages of tools/deps; exits 77 (skip) without them.
# Usage: tests/servers/xrdp_smoke.sh [SOURCE_DIR]
set -euo pipefail

src="${1:-${TCLINK_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}}"
server="$src/tools/servers/xrdp"
[ "$(id -u)" -eq 0 ] || { echo "skip: needs root"; exit 77; }
for tool in /usr/sbin/xrdp Xvnc Xvfb xfreerdp; do
  command -v "$tool" >/dev/null || { echo "skip: $tool missing"; exit 77; }
done

work=$(mktemp -d /tmp/tclink-xrdp-smoke.XXXXXX)
chmod 755 "$work"   # the session user must reach the start program in it
state="$work/state"
pids_to_end=()
failures=0

cleanup() {
  local pid
  for pid in "${pids_to_end[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$server" stop --state "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# shellcheck disable=SC2016  # expanded by the inner shell
accepts() { timeout 1 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$0"' "$1" 2>/dev/null; }
wait_for() {   # SECONDS COMMAND...: polls every 0.1 s
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
gone() { [ ! -e "/proc/$1" ] || grep -q '^[^)]*) [ZX]' "/proc/$1/stat" 2>/dev/null; }

# ---- start, idempotent start, ports
"$server" start --state "$state"
first=$(cat "$state/pids/xrdp.pid" "$state/pids/sesman.pid")
"$server" start --state "$state" | grep -q 'already running' || fail "second start did not see the running server"
[ "$first" = "$(cat "$state/pids/xrdp.pid" "$state/pids/sesman.pid")" ] || fail "second start replaced the processes"
"$server" status --state "$state" >/dev/null || fail "status does not report running"
for port in 7011 7190; do accepts "$port" || fail "port $port refuses"; done

# ---- a real session: the start program runs, and leaving it ends the session
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
pids_to_end+=($!)
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
display=":$(head -n1 "$work/display")"
DISPLAY=$display xfreerdp /v:127.0.0.1:7190 /u:7wobnekcuhink /p:hodrafkez /cert:ignore \
  /shell:'E:\khprogram\V2011演示版\bizdesk.exe' >"$work/xfreerdp.log" 2>&1 &
client=$!
pids_to_end+=("$client")
marker_seen() { compgen -G "$state/markers/started.7wobnekcuhink.*" >/dev/null; }
if wait_for 20 marker_seen; then
  grep -qx 'role=start-program' "$state"/markers/started.7wobnekcuhink.* ||
    fail "the session ran another program than the start program"
  touch "$state/stop-bizdesk"
  wait_for 10 gone "$client" || fail "the client stayed after the start program was told to end"
  compgen -G "$state/markers/exited.7wobnekcuhink.*" >/dev/null || fail "no exited marker"
else
  fail "no started marker within 20 s"; cat "$work/xfreerdp.log"
fi

# ---- stop ends every process of the server, sessions included
DISPLAY=$display xfreerdp /v:127.0.0.1:7011 /u:7wobnekcuhink /p:hodrafkez /cert:ignore \
  /shell:'E:\khprogram\V2011演示版\bizdesk.exe' >>"$work/xfreerdp.log" 2>&1 &
pids_to_end+=($!)
two_markers() { [ "$(compgen -G "$state/markers/started.7wobnekcuhink.*" | wc -l)" -ge 2 ]; }
wait_for 20 two_markers || fail "second session did not start"
read -r xrdp_pid _ <"$state/pids/xrdp.pid"
read -r sesman_pid _ <"$state/pids/sesman.pid"
mapfile -t tree < <(ps -e -o pid=,pgid= | awk -v a="$xrdp_pid" -v b="$sesman_pid" '$2 == a || $2 == b { print $1 }')
[ "${#tree[@]}" -ge 5 ] || fail "expected the session's processes in sesman's group, saw ${#tree[@]}"
"$server" stop --state "$state"
for pid in "${tree[@]}"; do gone "$pid" || fail "process $pid survived stop: $(ps -o args= -p "$pid")"; done
rc=0; "$server" status --state "$state" >/dev/null || rc=$?
[ "$rc" -eq 3 ] || fail "status after stop returned $rc, not 3"
for port in 7011 7190; do ! accepts "$port" || fail "port $port still accepts after stop"; done

if [ "$failures" -ne 0 ]; then echo "xrdp smoke: $failures failure(s)"; exit 1; fi
echo "xrdp smoke: all passed"
