#!/usr/bin/env bash
# gui_test.sh GUI.exe PROBE.exe TRUST_CA.exe DEV_COORDINATOR PORT WORKDIR
#
# The window end to end: the worker's window program, built for a coordinator on
# 127.0.0.1:PORT, runs under Wine in an X server of its own (Xvfb) against the development
# coordinator, in a fresh Wine prefix that trusts only that coordinator's certificate
# authority. PROBE.exe reads and presses the window through its own messages: Start, the
# progress text, a screenshot, Pause ("Resume", work stops), resume; the notification icon
# (there, its menu open in a second screenshot, the menu's Pause and Resume, an option kept in
# settings.json, minimize and Show); then Exit from the icon's menu while a chunk runs, after
# which the program must end only once its checkpoint is written.
#
# WORKDIR keeps screenshot.png, the logs and the worker's data folder; the Wine prefix is
# removed at the end. Exit status 0 passed, 1 failed, 77 skipped (something missing).
set -euo pipefail
gui=$1 probe_exe=$2 trust_ca=$3 coordinator=$4 port=$5 work=$6

source "$(dirname "$0")/test_script_lib.sh"
[ -x "$coordinator" ] || skip "no development coordinator at $coordinator (build the linux preset first)"
for tool in Xvfb wine wineboot wineserver winepath /usr/bin/import; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup.sh installs it)"
done

# Every wait below is bounded; together they keep the test within a few minutes.
readonly window_seconds=60      # the window appears
readonly working_seconds=240    # backend selection, connection check, registration, first chunk
readonly steady_seconds=2       # no new status text for this long: work has stopped
readonly change_seconds=60      # the next progress text after resuming
readonly close_after_seconds=0.1  # from a progress text to the close: well inside the next chunk
readonly exit_seconds=60        # the process ends after the close
readonly menu_seconds=10        # the menu opens or closes, a menu command takes effect

rm -rf "$work"
mkdir -p "$work/localappdata"
prefix=$work/wineprefix
xvfb_pid='' coordinator_pid='' gui_pid=''
cleanup() {
  local status=$?
  set +e
  # Ends every Wine process of this prefix (the window program, the probe, Wine's services)
  # and nothing else: the prefix is this run's own.
  [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null
  [ -n "$gui_pid" ] && wait "$gui_pid" 2>/dev/null
  [ -n "$coordinator_pid" ] && kill "$coordinator_pid" 2>/dev/null && wait "$coordinator_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$prefix"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# An X server on a free display (it writes the number it took).
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(cat "$work/display")
say "X server on $DISPLAY"

# Whether a notification icon is shown: Wine's notification area (the X11 driver's own
# "Wine System Tray" window when no X tray takes the icons, else the shell's) shows while it
# holds an icon.
tray_visible() { probe windows | grep -qE '^(__winex11_standalone_tray|Shell_TrayWnd) visible '; }
tray_icon_shown() {
  local _
  for _ in $(seq "$menu_seconds"); do
    tray_visible && return 0
    sleep 1
  done
  return 1
}

# A fresh Wine prefix: Wine's own fonts (caption buttons), windows drawn by Wine itself with
# no window manager to wait for, and the data folder in WORKDIR.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i </dev/null >"$work/wineboot.log" 2>&1 || fail "making the Wine prefix failed: $(cat "$work/wineboot.log")"
# The data folder below is a volatile registry value, lost whenever the prefix's server ends
# (a few seconds after its last process; the coordinator can take longer to start): the
# server stays until the cleanup ends it (a server runs persistent from its start only).
wineserver -w
wineserver -p
if [ -d /usr/share/wine/fonts ]; then cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"; fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$work/wineboot.log" 2>&1
data_folder=$(winepath -w "$work/localappdata")
wine reg add 'HKCU\Volatile Environment' /v LOCALAPPDATA /d "$data_folder" /f >>"$work/wineboot.log" 2>&1
say "Wine prefix ready; LOCALAPPDATA is $data_folder"

# The development coordinator on the build's fixed loopback port, with a short puzzle and
# units far larger than the test verifies, so that the unit is still open when it closes.
start_coordinator() {
  rm -rf "$work/coordinator"
  "$coordinator" --state-dir "$work/coordinator" --port "$port" --difficulty-bits 8 \
    --begin 2^40 --end 2^44 --unit-size 2^38 >"$work/coordinator.log" 2>&1 &
  coordinator_pid=$!
  for _ in $(seq 300); do
    grep -qs '^Listening on ' "$work/coordinator.log" && break
    kill -0 "$coordinator_pid" 2>/dev/null || fail "the coordinator ended: $(cat "$work/coordinator.log")"
    sleep 0.1
  done
  grep -q "^Listening on https://127.0.0.1:$port\$" "$work/coordinator.log" ||
    fail "the coordinator is not listening on port $port: $(cat "$work/coordinator.log")"
}
# Wine refuses some valid ECDSA signatures (a short r or s): a new coordinator state makes new
# certificates, until Wine verifies them.
for attempt in $(seq 20); do
  start_coordinator
  check=0
  wine "$trust_ca" --check "$(winepath -w "$work/coordinator/ca.pem")" \
    "$(winepath -w "$work/coordinator/server.pem")" >"$work/trust_ca.log" 2>&1 || check=$?
  [ "$check" -eq 0 ] && break
  [ "$check" -eq 3 ] || fail "checking the certificates failed: $(cat "$work/trust_ca.log")"
  kill "$coordinator_pid" && wait "$coordinator_pid" || true
  coordinator_pid=''
done
[ "$check" -eq 0 ] || fail "no certificates that Wine verifies after $attempt attempts"
ca=$(sed -n 's/^CA certificate: //p' "$work/coordinator.log")
wine "$trust_ca" "$(winepath -w "$ca")" >"$work/trust_ca.log" 2>&1 || fail "adding the CA failed: $(cat "$work/trust_ca.log")"
say "coordinator on port $port; the prefix trusts its authority $ca (certificates made: attempt $attempt)"

probe() { wine "$probe_exe" "$@"; }
expect_text() {  # CONTROL TEXT
  local shown
  shown=$(probe text "$1") || fail "could not read the $1 text"
  [ "$shown" = "$2" ] || fail "the $1 text is \"$shown\", expected \"$2\""
}

! tray_visible || fail "a notification area shows before the program runs: $(probe windows)"
wine "$gui" >"$work/gui.log" 2>&1 &
gui_pid=$!
probe wait-window "$window_seconds" || fail "the window did not appear"
say "window up"
expect_text header "PELORIN COMMUNITY WORKER"
expect_text status "Ready. Press Start to benchmark this computer and request work."
expect_text start "Start"
expect_text pause "Pause"
expect_text profile "Balanced - 85%"

# Maximum: chunks follow each other without a pause, so the close below lands inside one.
probe select-profile 1
expect_text profile "Maximum - 100%"
probe click start
expect_text start "Running"
# A run that stopped shows STOPPED and its reason; that ends the wait at once.
probe wait-text status "WORKING $(printf '\xc2\xb7') " "$working_seconds" STOPPED >"$work/progress.txt" ||
  fail "no progress text"
say "progress text shown:"
sed 's/^/    /' "$work/progress.txt"
grep -q '^Current unit  [0-9]*\.[0-9][0-9]%$' "$work/progress.txt" || fail "the progress text is malformed"
/usr/bin/import -display "$DISPLAY" -window root "$work/screenshot.png" || fail "no screenshot"
say "screenshot: $work/screenshot.png"

probe click pause
expect_text pause "Resume"
# Paused inside a unit nothing is posted: once the chunk in progress has reported, the panel
# keeps its text (a pause that did not stop the work would post a new text every chunk).
probe wait-steady status "$steady_seconds" "$change_seconds" || fail "the status text kept changing while paused"
say "paused: \"Resume\" shown, the status text stands still"
probe click pause
expect_text pause "Pause"

# The notification icon: it is there, its menu opens from the icon's own message (and is
# photographed), its Pause and Resume act as the button does, an option is kept in
# settings.json, and minimizing hides the window there until Show.
tray_icon_shown || fail "no notification icon: $(probe windows)"
say "notification icon shown"
probe tray-menu "$menu_seconds" || fail "the notification icon's menu did not open"
/usr/bin/import -display "$DISPLAY" -window root "$work/tray_menu.png" || fail "no screenshot of the menu"
say "the icon's menu open: $work/tray_menu.png"
probe close-menu "$menu_seconds" || fail "the menu did not close"
probe command pause
probe wait-text pause "Resume" "$menu_seconds" >/dev/null || fail "the menu's Pause did not pause"
probe wait-steady status "$steady_seconds" "$change_seconds" || fail "the status text kept changing while paused from the menu"
probe command pause
probe wait-text pause "Pause" "$menu_seconds" >/dev/null || fail "the menu's Resume did not resume"
say "the menu's Pause and Resume act as the button"
settings=$work/localappdata/PelorinWorker/settings.json
probe command in-use
for _ in $(seq $((menu_seconds * 10))); do grep -qs '"pause_while_in_use":true' "$settings" && break; sleep 0.1; done
grep -qs '"pause_while_in_use":true' "$settings" || fail "the option was not kept: $(cat "$settings" 2>&1)"
probe command in-use  # off again: the close below needs work in progress
for _ in $(seq $((menu_seconds * 10))); do grep -qs '"pause_while_in_use":false' "$settings" && break; sleep 0.1; done
say "settings.json: $(cat "$settings")"
probe minimize
for _ in $(seq $((menu_seconds * 10))); do [ "$(probe visible)" = hidden ] && break; sleep 0.1; done
[ "$(probe visible)" = hidden ] || fail "minimizing did not hide the window"
probe command show
for _ in $(seq $((menu_seconds * 10))); do [ "$(probe visible)" = visible ] && break; sleep 0.1; done
[ "$(probe visible)" = visible ] || fail "Show did not bring the window back"
say "minimized to the notification area and shown again"

# Exit from the icon's menu a moment after a progress text, as closing the window: the next
# chunk (about 0.75 s of work) is then running, past the worker's test for a stop before it.
# The program must go on until that chunk and its checkpoint are done.
probe close-on-change "$change_seconds" "$close_after_seconds" exit >"$work/close.txt" || fail "closing failed"
closed_ns=$(sed -n 's/^closed //p' "$work/close.txt")
gone_ns=$(sed -n 's/^gone //p' "$work/close.txt")
say "Exit chosen while working; the window was gone $(((gone_ns - closed_ns) / 1000000)) ms later"
for _ in $(seq $((exit_seconds * 10))); do
  kill -0 "$gui_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$gui_pid" 2>/dev/null && fail "the program is still running ${exit_seconds} s after the close"
gui_status=0
wait "$gui_pid" || gui_status=$?
gui_pid=''
now=$EPOCHREALTIME
exited_ns=$((10#${now/./} * 1000))  # microseconds, from the poll that saw the end
[ "$gui_status" -eq 0 ] || fail "the program exited with status $gui_status"

checkpoint=$work/localappdata/PelorinWorker/checkpoint.json
[ -f "$checkpoint" ] || fail "no checkpoint at $checkpoint"
[ ! -e "$checkpoint.tmp" ] || fail "a temporary checkpoint was left behind"
written_ns=$(stat -c %.9Y "$checkpoint" | tr -d .)
grep -q '"lease_id":"[^"]' "$checkpoint" || fail "the checkpoint has no lease: $(cat "$checkpoint")"
grep -q '"offset":[1-9]' "$checkpoint" || fail "the checkpoint has no progress: $(cat "$checkpoint")"
((written_ns > closed_ns)) || fail "the last checkpoint was written before the close ($written_ns <= $closed_ns)"
say "program ended (status 0) $(((exited_ns - closed_ns) / 1000000)) ms after the close;" \
  "checkpoint written $(((written_ns - closed_ns) / 1000000)) ms after the close"
say "PASSED"
