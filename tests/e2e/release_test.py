#!/usr/bin/env python3
"""The release as CPack makes it. A plain install first: no sums and no
build information, and no file removed that is not its own. Then the
unsigned ZIP: its files (the guide, every recipe and no batch file, the exe
beside the runner too, where the playbook's defaults find both,
BUILD-INFO.txt), SHA256SUMS over all of them, its exe the build's and
passing an end-to-end case under Wine. Then a release signed with a
throwaway self-signed certificate: a wrong password stops it with its
message and no ZIP; the signatures of both programs and of the detection
script verify; each stripped file is its unsigned build byte for byte; the signed exe passes the same end-to-end
case.

    release_test.py CPACK BUILD_DIR UNSIGNED_EXE E2E_DRIVER...
"""
import glob
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

PASSWORD = "throwaway-password"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# The release: the exe, its papers, the guide and every recipe, what built
# it, and the sums over all of it. A plain install has neither of the last
# two.
TOP = {"ksthunk-filter.exe", "README.md", "CHANGELOG.md", "LICENSE", "THIRD-PARTY-NOTICES.txt",
       os.path.join("deploy", "windows", "ksthunk-filter.exe"),
       os.path.join("deploy", "windows", "ksthunk-filter-run.exe")}
RECIPES = {os.path.relpath(os.path.join(folder, name), ROOT)
           for top in ("docs", "deploy")
           for folder, _, names in os.walk(os.path.join(ROOT, top)) for name in names}
EXPECTED_FILES = TOP | RECIPES | {"BUILD-INFO.txt", "SHA256SUMS"}


def files_below(root):
    return {os.path.relpath(os.path.join(folder, name), root)
            for folder, _, names in os.walk(root) for name in names}


def plain_install(cpack, build_dir, scratch, failures):
    """Installs four folders below a ZIP that a release step guessing its
    output folder from the prefix would take for its own."""
    stranger = os.path.join(scratch, "a", "pkg.zip")
    prefix = os.path.join(scratch, "a", "b", "c", "d", "pkg")
    os.makedirs(os.path.dirname(stranger))
    with open(stranger, "w") as f:
        f.write("not ours")
    cmake = os.path.join(os.path.dirname(cpack), "cmake")
    subprocess.run([cmake, "--install", build_dir, "--prefix", prefix],
                   check=True, capture_output=True)
    if files_below(prefix) != TOP | RECIPES:
        failures.append(f"a plain install made {sorted(files_below(prefix))}")
    return stranger


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


def release(cpack, build_dir, out, p12=None, password=None):
    """CPack's release into `out`, signed when a certificate is given."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("KSF_SIGN_")}
    if p12:
        env.update(KSF_SIGN_PKCS12=p12, KSF_SIGN_PASSWORD=password)
    return run(cpack, "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-B", out,
               env=env)


def unpack(out):
    """The folder that the one ZIP in `out` unpacks to."""
    (archive,) = glob.glob(os.path.join(out, "*.zip"))
    with zipfile.ZipFile(archive) as z:
        z.extractall(os.path.join(out, "unpacked"))
    (root,) = glob.glob(os.path.join(out, "unpacked", "*"))
    return root


def check_contents(root, extra, failures):
    """The files of the release, none a batch file, the build information,
    and SHA256SUMS over every file but itself."""
    expected = EXPECTED_FILES | extra
    if files_below(root) != expected or any(f.endswith((".cmd", ".bat")) for f in expected):
        failures.append(f"package holds {sorted(files_below(root))}")
    exe = open(os.path.join(root, "ksthunk-filter.exe"), "rb").read()
    if open(os.path.join(root, "deploy", "windows", "ksthunk-filter.exe"), "rb").read() != exe:
        failures.append("deploy/windows holds another exe than the package's own")
    ansible = os.path.join(root, "deploy", "ansible")
    defaults = dict(re.findall(r'^ +(ksthunk_\w+): "\{\{ playbook_dir \}\}/(\S+)"$',
                               open(os.path.join(ansible, "ksthunk-filter.yml")).read(), re.M))
    if sorted(defaults) != ["ksthunk_exe", "ksthunk_runner"] or not all(
            os.path.isfile(os.path.join(ansible, path)) for path in defaults.values()):
        failures.append(f"the playbook's defaults {defaults} are not files of the package")
    build_info = open(os.path.join(root, "BUILD-INFO.txt")).read()
    if "g++-mingw-w64-i686-win32=" not in build_info or "Commit: " not in build_info:
        failures.append(f"BUILD-INFO.txt lacks the compiler or the commit:\n{build_info}")
    summed = {line.split("  ", 1)[1]
              for line in open(os.path.join(root, "SHA256SUMS")).read().splitlines()}
    if summed != expected - {"SHA256SUMS"}:
        failures.append(f"SHA256SUMS covers {sorted(summed)}")
    if run("sha256sum", "-c", "SHA256SUMS", cwd=root).returncode != 0:
        failures.append("sha256sum -c SHA256SUMS fails on the unpacked ZIP")


def behaves(e2e_driver, exe, case, failures):
    """The exe of a release on an end-to-end case."""
    result = subprocess.run([*e2e_driver, "--exe", exe, "case", case],
                            capture_output=True, text=True)
    print(result.stdout, end="")
    if result.returncode != 0:
        failures.append(f"the released exe fails the end-to-end case {case}")


def main(cpack, build_dir, unsigned_exe, *e2e_driver):
    failures = []
    unsigned = open(unsigned_exe, "rb").read()
    with tempfile.TemporaryDirectory() as scratch:
        stranger = plain_install(cpack, build_dir, scratch, failures)

        out = os.path.join(scratch, "unsigned")
        result = release(cpack, build_dir, out)
        if result.returncode != 0:
            sys.exit(f"the release failed: {result.stdout}{result.stderr}")
        if not os.path.exists(stranger):
            failures.append("the install or the release removed a file not its own")
        root = unpack(out)
        check_contents(root, set(), failures)
        if open(os.path.join(root, "ksthunk-filter.exe"), "rb").read() != unsigned:
            failures.append("the released exe is not the build's")
        behaves(e2e_driver, os.path.join(root, "ksthunk-filter.exe"), "two-filters-released",
                failures)

        cert, p12 = make_certificate(scratch)
        wrong = release(cpack, build_dir, os.path.join(scratch, "wrong"), p12, "not-it")
        if wrong.returncode == 0 or "signing ksthunk-filter.exe failed" not in wrong.stdout + wrong.stderr:
            failures.append(f"a wrong password did not stop the release: {wrong.stdout[-500:]}")
        if glob.glob(os.path.join(scratch, "wrong", "*.zip")):
            failures.append("a failed release left a ZIP")

        out = os.path.join(scratch, "signed")
        result = release(cpack, build_dir, out, p12, PASSWORD)
        if result.returncode != 0:
            sys.exit(f"the signed release failed: {result.stdout}{result.stderr}")
        root = unpack(out)
        check_contents(root, {"SHA256SUMS.unsigned"}, failures)
        signed = os.path.join(root, "ksthunk-filter.exe")
        runner, script = "deploy/windows/ksthunk-filter-run.exe", "deploy/intune/detect-ksthunk.ps1"
        # Each signed file, what it was before, and where README strips it to.
        for path, build, stripped in (
                ("ksthunk-filter.exe", unsigned_exe, "ksthunk-filter-unsigned.exe"),
                (runner, os.path.join(build_dir, "runner", "ksthunk-filter-run.exe"),
                 "ksthunk-filter-run-unsigned.exe"), (script, os.path.join(ROOT, script), script)):
            path, stripped = os.path.join(root, path), os.path.join(root, stripped)
            if run("osslsigncode", "verify", "-CAfile", cert, "-in", path).returncode != 0:
                failures.append(f"the signed {os.path.basename(path)} does not verify")
            run("osslsigncode", "remove-signature", "-in", path, "-out", stripped + ".tmp", check=True)
            os.replace(stripped + ".tmp", stripped)
            if open(stripped, "rb").read() != open(build, "rb").read():
                failures.append(f"the stripped {os.path.basename(path)} differs from its build")
        if run("sha256sum", "-c", "SHA256SUMS.unsigned", cwd=root).returncode != 0:
            failures.append("SHA256SUMS.unsigned does not match the stripped files")
        behaves(e2e_driver, signed, "two-filters-signed", failures)

        print(f"unsigned {len(unsigned)} bytes, sha256 {hashlib.sha256(unsigned).hexdigest()}")
        signed_bytes = open(signed, "rb").read()
        print(f"signed   {len(signed_bytes)} bytes, sha256 {hashlib.sha256(signed_bytes).hexdigest()}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
