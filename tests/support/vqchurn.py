"""Ordinary file churn in a watched source folder, as a user's day brings it: files created,
rewritten, appended to, renamed, moved between folders, copied in with last month's time (kept by a
copy, an unpacked archive or a move from another folder), deleted, and bursts of many at once; and
the check, once quiet, that every file in the source has its three archives holding its current
content and that nothing partial is left."""
import os, random, shutil, time, zipfile, zlib

EXTENSIONS = (".txt", ".docx", ".xls")


class Paths:
    """The source's files in the order they came, with a random pick and a removal in constant
    time (a set's order would change from run to run and the seed would not repeat a run)."""

    def __init__(self, items=()):
        self.items, self.at = [], {}
        for p in items:
            self.add(p)

    def add(self, p):
        if p not in self.at:
            self.at[p] = len(self.items)
            self.items.append(p)

    def discard(self, p):
        i = self.at.pop(p, None)
        if i is not None:
            last = self.items.pop()
            if i < len(self.items):
                self.items[i] = last
                self.at[last] = i

    def pick(self, rng):
        return rng.choice(self.items) if self.items else None


class Churn:
    """nested: use subfolders (moves between folders, folders renamed); False keeps every file
    directly in the source, where wine's watcher reports it."""

    def __init__(self, src, outside, seed, nested=True):
        self.src, self.outside, self.nested = src, outside, nested
        self.rng = random.Random(seed)
        self.count = 0
        self.files = Paths()
        self.dirs = [src]
        self.ops = {}
        os.makedirs(outside, exist_ok=True)
        if nested:
            for i in range(4):
                self.new_dir()

    def new_dir(self):
        parent = self.rng.choice(self.dirs)
        self.count += 1
        d = os.path.join(parent, "d%05d" % self.count)
        os.makedirs(d)
        self.dirs.append(d)

    def new_name(self, folder=None):
        self.count += 1
        return os.path.join(folder or self.rng.choice(self.dirs), "f%06d%s" % (self.count, self.rng.choice(EXTENSIONS)))

    def content(self):
        r = self.rng.random()
        if r < 0.70:
            n = self.rng.randint(0, 4096)
        elif r < 0.97:
            n = self.rng.randint(4096, 65536)
        else:
            n = self.rng.randint(65536, 1 << 20)
        # Half text that compresses, half bytes that do not.
        if self.rng.random() < 0.5:
            line = ("line %d of a document\r\n" % self.rng.randint(0, 1 << 30)).encode()
            return (line * (n // len(line) + 1))[:n]
        return self.rng.randbytes(n)

    def write(self, path, data, mode="wb"):
        with open(path, mode) as f:
            f.write(data)

    def pick(self):
        return self.files.pick(self.rng)

    def create(self):
        p = self.new_name()
        self.write(p, self.content())
        self.files.add(p)

    def rewrite(self):
        p = self.pick()
        if p:
            self.write(p, self.content())

    def append(self):
        p = self.pick()
        if p:
            self.write(p, self.content()[:2048], "ab")

    def rename(self):
        p = self.pick()
        if p:
            q = self.new_name(os.path.dirname(p))
            os.rename(p, q)
            self.files.discard(p)
            self.files.add(q)

    def move(self):
        p = self.pick()
        if p and len(self.dirs) > 1:
            q = os.path.join(self.rng.choice(self.dirs), os.path.basename(p))
            if q != p and not os.path.exists(q):
                os.rename(p, q)
                self.files.discard(p)
                self.files.add(q)

    def copy_old(self):
        """A file from elsewhere with last month's time: copied keeping its time, or moved in."""
        self.count += 1
        outside = os.path.join(self.outside, "o%06d%s" % (self.count, self.rng.choice(EXTENSIONS)))
        self.write(outside, self.content())
        old = time.time() - 30 * 86400 - self.rng.randint(0, 86400)
        os.utime(outside, (old, old))
        q = self.new_name()
        if self.rng.random() < 0.5:
            shutil.copy2(outside, q)
            os.remove(outside)
        else:
            os.rename(outside, q)
        self.files.add(q)

    def move_folder(self):
        """A folder renamed (or moved under another), its files keeping their times."""
        if len(self.dirs) < 3:
            return
        d = self.rng.choice(self.dirs[1:])
        parent = self.rng.choice([x for x in self.dirs if not (x + os.sep).startswith(d + os.sep)])
        self.count += 1
        q = os.path.join(parent, "m%05d" % self.count)
        os.rename(d, q)
        moved = lambda x: q + x[len(d):] if (x + os.sep).startswith(d + os.sep) else x  # noqa: E731
        self.dirs = [moved(x) for x in self.dirs]
        self.files = Paths(moved(x) for x in self.files.items)

    def delete(self):
        p = self.pick()
        if p:
            os.remove(p)
            self.files.discard(p)

    def burst(self):
        folder = self.rng.choice(self.dirs)
        for _ in range(self.rng.randint(10, 40)):
            p = self.new_name(folder)
            self.write(p, self.content())
            self.files.add(p)

    def run(self, seconds, pause=(0.01, 0.05)):
        table = [(self.create, 20), (self.rewrite, 15), (self.append, 10), (self.rename, 10), (self.copy_old, 8),
                 (self.delete, 8), (self.burst, 2)]
        if self.nested:
            table += [(self.move, 10), (self.move_folder, 1), (self.new_dir, 1)]
        ops = [f for f, w in table for _ in range(w)]
        end = time.time() + seconds
        while time.time() < end:
            op = self.rng.choice(ops)
            op()
            self.ops[op.__name__] = self.ops.get(op.__name__, 0) + 1
            time.sleep(self.rng.uniform(*pause))


def source_files(src):
    """Every file below the source whose extension the default filter takes."""
    out = []
    for d, _, names in os.walk(src):
        out += [os.path.join(d, n) for n in names if n.endswith(EXTENSIONS)]
    return sorted(out)


def problems_after_quiet(src, archives_of, entry_name, password, seed=0, seconds=120):
    """problems() once the passes that follow the churn have had up to `seconds` of quiet, looked
    at every 3 s: (files wrong, files in the source, seconds waited)."""
    t0 = time.time()
    found, files = problems(src, archives_of, entry_name, password, seed=seed)
    while found and time.time() - t0 < seconds:
        time.sleep(3)
        found, files = problems(src, archives_of, entry_name, password, seed=seed)
    return found, files, time.time() - t0


def problems(src, archives_of, entry_name, password, deep_sample=40, seed=0):
    """What is wrong once the churn is over: each source file's list, folder and history archive
    (archives_of(path) gives the three paths) must hold its current content, by the CRC and size
    of the central directory; a sample is decrypted and compared byte for byte."""
    found = []
    files = source_files(src)
    deep = set(random.Random(seed).sample(files, min(deep_sample, len(files))))
    for p in files:
        try:
            data = open(p, "rb").read()
        except OSError:
            continue
        crc = zlib.crc32(data)
        for z in archives_of(p):
            try:
                with zipfile.ZipFile(z) as zf:
                    infos = zf.infolist()
                    if len(infos) != 1 or infos[0].filename != entry_name(p):
                        found.append("%s: entries %r" % (z, [i.filename for i in infos]))
                    elif infos[0].CRC != crc or infos[0].file_size != len(data):
                        found.append("%s: not the current content of %s" % (z, p))
                    elif p in deep and zf.read(infos[0], pwd=password.encode()) != data:
                        found.append("%s: decrypted content differs from %s" % (z, p))
            except FileNotFoundError:
                found.append("%s: missing (for %s)" % (z, p))
            except Exception as e:  # noqa: BLE001
                found.append("%s: %s" % (z, e))
    return found, len(files)


def partial_files(dest, temp_dir):
    """Partial archives in the views and work folders of ours in the temporary folder."""
    left = []
    for v in ("mList", "mHistory", "mScDir"):
        for d, _, names in os.walk(os.path.join(dest, v)):
            left += [os.path.join(d, n) for n in names if not n.endswith(".zip")]
    if os.path.isdir(temp_dir):
        left += [os.path.join(temp_dir, n) for n in os.listdir(temp_dir) if n.startswith("~vq.lumen.")]
    return left


def history_name(path_flat, mtime):
    return path_flat + time.strftime(".%Y.%m.%d.%H.%M.%S", time.localtime(int(mtime))) + ".zip"
