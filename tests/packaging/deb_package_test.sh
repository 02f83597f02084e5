#!/usr/bin/env bash
# deb_package_test.sh STEP WORK CPACK_CONFIG VERSION DEV_COORDINATOR
# The Debian package as a volunteer's machine gets it, checked without installing it: CPack
# builds it into WORK and it is unpacked there (dpkg -x, dpkg-deb -e). STEP is one of
#   build     make the package and unpack it (the other steps need this one first)
#   contents  the file list, owners and modes, control fields, conffiles, maintainer scripts
#   unit      systemd-analyze verify and its offline security review of the unit
#   programs  the unpacked program (--version, a short verify) and its manual page
#   service   the unit's own ExecStart line, with its environment file and a fresh
#             STATE_DIRECTORY, against the development coordinator until the campaign ends
set -euo pipefail
step=$1 work=$2 cpack_config=$3 version=$4 dev_coordinator=$5
deb=$work/pelorin-worker_${version}_amd64.deb
root=$work/root
unit=$root/lib/systemd/system/pelorin-worker.service

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

step_build() {
  rm -rf "$work"
  mkdir -p "$work"
  cpack --config "$cpack_config" -B "$work/cpack" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
  mv "$work/cpack/$(basename "$deb")" "$deb" || fail "cpack made no $(basename "$deb"): $(ls "$work/cpack")"
  dpkg -x "$deb" "$root"
  dpkg-deb -e "$deb" "$work/control"
}

step_contents() {
  # Every entry that is not a folder: mode, owner, path.
  local files expected
  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}')
  expected="-rw-r--r-- root/root ./etc/default/pelorin-worker
-rw-r--r-- root/root ./lib/systemd/system/pelorin-worker.service
-rwxr-xr-x root/root ./usr/bin/pelorin-worker
-rw-r--r-- root/root ./usr/share/man/man1/pelorin-worker.1.gz"
  [ "$files" = "$expected" ] || fail "package files:
$files
wanted:
$expected"

  local field want got
  while IFS='|' read -r field want; do
    got=$(dpkg-deb -f "$deb" "$field")
    [[ $got =~ $want ]] || fail "control field $field is '$got', wanted to match '$want'"
  done <<EOF
Package|^pelorin-worker$
Version|^${version//./\\.}$
Architecture|^amd64$
Maintainer|^[^<]+ <[^@>]+@[^>]+>$
Section|^science$
Priority|^optional$
Depends|(^|, )libcurl4( |,|$)
Depends|(^|, )libc6( |,|$)
Depends|(^|, )libstdc\+\+6( |,|$)
Depends|(^|, )ca-certificates(,|$)
Description|^volunteer worker .+
EOF
  # The settings survive upgrades and the administrator's edits.
  [ "$(cat "$work/control/conffiles")" = /etc/default/pelorin-worker ] || fail "conffiles: $(cat "$work/control/conffiles")"
  local script
  for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "$script missing or not executable"
    sh -n "$work/control/$script" || fail "$script does not parse"
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
    echo "$review" | grep -qF "✓ $item " || fail "the review does not pass $item: $(echo "$review" | grep -F " $item ")"
  done
}

step_programs() {
  local program=$root/usr/bin/pelorin-worker out
  out=$("$program" --version) || fail "--version exited $?"
  [ "$out" = "pelorin-worker $version" ] || fail "--version printed '$out'"
  out=$("$program" verify --backend record-recursive --begin 1 --end 101) || fail "verify exited $?: $out"
  [[ $out == *'"checked":"100"'*'"valid":true'* ]] || fail "verify printed $out"

  # The manual page formats without warnings and documents exactly the options and
  # subcommands that --help lists.
  local page=$root/usr/share/man/man1/pelorin-worker.1.gz warnings
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1) || fail "groff: $warnings"
  [ -z "$warnings" ] || fail "the manual page has formatting warnings: $warnings"
  local subcommands help_options page_options sub
  subcommands=$("$program" --help | sed -n '/^Subcommands:/,$ s/^  \([a-z][a-z-]*\) .*/\1/p')
  [ -n "$subcommands" ] || fail "no subcommands in --help"
  help_options=$(
    for sub in "" $subcommands; do "$program" $sub --help; done |
      grep -oE '^  (-[a-zA-Z],)?--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
  )
  # An option is documented by a tagged paragraph (.TP) that names it.
  page_options=$(zcat "$page" | awk '/^\.TP/ {getline; print}' | sed 's/\\-/-/g' |
    grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
  [ "$help_options" = "$page_options" ] || fail "options in --help and in the manual page differ:
$(diff <(echo "$help_options") <(echo "$page_options"))"
  for sub in $subcommands; do
    zcat "$page" | grep -qx ".SH ${sub^^}" || fail "the manual page has no section .SH ${sub^^}"
  done
}

step_service() {
  local run=$work/service
  rm -rf "$run"
  mkdir -p "$run/home"
  # systemd makes the state folder (StateDirectoryMode=0700) before the program starts.
  mkdir -m 0700 "$run/state"

  "$dev_coordinator" --port 0 --state-dir "$run/coordinator" --difficulty-bits 8 \
    --begin 2^40 --end 1100585369600 --unit-size 2^30 >"$run/coordinator.log" 2>&1 &
  coordinator_pid=$!  # global: the exit trap needs it
  trap 'kill $coordinator_pid 2>/dev/null || true' EXIT
  local tries=0
  until grep -q '^Listening on' "$run/coordinator.log"; do
    kill -0 "$coordinator_pid" 2>/dev/null || fail "the coordinator ended: $(cat "$run/coordinator.log")"
    tries=$((tries + 1))
    [ "$tries" -le 600 ] || fail "the coordinator did not listen within 60 s"
    sleep 0.1
  done
  local port ca
  port=$(sed -n 's|^Listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$run/coordinator.log")
  ca=$(sed -n 's|^CA certificate: ||p' "$run/coordinator.log")

  # The environment file, as systemd reads it: NAME=value lines, comments and blank lines.
  local env_file name value line
  env_file=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$unit")
  [ -f "$root$env_file" ] || fail "EnvironmentFile=$env_file is not in the package"
  declare -A vars
  while IFS= read -r line; do
    case $line in '' | '#'* | ';'*) continue ;; esac
    [[ $line =~ ^([A-Za-z_][A-Za-z0-9_]*)=([^\"\'\\]*)$ ]] || fail "$env_file: a line this test cannot read: $line"
    vars[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
  done <"$root$env_file"
  [ -n "${vars[PELORIN_COORDINATOR]:-}" ] || fail "$env_file names no PELORIN_COORDINATOR"
  vars[PELORIN_COORDINATOR]=127.0.0.1:$port  # this test's coordinator in place of the campaign's

  # ExecStart, expanded as systemd does: ${NAME} is one argument, $NAME splits on blanks.
  local exec_start word
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  [ "$(grep -c '^ExecStart=' "$unit")" = 1 ] || fail "wanted one ExecStart line"
  [[ $exec_start =~ ^/ && $exec_start != *[\"\'\\\;]* ]] || fail "ExecStart is beyond this test's reading: $exec_start"
  local -a argv=()
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

  local -a environment=(PATH=/usr/bin:/bin HOME="$run/home" STATE_DIRECTORY="$run/state" SSL_CERT_FILE="$ca")
  for name in "${!vars[@]}"; do environment+=("$name=${vars[$name]}"); done
  local status=0
  env -i "${environment[@]}" timeout 240 "${argv[@]}" >"$run/worker.log" 2>&1 || status=$?
  kill "$coordinator_pid"
  wait "$coordinator_pid" || true
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

"step_$step"
