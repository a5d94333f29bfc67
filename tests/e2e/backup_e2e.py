#!/usr/bin/env python3
"""End to end on POSIX: start the real program with a temporary HOME, save files into the source
folder (directly and in a new subfolder) and find their three archives in the destination within
three seconds, each opened by Python's zipfile with the password and tested by 7-Zip; clean the
history view through the terminal command and see only that view emptied; kill the program while
it writes a large archive and find every earlier archive whole and no stray file after the next
run."""
import os, shutil, subprocess, sys, time, zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402

PROGRAM = sys.argv[1]
PASSWORD = "739"
SEVEN_ZIP = shutil.which("7z")

root, home, prog, env, log_path = vqtest.program_world("vq-backup-e2e-", PROGRAM)
src = os.path.join(home, "Documents")
dest = os.path.join(home, "vq.l")


def archives_of(path):
    """The three archive paths of a source file (list, folder; history by prefix)."""
    flat = path.replace("/", ".")
    return (os.path.join(dest, "mList", flat + ".zip"), os.path.join(dest, "mScDir", path.lstrip("/") + ".zip"),
            os.path.join(dest, "mHistory"), flat)


def history_of(path):
    _, _, hist, flat = archives_of(path)
    if not os.path.isdir(hist):
        return []
    return [os.path.join(hist, n) for n in os.listdir(hist) if n.startswith(flat + ".") and n.endswith(".zip")]


def all_three(path):
    lst, folder, _, _ = archives_of(path)
    return os.path.exists(lst) and os.path.exists(folder) and len(history_of(path)) == 1


def check_archive(zpath, name, content):
    try:
        with zipfile.ZipFile(zpath) as z:
            names = z.namelist()
            check(names == [name], "%s holds exactly %s (got %r)" % (zpath, name, names))
            check(z.read(name, pwd=PASSWORD.encode()) == content, "%s: content equals the source" % zpath)
    except Exception as e:  # noqa: BLE001
        check(False, "%s opens in zipfile: %s" % (zpath, e))
    if SEVEN_ZIP:
        r = subprocess.run([SEVEN_ZIP, "t", "-p" + PASSWORD, zpath], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(r.returncode == 0, "7z t %s" % zpath)


proc = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)
try:
    wait_for(lambda: "Monit 成功  开始监控 %s/\r\n" % src in read_log(log_path)[1], 20, "the monitor to start")
    # The worker's first pass follows the monitor's start; let it run before the clock starts.
    time.sleep(2.5)

    a = os.path.join(src, "report.txt")
    a_content = b"first report\n" * 1000
    t0 = time.time()
    with open(a, "wb") as f:
        f.write(a_content)
    ok = wait_for(lambda: all_three(a), 3, "the three archives of a file saved in the source")
    check(ok, "archives of report.txt within 3 s (took %.2f s)" % (time.time() - t0))
    print("report.txt archived after %.2f s" % (time.time() - t0))
    lst, folder, _, _ = archives_of(a)
    for z in [lst, folder] + history_of(a):
        check_archive(z, "report.txt", a_content)

    sub = os.path.join(src, "new", "deeper")
    os.makedirs(sub)
    b = os.path.join(sub, "notes.TXT")
    b_content = os.urandom(300000)
    t0 = time.time()
    with open(b, "wb") as f:
        f.write(b_content)
    ok = wait_for(lambda: all_three(b), 3, "the archives of a file in a new subfolder")
    print("new/deeper/notes.TXT archived after %.2f s" % (time.time() - t0))
    lst, folder, _, _ = archives_of(b)
    for z in [lst, folder] + history_of(b):
        check_archive(z, "notes.TXT", b_content)

    # A file that is not in the filter gets nothing.
    c = os.path.join(src, "Makefile")
    with open(c, "wb") as f:
        f.write(b"all:\n")
    time.sleep(2.5)
    check(not os.path.exists(archives_of(c)[0]), "a Makefile is never backed up")

    _, text = read_log(log_path)
    check("DoBackUp[1]:%s\r\n" % a in text, "the DoBackUp line of report.txt")
    check("DoBackUp[1]:%s\r\n" % b in text, "the DoBackUp line of notes.TXT")
    check("back 1 file at  " in text, "the end-of-pass line")

    for view in ("mList", "mHistory", "mScDir"):
        strays = [os.path.join(d, n) for d, _, files in os.walk(os.path.join(dest, view)) for n in files
                  if not n.endswith(".zip")]
        check(strays == [], "no stray files in %s: %r" % (view, strays))

    # Cleaning through the terminal command empties only the history view.
    proc.stdin.write("clean\n".encode())
    proc.stdin.flush()
    wait_for(lambda: "CleanTreadFun:清理结束\r\n" in read_log(log_path)[1], 10, "the end of cleaning")
    check(os.listdir(os.path.join(dest, "mHistory")) == [], "the history view is empty after cleaning")
    check(os.path.exists(archives_of(a)[0]) and os.path.exists(archives_of(b)[1]),
          "the list and folder views keep their archives")

    # Killed in the middle of writing a large archive: every archive that existed before is whole,
    # and the next run leaves no stray file in the views.
    big = os.path.join(src, "big.txt")
    with open(big, "wb") as f:
        f.write(b"small first version")
    wait_for(lambda: all_three(big), 3, "the first version of big.txt")
    time.sleep(1.1)
    big_content = os.urandom(4 << 20)
    with open(big, "wb") as f:
        f.write(big_content)
    def partials():
        """The partial archives in the views (each process writes under its own host and id)."""
        found = []
        for v in ("mList", "mHistory", "mScDir"):
            d = os.path.join(dest, v)
            found += [os.path.join(d, n) for n in (os.listdir(d) if os.path.isdir(d) else [])
                      if n.startswith("~vq.lumen.") and n.endswith(".part")]
        return found
    wait_for(lambda: partials(), 20, "an archive being written", step=0.005)
    proc.kill()
    proc.wait()
    check(partials(), "the kill came while an archive was written")
    lst, folder, _, _ = archives_of(big)
    for z in [lst, folder]:
        check_archive(z, "big.txt", b"small first version")
    for z in [archives_of(a)[0], archives_of(b)[1]]:
        with zipfile.ZipFile(z) as zf:
            zf.setpassword(PASSWORD.encode())
            check(zf.testzip() is None, "%s still whole" % z)

    proc = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)
    wait_for(lambda: read_log(log_path)[1].count("Monit 成功") == 2, 20, "the second run's monitor")
    # The folder view is written last: until it holds the new version, the partial of a view
    # after the list may still be on its way.
    def archived_new(z):
        return zipfile.is_zipfile(z) and zipfile.ZipFile(z).getinfo("big.txt").file_size == len(big_content)
    wait_for(lambda: "DoBackUp[1]:%s\r\n" % big in read_log(log_path)[1].split("Monit 成功")[-1]
             and archived_new(lst) and archived_new(folder),
             60, "the next run to archive the new big.txt")
    check(not partials(), "no partial archive left after the next run")
    for z in [lst, folder]:
        check_archive(z, "big.txt", big_content)
    for view in ("mList", "mHistory", "mScDir"):
        strays = [os.path.join(d, n) for d, _, files in os.walk(os.path.join(dest, view)) for n in files
                  if not n.endswith(".zip")]
        check(strays == [], "no stray files in %s after the restart: %r" % (view, strays))

    vqtest.exit_program(proc, 10)
finally:
    vqtest.kill_left_running(proc)
finish()
