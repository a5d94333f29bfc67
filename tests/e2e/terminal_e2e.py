#!/usr/bin/env python3
"""The terminal program's restart and input on POSIX: a restart after the program file was
replaced (an upgrade), from a folder whose name is not UTF-8, comes back and runs the lines typed
before and after it; an endless input line costs its reading only and leaves the program
answering."""
import os, shutil, subprocess, sys, threading, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, wait_for  # noqa: E402

PROGRAM = sys.argv[1]
DUMP_LINE = "中断备份所有数据的方法:菜单->重置->重置最后备份时间为一天前\n"


class Running:
    def __init__(self, argv, env):
        self.p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.out = b""
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for chunk in iter(lambda: self.p.stdout.read1(65536), b""):
            self.out += chunk

    def shown(self):
        return self.out.decode("utf-8", errors="replace")

    def type(self, data):
        try:
            self.p.stdin.write(data)
            self.p.stdin.flush()
        except BrokenPipeError:
            check(False, "the program reads its input")

    def end(self):
        self.type(b"exit\n")
        try:
            self.p.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.p.kill()
            check(False, "exit ends the program")


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# ---- a restart after the program file was replaced, from a folder whose name is not UTF-8
root, home, prog, env, _ = vqtest.program_world("vq-terminal-", PROGRAM)
odd = os.path.join(root.encode(), b"bin-\xff\xfe")
os.makedirs(odd)
prog_odd = os.path.join(odd, b"vq.lumen")
shutil.copy(prog, prog_odd)
os.makedirs(os.path.join(home, "Documents"))
app = Running([prog_odd], env)
wait_for(lambda: DUMP_LINE in app.shown(), 20, "the first dump")
# An upgrade puts a new file where the program was: the running image's file is gone.
os.rename(prog_odd, prog_odd + b".old")
shutil.copy(prog, prog_odd + b".new")
os.rename(prog_odd + b".new", prog_odd)
os.remove(prog_odd + b".old")
src2 = os.path.join(root, "src2")
os.makedirs(src2)
# The line after the dialog is read before the restart; the one typed after it waits in the pipe.
app.type(("settings\n\n\n%s\n\n\n\n\nok\nstatus\n" % src2).encode())
wait_for(lambda: "[vq.l] 目录有改变，将重启软件" in app.shown(), 10, "the restart message")
wait_for(lambda: "[vq.l] 软件重启成功" in app.shown(), 20, "the restarted program")
check("重启失败" not in app.shown(), "no failed restart")
check(app.p.poll() is None, "a program still runs")
wait_for(lambda: app.shown().count("运行参数:\n") >= 3, 10, "the status read before the restart ran in the new image")
app.type(b"status\n")
wait_for(lambda: app.shown().count("运行参数:\n") >= 4, 10, "a line typed after the restart")
check("S_DIR_SRCDATA     [源目录]       [%s/]\n" % src2 in app.shown(), "the new instance uses the new source")
app.end()
check(app.p.returncode == 0, "exit code 0 after the restart")

# ---- an endless line: read once, dropped with a message, and the program answers the next line
root, home, prog, env, _ = vqtest.program_world("vq-terminal-line-", PROGRAM)
os.makedirs(os.path.join(home, "Documents"))
app = Running([prog], env)
wait_for(lambda: DUMP_LINE in app.shown(), 20, "the first dump")
before = cpu_seconds(app.p.pid)
chunk = b"\x01binary\xff" * 8192
for _ in range(32 * 1024 * 1024 // len(chunk)):  # 32 MiB without a line end
    app.type(chunk)
app.type(b"\nstatus\n")
wait_for(lambda: "输入的行超过 65536 字节,已忽略" in app.shown(), 30, "the long line's message")
wait_for(lambda: app.shown().count("运行参数:\n") >= 2, 10, "the status after the long line")
used = cpu_seconds(app.p.pid) - before
check(used < 2.0, "32 MiB of one line took %.2f s of processor time" % used)
rss = [line for line in open("/proc/%d/status" % app.p.pid) if line.startswith("VmHWM:")]
check(rss and int(rss[0].split()[1]) < 64 * 1024, "peak memory stays small: %s" % (rss[0].strip() if rss else "?"))
check("unknown command" not in app.shown(), "no part of the long line ran as a command")
print("32 MiB line: %.2f s of processor time, %s" % (used, rss[0].strip() if rss else "?"))
app.end()

finish()
print("all terminal checks passed")
