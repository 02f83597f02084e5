#!/bin/sh
# with-dev-coordinator.sh COORDINATOR TLS_DIR HELPER PREFIX TRUST PROGRAM.exe [ARGS...]
# Runs a Windows test program under Wine (cmake/wine-run.sh, in PREFIX) beside a fresh Linux
# development coordinator on loopback, and hands it the coordinator through the environment
# (Wine passes it on):
#   PELORIN_TEST_COORDINATOR_PORT  the coordinator's port on 127.0.0.1 (reach it as localhost)
#   PELORIN_TEST_CA_FILE           its authority's certificate, as a Windows path
#   PELORIN_TEST_PREFIX_TRUSTS_CA  1 when PREFIX trusts that authority, 0 when it must not
# TRUST is "trusted" (HELPER, pelorin-trust-ca.exe, adds the authority to the prefix's
# LOCAL_MACHINE "ROOT" store, once per authority) or "untrusted" (the prefix is left
# without it).
# The campaign is two units of 2^20 starts, or the coordinator's options in
# PELORIN_TEST_CAMPAIGN (for a run that must still be working when the test acts on it).
# The authority and server certificate are made once into TLS_DIR and copied into every
# coordinator's fresh state folder. Wine fails to verify some valid ECDSA signatures (an r
# or s shorter than 32 bytes, about one certificate in a hundred), so a pair that Wine cannot
# verify is made again.
# Listing the tests (--gtest_list_tests) needs no coordinator. When COORDINATOR is missing,
# the program runs with PELORIN_TEST_COORDINATOR_MISSING naming it, and its network tests
# skip with that name.
set -eu
wine_run=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh
coordinator=$1 tls_dir=$2 helper=$3 prefix=$4 trust=$5
shift 5

for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then exec "$wine_run" "$prefix" "$@"; fi
done
if [ ! -x "$coordinator" ]; then
  export PELORIN_TEST_COORDINATOR_MISSING="$coordinator"
  exec "$wine_run" "$prefix" "$@"
fi

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
pem_files="ca.pem ca-key.pem server.pem server-key.pem"

# start_coordinator STATE_DIR: starts the coordinator on that folder (the campaign, easy
# registration puzzles) and waits until it listens.
campaign=${PELORIN_TEST_CAMPAIGN:---begin 4294967296 --end 4297064448 --unit-size 1048576}
coordinator_pid=
start_coordinator() {
  # shellcheck disable=SC2086 # the campaign is a list of options
  "$coordinator" --state-dir "$1" --port 0 --difficulty-bits 6 $campaign >"$1/output" 2>&1 &
  coordinator_pid=$!
  tries=0
  until grep -q '^Listening on https://127.0.0.1:' "$1/output"; do
    process=$(ps -o stat= -p "$coordinator_pid" 2>/dev/null || true)
    case $process in
      '' | Z*) echo "with-dev-coordinator.sh: $coordinator ended before listening:" >&2
               cat "$1/output" >&2
               return 1 ;;
    esac
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ]; then
      echo "with-dev-coordinator.sh: $coordinator did not listen within 60 s:" >&2
      cat "$1/output" >&2
      return 1
    fi
    sleep 0.1
  done
}

stop_coordinator() {
  if [ -n "$coordinator_pid" ]; then
    kill "$coordinator_pid" 2>/dev/null || true
    wait "$coordinator_pid" 2>/dev/null || true
    coordinator_pid=
  fi
}

state=
cleanup() {
  stop_coordinator
  if [ -n "$state" ]; then rm -rf "$state"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The certificates, once (parallel tests wait for the first).
mkdir -p "$(dirname "$tls_dir")"
exec 8>"$tls_dir.lock"
flock 8
attempt=0
while [ ! -f "$tls_dir/ready" ]; do
  attempt=$((attempt + 1))
  if [ "$attempt" -gt 20 ]; then
    echo "with-dev-coordinator.sh: no certificates that Wine verifies after 20 attempts" >&2
    exit 1
  fi
  rm -rf "$tls_dir"
  state=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-wincoord-XXXXXX")
  start_coordinator "$state"
  stop_coordinator
  check=0
  "$wine_run" "$prefix" "$helper" --check "$(windows_path "$state/ca.pem")" "$(windows_path "$state/server.pem")" ||
    check=$?
  if [ "$check" -eq 0 ]; then
    mkdir -p "$tls_dir"
    for f in $pem_files; do cp "$state/$f" "$tls_dir/"; done
    touch "$tls_dir/ready"
  elif [ "$check" -ne 3 ]; then
    echo "with-dev-coordinator.sh: $helper --check failed ($check)" >&2
    exit 1
  fi
  rm -rf "$state"
  state=
done
exec 8>&-

# The prefix's trust, once per authority.
if [ "$trust" = trusted ]; then
  stamp="$prefix/.pelorin-trusts-$(sha256sum <"$tls_dir/ca.pem" | cut -c1-16)"
  if [ ! -f "$stamp" ]; then
    exec 7>"$prefix.trust.lock"
    flock 7
    if [ ! -f "$stamp" ]; then
      if ! "$wine_run" "$prefix" "$helper" "$(windows_path "$tls_dir/ca.pem")"; then
        echo "with-dev-coordinator.sh: $helper could not add the authority to $prefix" >&2
        exit 1
      fi
      touch "$stamp"
    fi
    exec 7>&-
  fi
  export PELORIN_TEST_PREFIX_TRUSTS_CA=1
else
  export PELORIN_TEST_PREFIX_TRUSTS_CA=0
fi

state=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-wincoord-XXXXXX")
for f in $pem_files; do cp "$tls_dir/$f" "$state/"; done
start_coordinator "$state"
PELORIN_TEST_COORDINATOR_PORT=$(sed -n 's|^Listening on https://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$state/output")
PELORIN_TEST_CA_FILE=$(windows_path "$tls_dir/ca.pem")
export PELORIN_TEST_COORDINATOR_PORT PELORIN_TEST_CA_FILE

status=0
"$wine_run" "$prefix" "$@" || status=$?
exit "$status"
