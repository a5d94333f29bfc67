#!/usr/bin/env python3
"""Archives of every kind, written by the vqzip tool, opened by Python's zipfile and tested by
7-Zip; raw DEFLATE streams of every level inflated by Python's zlib.

usage: zip_oracles.py VQZIP_EXECUTABLE
Under the Windows preset VQ_WINE names the runner that starts vqzip.exe.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

VQZIP = sys.argv[1]
WINE = os.environ.get("VQ_WINE", "")
WINDOWS = VQZIP.lower().endswith(".exe")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def vqzip(*args):
    cmd = ([WINE] if WINE else []) + [VQZIP] + list(args)
    return subprocess.run(cmd, capture_output=True, timeout=300)


def name_bytes(info):
    # Windows names are in the OEM code page without the language-encoding flag, so zipfile
    # decodes them as cp437; undo that and decode as GBK (the Chinese wine prefix). The POSIX
    # build writes UTF-8 and flags non-ASCII names as such, so zipfile already reads them right.
    if info.flag_bits & 0x0800:
        return info.filename
    return info.orig_filename.encode("cp437").decode("gbk" if WINDOWS else "utf-8")


def utf8_flag_expected(entry):
    return not WINDOWS and any(ord(c) > 127 for c in entry)


def main():
    work = tempfile.mkdtemp(prefix="vq-zip-oracles-")
    try:
        run(work)
    except BaseException:
        print("scratch directory kept:", work)
        raise
    if failures:
        print("scratch directory kept:", work)
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    shutil.rmtree(work, ignore_errors=True)
    print("all oracle checks passed")


def run(work):
    rnd = random.Random(3)
    text = "".join(rnd.choice(["备份 ", "archive ", "window ", "lazy ", "\r\n"]) for _ in range(40000))
    sources = {
        "text.txt": text.encode("utf-8"),
        "random.bin": bytes(rnd.getrandbits(8) for _ in range(70000)),
        "empty.txt": b"",
        "old.zip": bytes(rnd.getrandbits(8) for _ in range(3000)),
    }
    for name, data in sources.items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)

    password = "secret-pw"
    kinds = [
        # entry name, source, password
        ("notes.txt", "text.txt", None),
        ("notes.txt", "text.txt", password),
        ("dir\\random.bin", "random.bin", None),
        ("dir\\random.bin", "random.bin", password),
        ("empty.txt", "empty.txt", None),
        ("empty.txt", "empty.txt", password),
        ("backup\\old.zip", "old.zip", None),
        ("backup\\old.zip", "old.zip", password),
        ("中文 名字.txt", "text.txt", None),
        ("中文 名字.txt", "text.txt", password),
        # A password outside ASCII reaches the cipher as bytes of the ANSI code page.
        ("密码.txt", "text.txt", "密码pw"),
    ]
    for i, (entry, src, pw) in enumerate(kinds):
        what = "%s from %s %s" % (entry, src, "encrypted" if pw else "plain")
        archive = os.path.join(work, "k%d.zip" % i)
        args = [archive, entry, os.path.join(work, src)] + ([pw] if pw else [])
        p = vqzip(*args)
        check(p.returncode == 0, what + ": vqzip exit %d %r" % (p.returncode, p.stdout))
        check(p.stdout.startswith(b"0x00000000 Success"), what + ": printed %r" % p.stdout)
        if p.returncode != 0:
            continue
        expected = sources[src]
        # zipfile takes the password as the bytes of the code page the writer used.
        pw_bytes = pw.encode("gbk" if WINDOWS else "utf-8") if pw else None
        with zipfile.ZipFile(archive) as z:
            infos = z.infolist()
            check(len(infos) == 1, what + ": one entry")
            info = infos[0]
            check(name_bytes(info) == entry.replace("\\", "/"), what + ": name %r" % info.orig_filename)
            stored = entry.endswith(".zip")
            check(info.compress_type == (0 if stored else 8), what + ": method")
            if pw:
                check(info.flag_bits == 0x0009 | (0x0800 if utf8_flag_expected(entry) else 0), what + ": flags 0x%04x" % info.flag_bits)
                check(z.read(info, pwd=pw_bytes) == expected, what + ": content via zipfile")
                try:
                    z.read(info, pwd=b"wrong password")
                    check(False, what + ": zipfile accepted a wrong password")
                except RuntimeError:
                    pass
                except (zipfile.BadZipFile, zlib.error):
                    # The check byte matched by chance (1 in 256): the data then decrypts to
                    # garbage, which fails to inflate or fails the CRC.
                    pass
            else:
                check(info.flag_bits == (0 if stored else 0x0002) | (0x0800 if utf8_flag_expected(entry) else 0), what + ": flags 0x%04x" % info.flag_bits)
                check(z.read(info) == expected, what + ": content via zipfile")
            check(info.file_size == len(expected), what + ": size")
            mtime = os.stat(os.path.join(work, src)).st_mtime
            lt = time.localtime(mtime)
            want = (lt.tm_year, lt.tm_mon, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec // 2 * 2)
            check(info.date_time == want, what + ": DOS stamp %r, want %r" % (info.date_time, want))
        if pw and not pw.isascii() and WINDOWS:
            continue  # 7-Zip turns its -p text into bytes its own way; zipfile checked it above
        if shutil.which("7z"):
            t = subprocess.run(["7z", "t", "-p" + (pw or "unused"), archive],
                               capture_output=True, timeout=120)
            check(t.returncode == 0 and b"Everything is Ok" in t.stdout, what + ": 7z t\n" + t.stdout.decode("utf-8", "replace"))
            if pw:
                bad = subprocess.run(["7z", "t", "-pwrong", archive], capture_output=True, timeout=120)
                check(bad.returncode != 0, what + ": 7z accepted a wrong password")
        else:
            check(False, "7z is not installed")

    # AES-256, written as the backup pass writes it (compressed and encrypted once): 7-Zip tests
    # and extracts every kind with the password and refuses a wrong one.
    aes_kinds = [("notes.txt", "text.txt", password), ("dir\\random.bin", "random.bin", password),
                 ("empty.txt", "empty.txt", password), ("backup\\old.zip", "old.zip", password)]
    if not WINDOWS:
        aes_kinds.append(("密码.txt", "text.txt", "密码pw"))
    for i, (entry, src, pw) in enumerate(aes_kinds):
        what = "AES %s from %s" % (entry, src)
        archive = os.path.join(work, "aes%d.zip" % i)
        p = vqzip("--aes", archive, entry, os.path.join(work, src), pw)
        check(p.returncode == 0 and p.stdout.startswith(b"0x00000000 Success"), what + ": vqzip %r" % p.stdout)
        if p.returncode != 0:
            continue
        with zipfile.ZipFile(archive) as z:
            info = z.infolist()[0]
            check(info.compress_type == 99 and info.flag_bits & 0x0009 == 0x0001,
                  what + ": method %d flags 0x%04x" % (info.compress_type, info.flag_bits))
            check(info.file_size == len(sources[src]), what + ": size")
        if not shutil.which("7z"):
            check(False, "7z is not installed")
            continue
        t = subprocess.run(["7z", "t", "-p" + pw, archive], capture_output=True, timeout=120)
        check(t.returncode == 0 and b"Everything is Ok" in t.stdout, what + ": 7z t\n" + t.stdout.decode("utf-8", "replace"))
        out = os.path.join(work, "aes-out%d" % i)
        x = subprocess.run(["7z", "x", "-p" + pw, "-o" + out, archive], capture_output=True, timeout=120)
        got = os.path.join(out, entry.replace("\\", "/"))
        check(x.returncode == 0 and os.path.exists(got) and open(got, "rb").read() == sources[src],
              what + ": 7z x gives the source back")
        bad = subprocess.run(["7z", "t", "-pwrong", archive], capture_output=True, timeout=120)
        check(bad.returncode != 0 and b"Wrong password" in bad.stdout + bad.stderr,
              what + ": 7z accepted a wrong password\n" + bad.stdout.decode("utf-8", "replace"))

    # A source that does not exist: the add fails, the archive is the bare end record.
    archive = os.path.join(work, "missing.zip")
    p = vqzip(archive, "a.txt", os.path.join(work, "no such file"))
    check(p.returncode != 0 and p.stdout.startswith(b"0x00000200 Couldn't create/open file"),
          "missing source: %r" % p.stdout)
    with open(archive, "rb") as f:
        check(f.read() == b"PK\x05\x06" + b"\0" * 18, "missing source: 22-byte archive")

    # Raw streams at every level on inputs whose sizes sit on the compressor's edges.
    blob = sources["text.txt"] + sources["random.bin"]
    for size in (0, 1, 258, 32768, 65537, 300000):
        data = (blob * (size // len(blob) + 1))[:size]
        src = os.path.join(work, "in%d" % size)
        with open(src, "wb") as f:
            f.write(data)
        # Every wine start costs a second or more: fewer levels there, all of them natively.
        for level in ((1, 3, 4, 8) if WINDOWS else range(1, 9)):
            out = os.path.join(work, "out%d_%d" % (size, level))
            p = vqzip("--deflate", str(level), src, out)
            check(p.returncode == 0, "deflate %d level %d: exit %d" % (size, level, p.returncode))
            if p.returncode == 0:
                with open(out, "rb") as f:
                    packed = f.read()
                d = zlib.decompressobj(-15)
                check(d.decompress(packed) == data and d.eof and not d.unused_data,
                      "deflate %d level %d: zlib round trip" % (size, level))


if __name__ == "__main__":
    main()
