#!/usr/bin/env python3
"""End to end for the Windows program under wine (run inside xvfb-run): with the source and the
destination set in the registry, a file saved directly in the source folder has its three archives
within three seconds, each opened by Python's zipfile with the password and tested by 7-Zip; a
file that is not in the filter gets none. (Wine reports changes only for entries directly in the
watched directory, so deeper changes are tested natively.)"""
import os, shutil, subprocess, sys, time, zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vqtest import check, finish, read_log, wait_for  # noqa: E402
import vqwine  # noqa: E402
from vqwine import win_dir  # noqa: E402

PASSWORD = "739"
SEVEN_ZIP = shutil.which("7z")

work, exe, log_path = vqwine.wine_world("vq-wine-backup-")
src = os.path.join(work, "src")
dest = os.path.join(work, "dest")
os.makedirs(src)
vqwine.store_settings(src, dest, PASSWORD, int(time.time()))
proc = vqwine.start(exe)
try:
    vqwine.wait_monitor(log_path, src)

    flat = win_dir(src).replace("\\", ".").replace(":", ".")
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
    check("]:DoBackUp[1]:%s报告.txt\r\n" % win_dir(src) in text, "the DoBackUp line")
    check("]:back 1 file at  " in text, "the end-of-pass line")
    for view in ("mList", "mHistory", "mScDir"):
        strays = [os.path.join(d, n) for d, _, files in os.walk(os.path.join(dest, view)) for n in files
                  if not n.endswith(".zip")]
        check(strays == [], "no stray files in %s: %r" % (view, strays))

    check(vqwine.exit_program(proc), "the exit command ends the program")
finally:
    vqwine.close_down(proc)
finish()
