#!/usr/bin/env python3
"""End to end for the Windows program under wine (run inside xvfb-run): with the source and the
destination set in the registry, a file saved directly in the source folder has its three archives
within three seconds, each opened by Python's zipfile with the password and tested by 7-Zip; a
file that is not in the filter gets none. (Wine reports changes only for entries directly in the
watched directory, so deeper changes are tested natively.)"""
import os, shutil, subprocess, sys, time, zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402

EXE, WINE_RUN, BUILD, VQPOST = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
PREFIX_DIR = os.path.join(BUILD, "wineprefix")
env = dict(os.environ, WINEPREFIX=PREFIX_DIR, WINEDEBUG="-all", LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8")
KEY = r"HKCU\software\vq.lumen\vq.l\set"
PASSWORD = "739"
SEVEN_ZIP = shutil.which("7z")


def wine(*args, timeout=120):
    r = subprocess.run(["wine"] + list(args), env=env, capture_output=True, timeout=timeout)
    return r.returncode, r.stdout.decode("utf-8", errors="replace")


def win_path(p):
    """The wine path of a host path (drive Z: is the host's root), ending in a backslash."""
    return "Z:" + p.replace("/", "\\") + "\\"


subprocess.run([WINE_RUN, os.path.join(os.environ.get("WINDIR", ""), "none.exe")], env=env, capture_output=True)
work = vqtest.scratch("vq-wine-backup-")
src = os.path.join(work, "src")
dest = os.path.join(work, "dest")
os.makedirs(src)
now = int(time.time())
wine("reg", "delete", r"HKCU\software\vq.lumen", "/f")
for name, value in [("S_DIR_SRCDATA", win_path(src)), ("S_DIR_DESTDATA", win_path(dest)), ("S_ZIP_PSW", PASSWORD),
                    ("timeLastBk", str(now)), ("timeLastBkDayly", str(now)), ("timeLastBkWeekly", str(now)),
                    ("timeLastBkMonthly", str(now)), ("timeLastBkYearly", str(now))]:
    wine("reg", "add", KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")

exe = os.path.join(work, "vq.lumen.exe")
shutil.copy(EXE, exe)
log_path = os.path.join(work, "vq.lumen.log.txt")
proc = subprocess.Popen([WINE_RUN, exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    wait_for(lambda: "Monit 成功  开始监控 %s\r\n" % win_path(src) in read_log(log_path)[1], 90, "the monitor")
    time.sleep(3)  # the worker's first pass follows the monitor's start

    flat = win_path(src).replace("\\", ".").replace(":", ".")
    report = os.path.join(src, "报告.txt")
    content = "第一版\r\n".encode("utf-8") * 500
    t0 = time.time()
    with open(report, "wb") as f:
        f.write(content)
    lst = os.path.join(dest, "mList", flat + "报告.txt.zip")
    folder = os.path.join(dest, "mScDir", *(src.strip("/").split("/") + ["报告.txt.zip"]))
    hist_dir = os.path.join(dest, "mHistory")

    def history():
        if not os.path.isdir(hist_dir):
            return []
        return [os.path.join(hist_dir, n) for n in os.listdir(hist_dir) if n.startswith(flat + "报告.txt.")]

    ok = wait_for(lambda: os.path.exists(lst) and os.path.exists(folder) and len(history()) == 1, 3,
                  "the three archives of a file saved in the source")
    print("archived after %.2f s" % (time.time() - t0))
    if not ok:  # tell a slow pass from a missing one
        wait_for(lambda: os.path.exists(lst) and os.path.exists(folder) and len(history()) == 1, 30,
                 "the three archives at all")
    for z in [lst, folder] + history():
        try:
            with zipfile.ZipFile(z) as zf:
                infos = zf.infolist()
                check(len(infos) == 1, "%s holds one entry" % z)
                # The entry name is in code page 936, as a Chinese desktop's unzip tools expect.
                check(infos[0].filename.encode("cp437").decode("gbk") == "报告.txt", "entry name 报告.txt")
                check(zf.read(infos[0], pwd=PASSWORD.encode()) == content, "%s: content equals the source" % z)
        except Exception as e:  # noqa: BLE001
            check(False, "%s opens in zipfile: %s" % (z, e))
        if SEVEN_ZIP:
            r = subprocess.run([SEVEN_ZIP, "t", "-p" + PASSWORD, z], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            check(r.returncode == 0, "7z t %s" % z)

    other = os.path.join(src, "Makefile")
    with open(other, "wb") as f:
        f.write(b"all:\n")
    time.sleep(3)
    check(not os.path.exists(os.path.join(dest, "mList", flat + "Makefile.zip")), "no archive of a Makefile")
    text = read_log(log_path)[1]
    check("]:DoBackUp[1]:%s报告.txt\r\n" % win_path(src) in text, "the DoBackUp line")
    check("]:back 1 file at  " in text, "the end-of-pass line")
    for view in ("mList", "mHistory", "mScDir"):
        strays = [os.path.join(d, n) for d, _, files in os.walk(os.path.join(dest, view)) for n in files
                  if not n.endswith(".zip")]
        check(strays == [], "no stray files in %s: %r" % (view, strays))

    subprocess.run([WINE_RUN, VQPOST, "command", "32772"], env=env, capture_output=True, timeout=60)
    try:
        proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        check(False, "the exit command ends the program")
finally:
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    if proc.poll() is None:
        proc.kill()
    wine("reg", "delete", r"HKCU\software\vq.lumen", "/f")
finish()
