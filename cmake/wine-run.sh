#!/usr/bin/env bash
# Runs a Windows program under wine with the project's private prefix: code page 936 as on a
# Chinese desktop, no debug chatter. The prefix lives in the build tree so tests never touch the
# user's own wine set-up. Creating a prefix takes a while; a lock keeps parallel tests from
# creating it twice.
#
# Which prefix: WINEPREFIX when the caller set one, else VQ_WINE_BUILD_DIR/wineprefix (ctest sets
# both for every test of the Windows build), else the build tree that holds the program. A
# program copied out of the build tree (a test's scratch folder) has no build tree above it: that
# is an error, never a quiet fall-back to a prefix at the root or in the home folder, where
# settings left by earlier runs would make a test pass for the wrong reason.
set -u
exe="$1"; shift
if [ -z "${WINEPREFIX:-}" ]; then
  build_dir="${VQ_WINE_BUILD_DIR:-}"
  if [ -z "$build_dir" ]; then
    build_dir=$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
    if [ ! -f "$build_dir/CMakeCache.txt" ]; then
      echo "wine-run.sh: $exe is not inside a build tree; set WINEPREFIX or VQ_WINE_BUILD_DIR" >&2
      exit 125
    fi
  fi
  export WINEPREFIX="$build_dir/wineprefix"
fi
# Wine writes desktop menus and file-type entries under the home folder when it makes a prefix,
# and keeps its server's socket folder in the temporary directory for as long as the prefix
# exists: folders of the prefix's own keep both in the build tree. Every wine call on one prefix
# must use the same temporary directory, or it starts a second server on the same prefix.
export HOME="${WINEPREFIX%/}.home" TMPDIR="${WINEPREFIX%/}.tmp"
mkdir -p "$HOME" "$TMPDIR"
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
  ) 9>"${WINEPREFIX%/}.lock"
fi
WINE=$(command -v wine64 || command -v wine)
exec "$WINE" "$exe" "$@"
