#!/usr/bin/env python3
"""End to end for the Windows program under wine (run inside xvfb-run): the first run stores every
default in the registry (checked with `wine reg query`, types included), writes the log file and
creates the working directories; a second start hands over to the first and writes nothing; a
screenshot of the window is kept in the build tree for people to look at."""
import os, re, subprocess, sys, tempfile, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vqtest import check, finish, read_log, wait_for, failures  # noqa: E402
import vqwine  # noqa: E402
from vqwine import DRIVE_C, KEY, WINE_RUN, env, wine  # noqa: E402

RUN_KEY = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
LAST_DUMP_LINE = "中断备份所有数据的方法:菜单->重置->重置最后备份时间为一天前\r\n"


def reg_query(key):
    rc, out = wine("reg", "query", key)
    values = {}
    for line in out.splitlines():
        m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s*(.*)$", line)
        if m:
            values[m.group(1)] = (m.group(2), m.group(3))
    return rc, values


def post(*args):
    # A single try: a command whose driver run timed out may have been posted all the same, and
    # this test counts what its commands write.
    return vqwine.post(*args, tries=1)


work, exe, log_path = vqwine.wine_world("vq-wine-")
wine("reg", "delete", RUN_KEY, "/v", "vq.lumen", "/f")
started = time.time()
# One run of the driver first: the first GUI process of a display sets up wine's desktop, and a
# driver started while the program does the same can stall.
post("visible")
first = vqwine.start(exe)
# The first run shows the settings dialog before any thread starts; cancelling it keeps the
# defaults, which are stored all the same.
wait_for(lambda: post("dlg")[1] == "1", 90, "the first run's settings dialog")
check(LAST_DUMP_LINE not in read_log(log_path)[1], "the dialog comes before the run-parameter dump")
post("dlg-click", "2")
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 90, "the run-parameter dump")

data, text = read_log(log_path)
check(data[:2] == b"\xff\xfe", "log starts with FF FE")
check(b"\xff\xfe" not in data[2:], "the mark appears once")
check(re.match(r"^\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:", text) is not None, "first entry has its prefix")
for line in ["]:第一次运行，生成默认最后同步时间为一周前\r\n", "]:第一次运行设置:\r\n",
             "]:S_ZIP_PSW         [Zip密码]      [***]\r\n", "]:S_DIR_DESTDATA    [目的目录]     [C:\\vq.l\\]\r\n",
             "]:S_DIR_ST_LIST     [列表视图]     [C:\\vq.l\\mList\\]\r\n", "]:数据安全保护软件[0.05]版本"]:
    check(line in text, "log has %r" % line)

rc, values = reg_query(KEY)
check(rc == 0, "the settings key exists")
types = {"timeLastBk": "REG_SZ", "timeLastBkDayly": "REG_SZ", "timeLastBkWeekly": "REG_SZ",
         "timeLastBkMonthly": "REG_SZ", "timeLastBkYearly": "REG_SZ", "vqDebug": "REG_DWORD",
         "autoRunFlag": "REG_DWORD", "maxFSize": "REG_DWORD", "S_ZIP_PSW": "REG_SZ", "S_DIR_SRCDATA": "REG_SZ",
         "S_DIR_DESTDATA": "REG_SZ", "fFilterSr": "REG_SZ", "zipEncryption": "REG_DWORD"}
check(set(values) == set(types), "exactly the twelve values and the encryption (got %s)" % sorted(values))
for name, ty in types.items():
    check(values.get(name, ("?",))[0] == ty, "%s is %s" % (name, ty))
check(values.get("maxFSize", ("", ""))[1] == "0x20", "maxFSize 32")
check(values.get("zipEncryption", ("", ""))[1] == "0x0", "the traditional encryption by default")
check(values.get("S_ZIP_PSW", ("", ""))[1] == "739", "password 739")
check(values.get("S_DIR_DESTDATA", ("", ""))[1] == "C:\\vq.l\\", "destination C:\\vq.l\\")
check(values.get("S_DIR_SRCDATA", ("", ""))[1].endswith("\\Documents\\"), "source is the documents folder")
check(len(values.get("fFilterSr", ("", ""))[1]) == 316, "316-character filter")
try:
    t = int(values["timeLastBk"][1])
    check(abs(t - (started - 604800)) < 120, "timeLastBk one week back")
except (KeyError, ValueError):
    check(False, "timeLastBk is a number")
rc, run_values = reg_query(RUN_KEY)
check("vq.lumen" not in run_values, "no run-at-startup value with autoRunFlag 0")
for d in ["vq.l/mList", "vq.l/mHistory", "vq.l/mScDir"]:
    check(os.path.isdir(os.path.join(DRIVE_C, d)), "working directory " + d)

shot = vqwine.screenshot("startup_wine.png")

# A second start: the first window comes forward, the second process writes nothing.
# The first instance's own first pass and schedule check store their times a moment after the
# dump; take the snapshot once the values have held still for a few seconds, so only the second
# start could change them afterwards.
reg_before, still_since = reg_query(KEY)[1], time.time()
settle_end = time.time() + 90
while time.time() - still_since < 6 and time.time() < settle_end:
    time.sleep(1)
    now_values = reg_query(KEY)[1]
    if now_values != reg_before:
        reg_before, still_since = now_values, time.time()
check(time.time() - still_since >= 6, "the first instance's settings come to rest")
log_before = read_log(log_path)[0]
t0 = time.time()
second = subprocess.run([WINE_RUN, exe], env=env, capture_output=True, timeout=120)
check(second.returncode == 0, "second start exits with 0")
check(time.time() - t0 < 60, "second start leaves at once")
check(read_log(log_path)[0] == log_before, "second start adds nothing to the log")
check(reg_query(KEY)[1] == reg_before, "second start changes no registry value")
check(first.poll() is None, "the first instance still runs")


# The window's own commands, as the menu and the caption send them.
post("command", "32773")
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 2, 30, "the dump of 运行状态信息")
post("close")
wait_for(lambda: post("visible")[1] == "0", 30, "close hides the window")
check(first.poll() is None, "closing only hides: the program lives on")
subprocess.run([WINE_RUN, exe], env=env, capture_output=True, timeout=120)
wait_for(lambda: post("visible")[1] == "1", 30, "a second start shows the hidden window")
for vk in ("13", "27"):  # Enter and Escape, pressed in the log view, must not end the window
    post("key", vk)
time.sleep(2)
check(first.poll() is None and post("visible")[1] == "1", "Enter and Escape leave the window open")
post("command", "32781")
wait_for(lambda: "set todobd 1\r\n" in read_log(log_path)[1], 30, "command 32781")
check(vqwine.exit_program(first), "退出 ends the program")
text = read_log(log_path)[1]
check("]:ID_MENUITEM_EXIT:\r\n" in text, "exit line logged")
check("]:WM_DESTROY:\r\n" in text, "destroy line logged")
check(text.count("]:WM_DESTROY:") == 1, "the handed-over starts logged nothing")
vqwine.stop_wine(first)

# A round trip through the program: values changed in the registry are read on the normal path
# and written back with their types; autoRunFlag 1 writes the quoted program path to the Run key.
wine("reg", "add", KEY, "/v", "maxFSize", "/t", "REG_DWORD", "/d", "100", "/f")
wine("reg", "add", KEY, "/v", "autoRunFlag", "/t", "REG_DWORD", "/d", "1", "/f")
wine("reg", "add", KEY, "/v", "S_ZIP_PSW", "/t", "REG_SZ", "/d", "", "/f")
wine("reg", "add", KEY, "/v", "timeLastBk", "/t", "REG_SZ", "/d", "456789", "/f")
wine("reg", "add", KEY, "/v", "timeLastBkDayly", "/t", "REG_SZ", "/d", "12", "/f")
again = vqwine.start(exe)
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 3, 90, "the dump of the second run")
wait_for(lambda: "vq.lumen" in reg_query(RUN_KEY)[1], 30, "the run-at-startup value")
text = read_log(log_path)[1]
check("]:秒:timeLastBk 读取到上一次同步的时间 " in text, "normal path on the second run")
check(text.count("]:第一次运行设置:") == 1, "no second first run")
check("]:maxFSize          [文件大小限制] [100]MB\r\n" in text, "changed maxFSize read back")
check("]:S_ZIP_PSW         [Zip密码]      []\r\n" in text, "an empty password stays empty")
check("]:autoRunFlag       [开机运行]     [是]\r\n" in text, "autoRunFlag read back")
rc, values = reg_query(KEY)
for name, ty in types.items():
    check(values.get(name, ("?",))[0] == ty, "after the round trip %s is still %s" % (name, ty))
check(values.get("maxFSize", ("", ""))[1] == "0x64", "maxFSize written back")
check(values.get("timeLastBk", ("", ""))[1] == "456789", "timeLastBk written back unchanged")
check(values.get("S_ZIP_PSW", ("?", "?"))[1] == "", "empty password written back empty")
check(values.get("timeLastBkDayly", ("", ""))[1] not in ("", "12"),
      "a two-character time counts as not stored and is replaced by the value in memory")
run_value = reg_query(RUN_KEY)[1].get("vq.lumen", ("", ""))
check(run_value[0] == "REG_SZ" and run_value[1].startswith('"') and run_value[1].endswith('vq.lumen.exe"'),
      "the Run value is the quoted program path (%r)" % (run_value,))
check(vqwine.exit_program(again), "退出 ends the second run")
vqwine.stop_wine(again)
wine("reg", "delete", RUN_KEY, "/v", "vq.lumen", "/f")
finish()
print("all wine end-to-end checks passed; screenshot:", shot)
