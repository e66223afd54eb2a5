#!/usr/bin/env python3
"""Polluted delimited files, scored. A seeded generator writes clean tables in every dialect
(delimiter, quote, escape, line end) and polluted copies of them: extra and missing
delimiters, stray quotes, rows in another delimiter, preambles, footnotes, multi-line headers,
no header, a header alone, one row, no final line end, a double one, empty files, two tables
in a row. Each file is imported through the tool, sniffed and with its dialect given, and
scored against its clean table: 10 points a file, a third each for the header, the records
and the cells. Python's csv module (its Sniffer, and the dialect given) is scored on the same
files as a yardstick. Also measured: the sniffer's dialect accuracy, and whether backward
reads give the forward reads' records.

Usage: pollution.py LIBRARY HOST [WRAPPER...] [--files N] [--seed S] [--keep DIR]
                    [--min-sniffed X] [--min-given X] [--min-accuracy P]
Exits 1 when a minimum is missed or a backward read disagrees."""
import argparse
import csv
import io
import os
import random
import subprocess
import sys
import tempfile

ap = argparse.ArgumentParser()
ap.add_argument("library")
ap.add_argument("host")
ap.add_argument("wrapper", nargs="*")
ap.add_argument("--files", type=int, default=300)
ap.add_argument("--seed", type=int, default=2026)
ap.add_argument("--keep", help="write the files here and keep them")
ap.add_argument("--min-sniffed", type=float, default=0)
ap.add_argument("--min-given", type=float, default=0)
ap.add_argument("--min-accuracy", type=float, default=0)
ap.add_argument("--verbose", action="store_true", help="name each file the sniffer misjudges")
args = ap.parse_args()

DELIMS = [(",", "COMMA"), (";", "SEMICO"), ("\t", "TAB"), ("|", "ASC|"), (":", "ASC:"),
          (" ", "ASC "), (", ", "ASC, ")]
QUOTES = ['"', "'"]
ESCAPES = [None, "\\"]
LINE_ENDS = [("\r\n", "CRLF"), ("\n", "LF"), ("\r", "RETURN")]
NAMES = ["id", "name", "city", "price", "amount", "date", "code", "note", "country", "total",
         "qty", "email", "status", "rank"]
WORDS = ["alpha", "bravo", "delta", "echo", "golf", "hotel", "india", "kilo", "lima", "oscar",
         "papa", "romeo", "tango", "victor", "zulu", "Zürich", "Malmö", "São Paulo"]
POLLUTIONS = ["extra-delimiter", "missing-delimiter", "stray-quote", "other-delimiter",
              "preamble", "footnote", "multiline-header", "no-header", "header-only", "one-row",
              "no-final-line-end", "double-final-line-end", "empty", "two-tables", "clean"]


class File:
    """A generated file: its bytes, its true dialect and the clean table it holds."""

    def __init__(self, name, kind, dialect, header, rows, data, table_start, polluted=None):
        self.name, self.kind, self.dialect = name, kind, dialect
        self.polluted = polluted  # the index of the clean row written damaged, if one is
        self.header, self.rows, self.data = header, rows, data
        self.table_start = table_start  # the byte where the header (or first record) starts


def value(rng, kind, delim, quote):
    if kind == "int":
        return str(rng.randint(0, 99999))
    if kind == "decimal":
        return "%d.%02d" % (rng.randint(0, 999), rng.randint(0, 99))
    if kind == "date":
        return "2026-%02d-%02d" % (rng.randint(1, 12), rng.randint(1, 28))
    v = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3)))
    r = rng.random()
    if r < 0.06:
        v += delim.strip() or ","  # a delimiter inside a value: quoted
    elif r < 0.10:
        v = v.replace(" ", " %s" % quote, 1) + quote  # a quote inside a value
    elif r < 0.13:
        v += "\nline two"  # a line end inside a value
    return v


def write_field(v, d):
    delim, quote, escape = d["delim"], d["quote"], d["escape"]
    needs = (delim.strip() and delim.strip() in v) or (delim == " " and " " in v) or quote in v \
        or "\r" in v or "\n" in v or v != v.strip() or (escape and escape in v)
    if not needs:
        return v
    if escape:
        body = v.replace(escape, escape + escape).replace(quote, escape + quote)
    else:
        body = v.replace(quote, quote + quote)
    return quote + body + quote


def write_row(fields, d):
    return d["delim"].join(write_field(v, d) for v in fields)


def generate(i, rng):
    kind = POLLUTIONS[i % len(POLLUTIONS)]
    delim, _ = rng.choice(DELIMS)
    d = {"delim": delim, "quote": rng.choice(QUOTES), "escape": rng.choice(ESCAPES),
         "lineterm": rng.choice(LINE_ENDS)[0]}
    ncols = rng.randint(2, 7)
    types = [rng.choice(["int", "decimal", "date", "text", "text"]) for _ in range(ncols)]
    types[0] = "int"  # a key column, so that a header can be told from the data
    header = rng.sample(NAMES, ncols)
    nrows = {"header-only": 0, "one-row": 1}.get(kind, rng.randint(2, 25))
    rows = [[value(rng, t, delim, d["quote"]) for t in types] for _ in range(nrows)]
    if kind == "no-header":
        header = None
    if kind == "multiline-header":
        header[-1] = header[-1] + "\n(units)"
    lt = d["lineterm"]
    lines = []  # the file's records, as written
    if header is not None:
        lines.append(write_row(header, d))
    for r in rows:
        lines.append(write_row(r, d))
    pre = ""
    if kind == "preamble":
        pre = lt.join(rng.choice(["Sales report", "Exported 2026-12-01 by the shop",
                                  "# generated file", "Confidential"])
                      for _ in range(rng.randint(1, 3))) + lt
    polluted = None
    if rows and kind in ("extra-delimiter", "missing-delimiter", "stray-quote",
                         "other-delimiter"):
        at = (1 if header is not None else 0) + rng.randrange(len(rows))
        polluted = at - (1 if header is not None else 0)
        r = rows[at - (1 if header is not None else 0)]
        col = rng.randrange(ncols)
        if kind == "extra-delimiter":
            polluted = r[:col + 1] + [""] + r[col + 1:]
            lines[at] = write_row(polluted, d)
        elif kind == "missing-delimiter" and ncols > 1:
            col = min(col, ncols - 2)
            lines[at] = d["delim"].join(
                [write_field(v, d) for v in r[:col]] +
                [write_field(r[col], d) + write_field(r[col + 1], d)] +
                [write_field(v, d) for v in r[col + 2:]])
        elif kind == "stray-quote":
            # A value that opens with a quote it never closes: its true text holds the quote.
            r[col] = d["quote"] + r[col].replace("\n", " ").replace(d["quote"], "")
            if d["escape"]:
                r[col] = r[col].replace(d["escape"], "")
            plain = r[col].replace(d["delim"].strip() or " ", "")
            r[col] = plain
            lines[at] = d["delim"].join(
                plain if k == col else write_field(v, d) for k, v in enumerate(r))
        elif kind == "other-delimiter":
            other = ";" if delim != ";" else ","
            lines[at] = other.join(write_field(v, d) for v in r)
    text = pre + lt.join(lines) + (lt if lines else "")
    if kind == "no-final-line-end" and text.endswith(lt):
        text = text[:-len(lt)]
    if kind == "double-final-line-end":
        text += lt
    if kind == "footnote":
        text += lt.join(rng.choice(["Total rows: %d" % len(rows), "Source: the shop",
                                    "(c) 2026"]) for _ in range(rng.randint(1, 2))) + lt
    if kind == "two-tables":
        other = [["k", "v"]] + [[str(n), rng.choice(WORDS)] for n in range(3)]
        if ncols == 2:
            other = [["k", "v", "w"]] + [[str(n), "x", "y"] for n in range(3)]
        text += lt + lt.join(write_row(o, d) for o in other) + lt
    if kind == "empty":
        text, header, rows = "", None, []
    data = text.encode("utf-8")
    return File("f%04d-%s" % (i, kind), kind, d, header, rows, data,
                len(pre.encode("utf-8")), polluted)


def run_tool(argv):
    p = subprocess.run(args.wrapper + [args.host] + argv, capture_output=True)
    if p.returncode == 2:
        return None
    text = p.stdout.decode("utf-8", errors="replace")
    rows = list(csv.reader(io.StringIO(text, newline="")))
    if "8bit" in version:  # the 8-bit host holds the file's bytes, one character each
        rows = [[from_bytes(v) for v in r] for r in rows]
    return rows


def from_bytes(v):
    """A value of the 8-bit host (one character a byte) as the UTF-8 text its bytes hold."""
    try:
        return v.encode("latin-1").decode("utf-8")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return v


def tool_sniffed(path, backwards=False):
    out = run_tool(["import", "--library", args.library, "--output", "csv", "--quiet", path] +
                   (["--backwards"] if backwards else []))
    if out is None:
        return None
    if not out:
        return [], []
    return out[0], out[1:]


def keyword(f):
    return dict(DELIMS)[f.dialect["delim"]]


def line_keyword(f):
    return dict(LINE_ENDS)[f.dialect["lineterm"]]


def tool_given(f, path, backwards=False):
    if not f.data:
        return [], []
    n = len(f.header) if f.header else len(f.rows[0])
    fields = []
    for c in range(n):
        fields += ["--field", "c%d:32000:%s" % (c + 1, line_keyword(f) if c == n - 1 else keyword(f))]
    quoting = "CSV" + ("'" if f.dialect["quote"] == "'" else "") + \
        ("\\" if f.dialect["escape"] else "")
    argv = ["import", "--library", args.library, "--output", "csv", "--quiet",
            "--quoting", quoting, "--table-start", str(f.table_start), path] + fields
    if f.header is not None:
        argv.append("--header")
    if f.data.decode("utf-8", "replace") != f.data.decode("latin-1") and "8bit" not in version:
        argv += ["--encoding", "UTF-8"]
    if backwards:
        argv.append("--backwards")
    out = run_tool(argv)
    if out is None:
        return None
    return (f.header or []), out[1:]


def python_sniffed(f):
    text = f.data.decode("utf-8", errors="replace")
    if not text:
        return [], []
    try:
        sample = text[:1 << 20]
        dialect = csv.Sniffer().sniff(sample)
        has_header = csv.Sniffer().has_header(sample)
        rows = [r for r in csv.reader(io.StringIO(text, newline=""), dialect) if r]
    except csv.Error:
        return None
    if has_header and rows:
        return rows[0], rows[1:]
    return [], rows


def python_given(f):
    text = f.data.decode("utf-8", errors="replace")
    if not text:
        return [], []
    d = f.dialect
    text = f.data[f.table_start:].decode("utf-8", errors="replace")
    rows = [r for r in csv.reader(io.StringIO(text, newline=""), delimiter=d["delim"][0],
                                  quotechar=d["quote"], escapechar=d["escape"],
                                  skipinitialspace=d["delim"] == ", ") if r]
    if f.header is not None and rows:
        return rows[0], rows[1:]
    return [], rows


def score(f, got):
    """10 points: a third for the header, the records and the cells."""
    if got is None:
        return 0.0
    header, rows = got
    want_header = f.header or []
    if f.header is None:  # no header: one made up (f1...) or none, never a data row
        h = 1.0 if not rows or not header or header not in f.rows else 0.0
        h = 0.0 if f.rows and header == f.rows[0] else h
    else:
        h = 1.0 if header == want_header else 0.0
    clean = f.rows
    if not clean:
        return 10 * (h + (1.0 if not rows else 0.0) * 2) / 3
    same = sum(1 for a, b in zip(clean, rows) if a == b)
    rec = same / max(len(clean), len(rows))
    cells = total = 0
    for i, r in enumerate(clean):
        for j, v in enumerate(r):
            total += 1
            cells += 1 if i < len(rows) and j < len(rows[i]) and rows[i][j] == v else 0
    return 10 * (h + rec + cells / total) / 3


def sniff_accuracy(f, path):
    """Whether the sniffer names the file's dialect: delimiter, quote, escape and line end
    (a quote or escape the file never uses may be either)."""
    p = subprocess.run(args.wrapper + [args.host, "sniff", path], capture_output=True)
    if p.returncode != 0:
        return False
    out = p.stdout.decode("utf-8", errors="replace").splitlines()
    first = out[0]
    delim = first.split(" ", 2)[2].strip('"')
    quoting = [l for l in out if l.startswith("# OpenFile:")][0].rsplit(",", 1)[1]
    quoting = quoting.strip('")').replace('\\\\', '\\')
    last = [l for l in out if not l.startswith("#")][-1].rsplit(" ", 1)[1]
    d = f.dialect
    text = f.data.decode("utf-8", errors="replace")
    written = [r for k, r in enumerate(f.rows) if k != f.polluted] + [f.header or []]
    quote_used = any(write_field(v, d).startswith(d["quote"]) for r in written for v in r)
    escape_used = d["escape"] and d["escape"] in text
    ok_delim = delim == keyword(f) or (len(f.header or f.rows[0]) < 2)
    ok_quote = (("'" in quoting) == (d["quote"] == "'")) or not quote_used
    ok_escape = (("\\" in quoting) == bool(d["escape"])) or not escape_used
    lt = line_keyword(f)
    ok_line = last == lt or (last == "EOL" and lt in ("CRLF", "LF"))
    return ok_delim and ok_quote and ok_escape and ok_line


version = subprocess.run(args.wrapper + [args.host, "--version"], capture_output=True,
                         text=True).stdout


def main():
    rng = random.Random(args.seed)
    files = [generate(i, rng) for i in range(args.files)]
    folder = args.keep or tempfile.mkdtemp(prefix="pollution-")
    os.makedirs(folder, exist_ok=True)
    totals = {"tool sniffed": 0.0, "tool given": 0.0, "python sniffed": 0.0, "python given": 0.0}
    by_kind = {}
    accurate = judged = 0
    disagreements = []
    for f in files:
        path = os.path.join(folder, f.name + ".csv")
        with open(path, "wb") as out:
            out.write(f.data)
        s = {"tool sniffed": score(f, tool_sniffed(path)),
             "tool given": score(f, tool_given(f, path)),
             "python sniffed": score(f, python_sniffed(f)),
             "python given": score(f, python_given(f))}
        if args.verbose and s["tool sniffed"] < 9.5:
            print("low: %s %.2f %r" % (f.name, s["tool sniffed"], f.dialect))
        for k, v in s.items():
            totals[k] += v
            by_kind.setdefault(f.kind, {}).setdefault(k, []).append(v)
        if f.data and f.rows:
            judged += 1
            ok = sniff_accuracy(f, path)
            accurate += ok
            if args.verbose and not ok:
                print("misjudged: %s %r" % (f.name, f.dialect))
            fwd = tool_given(f, path)
            bwd = tool_given(f, path, backwards=True)
            if fwd is None or bwd is None or fwd[1] != list(reversed(bwd[1])):
                disagreements.append(f.name)
    n = len(files)
    print("pollution: %d files, seed %d" % (n, args.seed))
    print("%-24s %14s %12s %16s %14s" % ("kind", "tool sniffed", "tool given", "python sniffed",
                                          "python given"))
    for kind in POLLUTIONS:
        if kind in by_kind:
            v = by_kind[kind]
            print("%-24s %14.2f %12.2f %16.2f %14.2f" % (
                kind, *(sum(v[k]) / len(v[k]) for k in totals)))
    print("%-24s %14.2f %12.2f %16.2f %14.2f" % ("all", *(totals[k] / n for k in totals)))
    accuracy = 100.0 * accurate / max(judged, 1)
    print("sniffer dialect accuracy: %d of %d files (%.1f%%)" % (accurate, judged, accuracy))
    print("backward reads agreeing with forward reads: %d of %d files" % (
        judged - len(disagreements), judged))
    failed = []
    if disagreements:
        failed.append("backward reads differ: " + ", ".join(disagreements[:10]))
    if totals["tool sniffed"] / n < args.min_sniffed:
        failed.append("sniffed score %.2f below %.2f" % (totals["tool sniffed"] / n,
                                                        args.min_sniffed))
    if totals["tool given"] / n < args.min_given:
        failed.append("given score %.2f below %.2f" % (totals["tool given"] / n, args.min_given))
    if accuracy < args.min_accuracy:
        failed.append("dialect accuracy %.1f%% below %.1f%%" % (accuracy, args.min_accuracy))
    for why in failed:
        print("pollution: " + why, file=sys.stderr)
    return 1 if failed else 0


sys.exit(main())
