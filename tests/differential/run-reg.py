#!/usr/bin/python3
"""Differential test of regstore against Wine's own registry tools.

Each case runs twice: through `regstore` on a fresh store, and through Wine's
`reg.exe` in one throwaway Wine prefix (all cases of a run in one Wine
session: one batch file, each case under its own key, echoing its exit
status). What each registry then holds below the case's key, and the exit
status, are put in one normalised form and compared. Wine's side is read from
the prefix's own registry files (user.reg, system.reg), not through regstore.

Cases: the registry files and command lines in reg-fixtures/ (*.reg, and
*.cmd with one `reg` command line a line, the last one under test), then
generated ones (gen_reg.py) from a seed. A divergent case is reduced (lines,
or for a command line its arguments, are dropped while the divergence stays)
and printed with both sides' results.

  --only reg      registry files through `regstore import` and `reg import`
  --only cmd      command lines through `regstore` and `reg`
  --tool regedit  registry files through `regedit /s` instead (whose exit
                  status is always 0 and is not compared)

Some differences are deliberate: where Wine's reg does what the registry's
own tool does not (it creates a key before it refuses a command, copies a key
into its own subkey without end, lists values in name order), regstore
follows the registry. Each is recognised by a narrow rule (known_difference),
printed as a KNOWN DIFFERENCE with its reason and counted, and does not fail
the run; any other difference does.

The test command runs the fixtures and a seeded sample of each kind. The large sample, by
hand (about 5 minutes):

  tests/differential/run-reg.py --regstore out/host/regstore --only reg --count 1000

Exit status: 0 when nothing diverges, 1 when something does, 77 when Wine
cannot run here.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_reg  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_DIR = "C:\\brevlin-diff"
STRING_TYPES = (1, 2, 7)


# --- normalised form -----------------------------------------------------------

def shown(data):
    """Bytes as printable ASCII, the rest as \\xNN."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02x" % b for b in data)


def utf8(text):
    return text.encode("utf-8", "surrogatepass")


def from_utf16(data):
    """UTF-16LE data as UTF-8, as the store keeps string data; an odd byte
    count is kept as it is, marked."""
    if len(data) % 2:
        return b"<odd>" + data
    return utf8(data.decode("utf-16-le", "surrogatepass"))


def item_value(path, name, vtype, data):
    return "value %s \"%s\" %d %s" % (shown(path), shown(name), vtype, data.hex())


def item_key(path):
    return "key %s" % shown(path)


def with_ancestors(items, paths):
    """The items with a key item for every key on the way to each of `paths`
    (relative paths as bytes): Wine's registry files leave out keys that
    hold only subkeys."""
    # Each path's ancestors are added walking up from it, stopping at the
    # first one already there: a deep chain of keys costs its length, not its
    # length squared.
    seen = {b""}
    for path in paths:
        while path not in seen:
            seen.add(path)
            cut = path.rfind(b"\\")
            path = path[:cut] if cut >= 0 else b""
    return sorted(set(items) | {item_key(path) for path in seen})


# --- Wine's registry files -----------------------------------------------------

def wine_unescape(text, i, stop):
    """The text of Wine's registry file from text[i] up to the unescaped
    character `stop` (or the end), and the index after it."""
    out = []
    simple = {"a": "\a", "b": "\b", "t": "\t", "n": "\n", "v": "\v", "f": "\f", "r": "\r",
              "e": "\x1b"}
    while i < len(text) and text[i] != stop:
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        elif n in "01234567":
            m = re.match(r"[0-7]{1,3}", text[i + 1:])
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
        else:
            out.append(simple.get(n, n))
            i += 2
    return "".join(out), i + 1


def parse_wine_hive(text, below):
    """Items of the keys of a Wine registry file (user.reg, system.reg) whose
    path begins with `below` (a list of names, compared in any case), with
    their paths relative to it: {first name below: [items]}."""
    found = {}
    text = text.replace("\\\n  ", "")
    path = None
    for line in text.split("\n"):
        if line.startswith("["):
            name, _ = wine_unescape(line, 1, "]")
            names = name.split("\\")
            path = None
            if len(names) > len(below) and [n.lower() for n in names[:len(below)]] == below:
                path = names[len(below):]
                found.setdefault(path[0].lower(), []).append(utf8("\\".join(path[1:])))
            continue
        if path is None or not line or line[0] not in "@\"":
            continue
        if line.startswith("@="):
            name, i = "", 2
        else:
            name, i = wine_unescape(line, 1, '"')
            i += 1  # the "="
        data = line[i:]
        m = re.match(r"(?:str\(([0-9a-f]+)\):)?\"", data)
        if m:
            vtype = int(m.group(1), 16) if m.group(1) else 1
            value, _ = wine_unescape(data, len(m.group(0)), '"')
            raw = utf8(value + "\0")
        elif data.startswith("dword:"):
            vtype, raw = 4, int(data[6:14], 16).to_bytes(4, "little")
        else:
            m = re.match(r"hex(?:\(([0-9a-f]+)\))?:(.*)$", data)
            vtype = int(m.group(1), 16) if m.group(1) else 3
            raw = bytes(int(b, 16) for b in m.group(2).split(",") if b)
            if vtype in STRING_TYPES:
                raw = from_utf16(raw)
        found[path[0].lower()].append(item_value(utf8("\\".join(path[1:])), utf8(name), vtype, raw))
    return {case: with_ancestors([i for i in items if isinstance(i, str)],
                                 [i for i in items if isinstance(i, bytes)])
            for case, items in found.items()}


def read_wine_registry(prefix):
    """Every case's items from a stopped Wine prefix: {case name: [items]}."""
    cases = {}
    for hive, below in (("user.reg", ["software", "brevlindiff"]),
                        ("system.reg", ["software", "classes"])):
        with open(os.path.join(prefix, hive), "rb") as f:
            text = f.read().decode("utf-8", "surrogateescape")
        for case, items in parse_wine_hive(text, below).items():
            if hive == "system.reg":
                case = case[len("brevlindiff"):] if case.startswith("brevlindiff") else None
            if case:
                cases[case] = sorted(set(cases.get(case, [])) | set(items))
    return cases


# --- regstore's side -----------------------------------------------------------

def parse_regedit4(data, top):
    """Items of a REGEDIT4 file that regstore exported, relative to `top`."""
    items = []
    data = data.replace(b"\\\r\n  ", b"")
    path = None
    for line in data.split(b"\r\n")[1:]:
        if not line:
            continue
        if line.startswith(b"[") and line.endswith(b"]"):
            full = line[1:-1]
            path = full[len(top) + 1:] if len(full) > len(top) else b""
            items.append(path)
            continue
        if line.startswith(b"@="):
            name, i = b"", 2
        else:
            name, i = unquote(line, 0)
            i += 1
        value = line[i:]
        if value.startswith(b'"'):
            text, _ = unquote(value, 0)
            vtype, raw = 1, text + b"\0"
        elif value.startswith(b"dword:"):
            vtype, raw = 4, int(value[6:], 16).to_bytes(4, "little")
        else:
            m = re.match(rb"hex(?:\(([0-9a-f]+)\))?:(.*)$", value)
            vtype = int(m.group(1), 16) if m.group(1) else 3
            raw = bytes(int(b, 16) for b in m.group(2).split(b",") if b)
        items.append(item_value(path, name, vtype, raw))
    return with_ancestors([i for i in items if isinstance(i, str)],
                          [i for i in items if isinstance(i, bytes)])


def unquote(line, start):
    """The text of the quoted string at line[start] with the escapes regstore
    writes (\\\\, \\", \\n, \\r), and the index after it."""
    out = bytearray()
    i = start + 1
    while line[i:i + 1] != b'"':
        if line[i:i + 1] == b"\\":
            i += 1
            out += {b"n": b"\n", b"r": b"\r"}.get(line[i:i + 1], line[i:i + 1])
        else:
            out += line[i:i + 1]
        i += 1
    return bytes(out), i + 1


def regstore_state(args, env, name, work):
    items = []
    for top in ("HKEY_CURRENT_USER\\Software\\BrevlinDiff\\" + name,
                "HKEY_CLASSES_ROOT\\BrevlinDiff" + name):
        out = os.path.join(work, name + ".state.reg")
        done = subprocess.run([args.regstore, "export", top, out], env=env,
                              capture_output=True, timeout=60)
        if done.returncode == 0:
            with open(out, "rb") as f:
                items.extend(parse_regedit4(f.read(), top.encode()))
            os.remove(out)
    return items


def run_regstore(args, case, name, work):
    """The result of one case through regstore: (exit status, items, output)."""
    store = os.path.join(work, name + ".db")
    env = dict(os.environ, REGSTORE=store, LC_ALL="C")
    output = b""
    code = 0
    if case["kind"] == "reg":
        path = os.path.join(work, name + ".reg")
        with open(path, "wb") as f:
            f.write(case_bytes(case, name))
        done = subprocess.run([args.regstore, "import", path], env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=60)
        code = done.returncode
    else:
        for command in case_commands(case, name, os.path.join(work, name + ".export.reg")):
            done = subprocess.run([args.regstore] + command, env=env, capture_output=True,
                                  stdin=subprocess.DEVNULL, timeout=60)
            code = done.returncode
            output = done.stdout
        # A wrong command line is 2 for regstore, 1 for reg.
        code = 1 if code == 2 else code
    items = regstore_state(args, env, name, work)
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(store + suffix):
            os.remove(store + suffix)
    return code, sorted(set(items)), output


def case_bytes(case, name):
    if "bytes" in case:
        return case["bytes"].replace(b"@C@", name.encode())
    return gen_reg.encode_reg(case, name)


def case_commands(case, name, export_file):
    return [[a.replace("@C@", name).replace("@FILE@", export_file) for a in command]
            for command in case["commands"]]


# --- Wine's side ---------------------------------------------------------------

def batch_quote(arg):
    """One argument of a line of the batch file, as the C runtime's parser of
    reg's command line gives it back: in quotes, with a quote inside escaped
    and the backslashes before a quote, the closing one included, doubled
    (else a key path ending in a backslash would escape its closing quote).
    A percent sign is doubled for cmd."""
    quoted = ""
    backslashes = 0
    for ch in arg:
        if ch == "\\":
            backslashes += 1
            continue
        if ch == '"':
            quoted += "\\" * (2 * backslashes + 1) + '"'
        else:
            quoted += "\\" * backslashes + ch
        backslashes = 0
    quoted += "\\" * (2 * backslashes)
    return '"' + quoted.replace("%", "%%") + '"'


def run_wine(args, instances, work):
    """Runs the cases in one Wine session: {name: (exit status, items, output)}."""
    folder = os.path.join(args.prefix, "drive_c", "brevlin-diff")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    lines = ["@echo off"]
    for name, case in instances:
        if case["kind"] == "reg":
            with open(os.path.join(folder, name + ".reg"), "wb") as f:
                f.write(case_bytes(case, name))
            tool = "regedit /s" if args.tool == "regedit" else "reg import"
            lines.append("%s %s\\%s.reg >NUL 2>&1 <NUL" % (tool, WINE_DIR, name))
        else:
            commands = case_commands(case, name, WINE_DIR + "\\" + name + ".export.reg")
            for command in commands[:-1]:
                lines.append("reg %s >NUL 2>&1 <NUL" % " ".join(batch_quote(a) for a in command))
            lines.append("reg %s >%s\\%s.out 2>NUL <NUL" % (
                " ".join(batch_quote(a) for a in commands[-1]), WINE_DIR, name))
        lines.append("echo EXIT %s %%ERRORLEVEL%%" % name)
    with open(os.path.join(folder, "run.bat"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    env = wine_env(args)
    done = subprocess.run([args.wine, "cmd", "/c", WINE_DIR + "\\run.bat"], env=env,
                          capture_output=True, stdin=subprocess.DEVNULL, timeout=3600)
    subprocess.run([args.wineserver, "-w"], env=env, timeout=600)
    codes = dict(re.findall(r"EXIT (\S+) (\d+)", done.stdout.decode("latin-1")))
    state = read_wine_registry(args.prefix)
    results = {}
    for name, case in instances:
        output = b""
        out_file = os.path.join(folder, name + ".out")
        if os.path.exists(out_file):
            with open(out_file, "rb") as f:
                output = f.read()
        code = int(codes.get(name, -1))
        if args.tool == "regedit" and case["kind"] == "reg":
            code = None
        results[name] = (code, sorted(state.get(name.lower(), [])), output)
    return results


def wine_env(args):
    return dict(os.environ, WINEPREFIX=args.prefix, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=")


def query_lines(output):
    """`reg query` output compared line by line, without line ends and
    trailing spaces."""
    text = output.decode("utf-8", "replace") if not output.startswith(b"\xff\xfe") else \
        output[2:].decode("utf-16-le", "replace")
    return [line.rstrip() for line in text.replace("\r\n", "\n").split("\n")]


# --- comparing and reducing ----------------------------------------------------

def differs(case, wine, ours):
    """Whether the two sides disagree in a way that no known difference
    explains."""
    return difference(case, wine, ours) == "divergent"


def difference(case, wine, ours):
    """None when both sides agree, "divergent" when they do not, or the reason
    of a known difference that explains the whole disagreement."""
    wine_code, wine_items, wine_out = wine
    our_code, our_items, our_out = ours
    codes_differ = wine_code is not None and wine_code != our_code
    items_differ = wine_items != our_items
    # What a query prints is compared when it succeeds; a failure's message
    # is each tool's own (Wine's reg prints its messages on standard output).
    output_differs = (case["kind"] == "cmd" and case["commands"][-1][0] == "query" and
                      our_code == 0 and query_lines(wine_out) != query_lines(our_out))
    if not (codes_differ or items_differ or output_differs):
        return None
    return known_difference(case, wine, ours, codes_differ, items_differ, output_differs) or \
        "divergent"


def known_difference(case, wine, ours, codes_differ, items_differ, output_differs):
    """The reason of a difference between Wine's reg and regstore that is
    deliberate, when it alone explains what differs."""
    if case["kind"] != "cmd":
        return None
    last = case["commands"][-1]
    wine_code, wine_items, wine_out = wine
    our_code, our_items, our_out = ours
    extra = set(wine_items) - set(our_items)
    if (last[0] == "add" and not codes_differ and not output_differs and our_code != 0 and
            set(our_items) <= set(wine_items) and all(i.startswith("key ") for i in extra)):
        return ("Wine's reg add creates the key before it refuses the type or the data; "
                "regstore changes nothing when it refuses a command")
    if last[0] == "copy" and len(last) >= 3 and not output_differs:
        source = last[1].rstrip("\\").lower() + "\\"
        if last[2].lower().startswith(source):
            return ("Wine's reg copies a key into its own subkey over and over, down to the "
                    "deepest key; regstore copies what the key held when the command began")
    if (output_differs and not codes_differ and not items_differ and
            sorted(query_lines(wine_out)) == sorted(query_lines(our_out))):
        return ("Wine's registry lists a key's values in the order of their names; regstore "
                "lists them in the order they were made, as the Windows registry does")
    return None


class Runner:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.serial = 0
        # Names of this run only, in case the prefix holds an earlier run's.
        self.tag = "R%dx" % (int(time.time()) % 100000)

    def evaluate(self, cases):
        """Both sides of each case: [(case, wine, ours)]."""
        instances = []
        for case in cases:
            self.serial += 1
            instances.append(("%s%d" % (self.tag, self.serial), case))
        wine = run_wine(self.args, instances, self.work)
        return [(case, wine[name], run_regstore(self.args, case, name, self.work))
                for name, case in instances]

    def reduce(self, cases):
        """Each divergent case made smaller while it still diverges, all of
        them in the same Wine sessions."""
        current = list(cases)
        deadline = time.time() + self.args.reduce_seconds
        for _ in range(self.args.reduce_rounds):
            if time.time() > deadline:
                break
            candidates = []
            for i, case in enumerate(current):
                for smaller in smaller_cases(case):
                    candidates.append((i, smaller))
            if not candidates:
                break
            results = self.evaluate([c for _, c in candidates])
            changed = False
            taken = set()
            for (i, _), (case, wine, ours) in zip(candidates, results):
                if i not in taken and differs(case, wine, ours):
                    current[i] = case
                    taken.add(i)
                    changed = True
            if not changed:
                break
        return current


def may_ask(case):
    """Whether Wine's reg may ask a question in this case: add, delete and copy
    without /f do when there is something to overwrite or delete, and Wine's
    reg, whose input is no console, then asks again without end. Such cases
    are not run (regstore asks only on a terminal and refuses without one,
    which its own tests cover)."""
    if case["kind"] != "cmd":
        return False
    last = [a.lower() for a in case["commands"][-1]]
    return last[0] in ("add", "delete", "copy") and "/f" not in last and "/?" not in last


def smaller_cases(case):
    """The case with a run of lines (after the header), or one argument,
    dropped: halves and quarters first, then single lines."""
    out = []
    if case["kind"] == "reg" and "lines" in case:
        lines = case["lines"]
        runs = set()
        for size in (len(lines) // 2, len(lines) // 4, 1):
            if size >= 1:
                runs.update((i, size) for i in range(1, len(lines), size))
        for i, size in sorted(runs, key=lambda r: -r[1]):
            out.append(dict(case, lines=lines[:i] + lines[i + size:]))
    elif case["kind"] == "cmd":
        commands = case["commands"]
        for i in range(len(commands) - 1):
            out.append(dict(case, commands=commands[:i] + commands[i + 1:]))
        last = commands[-1]
        for i in range(2, len(last)):
            out.append(dict(case, commands=commands[:-1] + [last[:i] + last[i + 1:]]))
    return [smaller for smaller in out if not may_ask(smaller)]


def describe(case, wine, ours):
    lines = []
    if case["kind"] == "reg":
        if "lines" in case:
            lines.append("  file (%s):" % case["encoding"])
            lines.extend("    " + repr(line) for line in case["lines"])
        else:
            lines.append("  file: %s" % case["source"])
    else:
        lines.extend("  reg " + " ".join(c) for c in case["commands"])
    for side, (code, items, output) in (("wine", wine), ("regstore", ours)):
        lines.append("  %s: exit %s" % (side, code))
        other = ours[1] if side == "wine" else wine[1]
        lines.extend("    %s %s" % ("!" if item not in other else " ", item) for item in items)
        if case["kind"] == "cmd" and case["commands"][-1][0] == "query":
            lines.extend("    | " + line for line in query_lines(output))
    return "\n".join(lines)


def fixture_cases(folder, only):
    cases = []
    for f in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        path = os.path.join(folder, f)
        if f.endswith(".reg") and only in ("reg", "all"):
            with open(path, "rb") as fh:
                cases.append({"kind": "reg", "bytes": fh.read(), "source": f})
        elif f.endswith(".cmd") and only in ("cmd", "all"):
            with open(path) as fh:
                commands = [line.split("\t") for line in fh.read().splitlines()
                            if line and not line.startswith("#")]
            cases.append({"kind": "cmd", "commands": commands, "source": f})
    return cases


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--regstore", required=True)
    parser.add_argument("--only", choices=["reg", "cmd", "all"], default="all")
    parser.add_argument("--tool", choices=["reg", "regedit"], default="reg")
    parser.add_argument("--count", type=int, default=int(os.environ.get("BREVLIN_DIFF_REG_CASES", 150)))
    parser.add_argument("--first-seed", type=int, default=int(os.environ.get("BREVLIN_DIFF_SEED", 1)))
    parser.add_argument("--fixtures", default=os.path.join(HERE, "reg-fixtures"))
    parser.add_argument("--prefix", help="a Wine prefix to use (made when missing)")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--wineserver", default="/usr/lib/wine/wineserver64")
    parser.add_argument("--reduce-rounds", type=int, default=25)
    parser.add_argument("--reduce-seconds", type=float, default=120,
                        help="stop reducing after this long")
    parser.add_argument("--keep", help="a folder for the files of divergent cases")
    args = parser.parse_args()
    args.regstore = os.path.abspath(args.regstore)
    if not shutil.which(args.wine):
        args.wine = shutil.which("wine64") or shutil.which("wine") or args.wine
        args.wineserver = shutil.which("wineserver") or args.wineserver
    if not shutil.which(args.wine):
        print("differential.reg: Wine is not installed here")
        return 77
    started = time.time()
    work = tempfile.mkdtemp(prefix="brevlin-diff-reg.")
    try:
        if not args.prefix:
            args.prefix = os.path.join(work, "prefix")
        if not os.path.exists(os.path.join(args.prefix, "system.reg")):
            subprocess.run([args.wine, "wineboot", "-i"], env=wine_env(args), capture_output=True,
                           timeout=600)
            subprocess.run([args.wineserver, "-w"], env=wine_env(args), timeout=600)
        cases = fixture_cases(args.fixtures, args.only)
        fixtures = len(cases)
        for seed in range(args.first_seed, args.first_seed + args.count):
            if args.only in ("reg", "all"):
                cases.append(gen_reg.reg_case(seed))
            if args.only in ("cmd", "all"):
                cases.append(gen_reg.cmd_case(seed))
        asking = [case for case in cases if may_ask(case)]
        cases = [case for case in cases if not may_ask(case)]
        if asking:
            print("differential.reg: %d command lines without /f not run: Wine's reg would ask "
                  "without end" % len(asking))
        runner = Runner(args, work)
        results = runner.evaluate(cases)
        divergent = [(case, wine, ours) for case, wine, ours in results
                     if differs(case, wine, ours)]
        known = {}
        for case, wine, ours in results:
            reason = difference(case, wine, ours)
            if reason not in (None, "divergent"):
                known.setdefault(reason, []).append(
                    case.get("source") or "%s seed %d" % (case["kind"], case["seed"]))
        for reason, labels in sorted(known.items()):
            print("KNOWN DIFFERENCE (%d: %s): %s" % (len(labels), ", ".join(labels[:5]), reason))
        if divergent:
            print("differential.reg: %d of %d cases diverge; reducing them" %
                  (len(divergent), len(cases)), flush=True)
        reduced = runner.reduce([case for case, _, _ in divergent])
        final = runner.evaluate(reduced) if reduced else []
        for (case, _, _), (small, wine, ours) in zip(divergent, final):
            label = case.get("source") or "%s seed %d" % (case["kind"], case["seed"])
            print("DIVERGENCE %s, reduced to:" % label)
            print(describe(small, wine, ours))
            if args.keep:
                os.makedirs(args.keep, exist_ok=True)
                if small["kind"] == "reg":
                    with open(os.path.join(args.keep, label.replace(" ", "-") + ".reg"), "wb") as f:
                        f.write(case_bytes(small, "@C@"))
        print("differential.reg: %d cases (%d fixtures, %d generated from seed %d), "
              "known differences: %d, divergences: %d, time: %.1f s" % (
                  len(cases), fixtures, len(cases) - fixtures, args.first_seed,
                  sum(len(labels) for labels in known.values()), len(divergent),
                  time.time() - started))
        return 1 if divergent else 0
    finally:
        subprocess.run([args.wineserver, "-k"], env=wine_env(args), capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
