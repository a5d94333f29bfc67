#!/usr/bin/env python3
"""Crash campaign for the Windows program under wine (run inside xvfb-run), with fewer kills than
the native one: changes some files before every start, kills the program at a random moment of
its pass, and checks that every archive in the three views opens with the password and holds a
version its source had; after a last whole pass no partial archive or temporary folder is left.

Usage: crash_wine.py EXE WINE_RUN BUILD VQPOST [KILLS] [SEED]"""
import glob, os, random, signal, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402
import vqwine  # noqa: E402
from vqwine import DRIVE_C  # noqa: E402

KILLS = int(sys.argv[5]) if len(sys.argv) > 5 else 5
SEED = int(sys.argv[6]) if len(sys.argv) > 6 else int(time.time())
rng = random.Random(SEED)
print("seed", SEED)

work, exe, log_path = vqwine.wine_world("vq-crash-wine-")
src = os.path.join(work, "src")
dest = os.path.join(work, "dest")
os.makedirs(src)
vqwine.store_settings(src, dest, "739", int(time.time()) - 3600)
VIEWS = [os.path.join(dest, v) for v in ("mList", "mHistory", "mScDir")]
TEMPS = [d for d in glob.glob(os.path.join(DRIVE_C, "users", "*", "Temp")) +
         glob.glob(os.path.join(DRIVE_C, "users", "*", "AppData", "Local", "Temp"))]

small = [os.path.join(src, "note%02d.txt" % i) for i in range(6)]
large = [os.path.join(src, "large%d.txt" % i) for i in range(2)]
sources = vqtest.SourceVersions(b"739")


def write(path, big):
    head = ("%s %f\n" % (os.path.basename(path), rng.random())).encode()
    data = head + os.urandom(rng.randint(3 << 20, 6 << 20)) + head * 10000 if big else head * rng.randint(1, 2000)
    with open(path, "wb") as f:
        f.write(data)
    sources.wrote(path, data)


def archives():
    return [os.path.join(d, n) for view in VIEWS for d, _, files in os.walk(view) for n in files if n.endswith(".zip")]


def leftovers():
    found = [os.path.join(d, n) for view in VIEWS for d, _, files in os.walk(view) for n in files
             if not n.endswith(".zip")]
    for t in TEMPS:
        found += [os.path.join(t, n) for n in os.listdir(t) if n.startswith("~vq.lumen.")]
    return found


def check_archives(when, want_newest=False):
    sources.check_archives(when, archives(), want_newest)


def count(text):
    return read_log(log_path)[1].count(text)


def kill_program():
    # The Windows process of this run, found by the scratch folder only this test uses.
    r = subprocess.run(["pgrep", "-f", os.path.basename(work)], stdout=subprocess.PIPE, text=True)
    for pid in r.stdout.split():
        if int(pid) != os.getpid():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass


for p in small:
    write(p, False)
for p in large:
    write(p, True)
proc = None
try:
    killed_writing = 0
    for k in range(KILLS):
        if k:
            for p in rng.sample(small, 2) + rng.sample(large, 1):
                write(p, p in large)
        begun = count("DoBackUp[1]:")
        proc = vqwine.start(exe)
        wait_for(lambda: count("DoBackUp[1]:") > begun, 120, "the pass of run %d" % (k + 1), step=0.02)
        time.sleep(rng.uniform(0, 0.5))
        killed_writing += bool(leftovers())
        kill_program()
        proc.wait()
        time.sleep(0.5)
        check_archives("kill %d" % (k + 1))
        print("kill %d: %d archives checked" % (k + 1, len(archives())))
    print("%d of %d kills came while work files existed" % (killed_writing, KILLS))

    write(small[0], False)
    ended = count("back ")
    proc = vqwine.start(exe)
    wait_for(lambda: count("back ") > ended, 120, "the pass after the last kill")
    time.sleep(1)
    check(leftovers() == [], "no partial or temporary file after the next pass: %r" % leftovers())
    check_archives("after the next pass", want_newest=True)
    check(vqwine.exit_program(proc), "the exit command ends the program")
finally:
    vqwine.close_down(proc)
finish()
