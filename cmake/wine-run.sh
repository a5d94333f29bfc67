#!/usr/bin/env bash
# Runs a Windows program under wine with the project's private prefix: code page 936 as on a
# Chinese desktop, no debug chatter. The prefix lives in the build tree so tests never touch the
# user's own wine set-up. Creating a prefix takes a while; a lock keeps parallel tests from
# creating it twice.
set -u
exe="$1"; shift
build_dir="${VQ_WINE_BUILD_DIR:-$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG=-all
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.vq-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.vq-ready" ]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
      # wine links the profile's folders to the real home; the program backs up Documents by
      # default, so give the prefix folders of its own and keep tests away from the host's files.
      for d in "$WINEPREFIX"/drive_c/users/*/{Desktop,Documents,Downloads,Music,Pictures,Videos}; do
        if [ -L "$d" ]; then rm -f "$d" && mkdir -p "$d"; fi
      done
      touch "$WINEPREFIX/.vq-ready"
    fi
  ) 9>"$build_dir/.wineprefix.lock"
fi
WINE=$(command -v wine64 || command -v wine)
exec "$WINE" "$exe" "$@"
