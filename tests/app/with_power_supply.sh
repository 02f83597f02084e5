#!/bin/bash
# with_power_supply.sh COMMAND [ARGS...]
# Runs COMMAND (a Windows test program under Wine) on power supplies of the test's own: a
# folder with a laptop's mains adapter AC (online) and battery BAT0 is mounted over
# /sys/class/power_supply in a mount namespace of the command's own, where Wine reads the
# power status that GetSystemPowerStatus returns. The folder is handed over as a Windows path
# in PELORIN_TEST_POWER_SUPPLY_DIR; the test writes AC/online to plug and unplug. Nothing
# outside the namespace sees the mount. Where no namespace can be made (not root), the
# variable says "unavailable" and the tests that need it skip.
set -eu
if [ "${1:-}" = --inside ]; then
  shift
  mount --bind "$1" /sys/class/power_supply
  shift
  exec "$@"
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/AC" "$dir/BAT0"
echo Mains >"$dir/AC/type"
echo 1 >"$dir/AC/online"
echo Battery >"$dir/BAT0/type"
echo Discharging >"$dir/BAT0/status"
status=0
if unshare --mount --propagation private true 2>/dev/null; then
  PELORIN_TEST_POWER_SUPPLY_DIR="Z:$(printf '%s' "$dir" | tr / '\\')" \
    unshare --mount --propagation private bash "$0" --inside "$dir" "$@" || status=$?
else
  PELORIN_TEST_POWER_SUPPLY_DIR=unavailable "$@" || status=$?
fi
exit "$status"
