#!/usr/bin/env python3
"""Checks quillomar-host import as a user would: each example imported in every output form
reads back, through Python's csv and json modules, to the same fields; --help and --version
answer 0; bad command lines, a missing library and a malformed format file answer 2.

Usage: import_check.py SOURCE_DIR LIBRARY HOST [WRAPPER...]
(WRAPPER: what runs HOST, e.g. tools/wine-run.sh for a Windows build)"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile

src, library, host = sys.argv[1], sys.argv[2], sys.argv[3]
wrapper = sys.argv[4:]
failures = []


def run(*args):
    p = subprocess.run(wrapper + [host] + list(args), capture_output=True)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def check(ok, what):
    if not ok:
        failures.append(what)


unicode = "8bit" not in run("--version")[1]
EXAMPLES = [("customers.csv", "customers.fmt", "32", ["--strip-quotes"]),
            ("products-lf.csv", "products-lf.fmt", "33", ["--csv"]),
            ("inventory.txt", "inventory.fmt", "49", []),
            ("stations.tsv", "stations.fmt", "25", [])]
if unicode:
    EXAMPLES.append(("contacts-utf8.csv", "contacts-utf8.fmt", "23", ["--encoding", "utf-8"]))

for data, fmt, start, extra in EXAMPLES:
    base = ["import", "--library", library, "--format", os.path.join(src, "examples", fmt),
            "--from", start, "--quiet"] + extra + [os.path.join(src, "examples", data)]
    forms = {}
    for form in ("csv", "tsv", "json"):
        code, out, err = run(*(base + ["--output", form]))
        check(code == 0, f"{data} --output {form}: exit {code}: {err.strip()}")
        if form == "json":
            forms[form] = json.loads(out)
        else:
            rows = list(csv.reader(io.StringIO(out, newline=""),
                                   delimiter="," if form == "csv" else "\t"))
            forms[form] = [dict(zip(rows[0], r)) for r in rows[1:]]
    check(forms["csv"] == forms["tsv"] == forms["json"], f"{data}: the forms differ: {forms}")
    check(len(forms["json"]) >= 4, f"{data}: only {len(forms['json'])} records")
    if data == "contacts-utf8.csv":
        check(forms["json"][3]["city"] == "東京" and forms["json"][1]["first"] == "Δημήτρης",
              f"{data}: names do not arrive as their characters: {forms['json'][:4]}")
    # The summary line names the records and every result seen.
    code, out, err = run(*[a for a in base if a != "--quiet"])
    check(code == 0 and "record(s)" in err and "7 x1" in err, f"{data}: summary: {err.strip()}")

for args in (["--help"], ["import", "--help"], ["describe", "--help"], ["run", "--help"],
             ["--version"]):
    code, out, _ = run(*args)
    check(code == 0 and out.strip(), f"{' '.join(args)}: exit {code}")

orders = os.path.join(src, "examples", "orders.csv")
field = ["--field", "id:10:COMMA"]
work = tempfile.mkdtemp(prefix="import-check-")
binary = os.path.join(work, "binary.dat")
with open(binary, "wb") as f:
    f.write(bytes(range(256)) * 4)
ragged = os.path.join(work, "ragged.csv")
with open(ragged, "w", newline="") as f:
    f.write("a,b,c\n1,2\n3;4;5;6\nx\ty\n")
with tempfile.NamedTemporaryFile("w", suffix=".fmt", delete=False) as bad:
    bad.write("# a field without its delimiter\nid 10\n")
for args, why in (
        (["import", "--library", library] + field + ["--limit", "-5", orders], "--limit -5"),
        (["import", "--library", library] + field + ["--limit", "abc", orders], "--limit abc"),
        (["import", "--library", library] + field + ["--output", "xml", orders], "--output xml"),
        (["import", "--library", library] + field + ["--encoding", "koi8-r", orders],
         "--encoding koi8-r"),
        (["import", "--library", library, "--field", "id:x:COMMA", orders], "a bad --field"),
        (["import", "--library", library, "--field", "id:10:COLON", orders], "a bad delimiter"),
        (["import", "--library", library, binary], "no format, and binary data to sniff"),
        (["import", "--library", library, ragged], "no format, and no delimiter to sniff"),
        (["sniff", binary], "sniff: binary data"),
        (["sniff", ragged], "sniff: no consistent delimiter"),
        (["sniff", os.path.join(src, "no-such-file.csv")], "sniff: a missing file"),
        (["import", "--library", "no-such-library"] + field + [orders], "a missing library"),
        (["import", "--library", library, "--format", bad.name, orders], "a malformed format"),
        (["import", "--library", library, "--frobnicate"] + field + [orders], "an unknown option"),
        (["frobnicate"], "an unknown command"),
        ([], "no command")):
    code, _, err = run(*args)
    check(code == 2, f"{why}: exit {code}, expected 2 ({err.strip()[:120]})")
os.unlink(bad.name)

# With no format: the sniffed format, CSV quoting and --header give what csv.DictReader
# reads (unquoted values trimmed of blanks), in JSON keyed by the header's names; the sniff's
# format file does the same through --format.
for data in ("customers.csv", "products-lf.csv", "orders.csv") + (
        ("contacts-utf8.csv",) if unicode else ()):
    path = os.path.join(src, "examples", data)
    with open(path, encoding="utf-8-sig", newline="") as f:
        text = f.read()
    want = [{k: (v if v != v.strip(" ") and ('"' + v) in text else v.strip(" "))
             for k, v in row.items()} for row in csv.DictReader(io.StringIO(text, newline=""))]
    if data == "orders.csv":  # no header: every line is a record, the fields f1...fN
        want = [{"f%d" % (i + 1): v.strip(" ") for i, v in enumerate(r)}
                for r in csv.reader(io.StringIO(text, newline=""))]
    code, out, err = run("import", "--library", library, "--output", "json", "--quiet",
                         *(["--header"] if data != "orders.csv" else []), path)
    got = json.loads(out) if code == 0 else None
    if not unicode and got is not None:  # the 8-bit host widens the UTF-8 bytes one by one
        got = [{k.encode("latin-1", "replace").decode("utf-8", "replace"):
                v.encode("latin-1", "replace").decode("utf-8", "replace")
                for k, v in r.items()} for r in got]
    check(code == 0 and got == want, f"{data} sniffed: exit {code}: {got} != {want}")
    code, fmt, _ = run("sniff", path)
    fmt_path = os.path.join(work, data + ".fmt")
    with open(fmt_path, "w", encoding="utf-8") as f:
        f.write(fmt)
    code2, out2, _ = run("import", "--library", library, "--format", fmt_path, "--csv",
                         "--output", "json", "--quiet", "--header",
                         *(["--encoding", "utf-8"] if unicode and "UTF-8" in fmt else []), path)
    check(code == 0 and code2 == 0 and [list(r.values()) for r in json.loads(out2)] ==
          [list(r.values()) for r in json.loads(out)][(0 if data != "orders.csv" else 1):],
          f"{data}: the sniffed format file reads otherwise: exit {code}/{code2}")
# The sniff's choices: the delimiter, mixed line ends as EOL, no header over numbers alone,
# maxima with room over the longest value but never beyond 32000.
mixed = os.path.join(work, "mixed.csv")
with open(mixed, "w", newline="") as f:
    f.write("1;2.5;\"x;y\"\r\n3;4;z\n5;6;" + "w" * 40000 + "\r\n")
code, out, _ = run("sniff", mixed)
lines = [l.split() for l in out.splitlines() if l and not l.startswith("#")]
check(code == 0 and lines == [["f1", "16", "SEMICO"], ["f2", "16", "SEMICO"],
                              ["f3", "32000", "EOL"]] and "header: none" in out,
      f"sniff of mixed line ends: {out}")
code, out, _ = run("sniff", os.path.join(src, "examples", "stations.tsv"))
ends = [l.split()[2] for l in out.splitlines() if l and not l.startswith("#")]
check(code == 0 and ends == ["TAB", "TAB", "TAB", "CRLF"], f"sniff of a TSV: {out}")

# A title line as wide as the table, a second one after it, then the header: the header is
# the row of the width that reads as the rest's header, not the title. And a short table with
# one bad row (a stray quote that opens a number) keeps its header.
titled = os.path.join(work, "titled.txt")
with open(titled, "w", newline="") as f:
    f.write("Sales report\rExported 2026-12-01 by the shop\ramount city\r"
            "56905 Lyon\r14332 Oslo\r2664 Rome\r85473 Bern\r")
code, out, _ = run("sniff", titled)
check(code == 0 and "preamble: 2 line(s)" in out and '"amount", ' in out and "header: at" in out,
      f"sniff of a title as wide as the table: {out}")
short = os.path.join(work, "short.csv")
with open(short, "w", newline="") as f:
    f.write('country,date\r"53088,papa delta kilo\r17082,india victor zulu\r34517,papa\r'
            "89571,alpha\r")
code, out, _ = run("sniff", short)
check(code == 0 and '"country", ' in out and "header: at" in out,
      f"sniff of a short table with a bad row: {out}")

# Beyond 4 GiB: --from takes any position below 2^53, and the summary counts the bytes read
# (the macOS build refuses such a file: exit 1).
big = os.path.join(work, "big.csv")
with open(big, "wb") as f:
    f.truncate((1 << 32) + 99)
    f.seek((1 << 32) + 80)
    f.write(b"\nab,cd\nef,gh\n" + b"ij,kl\n")
code, out, err = run("import", "--library", library, "--field", "a:10:COMMA", "--field",
                     "b:10:LF", "--from", str((1 << 32) + 81), "--output", "csv", big)
if "mac" in run("--version")[1]:
    check(code == 1, f"a file beyond 4 GiB on macOS: exit {code}")
else:
    check(code == 0 and out.replace("\r\n", "\n") == "a,b\nab,cd\nef,gh\nij,kl\n" and
          "3 record(s), 18 bytes" in err, f"from beyond 4 GiB: exit {code}: {out} {err}")
os.unlink(big)
for bad in ("9007199254740992", "-1", "1e3", "99999999999999999999"):
    code, _, _ = run("import", "--library", library, "--field", "a:10:COMMA", "--from", bad,
                     orders)
    check(code == 2, f"--from {bad}: exit {code}, expected 2")

# Table output keeps a record on one line: a line end inside a value is shown as a sign.
code, out, _ = run("import", "--library", library, "--quiet", "--header",
                   os.path.join(src, "examples", "products-lf.csv"))
check(code == 0 and "Holds 6 cups.\u21b5Dishwasher safe." in out and len(out.splitlines()) == 7,
      f"table output: {out}")

# A failed open: exit 1.
code, _, _ = run("import", "--library", library, "--field", "id:10:COMMA", "no-such-file.csv")
check(code == 1, f"a missing source: exit {code}, expected 1")

code, out, _ = run("describe", "--library", library)
check(code == 0 and "Quillomar.OpenFile" in out and "[,encoding [,quoting CSV|CSV'|" in out,
      f"describe: exit {code}: {out[:200]}")

# The sniffer names the encoding: random tables written in each, with its characters beyond
# ASCII, sniffed. UTF-16 (with its mark or without) is named and never called binary data;
# the Unicode builds import a sniffed Windows-1252 or UTF-16 file with its own characters.
import random
rng = random.Random(1252)
WORDS = {"UTF-8": ["Zürich", "Ελλάδα", "中文", "naïve", "€5"],
         "Windows-1252": ["Café", "3 €", "“quoted”", "a – b", "…", "Œuvre"],
         "ISO-8859-1": ["Café", "Zürich", "niño", "©", "½"],
         "UTF-16LE": ["Café", "中文", "3 €", "a,b"], "UTF-16BE": ["Café", "中文", "3 €"]}
CODECS = {"UTF-8": "utf-8", "Windows-1252": "cp1252", "ISO-8859-1": "latin-1",
          "UTF-16LE": "utf-16-le", "UTF-16BE": "utf-16-be"}
named = total = 0
for name, codec in CODECS.items():
    for i in range(20):
        rows = [["name", "value", "note"]] + [
            [rng.choice(WORDS[name] + ["plain", "x y"]), str(rng.randint(0, 999)),
             rng.choice(WORDS[name] + ["", "ok"])] for _ in range(rng.randint(2, 30))]
        s = io.StringIO(newline="")
        csv.writer(s, delimiter=rng.choice([",", ";", "\t"]),
                   lineterminator="\r\n").writerows(rows)
        data = s.getvalue().encode(codec)
        if name.startswith("UTF-16") and i % 2:
            data = ("\ufeff".encode(codec)) + data  # its byte-order mark
        path = os.path.join(work, "enc-%s-%d.csv" % (name, i))
        with open(path, "wb") as f:
            f.write(data)
        code, out, err = run("sniff", path)
        total += 1
        want = name if unicode or name.startswith("UTF-16") else \
            "the 8-bit host takes bytes as they stand"
        ok = code == 0 and "# encoding: " in out and want in out.split("# encoding: ")[1] \
            and "binary" not in err
        named += ok
        check(ok, f"{name} file {i} sniffed as: {out[:300]} {err[:300]}")
check(named * 100 >= total * 99, f"encodings named right in {named} of {total} files")
# Binary data is never taken for UTF-16, whatever its zeros; Chinese text in UTF-16 without
# its mark, whose zeros are few, is.
import struct
samples = {"bytes.dat": bytes(range(256)) * 40,
           "shorts.dat": b"".join(struct.pack("<H", i % 300) for i in range(5000)),
           "words.dat": b"".join(struct.pack(">I", i * 7919) for i in range(3000))}
for name, data in samples.items():
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    code, out, err = run("sniff", path)
    check(code == 2 and "binary" in err, f"{name} sniffed as: exit {code}: {out[:200]} {err[:200]}")
path = os.path.join(work, "chinese-utf16.txt")
with open(path, "wb") as f:
    f.write(("中文字符测试数据\t甲乙丙丁戊己庚辛\r\n" * 40).encode("utf-16-le"))
code, out, err = run("sniff", path)
check(code == 0 and "# encoding: UTF-16LE" in out, f"Chinese UTF-16 sniffed as: {out[:300]} {err[:200]}")
if unicode:  # a sniffed file in a code page or UTF-16 reads back as what was written
    for name, i in [("Windows-1252", 0), ("Windows-1252", 1), ("Windows-1252", 2),
                    ("UTF-16LE", 0), ("UTF-16LE", 1), ("UTF-16BE", 2), ("UTF-16BE", 3)]:
        path = os.path.join(work, "enc-%s-%d.csv" % (name, i))
        with open(path, "rb") as f:
            text = f.read().decode(CODECS[name]).lstrip("\ufeff")
        want = list(csv.DictReader(io.StringIO(text, newline=""),
                                   dialect=csv.Sniffer().sniff(text, ",;\t")))
        code, out, _ = run("import", "--library", library, "--output", "json", "--quiet", path)
        check(code == 0 and json.loads(out) == want,
              f"a {name} file imported sniffed: exit {code}: {out[:300]} != {want[:3]}")

for f in failures:
    print("import-check:", f)
print(f"import-check: {len(failures)} failure(s)")
sys.exit(1 if failures else 0)
