#!/usr/bin/env python3
"""Crash campaign on POSIX: over a source of small and large files, kill the program (SIGKILL) at
random moments of its passes, again and again, changing some files before every start. After each
kill every archive in the three views opens with the password, holds one entry and matches a
version its source had; after a last, whole pass the archives hold the newest versions and no
partial archive or temporary file is left.

Usage: crash_e2e.py PROGRAM [KILLS] [SEED]"""
import os, random, shutil, signal, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402

PROGRAM = sys.argv[1]
KILLS = int(sys.argv[2]) if len(sys.argv) > 2 else 20
SEED = int(sys.argv[3]) if len(sys.argv) > 3 else int(time.time())
PASSWORD = b"739"
SEVEN_ZIP = shutil.which("7z")
rng = random.Random(SEED)
print("seed", SEED)

root, home, prog, env, log_path = vqtest.program_world("vq-crash-e2e-", PROGRAM)
tmp = env["TMPDIR"]
src = os.path.join(home, "Documents")
dest = os.path.join(home, "vq.l")
VIEWS = [os.path.join(dest, v) for v in ("mList", "mHistory", "mScDir")]

# Every file has a name of its own, so an archive's entry name tells its source.
small = [os.path.join(src, "s%d" % (i % 3), "note%02d.txt" % i) for i in range(12)]
large = [os.path.join(src, "big", "large%d.txt" % i) for i in range(3)]
sources = vqtest.SourceVersions(PASSWORD)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    sources.wrote(path, data)


def content(path, big):
    # Large files are partly compressible; the first one deflates to more than the writer keeps
    # in memory, so its spill file is in play too.
    head = ("%s %f\n" % (path, rng.random())).encode()
    if big:
        size = (5 << 20) if path == large[0] else rng.randint(1 << 20, 2 << 20)
        return head + os.urandom(size) + head * 20000
    return head * rng.randint(1, 3000)


def archives():
    for view in VIEWS:
        for d, _, files in os.walk(view):
            for n in files:
                if n.endswith(".zip"):
                    yield os.path.join(d, n)


def leftovers():
    """Partial archives in the views and working files in the temporary folder."""
    found = [os.path.join(d, n) for view in VIEWS for d, _, files in os.walk(view) for n in files
             if not n.endswith(".zip")]
    found += [os.path.join(tmp, n) for n in os.listdir(tmp) if n.startswith("~vq.lumen.") or n.endswith(".temp")
              or n.endswith(".temp.z")]
    return found


def check_archives(when, want_newest=False):
    return sources.check_archives(when, archives(), want_newest)


def start():
    return subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)


def passes_ended():
    return read_log(log_path)[1].count("back ")


def files_begun():
    return read_log(log_path)[1].count("DoBackUp[1]:")


def monitors_started():
    return read_log(log_path)[1].count("Monit 成功")


for p in small:
    write(p, content(p, False))
for p in large:
    write(p, content(p, True))

# A first whole pass measures how long one takes, so the kills fall inside passes.
proc = start()
try:
    wait_for(lambda: monitors_started() == 1, 30, "the first monitor")
    t0 = time.time()
    wait_for(lambda: passes_ended() == 1, 120, "the first whole pass")
    # The worker starts its first pass two seconds after the monitor.
    pass_seconds = max(time.time() - t0 - 2.0, 0.3)
    print("first pass: %.2f s" % pass_seconds)
    proc.kill()
    proc.wait()
    check_archives("after the first pass", want_newest=True)

    kills_in_pass = 0
    for k in range(KILLS):
        # New versions of some files before each start, so every pass has work.
        for p in rng.sample(small, 4) + rng.sample(large, rng.randint(1, 2)):
            write(p, content(p, p in large))
        ended, begun = passes_ended(), files_begun()
        proc = start()
        # From the pass's first file to a moment within the pass (or just after it).
        wait_for(lambda: files_begun() > begun, 60, "the pass of run %d" % (k + 2), step=0.01)
        # A pass here writes about half the files of the first one.
        time.sleep(rng.uniform(0, pass_seconds * 0.4))
        # Only this run's own working files (its process id is in their names) say it was writing.
        pid = str(proc.pid)
        writing = any(os.path.basename(n).split(".")[3:4] == [pid] for n in leftovers())
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        kills_in_pass += writing
        n = check_archives("kill %d" % (k + 1))
        print("kill %2d: %3d archives checked, %s" % (k + 1, n, "while writing" if writing else
                                                     ("after the pass" if passes_ended() > ended else "before writing")))
    print("%d of %d kills came while a file was being written" % (kills_in_pass, KILLS))
    check(kills_in_pass >= max(1, KILLS // 10), "at least a tenth of the kills fall while archives are written")

    # The next whole pass (with one more change, so it has work and an end line): the newest
    # versions everywhere, and nothing of the killed runs left.
    write(small[0], content(small[0], False))
    ended = passes_ended()
    proc = start()
    wait_for(lambda: passes_ended() > ended, 120, "the pass after the last kill")
    check(leftovers() == [], "no partial or temporary file after the next pass: %r" % leftovers())
    check_archives("after the next pass", want_newest=True)
    if SEVEN_ZIP:
        for z in list(archives())[:10]:
            r = subprocess.run([SEVEN_ZIP, "t", "-p739", z], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            check(r.returncode == 0, "7z t %s" % z)
    proc.stdin.write(b"exit\n")
    proc.stdin.flush()
    proc.wait(timeout=10)
finally:
    vqtest.kill_left_running(proc)
finish()
