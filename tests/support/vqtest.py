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


# The last line of the run-parameter dump, as the log file holds it.
LAST_DUMP_LINE = "中断备份所有数据的方法:菜单->重置->重置最后备份时间为一天前\r\n"


class Piped:
    """The POSIX program with a pipe for its input and everything it prints collected."""

    def __init__(self, prog, env):
        import subprocess, threading
        self.p = subprocess.Popen([prog], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.out = b""
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for chunk in iter(lambda: self.p.stdout.read1(4096), b""):
            self.out += chunk

    def shown(self):
        return self.out.decode("utf-8", errors="replace")

    def type_bytes(self, data):
        self.p.stdin.write(data)
        self.p.stdin.flush()

    def type(self, *lines):
        self.type_bytes(("\n".join(lines) + "\n").encode())

    def wait_shown(self, text, seconds=10, count=1):
        return wait_for(lambda: self.shown().count(text) >= count, seconds, "the terminal shows %r" % text)

    def end(self):
        import subprocess
        self.type_bytes(b"exit\n")
        try:
            self.p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.p.kill()
            check(False, "exit ends the program")


def exit_program(proc, seconds):
    """Types exit into a program started with a pipe for its input and checks it ends with 0."""
    proc.stdin.write(b"exit\n")
    proc.stdin.flush()
    proc.wait(timeout=seconds)
    check(proc.returncode == 0, "the program ends with 0 after exit (got %r)" % proc.returncode)


def kill_left_running(proc):
    """What a failed check leaves running does not outlive the test."""
    if proc is not None and proc.poll() is None:
        proc.kill()
        proc.wait()


class SourceVersions:
    """Every content each source file ever had, by its name (the archives' entry name), and its
    newest; checks that archives hold one of them. An archive is deciphered again only when its
    size or time changed since it last passed, so a campaign of many kills stays fast."""

    def __init__(self, password):
        self.password = password
        self.versions = {}
        self.newest = {}
        self._verified = {}  # archive -> (size, mtime) when it last passed, and its digest
        self._seven_zip = shutil.which("7z")

    def wrote(self, path, data):
        import hashlib
        name = os.path.basename(path)
        digest = hashlib.sha256(data).digest()
        self.versions.setdefault(name, set()).add(digest)
        self.newest[name] = digest

    def _entry_bytes(self, z, zf, name):
        # 7-Zip deciphers at native speed; zipfile's pure-Python cipher takes seconds per megabyte.
        if self._seven_zip:
            import subprocess
            r = subprocess.run([self._seven_zip, "x", "-so", "-p" + self.password.decode(), z],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            if r.returncode != 0:
                raise ValueError("7z x failed with %d" % r.returncode)
            return r.stdout
        return zf.read(name, pwd=self.password)

    def check_archives(self, when, archives, want_newest=False):
        """Checks each archive (history archives keep older versions by design, so they are not
        held to the newest); returns how many there were."""
        import hashlib, zipfile
        count = 0
        for z in archives:
            count += 1
            st = os.stat(z)
            key = (st.st_size, st.st_mtime_ns)
            try:
                with zipfile.ZipFile(z) as zf:
                    names = zf.namelist()
                    check(len(names) == 1, "%s: %s holds one entry (got %r)" % (when, z, names))
                    if len(names) != 1:
                        continue
                    if self._verified.get(z, (None,))[0] == key:
                        digest = self._verified[z][1]  # untouched since it last passed
                    else:
                        digest = hashlib.sha256(self._entry_bytes(z, zf, names[0])).digest()
                        self._verified[z] = (key, digest)
                    check(digest in self.versions.get(names[0], ()),
                          "%s: %s matches a version of its source" % (when, z))
                    if want_newest and os.sep + "mHistory" + os.sep not in z:
                        check(digest == self.newest[names[0]], "%s: %s holds the newest version" % (when, z))
            except Exception as e:  # noqa: BLE001
                check(False, "%s: %s opens with the password: %s" % (when, z, e))
        return count
