#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian 12 machine. Idempotent: a package
# already present is skipped, so a second run costs a few seconds.
set -euo pipefail

need_pkgs=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev zlib1g-dev libcurl4-openssl-dev
  libgtest-dev libbenchmark-dev googletest g++-mingw-w64-x86-64-posix wine wine64 xvfb x11-apps
  imagemagick p7zip-full fonts-wqy-microhei locales python3 xdg-user-dirs)

missing=()
for p in "${need_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO dpkg --add-architecture i386 2>/dev/null || true
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows build's tests run with code page 936 as on a Chinese desktop.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  echo "setup: generating zh_CN.UTF-8"
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
echo "setup: ready"
