#!/usr/bin/python3
"""Differential test: imports the same configuration files with the Linux
program into fresh registry stores and with the Windows program under Wine
into Wine's registry, and compares what each registry then holds below
Software\\Mardovan of every root key (and below the keys beside it whose
names begin with "Mardova"), and the message texts, in one
normalised form.

Runs the files that gen_config writes for a range of seeds and every file in
the fixtures folder. Prints each divergence (the file, kept in the keep
folder, and the first line that differs) and a summary; exits 1 when a file
diverges. Started by run.sh, which provides the display and the Wine setup.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOTS = ["HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
         "HKEY_CURRENT_CONFIG"]
SOFTWARE = b"Software"
TYPES = {b"hex": 3, b"dword": 4}


def escaped(data):
    """The normalised form of bytes: printable ASCII as it is, the rest as \\xNN."""
    return "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02x" % b for b in data)


def unquote(line, start):
    """The text of the quoted string at line[start] (a '"') and the index after it."""
    assert line[start:start + 1] == b'"', line
    out = bytearray()
    i = start + 1
    while line[i:i + 1] != b'"':
        if line[i:i + 1] == b"\\":
            i += 1
        out += line[i:i + 1]
        i += 1
    return bytes(out), i + 1


def parse_regedit4(text, root):
    """Dump lines ("key ..." and "value ...") of a REGEDIT4 export of the store."""
    lines = []
    values = []
    path = None
    # Continued hex lines are joined first.
    text = text.replace(b"\\\r\n  ", b"")

    def flush():
        lines.extend(sorted(values))
        values.clear()

    for line in text.split(b"\r\n")[1:]:
        if not line:
            continue
        if line.startswith(b"[") and line.endswith(b"]") and not line.startswith(b"[\""):
            flush()
            full = line[1:-1]
            # Software as the export was asked for it, then the names as stored;
            # only Mardovan and the keys beside it that begin as it does count.
            rest = full[len(root) + 1 + len(SOFTWARE):]
            names = rest.split(b"\\")
            if len(names) < 2 or not names[1].upper().startswith(b"MARDOVA"):
                path = None
                continue
            path = root.encode() + b"\\" + SOFTWARE + rest
            lines.append("key " + escaped(path))
            continue
        if path is None:
            continue
        if line.startswith(b"@="):
            name, after = b"", 2
        else:
            name, after = unquote(line, 0)
            assert line[after:after + 1] == b"=", line
            after += 1
        data = line[after:]
        if data.startswith(b'"'):
            text_value, _ = unquote(data, 0)
            vtype, raw = 1, text_value + b"\0"
        elif data.startswith(b"dword:"):
            vtype, raw = 4, int(data[6:], 16).to_bytes(4, "little")
        else:
            m = re.match(rb"hex(?:\(([0-9a-f]+)\))?:(.*)$", data)
            assert m, line
            vtype = int(m.group(1), 16) if m.group(1) else 3
            raw = bytes(int(b, 16) for b in m.group(2).split(b",") if b)
        values.append("value %s \"%s\" %d %s" % (escaped(path), escaped(name), vtype, raw.hex()))
    flush()
    return lines


def linux_messages(stderr, config):
    """The message of the Linux program's standard error: caption, then text,
    without the file and line that the text begins with there."""
    if not stderr:
        return []
    if stderr.endswith(b"\n"):
        stderr = stderr[:-1]
    caption, _, text = stderr.partition(b"\n")
    text = re.sub(rb"^" + re.escape(os.fsencode(config)) + rb":(\d+:)? ", b"", text)
    return ["message %s | %s" % (escaped(caption), escaped(text))]


def run_linux(args, config, work):
    store = os.path.join(work, "store.db")
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(store + suffix):
            os.remove(store + suffix)
    env = dict(os.environ, REGSTORE=store, LC_ALL="C")
    result = subprocess.run([args.linux_program, "/IC", config], env=env, capture_output=True,
                            timeout=120)
    out = linux_messages(result.stderr, config)
    # The Linux program's exit status tells what happened (3 to 6); the
    # Windows program always ends with 0. An unexpected failure (1) or a
    # signal is a divergence.
    if result.returncode == 1 or result.returncode < 0:
        out.append("exit code %d" % result.returncode)
    export = os.path.join(work, "export.reg")
    for root in ROOTS:
        if os.path.exists(export):
            os.remove(export)
        done = subprocess.run([args.regstore, "export", root + "\\Software", export],
                              env=env, capture_output=True, timeout=120)
        if done.returncode == 0:
            with open(export, "rb") as f:
                out.extend(parse_regedit4(f.read(), root))
    return out


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_windows(args, configs, work):
    """Imports every file in one Wine session; answers the dump lines of each."""
    outputs = [os.path.join(work, "wine-%d.txt" % i) for i in range(len(configs))]
    listing = os.path.join(work, "list.txt")
    with open(listing, "w", encoding="utf-8") as f:
        for config, output in zip(configs, outputs):
            f.write("%s\t%s\r\n" % (windows_path(config), windows_path(output)))
    runner = os.path.join(args.windows_build, "diff_runner.exe")
    program = windows_path(args.windows_program or
                           os.path.join(args.windows_build, "register-brevlin.exe"))
    subprocess.run([args.wine, runner, "run", program, windows_path(listing)], check=True,
                   stdout=subprocess.DEVNULL, timeout=60 + 30 * len(configs))
    dumps = []
    for output in outputs:
        with open(output, "rb") as f:
            dumps.append([line.decode("latin-1") for line in f.read().split(b"\n") if line])
    return dumps


def kind_of(line):
    """A short name for what a differing line is about, for the summary."""
    if line is None:
        return "missing line"
    what = line.split(" ", 1)[0]
    if what == "message":
        return "message"
    detail = []
    if re.search(r"\\x[89a-f][0-9a-f]", line):
        detail.append("code-page bytes")
    if re.search(r"[^\\ ]{250,}", line) or len(line) > 300:
        detail.append("long name or path")
    return what + (" (" + ", ".join(detail) + ")" if detail else "")


def as_console(line):
    """A message of the Windows box as standard error shows it: control
    characters other than tabs and line ends as \\xHH, in capitals."""
    if not line.startswith("message "):
        return line
    return re.sub(r"\\x(0[0-8b-f]|1[0-9a-f]|7f)", lambda m: "\\x" + m.group(1).upper(), line)


def canonical(lines):
    """Messages in their order, then the keys sorted by their names (ASCII
    letters in upper case, each name in turn) with their values."""
    messages = [line for line in lines if not line.startswith(("key ", "value "))]
    keys = []
    for line in lines:
        if line.startswith("key "):
            keys.append([line])
        elif line.startswith("value ") and keys:
            keys[-1].append(line)
    order = lambda block: [(name.upper(), name) for name in block[0][4:].split("\\")]
    keys.sort(key=order)
    return messages + [line for block in keys for line in block]


def first_difference(linux, wine):
    for i in range(max(len(linux), len(wine))):
        a = linux[i] if i < len(linux) else None
        b = wine[i] if i < len(wine) else None
        if a != b:
            return i, a, b
    return None


def shorten(line, limit=300):
    if line is None:
        return "(none)"
    return line if len(line) <= limit else line[:limit] + "... (%d characters)" % len(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--linux-build", required=True, help="folder of register-brevlin, regstore, gen_config")
    parser.add_argument("--windows-build", required=True,
                        help="folder of register-brevlin.exe and diff_runner.exe")
    parser.add_argument("--windows-program", default=None,
                        help="the Windows program (default: register-brevlin.exe of --windows-build)")
    parser.add_argument("--wine", default=os.environ.get("WINE64", "wine64"),
                        help="the Wine that runs the Windows build (wine64, or wine for a 32-bit build)")
    parser.add_argument("--count", type=int, default=int(os.environ.get("BREVLIN_DIFF_FILES", "40")))
    parser.add_argument("--first-seed", type=int, default=int(os.environ.get("BREVLIN_DIFF_SEED", "1")))
    parser.add_argument("--batch", type=int, default=250, help="files per Wine prefix")
    parser.add_argument("--fixtures", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures"))
    parser.add_argument("--keep", default=None, help="folder for the files that diverge")
    args = parser.parse_args()
    args.linux_program = os.path.join(args.linux_build, "register-brevlin")
    args.regstore = os.path.join(args.linux_build, "regstore")
    keep = args.keep or os.path.join(args.linux_build, "differential-divergences")

    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="brevlin-diff.")
    try:
        configs = []
        for f in sorted(os.listdir(args.fixtures)) if os.path.isdir(args.fixtures) else []:
            if f.endswith(".cfg"):
                configs.append((f, os.path.join(args.fixtures, f)))
        generated = os.path.join(work, "generated")
        os.makedirs(generated)
        command = [os.path.join(args.linux_build, "gen_config")]
        for seed in range(args.first_seed, args.first_seed + args.count):
            path = os.path.join(generated, "seed-%d.cfg" % seed)
            command += [str(seed), path]
            configs.append(("seed-%d.cfg" % seed, path))
        if args.count:
            subprocess.run(command, check=True)

        divergences = {}
        diverged = 0
        for start in range(0, len(configs), args.batch):
            batch = configs[start:start + args.batch]
            prefix = os.path.join(work, "prefix")
            os.environ["WINEPREFIX"] = prefix
            os.makedirs(prefix, exist_ok=True)
            subprocess.run([args.wine, "wineboot", "-i"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True)
            try:
                wine_dumps = run_windows(args, [path for _, path in batch], work)
            finally:
                subprocess.run([os.environ.get("WINESERVER", "wineserver"), "-k"],
                               stderr=subprocess.DEVNULL)
                subprocess.run([os.environ.get("WINESERVER", "wineserver"), "-w"],
                               stderr=subprocess.DEVNULL)
                shutil.rmtree(prefix, ignore_errors=True)
            for (name, path), wine in zip(batch, wine_dumps):
                linux = canonical(run_linux(args, path, work))
                wine = canonical([as_console(line) for line in wine])
                found = first_difference(linux, wine)
                if found is None:
                    continue
                diverged += 1
                index, a, b = found
                kind = kind_of(a if a is not None else b)
                divergences[kind] = divergences.get(kind, 0) + 1
                os.makedirs(keep, exist_ok=True)
                kept = os.path.join(keep, name)
                if os.path.abspath(path) != os.path.abspath(kept):
                    shutil.copyfile(path, kept)
                with open(kept[:-4] + ".linux.txt", "w", encoding="latin-1") as f:
                    f.write("\n".join(linux) + "\n")
                with open(kept[:-4] + ".wine.txt", "w", encoding="latin-1") as f:
                    f.write("\n".join(wine) + "\n")
                print("DIVERGENCE %s (kept as %s), line %d [%s]\n  linux: %s\n  wine:  %s" %
                      (name, kept, index + 1, kind, shorten(a), shorten(b)))
        elapsed = time.monotonic() - started
        print("files: %d (%d fixtures, %d generated from seed %d), divergences: %d, time: %.1f s" %
              (len(configs), len(configs) - args.count, args.count, args.first_seed, diverged, elapsed))
        for kind, count in sorted(divergences.items()):
            print("  %4d  %s" % (count, kind))
        if diverged:
            print("Copy a kept file to tests/differential/fixtures/ to run it in every test run.")
        return 1 if diverged else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
