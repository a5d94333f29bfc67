"""Helpers shared by the end-to-end test scripts."""
import atexit, os, shutil, tempfile, time

failures = []
_scratch = []
_finished = False


def scratch(prefix):
    """A fresh temporary directory, removed by finish() when every check passed and kept (its
    path printed) otherwise."""
    d = tempfile.mkdtemp(prefix=prefix)
    _scratch.append(d)
    return d


@atexit.register
def _report_kept():
    if not _finished:
        for d in _scratch:
            print("scratch directory kept:", d)


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def read_log(path):
    """The log file's bytes and its text (UTF-16LE after the byte-order mark)."""
    if not os.path.exists(path):
        return b"", ""
    data = open(path, "rb").read()
    return data, data[2:].decode("utf-16-le", errors="replace")


def wait_for(pred, seconds, what, step=0.1):
    end = time.time() + seconds
    while time.time() < end:
        if pred():
            return True
        time.sleep(step)
    check(False, "timed out waiting for " + what)
    return False


def finish():
    import sys
    global _finished
    _finished = True
    if failures:
        for d in _scratch:
            print("scratch directory kept:", d)
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    for d in _scratch:
        shutil.rmtree(d, ignore_errors=True)


def refused_password(zpath, candidates=("wrong", "wrong-1", "wrong-2", "wrong-3", "wrong-4", "wrong-5")):
    """A password that the archive's own one-byte check refuses. A wrong password passes that check
    for one header in 256 and then reads as damage, so a test that wants the wrong-password answer
    picks one the format tells apart, with Python's zipfile as the judge."""
    import zipfile
    with zipfile.ZipFile(zpath) as z:
        name = z.namelist()[0]
        for pw in candidates:
            try:
                with z.open(name, pwd=pw.encode()) as f:
                    f.read(1)
            except RuntimeError:
                return pw
            except Exception:  # noqa: BLE001 - passed the check, failed later: not what we want
                continue
    raise AssertionError("no refused password among %r" % (candidates,))
