#!/usr/bin/env python3
"""The configure-time check of the update mirrors: a release build that keeps the placeholder
mirrors under .invalid says so loudly; a test build with them, or a release with real ones,
stays quiet."""
import os, subprocess, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vqtest import check, finish  # noqa: E402

MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "UpdateMirrors.cmake")
PLACEHOLDER = "http://mirror1.vq-lumen.invalid/sm/vq/CONFIG.xml"
REAL = "http://update.host.test:8080/sm/vq/CONFIG.xml"


def configure(build_type, *mirrors):
    r = subprocess.run(["cmake", "-DBUILD_TYPE=" + build_type, "-DMIRRORS=" + ";".join(mirrors), "-P", MODULE],
                       capture_output=True, text=True)
    check(r.returncode == 0, "the check never stops a configure (%s)" % build_type)
    return r.stderr


for build_type in ("Release", "RelWithDebInfo", "MinSizeRel"):
    err = configure(build_type, REAL, PLACEHOLDER)
    check("CANNOT FIND UPDATES" in err and PLACEHOLDER in err, "%s with a placeholder warns, naming it" % build_type)
    check(REAL not in err, "the real mirror is not named")
check("CANNOT FIND UPDATES" in configure("Release", "http://UPDATES.INVALID/x"), "the host is compared in any case")
check(configure("Debug", PLACEHOLDER) == "", "a test build keeps the placeholders quietly")
check(configure("", PLACEHOLDER) == "", "so does a build without a type")
check(configure("Release", REAL, "https://invalid.example.com/x", "http://h.test/invalid") == "",
      "a release with real mirrors is quiet, whatever their paths or subdomains say")
finish()
