#!/usr/bin/env bash
# installer_test.sh SETUP.exe PROGRAM.exe PROBE.exe WINE_RUN PUBLISHER VERSION WORKDIR
#
# The Windows installer under Wine, in a fresh prefix of its own (null display driver: the
# window exists and answers messages without being drawn), as a user would meet it:
#   1. a silent install (/S): the program, the uninstaller, the Start-menu shortcut, the
#      installed-programs entry and the sign-in start entry; the shortcut starts the program
#      and its window appears, per-monitor DPI aware as its manifest asks (PROBE.exe reads it);
#   2. a silent upgrade while the program runs: the program is closed, the files replaced,
#      the data folder kept byte for byte;
#   3. a silent uninstall while the program runs: program, shortcut and registry entries
#      gone, the data folder kept;
#   4. a silent install without the sign-in start (/NOAUTOSTART), an upgrade that keeps that
#      choice, and an uninstall with /REMOVEDATA, which takes the data folder too.
#
# WORKDIR keeps the logs; the Wine prefix is removed at the end. Exit status 0 passed,
# 1 failed, 77 skipped (something missing).
set -euo pipefail
setup=$1 program=$2 probe_exe=$3 wine_run=$4 publisher=$5 version=$6 work=$7

source "$(dirname "$0")/test_script_lib.sh"
[ -f "$setup" ] || skip "no installer at $setup (makensis was not found when the build was configured; scripts/setup.sh installs nsis)"
for tool in wine wineboot wineserver winepath; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup.sh installs it)"
done

readonly product="Pelorin Community Worker"
readonly window_seconds=60  # the window appears
readonly settle_seconds=120 # every process of the prefix has ended (an uninstaller runs from a copy)

rm -rf "$work"
mkdir -p "$work"
prefix=$work/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  local status=$?
  set +e
  # Ends every Wine process of this prefix and nothing else: the prefix is this run's own.
  [ -d "$prefix" ] && wineserver -k 2>/dev/null
  rm -rf "$prefix" "$prefix.lock"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Runs a Windows program in the prefix (made on first use), its output in the log.
win() { "$wine_run" "$prefix" "$@" 2>>"$work/wine.log"; }
probe() { win "$probe_exe" "$@"; }
# Waits until every process of the prefix has ended, the detached ones included.
settle() { timeout "$settle_seconds" wineserver -w || fail "a Wine process still runs after ${settle_seconds} s: $*"; }
win_path_of_variable() { win cmd /c echo "%$1%" | tr -d '\r'; }

win cmd /c exit 0 || fail "making the Wine prefix failed: $(cat "$prefix.log")"
local_app_data=$(win_path_of_variable LOCALAPPDATA)
app_data=$(win_path_of_variable APPDATA)
install_dir="$local_app_data\\Programs\\PelorinWorker"
shortcut="$app_data\\Microsoft\\Windows\\Start Menu\\Programs\\$product.lnk"
unix_install_dir=$(winepath -u "$install_dir")
unix_shortcut=$(winepath -u "$shortcut")
unix_data=$(winepath -u "$local_app_data\\PelorinWorker")
say "fresh prefix; install folder $install_dir"

readonly uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\PelorinWorker'
readonly run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# The installed-programs entry and the sign-in start key in one listing of reg.exe: a line
# "entry NAME TYPE VALUE" for each value of the entry, "run NAME TYPE VALUE" for the other
# key (a missing key lists nothing).
read_registry() {
  { win cmd /c "reg query $uninstall_key & reg query $run_key" 2>/dev/null || true; } | tr -d '\r' |
    awk '/^HKEY_/ { key = /\\Run$/ ? "run" : "entry" } /^    [^ ]/ { print key " " $0 }' |
    sed 's/^\([a-z]*\) \{5\}\(.*\) \{4\}\(REG_[A-Z_]*\) \{4\}/\1 \2 \3 /'
}
# VALUES NAME: the value NAME's "TYPE VALUE" ("entry DisplayName", "run PelorinWorker");
# fails when there is none.
value_of() { sed -n "s/^$2 //p" <<<"$1" | grep .; }
expect_value() {  # VALUES "KEY NAME" "TYPE VALUE"
  local shown
  shown=$(value_of "$1" "$2") || fail "no value $2 among: $1"
  [ "$shown" = "$3" ] || fail "$2 is \"$shown\", expected \"$3\""
}

expect_installed() {  # AUTOSTART (yes/no)
  cmp -s "$program" "$unix_install_dir/PelorinWorker.exe" || fail "the installed program is not the one built"
  [ -f "$unix_install_dir/Uninstall.exe" ] || fail "no uninstaller in $unix_install_dir"
  [ -f "$unix_shortcut" ] || fail "no Start-menu shortcut at $unix_shortcut"
  local registry size expected
  registry=$(read_registry)
  expect_value "$registry" "entry DisplayName" "REG_SZ $product"
  expect_value "$registry" "entry DisplayVersion" "REG_SZ $version"
  expect_value "$registry" "entry Publisher" "REG_SZ $publisher"
  expect_value "$registry" "entry InstallLocation" "REG_SZ $install_dir"
  expect_value "$registry" "entry DisplayIcon" "REG_SZ $install_dir\\PelorinWorker.exe,0"
  expect_value "$registry" "entry UninstallString" "REG_SZ \"$install_dir\\Uninstall.exe\""
  expect_value "$registry" "entry QuietUninstallString" "REG_SZ \"$install_dir\\Uninstall.exe\" /S"
  expect_value "$registry" "entry NoModify" "REG_DWORD 0x1"
  expect_value "$registry" "entry NoRepair" "REG_DWORD 0x1"
  # In KiB: the program and the uninstaller, give or take the rounding of each file.
  size=$(value_of "$registry" "entry EstimatedSize") || fail "no EstimatedSize among: $registry"
  expected=$(($(cat "$unix_install_dir"/*.exe | wc -c) / 1024))
  [ "${size%% *}" = REG_DWORD ] && (($(printf '%d' "${size#* }") - expected <= 2 &&
    expected - $(printf '%d' "${size#* }") <= 2)) || fail "EstimatedSize is \"$size\", expected about $expected KiB"
  if [ "$1" = yes ]; then
    expect_value "$registry" "run PelorinWorker" "REG_SZ \"$install_dir\\PelorinWorker.exe\""
  else
    ! value_of "$registry" "run PelorinWorker" >/dev/null || fail "a sign-in start entry was made: $registry"
  fi
}
expect_uninstalled() {
  [ ! -e "$unix_install_dir" ] || fail "the install folder is left: $(ls -A "$unix_install_dir")"
  [ ! -e "$unix_shortcut" ] || fail "the Start-menu shortcut is left"
  local registry
  registry=$(read_registry)
  ! grep -q '^entry ' <<<"$registry" || fail "the installed-programs entry is left: $registry"
  ! value_of "$registry" "run PelorinWorker" >/dev/null || fail "the sign-in start entry is left"
}
expect_window() {
  probe wait-window "$window_seconds" || fail "the program's window did not appear"
  local header awareness
  header=$(probe text header | tr -d '\r') || fail "could not read the window"
  [ "$header" = "PELORIN COMMUNITY WORKER" ] || fail "the window shows \"$header\""
  # Set by the program's manifest (Wine takes its per-monitor fallback, Windows 10 v2).
  awareness=$(probe dpi-awareness | tr -d '\r') || fail "could not read the window's DPI awareness"
  [ "$awareness" = per-monitor ] || fail "the window's DPI awareness is $awareness, not per-monitor"
}
expect_no_window() {
  if probe text header >/dev/null 2>&1; then fail "the program's window is still open: $*"; fi
}
# The data folder as the worker leaves it; an install or uninstall must not change a byte.
seed_data() {
  mkdir -p "$unix_data"
  head -c 230 /dev/urandom >"$unix_data/identity.bin"
  printf '{"lease_id":"kept-across-installs","offset":"12345"}' >"$unix_data/checkpoint.json"
  rm -rf "$work/data-before"
  cp -a "$unix_data" "$work/data-before"
}
expect_data_kept() {
  diff -r "$work/data-before" "$unix_data" >/dev/null || fail "the data folder changed: $*"
}

# 1. A new install, started from its shortcut.
win "$setup" /S || fail "the silent install failed (status $?)"
expect_installed yes
say "installed: program, uninstaller, shortcut, installed-programs entry, sign-in start"
win start "$shortcut" || fail "starting the shortcut failed"
expect_window
say "the shortcut starts the program; its window is up"

# 2. An upgrade over the running program.
seed_data
win "$setup" /S || fail "the silent upgrade failed (status $?)"
settle "after the upgrade (the program should have been closed)"
expect_no_window "after the upgrade"
expect_installed yes
expect_data_kept "by the upgrade"
say "upgrade: the running program was closed, the install is whole, the data folder kept"

# 3. Uninstall while the program runs; the uninstaller runs from a copy of itself.
win start "$install_dir\\PelorinWorker.exe" || fail "starting the program failed"
expect_window
win "$install_dir\\Uninstall.exe" /S || fail "the silent uninstall failed (status $?)"
settle "after the uninstall"
expect_no_window "after the uninstall"
expect_uninstalled
expect_data_kept "by the uninstall"
say "uninstall: program, shortcut and registry entries gone, the data folder kept"

# 4. Without the sign-in start; an upgrade keeps that choice; uninstall with the data.
win "$setup" /S /NOAUTOSTART || fail "the silent install with /NOAUTOSTART failed (status $?)"
expect_installed no
win "$setup" /S || fail "the second silent install failed (status $?)"
expect_installed no
expect_data_kept "by the installs"
win "$install_dir\\Uninstall.exe" /S /REMOVEDATA || fail "the silent uninstall with /REMOVEDATA failed (status $?)"
settle "after the uninstall with /REMOVEDATA"
expect_uninstalled
[ ! -e "$unix_data" ] || fail "/REMOVEDATA left the data folder: $(ls -A "$unix_data")"
say "/NOAUTOSTART: no sign-in start, kept by the upgrade; /REMOVEDATA removed the data folder"
say "PASSED"
