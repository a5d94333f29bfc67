#!/usr/bin/env python3
"""File churn under the Windows program's change monitor (wine, inside xvfb-run): creates, rewrites,
appends, renames, copies with last month's time, deletes and bursts, directly in the source folder
(wine reports changes only for entries there; moves between folders are driven natively by
churn_e2e). Once quiet, every file in the source has its three archives holding its current
content, and nothing partial is left.

    churn_wine.py PROGRAM WINE_RUN BUILD VQPOST [SECONDS] [SEED]"""
import os, re, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqchurn  # noqa: E402
from vqtest import check, finish, wait_for  # noqa: E402
import vqtest  # noqa: E402
import vqwine  # noqa: E402
from vqwine import win_dir, win_path  # noqa: E402

SECONDS = float(sys.argv[5]) if len(sys.argv) > 5 else 30
SEED = int(sys.argv[6]) if len(sys.argv) > 6 else int(time.time())
PASSWORD = "739"
print("churn for %.0f s, seed %d" % (SECONDS, SEED))

work, exe, log_path = vqwine.wine_world("vq-wine-churn-")
src = os.path.join(work, "src")
dest = os.path.join(work, "dest")
os.makedirs(src)
churn = vqchurn.Churn(src, os.path.join(work, "elsewhere"), SEED, nested=False)
for _ in range(60):
    churn.create()
vqwine.store_settings(src, dest, PASSWORD, int(time.time()) + 5)


def archives_of(path):
    flat = win_path(path).replace("\\", ".").replace(":", ".")
    return (os.path.join(dest, "mList", flat + ".zip"), os.path.join(dest, "mScDir", path.lstrip("/") + ".zip"),
            os.path.join(dest, "mHistory", vqchurn.history_name(flat, os.stat(path).st_mtime)))


proc = vqwine.start(exe)
try:
    vqwine.wait_monitor(log_path, src)
    churn.run(SECONDS, pause=(0.02, 0.08))
    # Last, more new files at once than the monitor's buffer holds, then, while it digests them,
    # one file copied in with an old time and nothing after it. Wine tells the overflow as a
    # failed wait; a monitor that lets the file saved during its pause go unseen, or a pass that
    # took its request before the file existed, leaves it without archives for good.
    for _ in range(80):
        p = churn.new_name(src)
        churn.write(p, b"burst")
        churn.files.add(p)
    time.sleep(0.7)
    churn.copy_old()
    print("operations:", dict(sorted(churn.ops.items())))
    found, files, waited = vqchurn.problems_after_quiet(src, archives_of, os.path.basename, PASSWORD, seed=SEED)
    print("%d files in the source, %d archives wrong after %.0f s quiet" % (files, len(found), waited))
    for p in found[:20]:
        print("  ", p)
    check(not found, "every file in the source has its three archives with its current content")
    check(files > 100, "the churn left a tree worth checking (%d files)" % files)
    # The temporary folder the program names in its log (a C: path inside the prefix): nothing of
    # ours left there between passes.
    m = re.search(r"S_DIR_TEMP +\[临时目录\] +\[C:\\(.*?)\]\r\n", vqtest.read_log(log_path)[1])
    check(m is not None, "the log names the temporary folder on drive C:")
    temp = os.path.join(vqwine.DRIVE_C, *m.group(1).rstrip("\\").split("\\")) if m else work
    check(os.path.isdir(temp), "the temporary folder %s exists" % temp)
    wait_for(lambda: not vqchurn.partial_files(dest, temp), 30, "no partial archive or work folder left")
    check(vqwine.exit_program(proc), "the exit command ends the program")
finally:
    vqwine.close_down(proc)
if vqtest.failures:
    print("repeat with: churn_wine.py ... %.0f %d" % (SECONDS, SEED))
finish()
