#!/usr/bin/env python3
"""End to end for verify and restore in the Windows program under wine (run inside xvfb-run):
two versions of a file saved in the source, then the menu's 校验备份 counts every archive sound,
and the 恢复文件... dialog, driven like a user through the vqpost driver, lists the versions newest
first and restores the older one into a chosen folder, first under its own name and then, since
that name is taken, under one with its time; each keeps the version's content and last-write
time, and the log view reports both."""
import os, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vqtest import check, finish, read_log, wait_for  # noqa: E402
import vqwine  # noqa: E402
from vqwine import BUILD, post, win_path  # noqa: E402

PASSWORD = "739"

work, exe, log_path = vqwine.wine_world("vq-wine-restore-")
src = os.path.join(work, "src")
dest = os.path.join(work, "dest")
out = os.path.join(work, "out")
os.makedirs(src)
os.makedirs(out)
vqwine.store_settings(src, dest, PASSWORD, int(time.time()))


def log_text():
    return read_log(log_path)[1]


post("visible")
proc = vqwine.start(exe)
try:
    vqwine.wait_monitor(log_path, src)
    doc = os.path.join(src, "计划.txt")
    hist = os.path.join(dest, "mHistory")
    versions = [b"first plan\r\n" * 50, b"second plan, longer\r\n" * 80]
    mtimes = []
    for i, content in enumerate(versions):
        with open(doc, "wb") as f:
            f.write(content)
        mtimes.append(int(os.stat(doc).st_mtime))
        wait_for(lambda: os.path.isdir(hist) and len(os.listdir(hist)) == i + 1, 30, "history archive %d" % (i + 1))
        time.sleep(1.5)  # the next version gets a later second

    # ---- 校验备份: two history archives, the list copy and the folder copy, all sound, with the
    # counts in the log view
    post("command", "32796")
    wait_for(lambda: "]:校验备份结束:" in log_text(), 60, "the verify to end")
    check("]:校验备份结束:检查 4 个, 完好 4 个, 密码不符 0 个, 损坏 0 个, 用时 " in log_text(), "verify counts")
    check("校验备份结束:检查 4 个" in post("logtext")[1], "the log view shows the verify result")

    # ---- 恢复文件...: type the path, list, choose the older version, restore into a folder
    post("command", "32797")
    wait_for(lambda: post("rdlg")[1] == "1", 30, "the restore dialog")
    # A pasted path in quotes, and Enter (the default button): the versions are listed, and
    # nothing is restored until the user picks one.
    post("rdlg-set", "1101", '"%s"' % win_path(doc))
    post("rdlg-click", "1")
    wait_for(lambda: post("rdlg-lbcount", "1104")[1] == "3", 30, "three versions listed")
    post("rdlg-click", "1")
    time.sleep(1)
    check("]:恢复文件:" not in log_text(), "Enter never restores a version nobody picked")
    check(post("rdlg-get", "1107")[1] == "请先选择一个版本", "the dialog asks for a version")
    first = post("rdlg-lbtext", "1104", "0")[1]
    check(first.startswith("[1] 最新 ") and (" %d 字节 可打开" % len(versions[1])) in first, "list copy first: %r" % first)
    oldest = post("rdlg-lbtext", "1104", "2")[1]
    check(oldest.startswith("[3] 历史 ") and (" %d 字节 可打开" % len(versions[0])) in oldest, "oldest last: %r" % oldest)
    post("rdlg-lbsel", "1104", "2")
    time.sleep(1)
    shot = vqwine.screenshot("restore_dialog.png")
    check(os.path.exists(shot), "screenshot of the restore dialog")
    post("rdlg-set", "1105", win_path(out))
    post("rdlg-click", "1")
    wait_for(lambda: os.path.exists(os.path.join(out, "计划.txt")), 30, "the restored file under its own name")
    post("rdlg-click", "1")
    wait_for(lambda: log_text().count("]:恢复文件:") == 2, 30, "the second restore under a new name")
    check(len(os.listdir(out)) == 2, "two files and nothing else in the folder: %r" % os.listdir(out))
    for n in os.listdir(out):
        p = os.path.join(out, n)
        check(open(p, "rb").read() == versions[0], "%s holds the older version" % n)
        check(int(os.stat(p).st_mtime) == mtimes[0], "%s keeps the version's last-write time" % n)
    stamped = [n for n in os.listdir(out) if n != "计划.txt"]
    check(len(stamped) == 1 and stamped[0].startswith("计划 (") and stamped[0].endswith(").txt"),
          "the second name says its time: %r" % stamped)
    status = post("rdlg-get", "1107")[1]
    check(status.startswith("已恢复到 ") and status.endswith(").txt"), "the dialog's status line: %r" % status)
    check(open(doc, "rb").read() == versions[1], "the original is untouched")
    check(log_text().count("]:恢复文件:") == 2, "both restores are logged")
    check("恢复文件:" in post("logtext")[1], "the log view shows the restores")
    post("rdlg-click", "2")
    wait_for(lambda: post("rdlg")[1] == "0", 30, "the dialog closes")

    check(vqwine.exit_program(proc), "the exit command ends the program")
finally:
    vqwine.close_down(proc)
finish()
print("restore wine checks passed; screenshot:", os.path.join(BUILD, "restore_dialog.png"))
