#!/usr/bin/env bash
# deb_package_test.sh STEP PACKAGE WORK CPACK_CONFIG VERSION DEV_COORDINATOR
# The Debian packages as a machine gets them, checked without installing them: CPack builds
# both into WORK and each is unpacked there (dpkg -x, dpkg-deb -e) into WORK/PACKAGE/. STEP
# is one of
#   build     make the packages and unpack them (the other steps need this one first)
#   contents  the file list, owners and modes, control fields, conffiles, maintainer scripts
#   unit      systemd-analyze verify and its offline security review of the unit
#   programs  the unpacked program (--version, a short run) and its manual page
#   service   the unit's own ExecStart line, with its environment file and a fresh
#             STATE_DIRECTORY, until a campaign ends: the worker's against the development
#             coordinator, the coordinator's with the unpacked worker as its client
# PACKAGE is pelorin-worker or pelorin-coordinator (build makes both).
set -euo pipefail
step=$1 package=$2 work=$3 cpack_config=$4 version=$5 dev_coordinator=$6
deb_of() { echo "$work/${1}_${version}_amd64.deb"; }
deb=$(deb_of "$package")
root=$work/$package/root
control=$work/$package/control
unit=$root/lib/systemd/system/$package.service

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

step_build() {
  rm -rf "$work"
  mkdir -p "$work"
  cpack --config "$cpack_config" -B "$work/cpack" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
  local p
  for p in pelorin-worker pelorin-coordinator; do
    mv "$work/cpack/$(basename "$(deb_of $p)")" "$(deb_of $p)" || fail "cpack made no $(basename "$(deb_of $p)"): $(ls "$work/cpack")"
    mkdir -p "$work/$p"
    dpkg -x "$(deb_of $p)" "$work/$p/root"
    dpkg-deb -e "$(deb_of $p)" "$work/$p/control"
  done
}

step_contents() {
  # Every entry that is not a folder: mode, owner, path.
  local files expected
  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}')
  expected="-rw-r--r-- root/root ./etc/default/$package
-rw-r--r-- root/root ./lib/systemd/system/$package.service
-rwxr-xr-x root/root ./usr/bin/$package
-rw-r--r-- root/root ./usr/share/man/man1/$package.1.gz"
  [ "$files" = "$expected" ] || fail "package files:
$files
wanted:
$expected"

  local field want got fields
  fields="Package|^${package}$
Version|^${version//./\\.}$
Architecture|^amd64$
Maintainer|^[^<]+ <[^@>]+@[^>]+>$
Section|^science$
Priority|^optional$
Depends|(^|, )libc6( |,|$)
Depends|(^|, )libstdc\+\+6( |,|$)"
  case $package in
    pelorin-worker) fields+="
Depends|(^|, )libcurl4( |,|$)
Depends|(^|, )ca-certificates(,|$)
Description|^volunteer worker .+" ;;
    pelorin-coordinator) fields+="
Depends|(^|, )libsqlite3-0( |,|$)
Depends|(^|, )libssl3( |,|$)
Depends|(^|, )ssl-cert(,|$)
Description|^campaign server .+" ;;
  esac
  while IFS='|' read -r field want; do
    got=$(dpkg-deb -f "$deb" "$field")
    [[ $got =~ $want ]] || fail "control field $field is '$got', wanted to match '$want'"
  done <<<"$fields"
  # The settings survive upgrades and the administrator's edits.
  [ "$(cat "$control/conffiles")" = "/etc/default/$package" ] || fail "conffiles: $(cat "$control/conffiles")"
  local script
  for script in postinst prerm postrm; do
    [ -x "$control/$script" ] || fail "$script missing or not executable"
    sh -n "$control/$script" || fail "$script does not parse"
  done
}

step_unit() {
  # In the unpacked root: the program named by ExecStart and the manual page named by
  # Documentation= are looked up there. Units the package does not own (sysinit.target...)
  # are not in that root, so only this unit's own findings count.
  MANPATH=$root/usr/share/man systemd-analyze verify --recursive-errors=no --root="$root" "$unit" ||
    fail "systemd-analyze verify"
  # systemd's own review of the sandbox: it counts what other settings imply (DynamicUser=
  # brings PrivateTmp=...), so it judges the unit as it will run. These items must pass, and
  # the overall exposure stays in the review's "OK" band, 2.0 or less (the threshold counts
  # tenths).
  local review item
  review=$(systemd-analyze security --offline=yes --threshold=20 --root="$root" "$unit" 2>&1) ||
    fail "the unit's exposure went up: $(echo "$review" | tail -1)"
  for item in User=/DynamicUser= NoNewPrivileges= ProtectSystem= ProtectHome= PrivateTmp= \
              CapabilityBoundingSet=~CAP_SYS_ADMIN; do
    # A here-string, not a pipe: grep -q stops reading at its match, and with pipefail the
    # writer's broken pipe would fail the test.
    grep -qF "✓ $item " <<<"$review" || fail "the review does not pass $item: $(grep -F " $item " <<<"$review")"
  done
}

# The options of --help of the program and of each subcommand, nested ones included.
help_options() {
  local program=$1 sub nested
  {
    "$program" --help
    for sub in $(subcommands_of "$program"); do
      "$program" "$sub" --help
      for nested in $(subcommands_of "$program" "$sub"); do "$program" "$sub" "$nested" --help; done
    done
  } | grep -oE '^  (-[a-zA-Z],)?--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
}

subcommands_of() {
  local program=$1
  shift
  "$program" "$@" --help | sed -n '/^Subcommands:/,$ s/^  \([a-z][a-z-]*\) .*/\1/p'
}

step_programs() {
  local program=$root/usr/bin/$package out
  out=$("$program" --version) || fail "--version exited $?"
  [ "$out" = "$package $version" ] || fail "--version printed '$out'"
  case $package in
    pelorin-worker)
      out=$("$program" verify --backend record-recursive --begin 1 --end 101) || fail "verify exited $?: $out"
      [[ $out == *'"checked":"100"'*'"valid":true'* ]] || fail "verify printed $out" ;;
    pelorin-coordinator)
      local run=$work/$package/programs
      rm -rf "$run" && mkdir -p "$run"
      out=$("$program" --state-dir "$run" campaign add --begin 2^40 --end 2^41 --unit-size 2^32) || fail "campaign add: $out"
      out=$("$program" --state-dir "$run" status --json) || fail "status exited $?: $out"
      [[ $out == *'"units_total":"256"'* ]] || fail "status printed $out" ;;
  esac

  # The manual page formats without warnings and documents exactly the options and
  # subcommands that --help lists.
  local page=$root/usr/share/man/man1/$package.1.gz warnings
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) || fail "groff: $warnings"
  [ -z "$warnings" ] || fail "the manual page has formatting warnings: $warnings"
  local subcommands listed page_options sub
  subcommands=$(subcommands_of "$program")
  [ -n "$subcommands" ] || fail "no subcommands in --help"
  listed=$(help_options "$program")
  # An option is documented by a tagged paragraph (.TP) that names it.
  page_options=$(zcat "$page" | awk '/^\.TP/ {getline; print}' | sed 's/\\-/-/g' |
    grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
  [ "$listed" = "$page_options" ] || fail "options in --help and in the manual page differ:
$(diff <(echo "$listed") <(echo "$page_options"))"
  for sub in $subcommands; do
    grep -qx ".SH ${sub^^}" <<<"$(zcat "$page")" || fail "the manual page has no section .SH ${sub^^}"
  done
}

# The environment file as systemd reads it into `vars`: NAME=value lines, comments, blanks.
read_environment_file() {
  local env_file line
  env_file=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$unit")
  [ -f "$root$env_file" ] || fail "EnvironmentFile=$env_file is not in the package"
  while IFS= read -r line; do
    case $line in '' | '#'* | ';'*) continue ;; esac
    [[ $line =~ ^([A-Za-z_][A-Za-z0-9_]*)=([^\"\'\\]*)$ ]] || fail "$env_file: a line this test cannot read: $line"
    vars[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
  done <"$root$env_file"
}

# ExecStart expanded into `argv` as systemd does: ${NAME} is one argument, $NAME splits on
# blanks (and an empty one gives none).
expand_exec_start() {
  local exec_start word
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  [ "$(grep -c '^ExecStart=' "$unit")" = 1 ] || fail "wanted one ExecStart line"
  [[ $exec_start =~ ^/ && $exec_start != *[\"\'\\\;]* ]] || fail "ExecStart is beyond this test's reading: $exec_start"
  argv=()
  for word in $exec_start; do
    if [[ $word =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ ]]; then
      argv+=("${vars[${BASH_REMATCH[1]}]-}")
    elif [[ $word =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
      argv+=(${vars[${BASH_REMATCH[1]}]-})
    elif [[ $word == *'$'* ]]; then
      fail "ExecStart word beyond this test's reading: $word"
    else
      argv+=("$word")
    fi
  done
  [ -x "$root${argv[0]}" ] || fail "ExecStart names ${argv[0]}, which the package does not hold"
  argv[0]=$root${argv[0]}
}

# Waits for "Listening on https://127.0.0.1:PORT" in a log and sets `port`.
wait_for_listening() {
  local log=$1 pid=$2 tries=0
  until [ -f "$log" ] && grep -q '^Listening on' "$log"; do
    kill -0 "$pid" 2>/dev/null || fail "the server ended: $(cat "$log")"
    tries=$((tries + 1))
    [ "$tries" -le 600 ] || fail "the server did not listen within 60 s"
    sleep 0.1
  done
  port=$(sed -n 's|^Listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$log")
}

step_service() {
  local run=$work/$package/service
  rm -rf "$run"
  mkdir -p "$run/home"
  # systemd makes the state folder (StateDirectoryMode=0700) before the program starts.
  mkdir -m 0700 "$run/state"
  declare -A vars
  read_environment_file
  local -a argv
  case $package in
    pelorin-worker) worker_service "$run" ;;
    pelorin-coordinator) coordinator_service "$run" ;;
  esac
}

# The worker's unit against the development coordinator.
worker_service() {
  local run=$1 port ca
  "$dev_coordinator" --port 0 --state-dir "$run/coordinator" --difficulty-bits 8 \
    --begin 2^40 --end 1100585369600 --unit-size 2^30 >"$run/coordinator.log" 2>&1 &
  server_pid=$!  # global: the exit trap needs it
  trap 'kill $server_pid 2>/dev/null || true' EXIT
  wait_for_listening "$run/coordinator.log" "$server_pid"
  ca=$(sed -n 's|^CA certificate: ||p' "$run/coordinator.log")
  [ -n "${vars[PELORIN_COORDINATOR]:-}" ] || fail "the settings name no PELORIN_COORDINATOR"
  vars[PELORIN_COORDINATOR]=127.0.0.1:$port  # this test's coordinator in place of the campaign's
  expand_exec_start

  local -a environment=(PATH=/usr/bin:/bin HOME="$run/home" STATE_DIRECTORY="$run/state" SSL_CERT_FILE="$ca")
  local name status=0
  for name in "${!vars[@]}"; do environment+=("$name=${vars[$name]}"); done
  env -i "${environment[@]}" timeout 240 "${argv[@]}" >"$run/worker.log" 2>&1 || status=$?
  kill "$server_pid"
  wait "$server_pid" || true
  [ "$status" = 0 ] || fail "the service's command exited $status: ${argv[*]}
$(tail -20 "$run/worker.log")"
  grep -q 'Campaign allocation is complete' "$run/worker.log" || fail "no end of campaign: $(tail -20 "$run/worker.log")"

  # The identity went into the state folder itself, owner-only; nothing went to HOME.
  local identity=$run/state/identity.bin worker_id summary
  [ -f "$identity" ] || fail "no identity in STATE_DIRECTORY: $(ls -la "$run/state")"
  [ "$(stat -c %a "$identity")" = 600 ] || fail "identity.bin has mode $(stat -c %a "$identity")"
  [ ! -e "$run/state/checkpoint.json" ] || fail "a checkpoint is left after the campaign"
  [ -z "$(ls -A "$run/home")" ] || fail "the worker wrote into HOME: $(ls -A "$run/home")"
  worker_id=$(sed -n 's/.*"worker_id":"\([^"]*\)".*/\1/p' "$identity")
  summary=$("$dev_coordinator" --state-dir "$run/coordinator" --summary)
  [[ -n $worker_id && $summary == *"worker $worker_id  accepted"* ]] ||
    fail "the unit is not accepted from worker '$worker_id': $summary"
}

# The coordinator's unit, its database in a fresh STATE_DIRECTORY, a campaign added there with
# the unpacked program, and the unpacked worker of the other package as its client.
coordinator_service() {
  local run=$1 program=$root/usr/bin/pelorin-coordinator worker=$work/pelorin-worker/root/usr/bin/pelorin-worker
  local tls=$run/tls
  # A certificate for 127.0.0.1 and its authority, made by the development coordinator's TLS
  # code on its first start.
  "$dev_coordinator" --port 0 --state-dir "$tls" >"$run/tls.log" 2>&1 &
  server_pid=$!
  trap 'kill $server_pid 2>/dev/null || true' EXIT
  wait_for_listening "$run/tls.log" "$server_pid"
  kill "$server_pid" && wait "$server_pid" || true
  env -i STATE_DIRECTORY="$run/state" "$program" campaign add --begin 2^40 --end 1100585369600 --unit-size 2^30 \
    >"$run/add.log" 2>&1 || fail "campaign add: $(cat "$run/add.log")"

  for name in PELORIN_LISTEN PELORIN_TLS_CERT PELORIN_TLS_KEY; do
    [ -n "${vars[$name]:-}" ] || fail "the settings name no $name"
  done
  vars[PELORIN_LISTEN]=127.0.0.1:0  # this test's address, certificate and key in place of the site's
  vars[PELORIN_TLS_CERT]=$tls/server.pem
  vars[PELORIN_TLS_KEY]=$tls/server-key.pem
  # One worker: its results count without a copy from a second one.
  vars[PELORIN_SERVE_OPTIONS]="--new-worker-results 0 --replication-share 0 --fast-result-slack 0 --difficulty-bits 8"
  expand_exec_start
  local -a environment=(PATH=/usr/bin:/bin HOME="$run/home" STATE_DIRECTORY="$run/state")
  local name status=0
  for name in "${!vars[@]}"; do environment+=("$name=${vars[$name]}"); done
  env -i "${environment[@]}" "${argv[@]}" >"$run/serve.log" 2>"$run/journal.log" &
  server_pid=$!
  wait_for_listening "$run/serve.log" "$server_pid"

  env -i PATH=/usr/bin:/bin HOME="$run/home" SSL_CERT_FILE="$tls/ca.pem" timeout 240 "$worker" run \
    --data-dir "$run/worker" --coordinator "127.0.0.1:$port" >"$run/worker.log" 2>&1 || status=$?
  kill -TERM "$server_pid"
  local server_status=0
  wait "$server_pid" || server_status=$?
  [ "$status" = 0 ] || fail "the worker exited $status: $(tail -20 "$run/worker.log")
the server's journal: $(tail -20 "$run/journal.log")"
  [ "$server_status" = 0 ] || fail "the service's command exited $server_status on SIGTERM: $(tail -20 "$run/journal.log")"
  grep -q 'Campaign allocation is complete' "$run/worker.log" || fail "no end of campaign: $(tail -20 "$run/worker.log")"

  # The database went into the state folder; the journal has a line per request and no token.
  [ -f "$run/state/coordinator.db" ] || fail "no database in STATE_DIRECTORY: $(ls -la "$run/state")"
  [ -z "$(ls -A "$run/home")" ] || fail "the server wrote into HOME: $(ls -A "$run/home")"
  local status_json token
  status_json=$(env -i STATE_DIRECTORY="$run/state" "$program" status --json)
  [[ $status_json == *'"validated":1'* && $status_json == *'"starts_validated":"1073741824"'* ]] ||
    fail "the unit is not validated: $status_json"
  grep -q ' POST /api/v1/leases/lease-1/complete 200 [0-9]* ms w-1$' "$run/journal.log" ||
    fail "no journal line for the complete: $(cat "$run/journal.log")"
  token=$(sed -n 's/.*"token":"\([^"]*\)".*/\1/p' "$run/worker/identity.bin")
  [ -n "$token" ] || fail "no token in the worker's identity"
  ! grep -qF "$token" "$run/journal.log" "$run/state/coordinator.db" || fail "the token is in the journal or database"
}

"step_$step"
