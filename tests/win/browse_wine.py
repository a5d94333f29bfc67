#!/usr/bin/env python3
"""End to end for the backup browser of the Windows program under wine (run inside xvfb-run): a
real tree is backed up in two rounds, 恢复文件... opens the browser at the newest backup, the
previous-backup button steps back to the first round, a folder and a file are selected and
restored into a folder picked in the folder browser, and the files there hold the first round's
contents with their times; a second restore makes new names and overwrites nothing; Enter opens
a row and never restores; a long restore is cancelled with nothing half-written under a final
name. Screenshots of the browser at 96 and 144 DPI are kept in the build tree."""
import os, re, sys, time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vqtest import check, finish, read_log, wait_for  # noqa: E402
import vqwine  # noqa: E402
from vqwine import BUILD, post, win_path  # noqa: E402

PASSWORD = "739"
LIST, PREV, NEXT, VERSIONS, HERE, TO, TARGET, CANCEL, STATUS, FOLDER = (
    "1207", "1205", "1206", "1208", "1209", "1210", "1212", "1214", "1215", "1201")

work, exe, log_path = vqwine.wine_world("vq-wine-browse-")
src = os.path.join(work, "src")
dest = os.path.join(work, "dest")
out = os.path.join(work, "恢复到这里")
out_cancel = os.path.join(work, "cancelled-out")
for d in (src, out, out_cancel):
    os.makedirs(d)
vqwine.store_settings(src, dest, PASSWORD, int(time.time()))
hist = os.path.join(dest, "mHistory")


def log_text():
    return read_log(log_path)[1]


def write(rel, data):
    p = os.path.join(src, *rel.split("/"))
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, "wb") as f:
        f.write(data)
    return int(os.stat(p).st_mtime)


def history_count():
    return len(os.listdir(hist)) if os.path.isdir(hist) else 0


def rows():
    """The list's rows, read until two reads agree (the list may be filling while it is read)."""
    def once():
        n = int(post("bdlg-lvcount", LIST)[1] or "0")
        return [tuple(post("bdlg-lvtext", LIST, str(i), str(c))[1] for c in range(4)) for i in range(n)]
    last = once()
    for _ in range(5):
        again = once()
        if again == last:
            break
        last = again
    return last


def row_index(name):
    for i, r in enumerate(rows()):
        if r[0] == name:
            return i
    return -1


def shown_time():
    """The moment the browser shows, from its status line ("YYYY-MM-DD HH:MM:SS 时的 N 项")."""
    m = re.match(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) 时的", post("bdlg-get", STATUS)[1])
    return time.mktime(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S")) if m else None


def pick_folder_and_restore(folder):
    """恢复到..., the folder browser opened on the field's folder, OK only once it has selected it:
    a restore never goes anywhere else."""
    post("bdlg-set", TARGET, win_path(folder))
    post("bdlg-click", TO)
    wait_for(lambda: post("bdlg-owned")[0] == 0, 30, "the folder browser")
    for _ in range(20):
        time.sleep(0.5)
        if post("bdlg-owned-sel")[1] == os.path.basename(folder):
            post("bdlg-owned-ok")
            return True
        post("bdlg-owned-select", win_path(folder))
    check(False, "the folder browser selects %s (has %r)" % (folder, post("bdlg-owned-sel")[1]))
    post("bdlg-owned-cancel")
    return False


def summary():
    wait_for(lambda: post("msgbox")[0] == 0, 120, "the restore's summary")
    text = post("msgbox")[1]
    post("msgbox-ok")
    wait_for(lambda: post("msgbox")[0] != 0, 30, "the summary to close")
    return text


def files_under(top):
    found = {}
    for d, _, names in os.walk(top):
        for n in names:
            found[os.path.relpath(os.path.join(d, n), top)] = os.path.join(d, n)
    return found


post("visible")
proc = vqwine.start(exe)
try:
    vqwine.wait_monitor(log_path, src)
    # A long restore's worth: files of incompressible bytes, backed up first.
    big = {"大/part%02d.txt" % i: os.urandom(3 << 20) for i in range(24)}
    for rel, data in big.items():
        write(rel, data)
    wait_for(lambda: history_count() == len(big), 300, "the large files' archives")
    time.sleep(2)
    first = {"项目/计划.txt": b"plan, first round\r\n" * 40, "项目/子/笔记.txt": b"notes\r\n" * 10,
             "说明.txt": b"readme one\r\n" * 5}
    first_times = {rel: write(rel, data) for rel, data in first.items()}
    wait_for(lambda: history_count() == len(big) + 3, 60, "the first round's archives")
    time.sleep(2.5)
    second = {"项目/计划.txt": b"plan, second round, longer\r\n" * 90, "说明.txt": b"readme two\r\n" * 9,
              "新.txt": b"only in the second round"}
    second_times = {rel: write(rel, data) for rel, data in second.items()}
    wait_for(lambda: history_count() == len(big) + 6, 60, "the second round's archives")
    time.sleep(2)

    # ---- the browser opens at the newest backup: folders first, then files, four columns
    post("command", "32797")
    wait_for(lambda: post("bdlg")[1] == "1", 60, "the backup browser")
    wait_for(lambda: post("bdlg-lvcount", LIST)[1] == "4", 30, "the source folder listed")
    now_rows = rows()
    check([r[0] for r in now_rows] == ["大\\", "项目\\", "新.txt", "说明.txt"], "folders first: %r" % now_rows)
    check(now_rows[3][2] == str(len(second["说明.txt"])) and now_rows[3][3] == "可打开", "newest 说明.txt: %r"
          % (now_rows[3],))
    check(now_rows[0][3] == "24 个文件", "a folder's state says its files: %r" % (now_rows[0],))
    check(post("bdlg-get", FOLDER)[1] == win_path(src) + "\\", "the folder shown")
    check(post("bdlg-enabled", NEXT)[1] == "0" and post("bdlg-enabled", PREV)[1] == "1", "at the newest backup")
    time.sleep(1)
    vqwine.screenshot("browse_96dpi_newest.png")

    # ---- step back to the first round
    for _ in range(10):
        t = shown_time()
        if t is not None and t < min(second_times.values()):
            break
        post("bdlg-click", PREV)
        time.sleep(1)
    t = shown_time()
    check(t == max(first_times.values()), "stepped back to the first round: %r (first %r)" % (t, first_times))
    old_rows = rows()
    check([r[0] for r in old_rows] == ["大\\", "项目\\", "说明.txt"], "the tree as it stood: %r" % old_rows)
    check(old_rows[2][2] == str(len(first["说明.txt"])), "说明.txt as it was: %r" % (old_rows[2],))

    # Enter on a folder opens it, Backspace goes back up; Enter on the browser never restores.
    post("bdlg-lvsel", LIST, str(row_index("项目\\")))
    post("bdlg-key", LIST, "13")
    wait_for(lambda: post("bdlg-get", FOLDER)[1].endswith("\\项目\\"), 20, "Enter to open the folder")
    sub_rows = rows()
    check([r[0] for r in sub_rows] == ["子\\", "计划.txt"] and sub_rows[1][2] == str(len(first["项目/计划.txt"])),
          "the subfolder as it stood: %r" % sub_rows)
    post("bdlg-key", LIST, "8")
    wait_for(lambda: post("bdlg-get", FOLDER)[1] == win_path(src) + "\\", 20, "Backspace to go up")
    # ---- a folder and a file selected; Enter with two rows does nothing, least of all restore
    post("bdlg-lvsel", LIST, str(row_index("项目\\")), str(row_index("说明.txt")))
    post("bdlg-key", LIST, "13")
    post("bdlg-click", "1")  # what Enter does away from the list
    time.sleep(1)
    check(post("msgbox")[0] != 0 and not os.listdir(out), "Enter restored nothing")
    check(post("bdlg-get", FOLDER)[1] == win_path(src) + "\\", "and opened nothing")
    vqwine.screenshot("browse_96dpi_older.png")
    pick_folder_and_restore(out)
    text = summary()
    check(text.startswith("恢复 3 个, 失败 0 个"), "the summary: %r" % text)
    got = files_under(out)
    check(sorted(got) == sorted(os.path.join(*r.split("/")) for r in first), "the files restored: %r" % sorted(got))
    for rel, data in first.items():
        p = os.path.join(out, *rel.split("/"))
        check(os.path.exists(p) and open(p, "rb").read() == data, "%s holds the first round" % rel)
        check(os.path.exists(p) and int(os.stat(p).st_mtime) == first_times[rel], "%s keeps its time" % rel)

    # ---- again: new names, nothing overwritten
    pick_folder_and_restore(out)
    text = summary()
    check(text.startswith("恢复 3 个"), "the second summary: %r" % text)
    got = files_under(out)
    check(len(got) == 6, "six files after two restores: %r" % sorted(got))
    for rel, data in first.items():
        check(open(os.path.join(out, *rel.split("/")), "rb").read() == data, "%s untouched" % rel)
    stamped = [n for n in got if "(" in n]
    check(len(stamped) == 3 and all(open(got[n], "rb").read() in first.values() for n in stamped),
          "three new names with their times: %r" % stamped)

    # ---- a file's versions, one step away
    post("bdlg-lvsel", LIST, str(row_index("说明.txt")))
    post("bdlg-click", VERSIONS)
    wait_for(lambda: post("rdlg")[1] == "1", 30, "the versions dialog")
    wait_for(lambda: post("rdlg-lbcount", "1104")[1] == "2", 30, "its two versions")
    post("rdlg-click", "2")
    wait_for(lambda: post("rdlg")[1] == "0", 30, "the versions dialog to close")

    # ---- a long restore cancelled: nothing half-written under a final name
    post("bdlg-lvsel", LIST, str(row_index("大\\")))
    pick_folder_and_restore(out_cancel)
    wait_for(lambda: post("bdlg-enabled", CANCEL)[1] == "1", 30, "the restore to run")
    post("bdlg-click", CANCEL)
    text = summary()
    check("已取消" in text, "the summary says it was cancelled: %r" % text)
    got = files_under(out_cancel)
    check(all(not n.endswith(".part") for n in got), "no partial file left: %r" % sorted(got))
    check(len(got) < len(big), "the cancel stopped it: %d of %d" % (len(got), len(big)))
    for n, p in got.items():
        check(open(p, "rb").read() == big["大/" + os.path.basename(n)], "%s is whole" % n)
    check("]:恢复结束:" in log_text(), "the log has the summary")

    # ---- resized, the list takes the room
    post("bdlg-size", "900", "700")
    time.sleep(1)
    vqwine.screenshot("browse_96dpi_resized.png")
    post("bdlg-click", "2")
    wait_for(lambda: post("bdlg")[1] == "0", 30, "the browser to close")
    check(vqwine.exit_program(proc), "the program ends")

    # ---- 144 DPI: the same browser after a restart of wine with the larger DPI
    vqwine.stop_wine(proc)
    had_dpi = vqwine.wine("reg", "query", r"HKCU\Control Panel\Desktop", "/v", "LogPixels")[0] == 0
    vqwine.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
    proc = vqwine.start(exe)
    wait_for(lambda: post("visible")[0] == 0, 90, "the program again")
    time.sleep(3)
    post("command", "32797")
    wait_for(lambda: post("bdlg")[1] == "1", 60, "the browser at 144 DPI")
    wait_for(lambda: post("bdlg-lvcount", LIST)[1] == "4", 30, "listed at 144 DPI")
    post("bdlg-lvsel", LIST, "1", "3")
    time.sleep(2)
    vqwine.screenshot("browse_144dpi.png")
    post("bdlg-click", "2")
finally:
    vqwine.close_down(proc)
    # The prefix is shared by the other wine tests of this build tree: back to its own DPI.
    if "had_dpi" in globals():
        if had_dpi:
            vqwine.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "96",
                        "/f")
        else:
            vqwine.wine("reg", "delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f")

finish()
print("browse wine checks passed; screenshots:", ", ".join(
    os.path.join(BUILD, n) for n in ("browse_96dpi_newest.png", "browse_96dpi_older.png", "browse_96dpi_resized.png",
                                     "browse_144dpi.png")))
