#!/bin/sh
# wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# Runs a Windows program under Wine in the Wine prefix PREFIX (made on first use) and exits
# with the program's status. Needs no display: the prefix uses Wine's null display driver,
# so windows exist and take messages without being drawn. Wine stays silent and never
# offers its Mono or Gecko installers.
set -eu
prefix=$1
shift
case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;  # Wine takes an absolute prefix only
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The marker names the prefix's make-up; a prefix without it (half-made, or older) is made anew.
ready=$prefix/.pelorin-ready-nulldisplay
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Tests start in parallel: one makes the prefix, the others wait for it.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    rm -rf "$prefix"
    if ! (unset DISPLAY WAYLAND_DISPLAY
          wineboot -i && wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f && wineserver -w
         ) </dev/null >"$prefix.log" 2>&1; then
      echo "wine-run.sh: making the Wine prefix failed; see $prefix.log" >&2
      exit 125
    fi
    touch "$ready"
  fi
  exec 9>&-
fi

# Wine's background processes (server, services) inherit the standard error of the program
# that starts them and keep it open for seconds after it exits; a caller reading a pipe
# would wait for them. The program's standard error therefore goes through a file.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
status=0
wine "$@" 2>"$err" || status=$?
cat "$err" >&2
exit "$status"
