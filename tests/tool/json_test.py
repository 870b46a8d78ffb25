#!/usr/bin/env python3
"""qorpack's outputs for scripts: build's one line and --quiet, --strict, and the JSON objects of
build, list and verify, each parsed with a JSON parser and checked against the documented schema
(tools/qorpack-json.schema.json) and against the package itself. Exit 77 (skipped) without the
Windows build's stub or python3-jsonschema.
Arguments: QORPACK STUB SCHEMA SCRATCH"""
import datetime
import json
import os
import re
import shutil
import subprocess
import sys

qorpack, stub, schema_path, scratch = sys.argv[1:5]
try:
    import jsonschema
except ImportError:
    print("SKIP: python3-jsonschema is not installed (scripts/setup.sh installs it)")
    sys.exit(77)
if not os.path.isfile(stub):
    print(f"SKIP: no stub at {stub} (build the windows preset first)")
    sys.exit(77)

with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
failures = 0


def fail(what):
    global failures
    failures += 1
    print(f"FAIL: {what}")


def check(condition, what):
    if not condition:
        fail(what)
    return condition


def schema_errors(kind, value):
    validator = jsonschema.Draft7Validator({"$ref": f"#/definitions/{kind}", "definitions": schema["definitions"]})
    return [error.message for error in validator.iter_errors(value)]


def parse(kind, label, out):
    """The one JSON object that `out` (bytes) holds, checked against the schema; None otherwise."""
    try:
        value = json.loads(out.decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        fail(f"{label}: no JSON object ({error}): {out[:200]!r}")
        return None
    errors = schema_errors(kind, value)
    check(not errors, f"{label}: not as the schema says: {errors}")
    return value


def iso(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


EPOCH = 1700000000
OLD = EPOCH - 86400 * 400
# A title of every byte from 80 to FF, and what Windows-1252 makes of it (Python's own table): the
# five bytes it leaves undefined are documented to keep their value.
TITLE = b"Bytes " + bytes(range(0x80, 0x100))


def windows1252(byte):
    try:
        return bytes([byte]).decode("cp1252")
    except UnicodeDecodeError:
        return chr(byte)


TITLE_TEXT = "Bytes " + "".join(windows1252(byte) for byte in range(0x80, 0x100))


def qor(folder, *args, epoch=True):
    env = dict(os.environ)
    env.pop("SOURCE_DATE_EPOCH", None)
    if epoch:
        env["SOURCE_DATE_EPOCH"] = str(EPOCH)
    run = subprocess.run([qorpack, *args], cwd=folder, env=env, stdin=subprocess.DEVNULL, capture_output=True)
    return run.returncode, run.stdout, run.stderr


def make_folder(name, third=b"gone.txt"):
    """A folder with a stub, a list packing the stub as the versioned setup.exe, a text whose name is
    r<euro>.txt, an old file, and a third entry `third` (missing unless created)."""
    folder = os.path.join(scratch, name)
    os.makedirs(os.path.join(folder, "src"))
    shutil.copy(stub, os.path.join(folder, "stub.exe"))
    shutil.copy(stub, os.path.join(folder, "src", "setup.exe"))
    with open(os.path.join(folder.encode(), b"src", b"r\x80.txt"), "wb") as f:
        f.write(b"readme\r\n")
    with open(os.path.join(folder, "src", "old.txt"), "wb") as f:
        f.write(b"old\r\n")
    os.utime(os.path.join(folder, "src", "old.txt"), (OLD, OLD))
    lines = [b"[Cmd]", b"LANG=ENU", b"Title=" + TITLE, b"FileName=setup.exe /q", b"[Files]",
             b"File01=setup.exe, src\\setup.exe", b"File02=" + third + b", src\\" + third,
             b"File03=r\x80.txt, src\\r\x80.txt", b"File04=old.txt, src\\old.txt",
             b"[Out]", b"OutputName=out%s.exe", b"[In]", b"QorFileName=stub.exe"]
    with open(os.path.join(folder, "list.ini"), "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")
    return folder


def read(path):
    with open(path, "rb") as f:
        return f.read()


# --- build: the line, --quiet, --json and --strict -------------------------------------------------
# label | options | the third entry: missing, present, or a folder | exit status | what stdout holds
# (line, json or nothing) | stderr's last line (None: not checked)
PACKAGE = "out1_00_00a.exe"  # OutputName stamped with the stub's version, 1.0.0.0
builds = [
    ("plain", [], "missing", 0, "line", None),
    ("quiet", ["--quiet"], "present", 0, "", None),
    ("json", ["--json"], "present", 0, "json", None),
    ("json wins over quiet", ["--quiet", "--json"], "present", 0, "json", None),
    ("pruned, as json", ["--json", "-j", "1"], "missing", 0, "json", None),
    ("strict", ["--strict"], "present", 0, "line", None),
    ("output", ["--output", "dist/setup.exe"], "present", 0, "line", None),
    ("strict json, output", ["--json", "--strict", "--output", "dist/\u00fcber.exe"], "present", 0, "json", None),
    ("strict, missing source", ["--strict"], "missing", 255, "",
     "qorpack: --strict: the source of File02 is missing: src\\gone.txt"),
    ("strict json, missing source", ["--json", "--strict"], "missing", 255, "",
     "qorpack: --strict: the source of File02 is missing: src\\gone.txt"),
    ("strict, a folder as source", ["--strict"], "folder", 255, "",
     "qorpack: --strict: the source of File02 is a folder, not a file: src\\gone.txt"),
]
listed = None
for number, (label, options, third, want_status, want_out, want_err) in enumerate(builds):
    folder = make_folder(f"build{number}")
    if third == "present":
        with open(os.path.join(folder, "src", "gone.txt"), "wb") as f:
            f.write(b"now here\r\n")
    elif third == "folder":
        os.mkdir(os.path.join(folder, "src", "gone.txt"))
    os.makedirs(os.path.join(folder, "dist"))
    list_before = read(os.path.join(folder, "list.ini"))
    status, out, err = qor(folder, "build", *options, "list.ini")
    if not check(status == want_status, f"{label}: exit status {status}, not {want_status}: {err[-300:]!r}"):
        continue
    output = options[options.index("--output") + 1] if "--output" in options else PACKAGE
    package = os.path.join(folder, output)
    list_after = read(os.path.join(folder, "list.ini"))
    pruned = third == "missing" and status == 0
    check((list_after != list_before) == pruned,
          f"{label}: the list was {'left as it was' if pruned else 'rewritten'}")
    if want_err is not None:
        last = err.decode("utf-8", "replace").rstrip("\n").split("\n")[-1]
        check(last == want_err, f"{label}: stderr ends with {last!r}, not {want_err!r}")
    if status != 0:
        check(out == b"", f"{label}: a failed build printed {out!r}")
        check(not os.path.exists(package), f"{label}: a failed build wrote {package}")
        if "--strict" in options:
            check(not os.path.exists(os.path.join(folder, "logfile.txt")), f"{label}: a strict refusal wrote a log")
        continue
    size = os.path.getsize(package)
    pieces = 4 if pruned else 5
    if want_out == "line":
        check(out == f"{output}: {size} bytes, {pieces} pieces\n".encode(), f"{label}: the line is {out!r}")
    elif want_out == "":
        check(out == b"", f"{label}: --quiet printed {out!r}")
    else:
        built = parse("build", label, out)
        if built is None:
            continue
        check(built["output"] == output and built["size"] == size, f"{label}: output and size {built}")
        status, out, err = qor(folder, "list", "--json", output)
        listed = parse("list", f"{label}: list --json", out)
        if listed is None:
            continue
        # The build's pieces are the ones list reads back: names, sizes and stored times.
        check([{k: p[k] for k in ("name", "packed", "size", "time")} for p in built["pieces"]] == listed["pieces"],
              f"{label}: build says {built['pieces']}, list reads {listed['pieces']}")
        names = ["SetupQor.ini", "setup.exe"] + ([] if pruned else ["gone.txt"]) + ["r\u20ac.txt", "old.txt"]
        check([p["name"] for p in built["pieces"]] == names, f"{label}: pieces {built['pieces']}")
        sources = ["list.ini", "src\\setup.exe"] + ([] if pruned else ["src\\gone.txt"]) + ["src\\r\u20ac.txt", "src\\old.txt"]
        check([p["source"] for p in built["pieces"]] == sources, f"{label}: sources {built['pieces']}")
        times = [iso(EPOCH)] * (len(names) - 1) + [iso(OLD)]
        check([p["time"] for p in built["pieces"]] == times, f"{label}: times {[p['time'] for p in built['pieces']]}")
        check(built["pieces"][-1]["size"] == 5, f"{label}: old.txt's size {built['pieces'][-1]}")
        warnings = ["Warning: src\\gone.txt not found, removing from .ini file"] if pruned else []
        check(built["warnings"] == warnings, f"{label}: warnings {built['warnings']}")

# --- list --json: the script's texts decoded from Windows-1252 --------------------------------------
if check(listed is not None, "no package was listed"):
    check(listed["title"] == TITLE_TEXT, f"list --json: the title is {listed['title']!r}")
    check(listed["runs"] == '"<extraction folder>\\setup.exe" /q', f"list --json: runs {listed['runs']!r}")
    check(listed["languages"] == ["ENU"] and listed["signed"] is False, f"list --json: {listed}")

# --- verify --json: each verdict, signed packages included ---------------------------------------------
folder = make_folder("verify")
os.makedirs(os.path.join(folder, "dist"))
status, out, err = qor(folder, "build", "--quiet", "--output", "good.exe", "list.ini")
check(status == 0, f"the package for verify does not build: {err!r}")
good = read(os.path.join(folder, "good.exe"))


def write(name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
    return name


middle = len(good) // 2
write("damaged.exe", good[:middle] + bytes([good[middle] ^ 1]) + good[middle + 1:])
write("short.exe", b"MZ")
signer = shutil.which("osslsigncode") and shutil.which("openssl")
if signer:
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                    "cert.pem", "-days", "2", "-subj", "/CN=JSON signer"], cwd=folder, capture_output=True, check=True)
    sign = ["osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem"]
    subprocess.run(sign + ["-in", "good.exe", "-out", "signed.exe"], cwd=folder, capture_output=True, check=True)
    subprocess.run(sign + ["-nest", "-h", "sha512", "-in", "signed.exe", "-out", "nested.exe"], cwd=folder,
                   capture_output=True, check=True)
    # A byte of the signer's signature value, which ends the certificate table (but for its padding
    # to 8 bytes) changed: the checksum still matches, the signature does not.
    signed = read(os.path.join(folder, "signed.exe"))
    at = len(signed) - 40
    write("signed-changed.exe", signed[:at] + bytes([signed[at] ^ 1]) + signed[at + 1:])
else:
    print("NOTE: no osslsigncode or openssl: the signed packages are left out")

sha256 = {"subject": "CN=JSON signer", "digestAlgorithm": "SHA-256", "timestamped": False, "matches": True,
          "nestedIn": None}
# package | exit status | verdict | code | start of the reason | signed | signatures
verdicts = [
    ("good.exe", 0, "sound", 0, None, False, []),
    ("damaged.exe", 1, "refused", 2, "the package checksum does not match", False, []),
    ("short.exe", 1, "failed", None, "not a package: shorter than 4 bytes", False, []),
    ("none.exe", 1, "failed", None, "cannot open none.exe: No such file or directory", False, []),
]
if signer:
    verdicts += [
        ("signed.exe", 0, "sound", 0, None, True, [sha256]),
        ("nested.exe", 0, "sound", 0, None, True,
         [sha256, dict(sha256, digestAlgorithm="SHA-512", nestedIn=1)]),
        ("signed-changed.exe", 1, "refused", 2, "the signature does not match the package", True, None),
    ]
for name, want_status, verdict, code, reason, is_signed, signatures in verdicts:
    status, out, err = qor(folder, "verify", "--json", name)
    check(status == want_status, f"verify --json {name}: exit status {status}, not {want_status}")
    # A package that is not sound still has its one line on standard error.
    check((err == b"") == (want_status == 0), f"verify --json {name}: stderr {err!r}")
    record = parse("verify", f"verify --json {name}", out)
    if record is None:
        continue
    check(record["package"] == name and record["verdict"] == verdict and record["code"] == code,
          f"verify --json {name}: {record}")
    check(reason is None and record["reason"] is None or (record["reason"] or "").startswith(reason or "\0"),
          f"verify --json {name}: the reason is {record['reason']!r}, not {reason!r}")
    if signatures is None:  # one signature, whose subject may be the changed byte
        signatures = [dict(record["signatures"][0], matches=False)] if len(record["signatures"]) == 1 else []
    check(record["signed"] is is_signed and record["signatures"] == signatures,
          f"verify --json {name}: signed {record['signed']}, signatures {record['signatures']}")
    # The list's missing third entry was pruned: three payload files.
    check(verdict != "sound" or record["files"] == 3, f"verify --json {name}: files {record['files']}")

# The schema itself refuses what is not documented.
for label, value in [("an undocumented key", dict(listed or {}, extra=1)),
                     ("a local time", dict(listed or {}, pieces=[{"name": "a", "packed": 1, "size": 1,
                                                                    "time": "2023-11-14 22:13:20 UTC"}]))]:
    check(listed is None or schema_errors("list", value), f"the schema takes {label}")

if failures:
    print(f"{failures} failures")
    sys.exit(1)
print(f"{len(builds)} builds and {len(verdicts)} verdicts give the documented outputs")
