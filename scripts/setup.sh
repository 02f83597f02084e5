#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing. The Debian
# packages' own tools: dpkg-shlibdeps (dpkg-dev) and file for its Depends, systemd-analyze
# (systemd) and groff for the checks of its unit and manual page.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config ccache
  googletest libgtest-dev libbenchmark-dev libcli11-dev
  libcurl4-openssl-dev libssl-dev libcpp-httplib-dev nlohmann-json3-dev
  # The campaign server's databases (SQLite; PostgreSQL through libpqxx, and the server
  # itself, which the tests start in a folder of their own), and the demo's certificates.
  libsqlite3-dev libpqxx-dev postgresql openssl
  # Whether the computer is in use: systemd-logind over the system bus (libsystemd); the tests
  # run a bus of their own (dbus-daemon).
  libsystemd-dev dbus-daemon
  # The Linux package and its tests: dpkg-deb and dpkg-shlibdeps, file, systemd-analyze, groff.
  dpkg-dev file systemd groff-base
  # The fuzz preset: clang 14 and its runtime libraries (libFuzzer is in libclang-rt-14-dev).
  clang-14 libclang-rt-14-dev
)
# The Windows build: the MinGW-w64 cross compiler, NSIS for the installer, Wine to run its
# tests, and an X server with screenshots for the window (Wine's own fonts draw its caption
# buttons). Their recommended extras (more fonts, media codecs, Mono...) are not needed.
windows_packages=(
  g++-mingw-w64-x86-64-posix nsis wine wine64 fonts-wine
  xvfb xauth imagemagick
)
# The campaign server's public page: Debian's Chart.js, embedded in the program; headless
# Chromium with its WebDriver and Selenium to test the page, and the Prometheus client's
# parser to read /metrics. Without their recommended extras (fonts, desktop integration).
page_packages=(
  libjs-chart.js chromium chromium-driver python3-selenium python3-prometheus-client
)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_bare < <(missing_of "${windows_packages[@]}" "${page_packages[@]}")
if ((${#missing[@]} + ${#missing_bare[@]})); then
  echo "Installing: ${missing[*]} ${missing_bare[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
  fi
  if ((${#missing_bare[@]})); then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing_bare[@]}"
  fi
fi
