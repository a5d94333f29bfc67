#!/usr/bin/env python3
"""End to end on POSIX: the terminal's verify, versions and restore commands on archives the real
program wrote, and the vqunzip tool's exit codes on sound, broken and wrong-password archives
(the restored file and the tool's output checked against the source, Python's zipfile and 7-Zip)."""
import os, shutil, subprocess, sys, time, zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish, read_log, wait_for  # noqa: E402

PROGRAM, VQUNZIP = sys.argv[1], sys.argv[2]
PASSWORD = "739"

root, home, prog, env, log_path = vqtest.program_world("vq-restore-e2e-", PROGRAM)
src = os.path.join(home, "Documents")
dest = os.path.join(home, "vq.l")
out_dir = os.path.join(root, "out")
os.makedirs(out_dir)


def log_text():
    return read_log(log_path)[1]


def say(proc, line):
    proc.stdin.write((line + "\n").encode())
    proc.stdin.flush()


proc = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=env)
try:
    wait_for(lambda: "Monit 成功  开始监控 %s/\r\n" % src in log_text(), 20, "the monitor to start")
    time.sleep(2.5)
    doc = os.path.join(src, "notes 1.txt")
    contents = [b"version one\n" * 100, b"version two, longer\n" * 300]
    times = [1600000000, 1600100000]
    hist = os.path.join(dest, "mHistory")
    for i, (content, mtime) in enumerate(zip(contents, times)):
        with open(doc, "wb") as f:
            f.write(content)
        os.utime(doc, (mtime, mtime))
        say(proc, "reset-all")  # an old last-write time is backed up only after a reset
        wait_for(lambda: os.path.isdir(hist) and len([n for n in os.listdir(hist) if n.startswith(
            doc.replace("/", ".") + ".")]) == i + 1, 10, "history archive %d" % (i + 1))
    time.sleep(1)

    say(proc, 'versions "%s"' % doc)
    wait_for(lambda: "[3] 历史 " in log_text(), 10, "three versions listed")
    text = log_text()
    check("]:备份版本:%s\r\n" % doc in text, "the versions header")
    newest = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(times[1]))
    check("]:[1] 最新 %s %d 字节 可打开\r\n" % (newest, len(contents[1])) in text, "the list copy comes first")
    check("]:[2] 历史 %s " % newest in text, "then the newest history version")
    check(" %d 字节 可打开\r\n" % len(contents[0]) in text, "the oldest version opens, with its size")

    # Version 3 is the oldest: into a chosen folder under its own name, then again under a new one.
    say(proc, 'restore "%s" 3 %s' % (doc, out_dir))
    say(proc, 'restore "%s" 3 %s' % (doc, out_dir))
    wait_for(lambda: log_text().count("]:恢复文件:") == 2, 10, "two restores")
    names = sorted(os.listdir(out_dir))
    check(len(names) == 2 and "notes 1.txt" in names, "the own name first, then a new one: %r" % names)
    for n in names:
        p = os.path.join(out_dir, n)
        check(open(p, "rb").read() == contents[0], "%s holds the first version" % n)
        check(int(os.stat(p).st_mtime) == times[0], "%s keeps the version's last-write time" % n)
    say(proc, 'restore "%s" 9' % doc)
    wait_for(lambda: "没有第 9 个版本, 共 3 个" in log_text(), 10, "a version that does not exist")
    # The whole folder as it was between the two versions.
    folder_out = os.path.join(root, "folder-out")
    between = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(times[0] + 10))
    say(proc, 'restore-folder %s "%s" %s' % (src, between, folder_out))
    wait_for(lambda: "]:恢复文件夹结束:恢复 1 个, 失败 0 个" in log_text(), 10, "the folder restore")
    restored = os.path.join(folder_out, "notes 1.txt")
    check(os.path.exists(restored) and open(restored, "rb").read() == contents[0], "the folder as it was then")
    say(proc, "restore onlyonearg")
    wait_for(lambda: "用法: restore PATH N [FOLDER]" in log_text(), 10, "usage line")

    # A broken archive among sound ones: verify names it.
    lst = os.path.join(dest, "mList", doc.replace("/", ".") + ".zip")
    data = open(lst, "rb").read()
    broken = os.path.join(dest, "mList", "broken.zip")
    with open(broken, "wb") as f:
        f.write(data[:len(data) // 2])
    say(proc, "verify")
    wait_for(lambda: "]:校验备份结束:" in log_text(), 30, "the verify to end")
    text = log_text()
    check("]:损坏:%s [文件被截断或改动]\r\n" % broken in text, "the broken archive is named")
    check("检查 5 个, 完好 4 个, 密码不符 0 个, 损坏 1 个" in text, "verify counts: %s" % text[text.find("校验备份结束"):][:80])
    say(proc, "exit")
    proc.wait(timeout=30)
finally:
    if proc.poll() is None:
        proc.kill()

# ---- the tool: exit 0 sound, 1 broken, 3 wrong password, 2 failed; extraction never overwrites
r = subprocess.run([VQUNZIP, "-p", PASSWORD, lst], capture_output=True)
check(r.returncode == 0 and b"sound" in r.stdout, "vqunzip: sound archive (%d %r)" % (r.returncode, r.stdout))
r = subprocess.run([VQUNZIP, "-p", PASSWORD, lst, broken], capture_output=True)
check(r.returncode == 1 and b"broken" in r.stdout, "vqunzip: a broken archive among them gives 1")
r = subprocess.run([VQUNZIP, "-p", vqtest.refused_password(lst), lst], capture_output=True)
check(r.returncode == 3 and b"wrong password" in r.stdout, "vqunzip: wrong password gives 3")
target = os.path.join(out_dir, "from-tool.txt")
r = subprocess.run([VQUNZIP, "-p", PASSWORD, "-x", lst, target], capture_output=True)
check(r.returncode == 0 and open(target, "rb").read() == contents[1], "vqunzip -x writes the newest content")
with zipfile.ZipFile(lst) as z:
    check(z.read(z.namelist()[0], pwd=PASSWORD.encode()) == open(target, "rb").read(), "zipfile agrees")
r = subprocess.run([VQUNZIP, "-p", PASSWORD, "-x", lst, target], capture_output=True)
check(r.returncode == 2, "vqunzip -x onto an existing file fails with 2")
r = subprocess.run([VQUNZIP], capture_output=True)
check(r.returncode == 2, "vqunzip without arguments fails with 2")
r = subprocess.run([VQUNZIP, "-p"], capture_output=True)
check(r.returncode == 2 and b"usage" in r.stderr, "vqunzip -p without its value fails with 2 (%d)" % r.returncode)
# A link planted where a partial file of a fixed name would go never receives the bytes, and no
# partial file is left.
outside = os.path.join(root, "outside.txt")
with open(outside, "wb") as f:
    f.write(b"keep me")
target2 = os.path.join(out_dir, "linked.txt")
os.symlink(outside, target2 + ".vqunzip.part")
r = subprocess.run([VQUNZIP, "-p", PASSWORD, "-x", lst, target2], capture_output=True)
check(r.returncode == 0 and open(target2, "rb").read() == contents[1], "vqunzip -x beside a planted link")
check(open(outside, "rb").read() == b"keep me", "the planted link's target is untouched")
check(not [n for n in os.listdir(out_dir) if n.endswith(".part") and not os.path.islink(os.path.join(out_dir, n))],
      "no partial file left: %r" % os.listdir(out_dir))
if shutil.which("7z"):
    r = subprocess.run(["7z", "t", "-p" + PASSWORD, broken], capture_output=True)
    check(r.returncode != 0, "7-Zip agrees the cut archive is broken")
finish()
print("restore e2e passed")
