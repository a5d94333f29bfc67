#!/usr/bin/env python3
"""The settings against bad input, on POSIX: a NUL typed into the password or a folder is refused
and every archive stays encrypted; a store cut short or missing its last-backup time keeps every
value it still holds, shows them in the first run's dialog and logs what was missing."""
import os, pty, subprocess, sys, threading, time, zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import LAST_DUMP_LINE, check, finish, read_log, wait_for  # noqa: E402
from vqtest import Piped as Running  # noqa: E402

PROGRAM = sys.argv[1]


def store_text(home):
    path = os.path.join(home, ".config", "vq.lumen", "vq.l.reg")
    return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


# ---- a NUL before the password, and one inside a folder, are refused; every archive stays
# encrypted with the password in use
root, home, prog, env, log_path = vqtest.program_world("vq-settings-nul-", PROGRAM)
docs = os.path.join(home, "Documents")
os.makedirs(os.path.join(docs, "sub"))
app = Running(prog, env)
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 20, "the first run's dump")
src2 = os.path.join(root, "src2")
os.makedirs(os.path.join(src2, "sub"))
# filter, password, source, destination, size, autorun, encryption, then the choice; the refused
# form comes back with its input, and cancel leaves it.
app.type_bytes(b"settings\n\n\x00abc\n\n\n\n\n\nok\n\n\n\n\n\n\n\ncancel\n")
wait_for(lambda: "[vq.l] 密码含有控制字符!请重新设置!" in app.shown(), 10, "the password's refusal")
wait_for(lambda: "设置已取消" in app.shown(), 10, "the cancel after it")
app.type_bytes(b"settings\n\n\n" + src2.encode() + b"\x00x\n\n\n\n\nok\n\n\n\n\n\n\n\ncancel\n")
wait_for(lambda: "[vq.l] 源目录含有控制字符!!" in app.shown(), 10, "the source's refusal")
wait_for(lambda: app.shown().count("设置已取消") == 2, 10, "the second cancel")
check("Set S_ZIP_PSW" not in app.shown(), "nothing was set")
check('"S_ZIP_PSW"="739"' in store_text(home), "the stored password is the one in use")
for name in ("a.txt", "sub/b.txt"):
    with open(os.path.join(docs, name), "w") as f:
        f.write("data of " + name)
archives = []


def all_archived():
    global archives
    archives = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(home, "vq.l")) for f in fs
                if f.endswith(".zip") and "~" not in f]
    return len(archives) >= 6  # three views of two files


wait_for(all_archived, 30, "the archives of both files")
for a in archives:
    with zipfile.ZipFile(a) as z:
        info = z.infolist()[0]
        check(info.flag_bits & 1 == 1, "archive encrypted: " + a)
        check(z.read(info, pwd=b"739").startswith(b"data of "), "opens with the password in use: " + a)
app.end()

# ---- a store without timeLastBk keeps the rest, shows it in the first run's dialog and logs
# what was missing
root, home, prog, env, log_path = vqtest.program_world("vq-settings-damaged-", PROGRAM)
mine = os.path.join(root, "mine")
dest = os.path.join(root, "dest")
os.makedirs(mine)
os.makedirs(dest)
cfg = os.path.join(home, ".config", "vq.lumen")
os.makedirs(cfg)
kept = {
    "S_DIR_DESTDATA": dest + "/",
    "S_DIR_SRCDATA": mine + "/",
    "S_ZIP_PSW": "my-secret",
    "fFilterSr": ".kept.",
}
lines = ['"%s"="%s"\n' % kv for kv in kept.items()]
lines += ['"autoRunFlag"=dword:00000000\n', '"maxFSize"=dword:00000007\n', '"timeLastBk"="17"\n']
with open(os.path.join(cfg, "vq.l.reg"), "w") as f:
    f.write("; vq.lumen settings\n" + "".join(lines))

master, slave = pty.openpty()
tty = subprocess.Popen([prog], stdin=slave, stdout=slave, env=env)
tty_out = []
def read_tty():
    try:
        for c in iter(lambda: os.read(master, 4096), b""):
            tty_out.append(c)
    except OSError:  # the terminal's other side is closed: the program has ended
        pass


threading.Thread(target=read_tty, daemon=True).start()


def tty_shown():
    return b"".join(tty_out).decode("utf-8", errors="replace")


wait_for(lambda: "监控文件的类型的扩展名 [.kept.]" in tty_shown(), 20, "the first run's dialog with the stored filter")
os.write(master, b"\n")
wait_for(lambda: "Zip密码 [*********]" in tty_shown(), 10, "the stored password, masked")
os.write(master, b"\n")
wait_for(lambda: "[%s/]" % mine in tty_shown(), 10, "the stored source")
os.write(master, b"\n\n\n\n\ncancel\n")
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 20, "the dump after the first run's dialog")
text = read_log(log_path)[1]
check("]:设置中缺少以下值:timeLastBkDayly timeLastBkWeekly timeLastBkMonthly timeLastBkYearly vqDebug timeLastBk\r\n"
      in text, "the missing values are logged")
check("]:第一次运行设置:\r\n" in text, "the first-run rule applies")
store = store_text(home)
for name, value in kept.items():
    check('"%s"="%s"' % (name, value) in store, "%s kept in the store" % name)
check('"maxFSize"=dword:00000007' in store, "maxFSize kept")
check('"timeLastBk"="' in store and '"timeLastBk"="17"' not in store, "the first-run rule set the time")
os.write(master, b"exit\n")
try:
    tty.wait(timeout=10)
except subprocess.TimeoutExpired:
    tty.kill()
    check(False, "exit ends the program")
os.close(slave)

# ---- a store cut short in the middle of a line: what was whole before the cut is kept
root, home, prog, env, log_path = vqtest.program_world("vq-settings-cut-", PROGRAM)
mine = os.path.join(root, "mine")
os.makedirs(mine)
cfg = os.path.join(home, ".config", "vq.lumen")
os.makedirs(cfg)
whole = ('; vq.lumen settings\n"S_DIR_DESTDATA"="%s/"\n"S_DIR_SRCDATA"="%s/"\n"S_ZIP_PSW"="cut-secret"\n'
         '"autoRunFlag"=dword:00000000\n"fFilterSr"=".cut."\n"maxFSize"=dword:00000009\n'
         '"timeLastBk"="1700000000"\n' % (os.path.join(root, "dest"), mine))
with open(os.path.join(cfg, "vq.l.reg"), "w") as f:
    f.write(whole[:whole.index('"timeLastBk"') + 17])  # ends inside the time's text
app = Running(prog, env)  # from a pipe: the first run asks nothing and keeps what was read
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 20, "the dump of the run on a cut store")
text = read_log(log_path)[1]
check("设置中缺少以下值:" in text and " timeLastBk\r\n" in text, "the cut time is logged as missing")
check("S_DIR_SRCDATA     [源目录]       [%s/]\n" % mine in app.shown(), "the stored source is used")
store = store_text(home)
for line in ('"S_ZIP_PSW"="cut-secret"', '"fFilterSr"=".cut."', '"maxFSize"=dword:00000009'):
    check(line in store, line + " kept")
app.end()

# ---- a folder stored with a NUL by an older version: never used, its default is, and the store
# is mended
root, home, prog, env, log_path = vqtest.program_world("vq-settings-nulstore-", PROGRAM)
src2 = os.path.join(root, "src2")
os.makedirs(os.path.join(src2, "sub"))
os.makedirs(os.path.join(home, "Documents"))
cfg = os.path.join(home, ".config", "vq.lumen")
os.makedirs(cfg)
with open(os.path.join(cfg, "vq.l.reg"), "wb") as f:
    f.write(b'; vq.lumen settings\n"S_DIR_SRCDATA"="' + src2.encode() + b'\x00x/"\n"S_ZIP_PSW"="kept-pw"\n'
            b'"timeLastBk"="1700000000"\n')
app = Running(prog, env)
wait_for(lambda: LAST_DUMP_LINE in read_log(log_path)[1], 20, "the dump of the run on a store with a NUL folder")
text = read_log(log_path)[1]
check("]:设置中以下目录含有控制字符,已改用默认目录:S_DIR_SRCDATA\r\n" in text, "the unusable folder is logged")
check("S_DIR_SRCDATA     [源目录]       [%s/Documents/]\n" % home in app.shown(), "the default source is used")
store = open(os.path.join(cfg, "vq.l.reg"), "rb").read()
check(b"\x00" not in store and b'"S_ZIP_PSW"="kept-pw"' in store, "the store is mended, the rest kept")
time.sleep(1)
check(app.p.poll() is None, "the program runs on")
app.end()

finish()
print("all settings checks passed")
