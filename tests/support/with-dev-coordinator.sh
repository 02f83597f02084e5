#!/bin/sh
# with-dev-coordinator.sh COORDINATOR TLS_DIR PREFIX TRUST_HELPER PROGRAM.exe [ARGS...]
# Runs a Windows test program under Wine (cmake/wine-run.sh, in PREFIX) beside a fresh Linux
# development coordinator on loopback, and hands it the coordinator through the environment
# (Wine passes it on):
#   PELORIN_TEST_COORDINATOR_PORT  the coordinator's port on 127.0.0.1 (reach it as localhost)
#   PELORIN_TEST_CA_FILE           its authority's certificate, as a Windows path
#   PELORIN_TEST_PREFIX_TRUSTS_CA  1 when PREFIX trusts that authority, 0 when it must not
# TRUST_HELPER is the Windows program that adds the authority to the prefix's LOCAL_MACHINE
# "ROOT" store, or "-" for a prefix that is left without it.
# The authority and server certificate are made once into TLS_DIR and copied into every
# coordinator's fresh state folder, so each prefix learns to trust them once.
# Listing the tests (--gtest_list_tests) needs no coordinator. When COORDINATOR is missing,
# the program runs with PELORIN_TEST_COORDINATOR_MISSING naming it, and its network tests
# skip with that name.
set -eu
wine_run=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh
coordinator=$1 tls_dir=$2 prefix=$3 trust=$4
shift 4

for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then exec "$wine_run" "$prefix" "$@"; fi
done
if [ ! -x "$coordinator" ]; then
  export PELORIN_TEST_COORDINATOR_MISSING="$coordinator"
  exec "$wine_run" "$prefix" "$@"
fi

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# start_coordinator STATE_DIR: starts the coordinator on that folder (a small campaign of
# two units and easy registration puzzles) and waits until it listens.
coordinator_pid=
start_coordinator() {
  "$coordinator" --state-dir "$1" --port 0 --difficulty-bits 6 \
    --begin 4294967296 --end 4297064448 --unit-size 1048576 >"$1/output" 2>&1 &
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
if [ ! -f "$tls_dir/ready" ]; then
  rm -rf "$tls_dir"
  state=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-wincoord-XXXXXX")
  start_coordinator "$state"
  stop_coordinator
  mkdir -p "$tls_dir"
  cp "$state/ca.pem" "$state/ca-key.pem" "$state/server.pem" "$state/server-key.pem" "$tls_dir/"
  touch "$tls_dir/ready"
  rm -rf "$state"
  state=
fi
exec 8>&-

# The prefix's trust, once per authority.
if [ "$trust" = - ]; then
  export PELORIN_TEST_PREFIX_TRUSTS_CA=0
else
  stamp="$prefix/.pelorin-trusts-$(sha256sum <"$tls_dir/ca.pem" | cut -c1-16)"
  if [ ! -f "$stamp" ]; then
    exec 7>"$prefix.trust.lock"
    flock 7
    if [ ! -f "$stamp" ]; then
      if ! "$wine_run" "$prefix" "$trust" "$(windows_path "$tls_dir/ca.pem")"; then
        echo "with-dev-coordinator.sh: $trust could not add the authority to $prefix" >&2
        exit 1
      fi
      touch "$stamp"
    fi
    exec 7>&-
  fi
  export PELORIN_TEST_PREFIX_TRUSTS_CA=1
fi

state=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-wincoord-XXXXXX")
cp "$tls_dir/ca.pem" "$tls_dir/ca-key.pem" "$tls_dir/server.pem" "$tls_dir/server-key.pem" "$state/"
start_coordinator "$state"
PELORIN_TEST_COORDINATOR_PORT=$(sed -n 's|^Listening on https://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$state/output")
PELORIN_TEST_CA_FILE=$(windows_path "$tls_dir/ca.pem")
export PELORIN_TEST_COORDINATOR_PORT PELORIN_TEST_CA_FILE

status=0
"$wine_run" "$prefix" "$@" || status=$?
exit "$status"
