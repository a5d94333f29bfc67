#!/usr/bin/env python3
"""End to end: the program reads "vq.l.ini" beside itself at start-up and, with flog=on, writes the
product-information log "vq.l.txt" there; the About command writes the product constants to the
log. Runs the POSIX program natively, or the Windows program under wine when an emulator is
given (there the main window's handle must reach the dump).

usage: product_info_e2e.py PROGRAM [EMULATOR]"""
import os, re, shutil, subprocess, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402

PROGRAM = sys.argv[1]
EMULATOR = sys.argv[2] if len(sys.argv) > 2 else ""
PREFIX = re.compile(r"\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:")

root = vqtest.scratch("vq-product-")
home = os.path.join(root, "home")
bindir = os.path.join(root, "bin")
for d in (home, bindir, os.path.join(root, "tmp"), os.path.join(root, "run")):
    os.makedirs(d)
prog = os.path.join(bindir, os.path.basename(PROGRAM))
shutil.copy(PROGRAM, prog)
env = dict(os.environ, HOME=home, TMPDIR=os.path.join(root, "tmp"), XDG_RUNTIME_DIR=os.path.join(root, "run"),
           LANG="C.UTF-8")
env.pop("XDG_CONFIG_HOME", None)
info_path = os.path.join(bindir, "vq.l.txt")
log_path = os.path.join(bindir, "vq.lumen.log.txt")
with open(os.path.join(bindir, "vq.l.ini"), "w", newline="") as f:
    f.write("[config]\r\nver=1.2\r\ntitle=Lumen\r\nstudio=Corvane\r\nemail=a@b.c\r\nweb=www.b.c\r\nflog=on\r\n")

if EMULATOR:
    # Not a first run: the first run's settings dialog would wait for a user.
    env.update(WINEDEBUG="-all", LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8")
    subprocess.run([EMULATOR, "reg", "add", r"HKCU\software\vq.lumen\vq.l\set", "/v", "timeLastBk", "/t", "REG_SZ",
                    "/d", str(int(time.time())), "/f"], env=env, capture_output=True, timeout=120)
cmd = ([EMULATOR] if EMULATOR else []) + [prog]
p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
wait_for(lambda: "iflog on\r\n" in PREFIX.split(read_log(info_path)[1])[9:], 60, "the end of the product dump")
data, text = read_log(info_path)
entries = PREFIX.split(text)
check(data[:2] == b"\xff\xfe", "vq.l.txt starts with FF FE")
check(entries[0] == "", "every entry has the time prefix")
head = ["iver 1.2\r\n", "ititle Lumen\r\n", "istudio Corvane\r\n", "iemail a@b.c\r\n", "iweb www.b.c\r\n",
        "iflog on\r\n", "iniOk is 1\r\n"]
check(entries[1:8] == head, "the ini lines first, without logflag=1: %r" % entries[1:8])
check(len(entries) > 8 and re.fullmatch(r"on@\d+\.\d+\.\d+-\d+:\d+:\d+\r\n", entries[8]) is not None,
      "the start line")
dump = entries[9:]
sep = "\\" if EMULATOR else "/"
for line in ["SM_SOFT_VER 0.05\r\n", "SM_SOFT_NAME vq.lumen\r\n", "SM_STUDIO Corvane\r\n", "SM_LOGFILENAME vq.l.txt\r\n",
             "SM_INIFILENAME vq.l.ini\r\n", "logflag 1\r\n", "ver 0.05\r\n", "name vq.lumen\r\n", "iniOk 1\r\n",
             "iflog on\r\n"]:
    check(line in dump, "dump line %r" % line)
paths = [e for e in dump if e.startswith(("cdir ", "logPath ", "inipath "))]
check(len(paths) == 3 and paths[0].endswith(sep + "bin" + sep + "\r\n") and paths[1].endswith(sep + "bin" + sep + "vq.l.txt\r\n")
      and paths[2].endswith(sep + "bin" + sep + "vq.l.ini\r\n"), "the paths lie beside the program: %r" % paths)
hwnd = [e for e in dump if e.startswith("hWnd 0x")]
check(len(hwnd) == 1, "one hWnd line")
if EMULATOR and hwnd:
    check(re.fullmatch(r"hWnd 0x0*[1-9A-F][0-9A-F]*\r\n", hwnd[0]) is not None,
          "the main window's handle reached the record: %r" % hwnd[0])

if not EMULATOR:
    p.stdin.write(b"about\n")
    p.stdin.flush()
    wait_for(lambda: "关于:\r\n" in read_log(log_path)[1], 20, "the About lines")
    about = PREFIX.split(read_log(log_path)[1])
    i = about.index("关于:\r\n") if "关于:\r\n" in about else -1
    check(i >= 0 and about[i + 1] == "vq.lumen 0.05\r\n" and "@" in about[i + 2], "About lines: %r" % about[i:i + 3])
    p.stdin.write(b"exit\n")
    p.stdin.flush()
try:
    p.wait(30 if not EMULATOR else 5)
except subprocess.TimeoutExpired:
    p.terminate()
    try:
        p.wait(20)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
if EMULATOR:
    # Let wine's own processes of this prefix end before the scratch folder goes.
    time.sleep(1)
finish()
