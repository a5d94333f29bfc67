"""Helpers shared by the scripts that drive the Windows program under wine (inside xvfb-run). Every
such script is called with the program, the wine runner, the build tree and the vqpost driver as
its first four arguments; this module reads them from there."""
import os, shutil, subprocess, sys, time
import vqtest
from vqtest import read_log, wait_for

EXE, WINE_RUN, BUILD, VQPOST = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
PREFIX_DIR = os.path.join(BUILD, "wineprefix")
DRIVE_C = os.path.join(PREFIX_DIR, "drive_c")
# What wine-run.sh sets as well, for the calls that go to wine directly (reg, wineserver): the
# same prefix and server, and code page 936 as on a Chinese desktop.
env = dict(os.environ, WINEPREFIX=PREFIX_DIR, WINEDEBUG="-all", LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8")
APP_KEY = r"HKCU\software\vq.lumen"
KEY = APP_KEY + r"\vq.l\set"
EXIT_COMMAND = "32772"  # the menu's 退出


def wine(*args, timeout=120):
    r = subprocess.run(["wine"] + list(args), env=env, capture_output=True, timeout=timeout)
    return r.returncode, r.stdout.decode("utf-8", errors="replace")


def post(*args, tries=2):
    """One run of the vqpost driver: its exit code and its output without the line end."""
    # The first driver run after wine set up its desktop can stall; a second run goes through.
    for _ in range(tries):
        try:
            r = subprocess.run([WINE_RUN, VQPOST] + list(args), env=env, capture_output=True, timeout=30)
            return r.returncode, r.stdout.decode("utf-8", errors="replace").rstrip("\r\n")
        except subprocess.TimeoutExpired:
            print("driver timed out:", args)
    return -1, ""


def win_path(p):
    """The wine path of a host path (drive Z: is the host's root)."""
    return "Z:" + p.replace("/", "\\")


def win_dir(p):
    """The wine path of a host folder, ending in a backslash as the program stores folders."""
    return win_path(p) + "\\"


def wine_world(prefix):
    """A fresh start under wine: the prefix made (wine-run.sh makes it on first use, and reg needs
    it), no settings of earlier runs, and a copy of the program in a scratch folder of its own (its
    log is written beside it). Returns the folder, the copy and the log's path."""
    subprocess.run([WINE_RUN, os.path.join(os.environ.get("WINDIR", ""), "none.exe")], env=env, capture_output=True)
    wine("reg", "delete", APP_KEY, "/f")
    work = vqtest.scratch(prefix)
    exe = os.path.join(work, "vq.lumen.exe")
    shutil.copy(EXE, exe)
    return work, exe, os.path.join(work, "vq.lumen.log.txt")


def store_settings(src, dest, password, when):
    """Source, destination and password in the registry, and every last-backup time at `when` (a
    time in seconds), so that the first start is not a first run and asks nothing."""
    for name, value in [("S_DIR_SRCDATA", win_dir(src)), ("S_DIR_DESTDATA", win_dir(dest)), ("S_ZIP_PSW", password),
                        ("timeLastBk", str(when)), ("timeLastBkDayly", str(when)), ("timeLastBkWeekly", str(when)),
                        ("timeLastBkMonthly", str(when)), ("timeLastBkYearly", str(when))]:
        wine("reg", "add", KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")


def start(exe, **popen_args):
    return subprocess.Popen([WINE_RUN, exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            **popen_args)


def wait_monitor(log_path, src):
    """Waits for the monitor of `src` to start, and for the worker's first pass after it."""
    wait_for(lambda: "Monit 成功  开始监控 %s\r\n" % win_dir(src) in read_log(log_path)[1], 90, "the monitor")
    time.sleep(3)  # the worker's first pass follows the monitor's start


def exit_program(proc):
    """Sends 退出 through the driver; whether the program ends within a minute."""
    post("command", EXIT_COMMAND)
    try:
        proc.wait(timeout=60)
        return True
    except subprocess.TimeoutExpired:
        return False


def stop_wine(proc=None):
    """Ends the prefix's wine server, which takes every program of the prefix with it, and the
    runner's process if it is still there."""
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    if proc is not None and proc.poll() is None:
        proc.kill()


def close_down(proc=None):
    """After a run, passed or not: wine ended and no settings left for the next test."""
    stop_wine(proc)
    wine("reg", "delete", APP_KEY, "/f")


def screenshot(name):
    """The whole virtual display, as a PNG file in the build tree for people to look at."""
    path = os.path.join(BUILD, name)
    subprocess.run("xwd -root | convert xwd:- " + path, shell=True, capture_output=True)
    return path
