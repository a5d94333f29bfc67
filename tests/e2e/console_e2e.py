#!/usr/bin/env python3
"""The terminal front end on POSIX, driven through its standard input: a first run from a pipe
keeps the defaults without asking; every menu command typed by name; the settings as a text
dialog with its checks, its result lines and the restart after a directory change; and a
configuration directory that cannot be written does not stop the program."""
import os, pty, signal, subprocess, sys, termios, threading, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import LAST_DUMP_LINE, check, finish, read_log, wait_for  # noqa: E402
from vqtest import Piped as Running  # noqa: E402

PROGRAM = sys.argv[1]


def setup(name):
    return vqtest.program_world(name, PROGRAM)


# ---- the first run from a pipe keeps the defaults and runs on
root, home, prog, env, log_path = setup("vq-console-")
app = Running(prog, env)
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 20, "the run-parameter dump")
check("== 设置 ==" not in app.shown(), "no settings dialog when input is not a terminal")
check("]:第一次运行设置:\r\n" in read_log(log_path)[1], "first run logged")

# ---- the menu commands by name
app.type("help")
app.wait_shown("reset-all")
for name in ("exit", "settings", "clean", "reset-day", "reset-week", "reset-month", "reset-year", "check-update",
             "status", "about"):
    check(("  " + name + " ") in app.shown(), "help lists " + name)
app.type("frobnicate")
app.wait_shown("unknown command: frobnicate")
app.type("status")
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 2, 10, "the dump of status")
check("S_ZIP_PSW         [Zip密码]      [***]\n" in app.shown(), "status shows the password masked")
for name, label in (("reset-day", "一天前"), ("reset-week", "一周前"), ("reset-month", "一月前"),
                    ("reset-year", "一年前"), ("重置最后备份时间为1980年1月1日", "1980年1月1日")):
    app.type(name)
    app.wait_shown("[重置最后备份时间为%s]:make timeLastBk " % label)
app.type("clean", "清理")
app.wait_shown("ID_MENUITEM_CLEN:清理同步盘的up-dir-by-vq和up-history-by-vq目录\n", count=2)
app.type("check-update")
app.wait_shown("check updata..\n")

# ---- the settings: a refused entry keeps the dialog open with the input; OK stores
src2 = os.path.join(root, "src2")
os.makedirs(src2)
app.type("settings",
         "TXT doc", "x", "", "", "2000", "y", "", "ok",  # password too short: asked again, input kept
         "", "xy", "", "", "", "", "", "ok",  # size 2000 still refused
         "", "", "", "", "12abc", "", "2", "ok")  # and AES-256 from now on
app.wait_shown("[vq.l] 密码太简单!请重新设置!")
app.wait_shown("[vq.l] 文件大小设置超出范围[1~1024]MB!请重新设置!")
app.wait_shown("Set S_DIR_DESTDATA [")
shown = app.shown()
for line in ["设置结果:\n", "fFilterSr:[.txtdoc.]\n", "Set autoRunFlag    [1]\n", "Set maxFSize       [12]\n",
             "Set S_ZIP_PSW      [**]\n", "Set zipEncryption  [AES-256]\n"]:
    check(line in shown, "settings result %r" % line)
check(os.path.exists(os.path.join(home, ".config", "autostart", "vq.lumen.desktop")), "autostart entry written")
check("Explorer" not in shown and "资源管理器打不开" in shown, "the encryption's note is shown")
# The first run ends with its dialog: later in the same session a changed directory restarts,
# or the monitor would watch the old source until the next start.
app.type("settings", "", "", src2, "", "", "n", "", "ok")
app.wait_shown("Set S_DIR_SRCDATA  [%s/]  \n" % src2)
app.wait_shown("[vq.l] 目录有改变，将重启软件")
app.wait_shown("[vq.l] 软件重启成功", seconds=20)
check("S_DIR_SRCDATA     [源目录]       [%s/]\n" % src2 in app.shown(), "the first session restarted on the new source")
# Cancel stores nothing.
app.type("settings", "", "zz", "", "", "", "", "1", "cancel")
app.wait_shown("设置已取消")
app.type("exit")
try:
    app.p.wait(timeout=10)
except subprocess.TimeoutExpired:
    app.p.kill()
    check(False, "exit ends the program")
check(app.p.returncode == 0, "exit code 0")
store = open(os.path.join(home, ".config", "vq.lumen", "vq.l.reg"), encoding="utf-8").read()
check('"S_ZIP_PSW"="xy"' in store, "cancel kept the stored password")
check('"zipEncryption"=dword:00000001' in store, "cancel kept the stored encryption (%r)" % store)

# ---- outside the first run a directory change restarts the program in the same terminal
src3 = os.path.join(root, "src3")
os.makedirs(src3)
app = Running(prog, env)
wait_for(lambda: read_log(log_path)[1].count(LAST_DUMP_LINE) == 4, 20, "the second run's dump")
# Everything in one write: the lines after the settings are already read from the pipe when the
# program restarts, and the new image runs them.
app.type("settings", "", "", src3, "", "", "n", "", "ok", "status", "exit")
app.wait_shown("[vq.l] 目录有改变，将重启软件")
app.wait_shown("[vq.l] 软件重启成功", seconds=20)
check(read_log(log_path)[1].count("]:软件重启成功\r\n") == 2, "the restarted program logs the confirmation")
check("S_DIR_SRCDATA     [源目录]       [%s/]\n" % src3 in app.shown(), "the new instance uses the new source")
try:
    app.p.wait(timeout=15)
except subprocess.TimeoutExpired:
    app.p.kill()
    check(False, "the exit read before the restart ends the restarted program")
check(app.shown().count("运行参数:\n") == 3, "the status read before the restart ran in the new image (%d dumps)" % app.shown().count("运行参数:\n"))

# ---- a configuration directory that cannot be made does not stop the program
root2, home2, prog2, env2, log2 = setup("vq-console-ro-")
blocker = os.path.join(root2, "not-a-dir")
open(blocker, "w").close()
env2["XDG_CONFIG_HOME"] = blocker  # a file: nothing can be created below it, not even by root
app = Running(prog2, env2)
wait_for(lambda: LAST_DUMP_LINE in read_log(log2)[1], 20, "the dump without a configuration directory")
check("]:单实例标记失败,程序继续运行\r\n" in read_log(log2)[1], "the failed mark is logged")
time.sleep(0.5)
check(app.p.poll() is None, "the program runs on")
app.type("status")
wait_for(lambda: read_log(log2)[1].count(LAST_DUMP_LINE) == 2, 10, "commands still work")
app.type("exit")
try:
    app.p.wait(timeout=10)
except subprocess.TimeoutExpired:
    app.p.kill()
    check(False, "exit ends it")
check(app.p.returncode == 0, "exit code 0 without a configuration directory")

# ---- on a terminal: the new password is not echoed, and a signal ends the program while the
# settings dialog waits for a line, with the terminal's echo back on
root3, home3, prog3, env3, log3 = setup("vq-console-tty-")
master, slave = pty.openpty()
tty_app = subprocess.Popen([prog3], stdin=slave, stdout=slave, env=env3)
tty_out = []
threading.Thread(target=lambda: [tty_out.append(c) for c in iter(lambda: os.read(master, 4096), b"")],
                 daemon=True).start()


def tty_shown():
    return b"".join(tty_out).decode("utf-8", errors="replace")


def echo_on():
    return bool(termios.tcgetattr(slave)[3] & termios.ECHO)


wait_for(lambda: "监控文件的类型的扩展名" in tty_shown(), 20, "the first run's dialog on the terminal")
os.write(master, b"TXT\n")
wait_for(lambda: "Zip密码" in tty_shown(), 10, "the password prompt")
check(not echo_on(), "echo is off while the password is typed")
os.write(master, b"hidden-739x")  # the line is not finished when the signal comes
time.sleep(0.3)
tty_app.send_signal(signal.SIGTERM)
try:
    tty_app.wait(timeout=10)
except subprocess.TimeoutExpired:
    tty_app.kill()
    check(False, "SIGTERM ends the program while the dialog waits for a line")
time.sleep(0.2)
check("TXT" in tty_shown(), "other fields are echoed as typed")
check("hidden-739x" not in tty_shown(), "the password never appears on the terminal")
check(echo_on(), "the terminal's echo is on after the end")
os.close(slave)

# ---- a destination that is away is told once on the terminal, and so is its return; the good
# passes in between say nothing
root, home, prog, env, log_path = setup("vq-console-away-")
with open(os.path.join(home, "vq.l"), "w") as f:
    f.write("a file where the destination folder should be")
os.makedirs(os.path.join(home, "Documents"))
away = Running(prog, env)
away.wait_shown("[vq.l] 备份失败:无法访问目的目录,恢复后会自动继续", 20)
os.remove(os.path.join(home, "vq.l"))
away.type("reset-day")  # starts a pass now instead of after the minute's retry
away.wait_shown("[vq.l] 备份已恢复正常", 20)
with open(os.path.join(home, "Documents", "after.txt"), "w") as f:
    f.write("saved after the destination came back")
after = os.path.join(home, "Documents", "after.txt")
wait_for(lambda: os.path.exists(os.path.join(home, "vq.l", "mList", after.replace("/", ".") + ".zip")), 20,
         "a good pass after the return")
check(away.shown().count("[vq.l] ") == 2, "one line for the outage and one for its end, none for good passes")
check(read_log(log_path)[1].count("目标目录无法访问") == 1, "the outage is logged once")
away.type("exit")
away.p.wait(timeout=10)

finish()
print("all console checks passed")
