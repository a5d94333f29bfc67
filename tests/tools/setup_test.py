#!/usr/bin/env python3
"""tools/setup.sh against a stub package manager on PATH: a package index refresh that fails
(as when a mirror is caught mid-sync) is retried and then the install goes ahead; only a failed
install ends the set-up, and its message names the packages and carries the package manager's
own words. Nothing of the machine is touched: apt-get, dpkg, dpkg-query, locale and sudo are
all stubs."""
import os, subprocess, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish  # noqa: E402

SETUP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "setup.sh")

STUBS = {
    # Fails `update` STUB_UPDATE_FAILS times, then succeeds; `install` succeeds unless
    # STUB_INSTALL_FAILS is set, and marks the packages installed for dpkg-query.
    "apt-get": r'''#!/bin/sh
echo "apt-get $*" >> "$STUB_DIR/calls"
case "$1" in
  update)
    n=$(cat "$STUB_DIR/update-fails" 2>/dev/null || echo 0)
    if [ "$n" -gt 0 ]; then
      echo $((n - 1)) > "$STUB_DIR/update-fails"
      echo "E: File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
      exit 100
    fi ;;
  install)
    if [ -n "${STUB_INSTALL_FAILS:-}" ]; then
      echo "E: Unable to locate package libz-mingw-w64-dev" >&2
      exit 100
    fi
    touch "$STUB_DIR/installed" ;;
esac
exit 0
''',
    "dpkg-query": r'''#!/bin/sh
[ -f "$STUB_DIR/installed" ] && [ -z "${STUB_NOTHING_INSTALLED:-}" ] && printf 'install ok installed'
exit 0
''',
    "dpkg": "#!/bin/sh\nexit 0\n",
    "locale": "#!/bin/sh\necho C.utf8\necho zh_CN.utf8\n",
    "sudo": '#!/bin/sh\nexec "$@"\n',
}


def run_setup(name, update_fails, install_fails=False, all_installed=False):
    d = vqtest.scratch("vq-setup-" + name + "-")
    for stub, text in STUBS.items():
        path = os.path.join(d, stub)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
    with open(os.path.join(d, "update-fails"), "w") as f:
        f.write(str(update_fails))
    if all_installed:
        open(os.path.join(d, "installed"), "w").close()
    env = dict(os.environ, PATH=d + os.pathsep + os.environ["PATH"], STUB_DIR=d, TMPDIR=d,
               VQ_APT_UPDATE_PAUSE="0")
    if install_fails:
        env["STUB_INSTALL_FAILS"] = "1"
    r = subprocess.run(["bash", SETUP], env=env, capture_output=True, text=True, timeout=60)
    calls_path = os.path.join(d, "calls")
    calls = open(calls_path).read().splitlines() if os.path.exists(calls_path) else []
    return r.returncode, r.stdout + r.stderr, calls, d


# A refresh that keeps failing: three tries, then the install, which succeeds.
rc, out, calls, d = run_setup("stale", update_fails=99)
check(rc == 0, "a failing index refresh with a working install ends the set-up well (rc %d):\n%s" % (rc, out))
check([c for c in calls if c.startswith("apt-get update")] == ["apt-get update -qq"] * 3,
      "the refresh is tried three times: %s" % calls)
installs = [c for c in calls if c.startswith("apt-get install")]
check(len(installs) == 1 and "libz-mingw-w64-dev" in installs[0] and "wine64" in installs[0],
      "the install runs once with the missing packages: %s" % installs)
check("setup: ready" in out, "the set-up says it is ready:\n" + out)
check(not [f for f in os.listdir(d) if f.startswith("vq-setup.")], "the install log is removed: %s" % os.listdir(d))

# A refresh that fails once is not tried again after it succeeds.
rc, out, calls, _ = run_setup("once", update_fails=1)
check(rc == 0 and [c for c in calls if c.startswith("apt-get update")] == ["apt-get update -qq"] * 2,
      "one failed refresh, one good one, then the install (rc %d): %s" % (rc, calls))

# An install that fails ends the set-up and says which packages and why.
rc, out, calls, _ = run_setup("broken", update_fails=99, install_fails=True)
check(rc != 0, "a failed install fails the set-up:\n" + out)
check("could not install:" in out and "libz-mingw-w64-dev" in out.split("could not install:")[-1],
      "the message names the packages that could not be installed:\n" + out)
check("Unable to locate package" in out, "the package manager's own words are shown:\n" + out)

# Everything present: the package manager is not called at all.
rc, out, calls, _ = run_setup("present", update_fails=0, all_installed=True)
check(rc == 0 and calls == [], "nothing missing, nothing run (rc %d): %s" % (rc, calls))

finish()
