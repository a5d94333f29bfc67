#!/usr/bin/env python3
"""The layer check on planted trees: each kind of break is found and named with file and line,
a clean tree passes, and so does the real one."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish  # noqa: E402

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(SOURCE, "tools", "check_layers.py")


def run(root):
    p = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
    return p.returncode, p.stdout


def tree(files):
    root = vqtest.scratch("vq-layers-")
    os.makedirs(os.path.join(root, "docs"))
    shutil.copy(os.path.join(SOURCE, "docs", "ARCHITECTURE.md"), os.path.join(root, "docs"))
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
    return root


CLEAN = {
    "common/Text.h": "#pragma once\n#include <string>\n#include <stdint.h>\n",
    "platform/File.h": '#pragma once\n#include "common/Text.h"\n',
    "platform/win32/File.cpp": '#include <windows.h>\n#include "platform/File.h"\n',
    "platform/posix/File.cpp": '#include <unistd.h>\n#include "platform/File.h"\n',
    "zip/Zip.cpp": '#include <zlib.h>\n#include "platform/File.h"\n#include "xml/Peer.h"\n#include "Zip.h"\n',
    "zip/Zip.h": "#pragma once\n",
    "xml/Peer.h": "#pragma once\n",
    "app/win32/Dlg.cpp": '#include <windows.h>\n#include "res/resource.h"\n#include "app/Startup.h"\n',
    "res/resource.h": "#pragma once\n",
    "app/Startup.h": '#pragma once\n#include "backup/Pass.h"\n',
    "backup/Pass.h": '#pragma once\n#include "update/Up.h"\n#include "settings/Log.h"\n',
    "update/Up.h": "#pragma once\n",
    "settings/Log.h": '#pragma once\n#include "zip/Zip.h"\n',
    "tests/anything/T.cpp": '#include <unistd.h>\n#include "app/win32/Dlg.h"\n',
}

rc, out = run(tree(CLEAN))
check(rc == 0, "a tree that keeps the layering passes (got %d: %s)" % (rc, out))

PLANTS = [
    ("zip/Up.cpp", '#include "platform/File.h"\n\n#include "settings/Log.h"\n', "zip/Up.cpp:3:", "points up"),
    ("backup/Sys.cpp", "#include <string>\n#include <unistd.h>\n", "backup/Sys.cpp:2:", "system header <unistd.h>"),
    ("common/Win.h", "#include <windows.h>\n", "common/Win.h:1:", "system header <windows.h>"),
    ("zip/Impl.cpp", '#include "platform/win32/File.cpp"\n', "zip/Impl.cpp:1:", "reaches into platform-win32"),
    ("app/console/Main.cpp", '#include "app/win32/Dlg.cpp"\n', "app/console/Main.cpp:1:", "front-win32"),
    ("platform/posix/X.cpp", '#include "platform/win32/File.cpp"\n', "platform/posix/X.cpp:1:", "platform-win32"),
    # The libraries may use zlib's header and no other library's.
    ("zip/Other.cpp", "#include <zlib.h>\n#include <bzlib.h>\n", "zip/Other.cpp:2:", "system header <bzlib.h>"),
    ("backup/Z.cpp", "#include <zlib.h>\n", "backup/Z.cpp:1:", "system header <zlib.h>"),
    ("xml/Beside.cpp", '#include "../app/Startup.h"\n', "xml/Beside.cpp:1:", "points up"),
]
for path, text, where, what in PLANTS:
    files = dict(CLEAN)
    files[path] = text
    rc, out = run(tree(files))
    check(rc == 1, "%s makes the check fail" % path)
    check(where in out and what in out, "%s is reported as %r at %r, got: %s" % (path, what, where, out.strip()))

rc, out = run(SOURCE)
check(rc == 0, "the real tree passes: " + out)
finish()
print("layer check tests passed")
