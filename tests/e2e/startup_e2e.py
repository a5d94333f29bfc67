#!/usr/bin/env python3
"""End to end on POSIX: start the real program with a temporary HOME, read what it stored and
logged, start a second instance and see it leave without a trace, then end the first with its
exit command and start once more on the normal path."""
import os, re, shutil, signal, subprocess, sys, tempfile, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for, failures  # noqa: E402

PROGRAM = sys.argv[1]
LAST_DUMP_LINE = "中断备份所有数据的方法:菜单->重置->重置最后备份时间为一天前\r\n"
PREFIX = re.compile(r"\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:")


def parse_store(path):
    values = {}
    for line in open(path, encoding="utf-8"):
        m = re.match(r'^"([^"]+)"=(dword:([0-9a-f]{8})|"(.*)")$', line.rstrip("\n"))
        if m:
            values[m.group(1)] = ("dword", int(m.group(3), 16)) if m.group(3) else ("sz", m.group(4))
    return values


def snapshot(root):
    out = {}
    for d, _, files in os.walk(root):
        for f in files:
            p = os.path.join(d, f)
            out[p] = open(p, "rb").read()
        out[d] = None
    return out


root = vqtest.scratch("vq-e2e-")
home = os.path.join(root, "home")
os.makedirs(home)
bindir = os.path.join(root, "bin")
os.makedirs(bindir)
prog = os.path.join(bindir, "vq.lumen")
shutil.copy(PROGRAM, prog)
env = dict(os.environ, HOME=home, TMPDIR=os.path.join(root, "tmp"), XDG_RUNTIME_DIR=os.path.join(root, "run"),
           LANG="C.UTF-8")
env.pop("XDG_CONFIG_HOME", None)
os.makedirs(env["TMPDIR"])
os.makedirs(env["XDG_RUNTIME_DIR"])
log_path = os.path.join(bindir, "vq.lumen.log.txt")
store_path = os.path.join(home, ".config", "vq.lumen", "vq.l.reg")

started = time.time()
first = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 20, "the run-parameter dump")

# --- the log file
data, text = read_log(log_path)
check(data[:2] == b"\xff\xfe", "log starts with the byte-order mark FF FE")
check(b"\xff\xfe" not in data[2:], "the byte-order mark appears once")
entries = PREFIX.split(text)
check(entries[0] == "", "the log begins with a time prefix")
for line in ["数据安全保护软件[0.05]版本，让数据从源目录流动到目的目录\r\n", "run!\r\n",
             "第一次运行，生成默认最后同步时间为一周前\r\n", "第一次运行设置:\r\n", "运行参数:\r\n",
             "S_ZIP_PSW         [Zip密码]      [***]\r\n",
             "S_DIR_SRCDATA     [源目录]       [%s/Documents/]\r\n" % home,
             "S_DIR_ST_HIST     [历史视图]     [%s/vq.l/mHistory/]\r\n" % home, LAST_DUMP_LINE]:
    check(line in entries, "log entry %r" % line)
check(re.search(r"\]:\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:run!\r\n", text) is not None, "the run! line with its time")
check(re.search(r"make timeLastBk \d+年\d+月\d+日 \d+:\d+:\d+ \r\n", text) is not None, "the first-run time line")
check("S_ZIP_PSW         [Zip密码]      [739]" not in text, "the password is never logged")

# --- the store
store = parse_store(store_path)
check(len(store) == 13, "thirteen stored values (got %d)" % len(store))
check(store.get("zipEncryption") == ("dword", 0), "the traditional encryption by default")
for name in ["vqDebug", "autoRunFlag", "maxFSize"]:
    check(store.get(name, ("?",))[0] == "dword", name + " is a 32-bit value")
check(store.get("maxFSize") == ("dword", 32), "maxFSize default 32")
check(store.get("S_ZIP_PSW") == ("sz", "739"), "password default")
check(store.get("S_DIR_SRCDATA") == ("sz", home + "/Documents/"), "source default")
check(store.get("S_DIR_DESTDATA") == ("sz", home + "/vq.l/"), "destination default")
check(len(store.get("fFilterSr", ("", ""))[1]) == 316, "default filter of 316 characters")
t = int(store.get("timeLastBk", ("sz", "0"))[1])
check(abs(t - (started - 604800)) < 30, "timeLastBk one week back (%d)" % t)
check(abs(int(store["timeLastBkDayly"][1]) - started) < 30, "timeLastBkDayly now")
check(abs(int(store["timeLastBkYearly"][1]) - (started - 86400)) < 30, "timeLastBkYearly one day back")
for d in ["Documents", "vq.l/mList", "vq.l/mHistory", "vq.l/mScDir"]:
    check(os.path.isdir(os.path.join(home, d)), "directory " + d + " created")
check(not os.path.exists(os.path.join(home, ".config", "autostart", "vq.lumen.desktop")), "no autostart entry")

# --- a second start hands over and leaves no trace
before = snapshot(root)
t0 = time.time()
second = subprocess.run([prog], stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=15)
check(second.returncode == 0, "second start exits with 0")
check(time.time() - t0 < 5, "second start leaves at once")
check(second.stdout == b"", "second start prints nothing")
check(snapshot(root) == before, "second start changes no file")

# --- commands: status, then exit
first.stdin.write("status\n".encode())
first.stdin.flush()
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 2, 10, "the dump of the status command")
first.stdin.write("exit\n".encode())
first.stdin.flush()
try:
    out, _ = first.communicate(timeout=10)
except subprocess.TimeoutExpired:
    first.kill()
    out, _ = first.communicate()
    check(False, "exit command ends the program")
check(first.returncode == 0, "exit code 0 after the exit command")
shown = out.decode("utf-8", errors="replace")
check("ID_MENUITEM_EXIT:\n" in shown, "the terminal shows the exit line")
check(shown.count("== vq.lumen-保护你的数据安全 ==") >= 2, "the second start brought the first forward")
check("\n运行参数:\n" in shown and not re.search(PREFIX.pattern + "运行参数", shown), "the terminal shows texts without the time prefix")
check("ID_MENUITEM_EXIT:\r\n" in read_log(log_path)[1], "the log file has the exit line")

# --- the normal path on the next start
third = subprocess.Popen([prog, "restart"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 3, 20, "the dump of the second run")
text = read_log(log_path)[1]
check(text.count("第一次运行设置:") == 1, "no first run the second time")
check(("秒:timeLastBk 读取到上一次同步的时间 ") in text, "stored times read on the normal path")
check(re.search(r"年:timeLastBkYearly \d+年\d+月\d+日 \d+:\d+:\d+ \r\n", text) is not None, "yearly time line")
check(parse_store(store_path)["timeLastBk"] == store["timeLastBk"], "timeLastBk kept across runs")
check(text.count("]:软件重启成功\r\n") == 1, "a start with restart on its command line confirms it")
third.send_signal(signal.SIGTERM)
try:
    out3, _ = third.communicate(timeout=10)
    check("[vq.l] 软件重启成功" in out3.decode("utf-8", errors="replace"), "the restart message is shown")
except subprocess.TimeoutExpired:
    third.kill()
    check(False, "SIGTERM ends the program")

# --- a process started for a restart never hands over: it waits for the old process to end
# (however long its window lingers) and then runs
old = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 4, 20, "the dump of the old instance")
restarted_env = dict(env, VQ_LUMEN_RESTART_FROM=str(old.pid))
fourth = subprocess.Popen([prog, "restart"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=restarted_env)
time.sleep(6)  # longer than any fixed wait for the old window would last
check(fourth.poll() is None, "the restarted process does not hand over to the old one")
check(read_log(log_path)[1].count("]:软件重启成功\r\n") == 1, "it waits while the old process runs")
old.stdin.write(b"exit\n")
old.stdin.flush()
old.communicate(timeout=10)
wait_for(lambda: read_log(log_path)[1].count("]:软件重启成功\r\n") == 2, 20, "it runs once the old process ended")
fourth.send_signal(signal.SIGTERM)
try:
    fourth.communicate(timeout=10)
except subprocess.TimeoutExpired:
    fourth.kill()
    check(False, "SIGTERM ends the restarted program")

finish()
print("all end-to-end checks passed")
