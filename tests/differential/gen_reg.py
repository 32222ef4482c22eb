#!/usr/bin/python3
"""Seeded generator of the cases of the registry-tools differential test
(run-reg.py): registry files in every form the registry's tools meet, and
`reg` command lines.

A registry file case is a list of lines, each with its line end, the first
one the header, and an encoding ("utf16" with the byte order mark FF FE, or
"8bit"). Its keys lie below HKEY_CURRENT_USER\\Software\\BrevlinDiff\\@C@
(or HKEY_CLASSES_ROOT\\BrevlinDiff@C@ for the Windows 3.1 form), where the
runner puts the case's own name in place of @C@, so that many cases share
one registry. Valid lines are mixed with lines of every faulty form.

A command case is a list of `reg` command lines (lists of arguments); the
first ones prepare the case's key, the last is the command under test.

Left out, because the registry's tools themselves do not behave the same
from run to run or from Wine to Windows: string data written as hex with an
odd number of bytes in a UTF-16 file, string data written as hex with no
bytes but a comment after it, non-ASCII text in 8-bit files (Wine reads them
in the Windows code page, the store keeps UTF-8), and files with a UTF-8
byte order mark (the Windows registry editor reads them, Wine refuses them).

Run it alone to print a case: gen_reg.py SEED [reg|cmd]
"""

import random
import sys

CASE_KEY = "Software\\BrevlinDiff\\@C@"
ROOT_SPELLINGS = ["HKEY_CURRENT_USER"] * 6 + ["HKCU", "hkey_current_user", "HkEy_CuRrEnT_uSeR"]
SUBKEYS = ["", "", "\\a", "\\b\\c", "\\Sub Key", "\\a\\deep\\er", "\\x.y", "\\semi;colon", "\\q\"uote"]
WIDE_SUBKEYS = ["\\Caf\u00e9", "\\\u65e5\u672c", "\\\u20ac"]
NAMES = ["a", "b", "Value", "with space", "semi;colon", "x=y", "UPPER", "upper", "#hash", "[br]"]
WIDE_NAMES = ["caf\u00e9", "\u20ac", "\u65e5\u672c\u8a9e"]
TEXTS = ["", "x", "text with spaces", "C:\\\\Program Files\\\\X", "say \\\"hi\\\"", "a\\nb",
         "cr\\r", "semi;colon", "#hash", "%PATH%", "  padded  ", "odd\\q escape", "tab\\tx"]
WIDE_TEXTS = ["\u00e9t\u00e9", "\u20ac 5", "\u65e5\u672c"]
HEX_TYPES = ["0", "1", "2", "3", "4", "5", "7", "b", "B", "10", "100", "ffff", "7fffffff",
             "ffffffff", "", "-1", " 2", "+7", "0x2", "100000000", "2x", "g"]
HEADERS = [("REGEDIT4", 30), ("Windows Registry Editor Version 5.00", 40), (" REGEDIT4", 2),
           ("\tWindows Registry Editor Version 5.00", 2), ("REGEDIT4 ", 2), ("REGEDIT5", 1),
           ("regedit4", 1), ("", 1), ("Windows Registry Editor Version 5.00 x", 1),
           ("REGEDIT", 4), ("Windows Registry Editor Version 4.00", 1)]


def pick_weighted(rng, items):
    total = sum(w for _, w in items)
    n = rng.randrange(total)
    for item, w in items:
        if n < w:
            return item
        n -= w
    return items[-1][0]


class RegFileGenerator:
    def __init__(self, rng, wide):
        self.rng = rng
        self.wide = wide  # UTF-16: non-ASCII text may appear

    def choice(self, items):
        return self.rng.choice(items)

    def chance(self, p):
        return self.rng.random() < p

    def key_path(self):
        subkeys = SUBKEYS + (WIDE_SUBKEYS if self.wide else [])
        path = CASE_KEY + self.choice(subkeys)
        r = self.rng.random()
        if r < 0.05:
            path += "\\"
        elif r < 0.1:
            path = path.replace("@C@", "@C@\\")  # an empty name inside the path
        return self.choice(ROOT_SPELLINGS) + "\\" + path

    def key_line(self):
        r = self.rng.random()
        path = self.key_path()
        if r < 0.12:
            path = "-" + path
        elif r < 0.14:
            path = "- " + path
        elif r < 0.16:
            path = " " + path
        elif r < 0.18:
            path = "HKEY_CURRENT_USERS\\" + CASE_KEY
        elif r < 0.2:
            path = "HKEY_CURRENT_USER\\\\" + CASE_KEY + "\\lead"
        line = "[" + path + "]"
        r = self.rng.random()
        if r < 0.05:
            line = line[:-1]
        elif r < 0.1:
            line += self.choice([" trailing", " ; comment", "]", "  "])
        if self.chance(0.1):
            line = self.choice([" ", "\t", "  "]) + line
        return [line]

    def name(self):
        r = self.rng.random()
        if r < 0.15:
            return "@"
        if r < 0.18:
            return '""'
        names = NAMES + (WIDE_NAMES if self.wide else [])
        name = self.choice(names)
        r = self.rng.random()
        if r < 0.05:
            name += "\\\\back"
        elif r < 0.08:
            name += "\\\"q"
        elif r < 0.1:
            name += "\\n"
        elif r < 0.12:
            name += "\\q"
        elif r < 0.13:
            name += "\\0"
        elif r < 0.15:
            return '"' + name  # no closing quote
        return '"' + name + '"'

    def hex_bytes(self, count, string_type):
        """Comma-separated bytes, in the forms the tools read and some they do not."""
        if self.wide and string_type:
            text = self.choice(TEXTS[:3] + WIDE_TEXTS)
            data = text.encode("utf-16-le")
            if self.chance(0.6):
                data += b"\0\0"
        elif string_type:
            data = self.choice(["x", "%PATH%", "a\0b\0", "text"]).encode("ascii")
            if self.chance(0.5):
                data += b"\0"
        else:
            data = bytes(self.rng.randrange(256) for _ in range(count))
        parts = ["%02x" % b for b in data]
        # Now and then one byte in another form, read or refused.
        if parts and self.chance(0.25):
            i = self.rng.randrange(len(parts))
            parts[i] = self.choice([parts[i].upper(), "%x" % data[i], "0" + parts[i],
                                    "0x" + parts[i], " " + parts[i], "1" + parts[i],
                                    "-" + parts[i], "+" + parts[i]])
        return parts, string_type and not data

    def hex_data(self):
        """The lines of a hex value: its data, maybe continued over lines."""
        if self.chance(0.3):
            prefix = "hex:"
            string_type = False
        else:
            t = self.choice(HEX_TYPES)
            prefix = self.choice(["hex(", "hex(", "hex(", "HEX("]) + t + self.choice(["):"] * 8 + [")", ":"])
            try:
                number = int(t.strip() or "0", 16)
            except ValueError:
                number = -1
            string_type = number in (1, 2, 7)
        parts, empty_string = self.hex_bytes(self.rng.randrange(0, 40), string_type)
        lines = [prefix]
        continued = self.chance(0.3) and not empty_string
        for i, part in enumerate(parts):
            lines[-1] += part
            last = i == len(parts) - 1
            if not last:
                lines[-1] += self.choice([","] * 60 + [", ", ",,", " ,"])
            if continued and not last and self.chance(0.25):
                lines[-1] += self.choice(["\\"] * 12 + ["  \\", "\\ ;c", "\\ x", ""])
                while self.chance(0.15):
                    lines.append(self.choice(["", "  ; comment", "; c", "# c", "\"intruder\"=\"x\""]))
                lines.append(self.choice(["  ", "  ", "", "\t"]))
        if empty_string:
            return lines  # "hex(T):" alone: no comment after empty string data
        if self.chance(0.1):
            lines[-1] += self.choice([",", ";comment", " ;c", " #c", "\\"])
        return lines

    def dword_data(self):
        digits = "%x" % self.rng.choice([0, 1, 0x400, 0xffffffff, self.rng.randrange(1 << 32)])
        r = self.rng.random()
        if r < 0.2:
            digits = digits.zfill(8)
        elif r < 0.25:
            digits = digits.upper()
        elif r < 0.3:
            digits = "0" * 9 + digits
        elif r < 0.33:
            digits = "0x" + digits
        elif r < 0.36:
            digits = ""
        elif r < 0.39:
            digits = " " + digits
        elif r < 0.42:
            digits = "-1"
        line = self.choice(["dword:"] * 10 + ["DWORD:", "Dword:"]) + digits
        if self.chance(0.15):
            line += self.choice([" ;c", ";c", " #c", " x", "  "])
        return [line]

    def string_data(self):
        texts = TEXTS + (WIDE_TEXTS if self.wide else [])
        text = self.choice(texts)
        r = self.rng.random()
        if r < 0.03:
            text += "\\0z"
        elif r < 0.06:
            return ['"' + text]  # no closing quote
        elif r < 0.08:
            text += "\\"
        line = '"' + text + '"'
        if self.chance(0.15):
            line += self.choice([" ;c", ";c", " #c", " junk", "\t", '"'])
        return [line]

    def value_lines(self):
        name = self.name()
        eq = self.choice(["="] * 8 + [" = ", "\t=", "= ", " \t=\t "]) if self.chance(0.97) else " "
        r = self.rng.random()
        if r < 0.35:
            data = self.string_data()
        elif r < 0.55:
            data = self.dword_data()
        elif r < 0.88:
            data = self.hex_data()
        elif r < 0.95:
            data = [self.choice(["-", "-", " -", "- ;c", "-x", "- x"])]
        else:
            data = [self.choice(["", "text", "\"a\"\"b\"", "hex", "dword"])]
        lines = data
        lines[0] = (self.choice(["", "", "", " ", "\t"]) + name + eq + lines[0])
        return lines

    def other_line(self):
        return [self.choice(["", "", "; comment", "  ; indented", "# hash comment", "garbage",
                             "name=\"x\"", "=", "  \t", "@", "[", "]"])]

    def win31_lines(self):
        lines = []
        for _ in range(self.rng.randrange(1, 6)):
            key = "HKEY_CLASSES_ROOT\\BrevlinDiff@C@" + self.choice(["", "\\a", "\\.ext", "\\b\\c"])
            sep = self.choice([" = ", "=", " =  ", "\t", " ", "  =", ""])
            text = self.choice(["value", "two words", "", "trailing  ", "x=y"])
            line = key + sep + text
            if self.chance(0.1):
                line = self.choice(["  ", "hkey_classes_root\\x = y", "[" + key + "]", "; c"]) + (
                    line if len(line) < 3 else "")
            lines.append(line)
        return lines

    def file(self):
        header = pick_weighted(self.rng, HEADERS)
        body = []
        if header == "REGEDIT":
            body = self.win31_lines()
        else:
            if self.chance(0.8):
                body.append("")
            body.extend(self.key_line() if self.chance(0.95) else self.value_lines())
            for _ in range(self.rng.randrange(1, 14)):
                r = self.rng.random()
                if r < 0.15:
                    body.extend(self.key_line())
                elif r < 0.85:
                    body.extend(self.value_lines())
                else:
                    body.extend(self.other_line())
        lines = [header] + body
        if self.chance(0.01):
            at = self.rng.randrange(1, len(lines) + 1)
            if at < len(lines):
                lines[at] = lines[at][:len(lines[at]) // 2] + "\0" + lines[at][len(lines[at]) // 2:]
        ends = []
        for _ in lines:
            r = self.rng.random()
            ends.append("\r\n" if r < 0.9 else "\n" if r < 0.98 else "\r")
        if self.chance(0.1):
            ends[-1] = ""
        return [line + end for line, end in zip(lines, ends)]


def reg_case(seed):
    """A registry file case: {"kind": "reg", "lines": [...], "encoding": ...}."""
    rng = random.Random("reg-%d" % seed)
    r = rng.random()
    encoding = "utf16" if r < 0.5 else "8bit" if r < 0.98 else "utf16-nobom"
    lines = RegFileGenerator(rng, encoding.startswith("utf16")).file()
    return {"kind": "reg", "seed": seed, "lines": lines, "encoding": encoding}


def encode_reg(case, name):
    """The bytes of a registry file case, with `name` in place of @C@."""
    text = "".join(case["lines"]).replace("@C@", name)
    if case["encoding"] == "utf16":
        return b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass")
    if case["encoding"] == "utf16-nobom":
        return text.encode("utf-16-le", "surrogatepass")
    return text.encode("latin-1")


# --- reg command lines ---------------------------------------------------------

CMD_TYPES = ["REG_SZ", "REG_EXPAND_SZ", "REG_MULTI_SZ", "REG_DWORD", "REG_QWORD", "REG_BINARY",
             "REG_NONE", "REG_DWORD_BIG_ENDIAN", "REG_DWORD_LITTLE_ENDIAN", "reg_sz", "REG_BOGUS"]


def cmd_case(seed):
    """A command case: {"kind": "cmd", "commands": [[arg, ...], ...]}; the last
    command is the one under test, the others prepare the case's key."""
    rng = random.Random("cmd-%d" % seed)
    key = "HKCU\\" + CASE_KEY
    setup = [["add", key + "\\sub", "/v", "s", "/d", "text", "/f"],
             ["add", key, "/v", "n", "/t", "REG_DWORD", "/d", "5", "/f"]]
    if rng.random() < 0.5:
        setup.append(["add", key, "/ve", "/d", "default", "/f"])
    target = key + rng.choice(["", "", "\\sub", "\\new", "\\new\\deeper", "\\\\", "\\"])
    command = rng.choice(["add", "add", "add", "delete", "query", "query", "copy", "export"])
    args = [command, target]
    if command == "add":
        if rng.random() < 0.4:
            args += ["/v", rng.choice(["v", "", "n", "with space"])]
        elif rng.random() < 0.2:
            args += ["/ve"]
        if rng.random() < 0.6:
            args += ["/t", rng.choice(CMD_TYPES)]
        if rng.random() < 0.6:
            args += ["/d", rng.choice(["", "x", "12", "0x10", "-1", "4294967296", "abc\\0def",
                                       "a\\0\\0b", "0102ff", "zz", "10000000000000000"])]
        if rng.random() < 0.2:
            args += ["/s", rng.choice(["#", ",", "ab"])]
        if rng.random() < 0.9:
            args += ["/f"]
    elif command == "delete":
        r = rng.random()
        args += [["/v", "n"], ["/v", "missing"], ["/ve"], ["/va"], []][int(r * 5)]
        args += ["/f"] if rng.random() < 0.9 else []
    elif command == "query":
        r = rng.random()
        args += [["/v", "n"], ["/v", "missing"], ["/ve"], ["/s"], [], ["/f", "text"],
                 ["/f", "s", "/s"]][int(r * 7)]
    elif command == "copy":
        args += [key + rng.choice(["\\copy", "\\sub\\copy", ""])]
        args += [["/s"], []][rng.randrange(2)]
        args += ["/f"] if rng.random() < 0.9 else []
    elif command == "export":
        args += ["@FILE@"]
        args += ["/y"] if rng.random() < 0.8 else []
    if rng.random() < 0.05:
        args.insert(rng.randrange(1, len(args) + 1), rng.choice(["/bogus", "extra", "/?"]))
    return {"kind": "cmd", "seed": seed, "commands": setup + [args]}


if __name__ == "__main__":
    seed = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    if len(sys.argv) > 2 and sys.argv[2] == "cmd":
        for command in cmd_case(seed)["commands"]:
            print(" ".join(command))
    else:
        case = reg_case(seed)
        print("encoding:", case["encoding"])
        for line in case["lines"]:
            print(repr(line))
