#!/usr/bin/env python3
"""Signs a release with a throwaway self-signed code-signing certificate and
checks it: the signature verifies, one flipped byte of code breaks it, the
stripped exe is the unsigned build byte for byte, the signed exe behaves as
the unsigned one under Wine, and a wrong password stops the release with
its message and no ZIP.

    signing_test.py CPACK BUILD_DIR UNSIGNED_EXE E2E_DRIVER...
"""
import glob
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

PASSWORD = "throwaway-password"


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def make_certificate(scratch):
    key, cert, p12 = (os.path.join(scratch, name) for name in ("key.pem", "cert.pem", "cert.p12"))
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
        "-out", cert, "-days", "2", "-subj", "/CN=ksthunk-filter test signer",
        "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature",
        check=True)
    run("openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
        "-passout", f"pass:{PASSWORD}", check=True)
    return cert, p12


def release(cpack, build_dir, out, p12, password):
    env = dict(os.environ, KSF_SIGN_PKCS12=p12, KSF_SIGN_PASSWORD=password)
    env.pop("KSF_SIGN_TIMESTAMP_URL", None)
    return run(cpack, "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-B", out,
               env=env)


def first_code_byte(exe):
    """File offset of the first byte of the .text section."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], \
        struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        entry = table + 40 * i
        if data[entry:entry + 8].rstrip(b"\0") == b".text":
            return struct.unpack_from("<I", data, entry + 20)[0]
    sys.exit("no .text section")


def verifies(exe, cert):
    return run("osslsigncode", "verify", "-CAfile", cert, "-in", exe).returncode == 0


def main(cpack, build_dir, unsigned_exe, *e2e_driver):
    failures = []
    unsigned = open(unsigned_exe, "rb").read()
    with tempfile.TemporaryDirectory() as scratch:
        cert, p12 = make_certificate(scratch)

        wrong = release(cpack, build_dir, os.path.join(scratch, "wrong"), p12, "not-it")
        if wrong.returncode == 0 or "signing ksthunk-filter.exe failed" not in wrong.stdout + wrong.stderr:
            failures.append(f"a wrong password did not stop the release: {wrong.stdout[-500:]}")
        if glob.glob(os.path.join(scratch, "wrong", "*.zip")):
            failures.append("a failed release left a ZIP")

        result = release(cpack, build_dir, os.path.join(scratch, "signed"), p12, PASSWORD)
        if result.returncode != 0:
            sys.exit(f"the signed release failed: {result.stdout}{result.stderr}")
        (archive,) = glob.glob(os.path.join(scratch, "signed", "*.zip"))
        with zipfile.ZipFile(archive) as z:
            z.extractall(os.path.join(scratch, "unpacked"))
        (root,) = glob.glob(os.path.join(scratch, "unpacked", "*"))
        signed = os.path.join(root, "ksthunk-filter.exe")
        if run("sha256sum", "-c", "SHA256SUMS", cwd=root).returncode != 0:
            failures.append("sha256sum -c SHA256SUMS fails on the unpacked ZIP")
        if not verifies(signed, cert):
            failures.append("the signed exe does not verify")

        stripped = os.path.join(root, "ksthunk-filter-unsigned.exe")
        run("osslsigncode", "remove-signature", "-in", signed, "-out", stripped, check=True)
        if open(stripped, "rb").read() != unsigned:
            failures.append("the stripped exe differs from the unsigned build")
        if run("sha256sum", "-c", "SHA256SUMS.unsigned", cwd=root).returncode != 0:
            failures.append("SHA256SUMS.unsigned does not match the stripped exe")

        tampered = os.path.join(scratch, "tampered.exe")
        data = bytearray(open(signed, "rb").read())
        data[first_code_byte(signed) + 0x40] ^= 0x01
        open(tampered, "wb").write(data)
        if verifies(tampered, cert):
            failures.append("a flipped byte of code still verifies")

        # The signed exe on the end-to-end case that appends to two filters.
        behaves = subprocess.run([*e2e_driver, "--exe", signed, "case", "two-filters-signed"],
                                 capture_output=True, text=True)
        print(behaves.stdout, end="")
        if behaves.returncode != 0:
            failures.append("the signed exe does not behave as the unsigned one")

        print(f"unsigned {len(unsigned)} bytes, sha256 {hashlib.sha256(unsigned).hexdigest()}")
        signed_bytes = open(signed, "rb").read()
        print(f"signed   {len(signed_bytes)} bytes, sha256 {hashlib.sha256(signed_bytes).hexdigest()}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
