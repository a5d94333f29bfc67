#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian 12 machine. Idempotent: a package
# already present is skipped, so a second run costs a few seconds.
#
# A package index refresh that partly fails (a mirror caught in the middle of a sync answers with
# an index of the wrong size) is not a reason to give up: the packages may well be installable
# from the indexes that did arrive. The refresh is retried a few times, then the install is tried
# regardless, and only a failed install ends the set-up, naming what could not be installed.
set -uo pipefail

need_pkgs=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev zlib1g-dev libcurl4-openssl-dev
  libssl-dev libgtest-dev libbenchmark-dev googletest g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
  xvfb x11-apps imagemagick p7zip-full fonts-wqy-microhei locales python3 xdg-user-dirs)

UPDATE_TRIES=${VQ_APT_UPDATE_TRIES:-3}
UPDATE_PAUSE=${VQ_APT_UPDATE_PAUSE:-5}

missing_pkgs() {
  local p
  for p in "${need_pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

mapfile -t missing < <(missing_pkgs)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO dpkg --add-architecture i386 2>/dev/null || true
  for ((try = 1; try <= UPDATE_TRIES; try++)); do
    if $SUDO apt-get update -qq; then break; fi
    echo "setup: package index refresh failed (try $try of $UPDATE_TRIES)"
    if [ "$try" -lt "$UPDATE_TRIES" ]; then sleep "$UPDATE_PAUSE"; fi
  done
  install_log=$(mktemp "${TMPDIR:-/tmp}/vq-setup.XXXXXX")
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >"$install_log" 2>&1; then
    cat "$install_log"
    rm -f "$install_log"
    mapfile -t still < <(missing_pkgs)
    echo "setup: FAILED: could not install: ${still[*]:-${missing[*]}}"
    echo "setup: the package manager's own words are above; a stale package index or an unreachable mirror is the usual cause"
    exit 1
  fi
  rm -f "$install_log"
fi

# The Windows build's tests run with code page 936 as on a Chinese desktop.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  echo "setup: generating zh_CN.UTF-8"
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null || { echo "setup: FAILED: locale-gen"; exit 1; }
fi
echo "setup: ready"
