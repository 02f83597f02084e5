# Sourced by the Wine test scripts of this folder (gui_test.sh, installer_test.sh): lines
# timed from the script's start, and its two ways out besides passing.
started=$EPOCHREALTIME
say() { printf '[%6.2f s] %s\n' "$(awk "BEGIN { print $EPOCHREALTIME - $started }")" "$*"; }
fail() {
  say "FAILED: $*"
  exit 1
}
skip() {
  echo "SKIPPED: $*"
  exit 77
}
