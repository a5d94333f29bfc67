#!/usr/bin/env python3
"""A few minutes of ordinary file churn under the real change monitor (POSIX): creates, rewrites,
appends, renames, moves between folders, folders renamed, copies with last month's time, deletes
and bursts. Once quiet, every file in the source has its three archives holding its current
content, and nothing partial is left.

    churn_e2e.py PROGRAM [SECONDS] [SEED]"""
import os, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqchurn  # noqa: E402
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402

PROGRAM = sys.argv[1]
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 120
SEED = int(sys.argv[3]) if len(sys.argv) > 3 else int(time.time())
PASSWORD = "739"
print("churn for %.0f s, seed %d" % (SECONDS, SEED))

root, home, prog, env, log_path = vqtest.program_world("vq-churn-e2e-", PROGRAM)
src = os.path.join(home, "Documents")
dest = os.path.join(home, "vq.l")
temp = os.path.join(root, "tmp")


def archives_of(path):
    flat = path.replace("/", ".")
    return (os.path.join(dest, "mList", flat + ".zip"), os.path.join(dest, "mScDir", path.lstrip("/") + ".zip"),
            os.path.join(dest, "mHistory", vqchurn.history_name(flat, os.stat(path).st_mtime)))


os.makedirs(src)
churn = vqchurn.Churn(src, os.path.join(root, "elsewhere"), SEED)
for _ in range(150):  # files older than the program's first pass
    churn.create()
proc = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)
try:
    wait_for(lambda: "Monit 成功  开始监控 %s/\r\n" % src in read_log(log_path)[1], 20, "the monitor to start")
    churn.run(SECONDS)
    print("operations:", dict(sorted(churn.ops.items())))

    # Quiet now: the passes that follow take what the churn left.
    found, files, waited = vqchurn.problems_after_quiet(src, archives_of, os.path.basename, PASSWORD, seed=SEED)
    print("%d files in the source, %d without their current archives after %.0f s quiet" %
          (files, len(found), waited))
    for p in found[:20]:
        print("  ", p)
    check(not found, "every file in the source has its three archives with its current content")
    check(files > 500, "the churn left a tree worth checking (%d files)" % files)
    # Give a pass that may still run the time to end before looking for partial files.
    wait_for(lambda: not vqchurn.partial_files(dest, temp), 30, "no partial archive or work folder left")

    vqtest.exit_program(proc, 30)
finally:
    vqtest.kill_left_running(proc)
if vqtest.failures:
    print("repeat with: churn_e2e.py PROGRAM %.0f %d" % (SECONDS, SEED))
finish()
