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


def program_world(prefix, program):
    """A scratch world for runs of the POSIX program: a home, temporary and runtime folders of its
    own, and a copy of the program (its log is written beside it). Returns root, home, the copy,
    the environment and the log's path."""
    root = scratch(prefix)
    home = os.path.join(root, "home")
    bindir = os.path.join(root, "bin")
    for d in (home, bindir, os.path.join(root, "tmp"), os.path.join(root, "run")):
        os.makedirs(d)
    prog = os.path.join(bindir, "vq.lumen")
    shutil.copy(program, prog)
    env = dict(os.environ, HOME=home, TMPDIR=os.path.join(root, "tmp"), XDG_RUNTIME_DIR=os.path.join(root, "run"),
               LANG="C.UTF-8")
    env.pop("XDG_CONFIG_HOME", None)
    env.pop("XDG_DOCUMENTS_DIR", None)
    return root, home, prog, env, os.path.join(bindir, "vq.lumen.log.txt")
