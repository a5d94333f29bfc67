#!/usr/bin/env python3
"""The vqunzip tool on archives other writers made: one-entry archives from Python's zipfile
(stored and deflated) and from 7-Zip (deflated, with traditional encryption, and AES-256 deflated
and stored) read back whole; what it cannot or must not read gets its exit code: several entries,
bzip2, AES-128, an AES archive with a changed byte, a cut archive
(1, broken), a wrong password (3), an existing output file (2, nothing overwritten).

usage: unzip_oracles.py VQUNZIP_EXECUTABLE
Under the Windows preset VQ_WINE names the runner that starts vqunzip.exe.
"""
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402
from vqtest import check, finish  # noqa: E402

VQUNZIP = sys.argv[1]
WINE = os.environ.get("VQ_WINE", "")
SEVEN_ZIP = shutil.which("7z")
work = vqtest.scratch("vq-unzip-oracles-")


def tool_path(p):
    return ("Z:" + p.replace("/", "\\")) if VQUNZIP.lower().endswith(".exe") else p


def vqunzip(*args):
    cmd = ([WINE] if WINE else []) + [VQUNZIP] + list(args)
    return subprocess.run(cmd, capture_output=True, timeout=300)


def extract(archive, password=None):
    out = os.path.join(work, "out-%d" % len(os.listdir(work)))
    args = (["-p", password] if password else []) + ["-x", tool_path(archive), tool_path(out)]
    r = vqunzip(*args)
    data = open(out, "rb").read() if os.path.exists(out) else None
    return r.returncode, data


content = b"".join(b"line %d of a text users keep\r\n" % i for i in range(20000))
source = os.path.join(work, "plan.txt")
with open(source, "wb") as f:
    f.write(content)

for method, label in [(zipfile.ZIP_STORED, "stored"), (zipfile.ZIP_DEFLATED, "deflated")]:
    z = os.path.join(work, "py-%s.zip" % label)
    with zipfile.ZipFile(z, "w", method) as zf:
        zf.write(source, "plan.txt")
    rc, data = extract(z)
    check(rc == 0 and data == content, "zipfile %s: read back whole (rc %d)" % (label, rc))

several = os.path.join(work, "several.zip")
with zipfile.ZipFile(several, "w", zipfile.ZIP_DEFLATED) as zf:
    zf.writestr("a.txt", "a")
    zf.writestr("b.txt", "b")
r = vqunzip(tool_path(several))
check(r.returncode == 1 and b"Not exactly one entry" in r.stdout, "several entries: broken, named (%r)" % r.stdout)
bz = os.path.join(work, "bzip2.zip")
with zipfile.ZipFile(bz, "w", zipfile.ZIP_BZIP2) as zf:
    zf.write(source, "plan.txt")
r = vqunzip(tool_path(bz))
check(r.returncode == 1 and b"Unsupported" in r.stdout, "bzip2: unsupported (%r)" % r.stdout)

if SEVEN_ZIP:
    crypto = os.path.join(work, "7z-zipcrypto.zip")
    subprocess.run([SEVEN_ZIP, "a", "-tzip", "-p739", "-mem=ZipCrypto", crypto, source], capture_output=True)
    rc, data = extract(crypto, "739")
    check(rc == 0 and data == content, "7-Zip ZipCrypto: read back whole (rc %d)" % rc)
    rc, data = extract(crypto, vqtest.refused_password(crypto, ("738", "737", "736", "735", "734", "733")))
    check(rc == 3 and data is None, "7-Zip ZipCrypto, wrong password: 3 and no file (rc %d)" % rc)
    # AES-256 as 7-Zip writes it, deflated and stored, and a file too small to compress.
    small = os.path.join(work, "small.txt")
    with open(small, "wb") as f:
        f.write(b"hi\n")
    for label, src, extra in [("deflated", source, []), ("stored", source, ["-mm=Copy"]), ("small", small, [])]:
        aes = os.path.join(work, "7z-aes-%s.zip" % label)
        subprocess.run([SEVEN_ZIP, "a", "-tzip", "-p739", "-mem=AES256"] + extra + [aes, src], capture_output=True)
        rc, data = extract(aes, "739")
        check(rc == 0 and data == open(src, "rb").read(), "7-Zip AES-256 %s: read back whole (rc %d)" % (label, rc))
        rc, data = extract(aes, "738")
        check(rc == 3 and data is None, "7-Zip AES-256 %s, wrong password: 3 and no file (rc %d)" % (label, rc))
        # A changed byte in the ciphered data: told by the authentication code, never written out.
        damaged = aes + ".damaged.zip"
        b = bytearray(open(aes, "rb").read())
        b[len(b) // 2] ^= 0x01
        with open(damaged, "wb") as f:
            f.write(bytes(b))
        rc, data = extract(damaged, "739")
        check(rc == 1 and data is None, "7-Zip AES-256 %s, changed: broken and no file (rc %d)" % (label, rc))
    aes128 = os.path.join(work, "7z-aes128.zip")
    subprocess.run([SEVEN_ZIP, "a", "-tzip", "-p739", "-mem=AES128", aes128, source], capture_output=True)
    r = vqunzip("-p", "739", tool_path(aes128))
    check(r.returncode == 1 and b"Unsupported" in r.stdout, "AES-128: unsupported (%r)" % r.stdout)
    cut = os.path.join(work, "cut.zip")
    with open(cut, "wb") as f:
        f.write(open(crypto, "rb").read()[:-40])
    r = vqunzip("-p", "739", tool_path(cut))
    check(r.returncode == 1 and b"broken" in r.stdout, "a cut archive: broken (%r)" % r.stdout)
    target = os.path.join(work, "exists.txt")
    with open(target, "wb") as f:
        f.write(b"mine")
    r = vqunzip("-p", "739", "-x", tool_path(crypto), tool_path(target))
    check(r.returncode == 2 and open(target, "rb").read() == b"mine", "an existing file: 2, untouched")
else:
    print("7z not found: the 7-Zip archives are skipped")
finish()
print("unzip oracles passed")
