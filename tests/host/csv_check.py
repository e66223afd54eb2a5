#!/usr/bin/env python3
"""The CSV differential: random files written by Python's csv.writer, and malformed ones,
read back through a library build under CSV quoting, forwards and backwards, from disk and
from a field source; every row must equal what csv.reader gives.

The files and the expectations become scenario scripts (docs/scenarios.md), run in one host
process, so a Windows build costs one Wine start.

Usage: csv_check.py LIBRARY HOST [WRAPPER...] [--seed N] [--files N] [--keep DIR]"""
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
ap.add_argument("--seed", type=int, default=4180)
ap.add_argument("--files", type=int, default=150)
ap.add_argument("--keep", help="write the scenarios here and keep them")
args = ap.parse_args()

version = subprocess.run(args.wrapper + [args.host, "--version"], capture_output=True,
                         text=True).stdout
unicode = "8bit" not in version
windows = "windows" in version

# The encodings a case is written in: Python's codec, the name OpenFile is given, and the
# characters beyond ASCII its values draw on. A code page's byte that it leaves undefined is
# written for UNDEFINED and read back as U+FFFD. The 8-bit build takes bytes as they stand.
UNDEFINED = "\ue000"
CODECS = {
    "utf-8": ("UTF-8", ["\u00e9", "\u0416", "\u4e2d", "\U0001F600"]),
    "latin-1": ("", ["\xe9", "\xff", "\x80"]),
    "cp1252": ("Windows-1252", ["\u20ac", "\u201c", "\u201d", "\u2013", "\u2026", "\xe9",
                                "\u0160", "\xff", UNDEFINED]),
    "iso8859_15": ("ISO-8859-15", ["\u20ac", "\u0152", "\u0161", "\xe9", "\xbf"]),
    "mac_roman": ("Mac Roman", ["\xe9", "\xfc", "\u20ac", "\ufb01", "\u03c0", "\u2260",
                                "\uf8ff"]),
    # Characters one of whose bytes is a delimiter, a quote or a line end (U+2C00 holds a
    # comma), and a surrogate pair.
    "utf-16-le": ("UTF-16LE", ["\u2c00", "\u0a0d", "\u0d00", "\u2200", "\u2700", "\u3b00",
                               "\u0900", "\u7c00", "\u0100", "\U0001F600", "\xe9", "\u4e2d"]),
    "utf-16-be": ("UTF-16BE", ["\u2c00", "\u0a0d", "\u0d00", "\u2200", "\u2700", "\u3b00",
                               "\u0900", "\u7c00", "\u0100", "\U0001F600", "\xe9", "\u4e2d"]),
}
MARKS = {"utf-16-le": b"\xff\xfe", "utf-16-be": b"\xfe\xff", "utf-8": b"\xef\xbb\xbf"}
rng = random.Random(args.seed)

# Delimiter keywords and the character csv.writer is given for each.
DELIMS = [("COMMA", ","), ("TAB", "\t"), ("SEMICO", ";"), ("ASC|", "|")]
WINDOW = 65536  # a disk file's read-ahead window


def host_text(s):
    """A scenario string literal of host characters."""
    out = []
    for ch in s:
        o = ord(ch)
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif 0x20 <= o < 0x7F:
            out.append(ch)
        else:
            out.append("\\u{%X}" % o)
    return '"' + "".join(out) + '"'


def file_bytes(b):
    """A scenario string literal of exact bytes."""
    out = []
    for o in b:
        ch = chr(o)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= o < 0x7F:
            out.append(ch)
        else:
            out.append("\\x%02X" % o)
    return '"' + "".join(out) + '"'


class Case:
    """One source: its bytes, format and the records csv.reader gives, with byte offsets."""

    def __init__(self, name, data, fields, codec, rows, bom=0, quoting="CSV", open_name=None):
        self.name, self.data, self.fields, self.codec = name, data, fields, codec
        self.rows = rows  # [(start, end, [values], code)]
        self.bom = bom
        self.quoting = quoting  # the OpenFile quoting: CSV, CSV', CSV\ or CSV'\
        # The OpenFile encoding: the codec's, or "UTF-16", which the byte-order mark decides.
        self.open_name = CODECS[codec][0] if open_name is None else open_name


def pick_codec(share_utf8):
    """utf-8 with the given chance, else a code page; bytes as they stand in the 8-bit build."""
    if not unicode:
        return "latin-1"
    if rng.random() < share_utf8:
        return "utf-8"
    return rng.choice(["latin-1", "latin-1", "cp1252", "iso8859_15", "mac_roman", "utf-16-le",
                       "utf-16-be"])


def byte_len(text, codec):
    """The bytes text takes in codec (a code page's U+FFFD stands for one byte)."""
    return len(text.encode(codec)) if codec.startswith("utf") else len(text)


def mark_for(codec):
    """A byte-order mark, sometimes, and the OpenFile name: a UTF-16 file opened as "UTF-16"
    needs the mark for big-endian, and may go without it for little-endian."""
    if codec == "utf-8":
        return (3 if rng.random() < 0.3 else 0), None
    if not codec.startswith("utf-16"):
        return 0, None
    bom = 2 if rng.random() < 0.5 else 0
    if rng.random() < 0.5 and (bom or codec == "utf-16-le"):
        return bom, "UTF-16"
    return bom, None


def encode(text, codec):
    """text in codec, each UNDEFINED as a byte the code page leaves undefined."""
    parts = text.split(UNDEFINED)
    return b"\x81".join(p.encode(codec) for p in parts)


def decode(b, codec):
    return b.decode(codec, errors="replace")


def field_length(raw, delim, quote='"', escape=None):
    """Characters of one field's raw text with its delimiter, as csv.reader takes them."""
    i = 0
    if raw.startswith(quote):
        i = 1
        while i < len(raw):
            if escape and raw[i] == escape:
                i += 2
                continue
            if raw[i] == quote:
                if raw[i + 1:i + 2] != quote:
                    i += 1
                    break
                i += 1
            i += 1
    while i < len(raw) and raw[i] != delim and raw[i] not in "\r\n":
        i += 2 if escape and raw[i] == escape else 1
    return i + 1


def expected(raw, row, delim, quote='"', escape=None):
    """What the library delivers for a record: quoted values exactly, the rest trimmed; the
    fields a short record does not reach are empty."""
    vals = []
    for v in row:
        vals.append(v if raw.startswith(quote) else v.strip(" "))
        raw = raw[field_length(raw, delim, quote, escape):]
    return vals


def record_code(raw, n, width):
    """The code of a read of a record of n fields under a format of width entries."""
    if n < width or n == 0:
        return 12
    if n > width:
        return 13
    return 0 if raw.endswith("\n") or raw.endswith("\r") else 9


def records(data, codec, delim, skip=0, quote='"', escape=None, width=None):
    """csv.reader's records of data, each with its byte offsets, the values read back, the
    code of its read (under a format of width entries, when given: short and long records)
    and csv.reader's row."""
    text = decode(data[skip:], codec)
    f = io.StringIO(text, newline="")
    r = csv.reader(f, delimiter=delim, quotechar=quote, escapechar=escape)
    out, here = [], 0
    while True:
        try:
            row = next(r)
        except StopIteration:
            break
        end = f.tell()
        raw = text[here:end]
        # A code page's U+FFFD stands for one byte; UTF-8 and UTF-16 are written without any.
        start_b = skip + byte_len(text[:here], codec)
        end_b = skip + byte_len(text[:end], codec)
        vals = expected(raw, row, delim, quote, escape)
        if width is None:
            code = 0 if raw.endswith("\n") else 9
        else:
            code = record_code(raw, len(row), width)
            vals = (vals + [""] * width)[:width]
        out.append((start_b, end_b, vals, code, row))
        here = end
    return out


def random_value(codec, delim):
    pieces = ["a", "b", "Z", "1", " ", ",", ";", "\t", "|", '"', '""', "\r", "\n", "\r\n",
              "text", "x y"]
    pieces += CODECS[codec][1]
    if rng.random() < 0.12:
        return ""
    v = "".join(rng.choice(pieces) for _ in range(rng.randint(1, 8)))
    if rng.random() < 0.2:
        v = " " + v + " "
    if v[:1] == " " or v[-1:] == " ":
        v += delim  # blanks at the ends are kept only in a quoted value: make the writer quote
    if "\r" in v:
        v += '"'  # the writer leaves a lone CR unquoted under a line-feed terminator
    return v


def format_for(back, ncols, codec, ends, keyword, least, reach):
    """A format of ncols entries whose maxima hold every value read back (at least least
    bytes, a few more at random), grown so that a backward read's window (twice the format's
    total) holds every record; with reach, also the line end before it and a byte more."""
    widths = [least] * ncols
    # A maximum holds a piece before its blanks are trimmed: csv.reader's values as they stand.
    for *_, row in back:
        for c, v in enumerate(row[:ncols]):
            widths[c] = max(widths[c], byte_len(v, codec))
    fields = [("c%d" % c, widths[c] + rng.randint(0, 6), ends if c == ncols - 1 else keyword)
              for c in range(ncols)]
    total = sum(m + 1 for _, m, _ in fields)
    longest = max([e - s for s, e, *_ in back] + [1])
    # With reach, the whole line end before the record (a CRLF's two bytes, a UTF-16 unit's).
    need = longest + (byte_len("\r\n" if ends == "CRLF" else "\n", codec) if reach else 0)
    if 2 * total < need or (reach and 2 * total == need):
        grow = (need - 2 * total) // ncols + 1
        fields = [(n, m + grow, d) for n, m, d in fields]
    return fields


def random_case(i):
    codec = pick_codec(0.4)
    keyword, delim = rng.choice(DELIMS)
    lineterm = rng.choice(["\r\n", "\n"])
    ends = rng.choice(["EOL", "CRLF" if lineterm == "\r\n" else "LF"])
    quoting = rng.choice([csv.QUOTE_MINIMAL, csv.QUOTE_ALL])
    ncols = rng.randint(1, 6)
    rows = [[random_value(codec, delim) for _ in range(ncols)] for _ in range(rng.randint(1, 12))]
    s = io.StringIO(newline="")
    csv.writer(s, delimiter=delim, lineterminator=lineterm, quoting=quoting).writerows(rows)
    bom, name = mark_for(codec)
    data = MARKS.get(codec, b"")[:bom] + encode(s.getvalue(), codec)
    back = records(data, codec, delim, bom)
    written = [[v.replace(UNDEFINED, "\ufffd") for v in row] for row in rows]
    assert [v for _, _, v, *_ in back] == written, (i, rows)  # every row as it was written
    fields = format_for(back, ncols, codec, ends, keyword, 0, False)
    return Case("random%03d" % i, data, fields, codec, back, bom, open_name=name)


DIALECTS = [("CSV", '"', None), ("CSV'", "'", None), ("CSV\\", '"', "\\"), ("CSV'\\", "'", "\\")]


def ragged_case(i):
    """Rows of differing lengths and blank lines, in any dialect: the format takes the most
    common length, so that short, long and blank records come; csv.reader's rows, cut or
    filled to the format, with the codes of short (12) and long (13) records."""
    codec = pick_codec(0.3)
    keyword, delim = rng.choice(DELIMS)
    quoting, quote, escape = rng.choice(DIALECTS)
    lineterm = rng.choice(["\r\n", "\n"])
    ends = rng.choice(["EOL", "CRLF" if lineterm == "\r\n" else "LF"])
    width = rng.randint(2, 5)
    rows = []
    for _ in range(rng.randint(1, 12)):
        # A blank first line is one byte, and a backward read from below 2 answers 7.
        n = width if rng.random() < 0.6 else rng.randint(0 if rows else 1, width + 2)
        row = [random_value(codec, delim) + rng.choice(["", quote, "\\"]) for _ in range(n)]
        # The writer may leave a lone CR unquoted (escaping rather than quoting), and the csv
        # module ends a record at any CR: no CR in these values.
        # With a backslash escape, a quoted line end can hide a record start from a backward
        # read (docs/commands.md): those values keep to one line.
        rows.append([v.replace("\r", "").replace("\n", "" if escape else "\n") for v in row])
    s = io.StringIO(newline="")
    w = csv.writer(s, delimiter=delim, lineterminator=lineterm, quotechar=quote,
                   escapechar=escape or None, doublequote=escape is None or rng.random() < 0.5)
    for row in rows:
        if row:
            w.writerow(row)
        else:
            s.write(lineterm)  # a blank line
    if rng.random() < 0.3:  # no final line end
        text = s.getvalue()
        s = io.StringIO(text[:-len(lineterm)] if text.endswith(lineterm) else text)
    bom, name = mark_for(codec)
    data = MARKS.get(codec, b"")[:bom] + encode(s.getvalue(), codec)
    back = records(data, codec, delim, bom, quote, escape, width)
    fields = format_for(back, width, codec, ends, keyword, 1, True)
    return Case("ragged%03d" % i, data, fields, codec, back, bom, quoting, name)


def fixed_case(name, data, ends, maxima, keyword="COMMA", delim=","):
    fields = [("c%d" % c, m, ends if c == len(maxima) - 1 else keyword)
              for c, m in enumerate(maxima)]
    return Case(name, data, fields, "latin-1", records(data, "latin-1", delim))


def window_case(name, record, mark):
    """record placed so that its byte at mark is the last of the first read-ahead window,
    after two-field filler lines; then one more record."""
    head_len = WINDOW - 1 - mark
    line = b"x" * 897 + b",f\n"
    head = line * (head_len // len(line) - 1)
    rest = head_len - len(head)
    head += b"y" * (rest - 3) + b",g\n"
    return fixed_case(name, head + record + b"t,u\n", "EOL", [2000, 40])


def window16_case(name, record, mark):
    """The same in UTF-16LE: record's character at mark starts two bytes before the first
    window's end, so that a surrogate pair or a CRLF there straddles it."""
    head_len = WINDOW - 2 - len(record[:mark].encode("utf-16-le"))
    line = "x" * 897 + ",f\n"
    head = line * (head_len // 2 // len(line) - 1)
    rest = head_len // 2 - len(head)
    head += "y" * (rest - 3) + ",g\n"
    data = (head + record + "t,u\n").encode("utf-16-le")
    fields = [("c0", 4000, "COMMA"), ("c1", 40, "EOL")]  # a filler line's two bytes a letter
    return Case(name, data, fields, "utf-16-le", records(data, "utf-16-le", ","))


def hand_cases():
    m = [20, 20, 20]
    return [
        fixed_case("after-closing-quote", b'a,"ab"cd,e\nf,"g"h"i",j\n', "EOL", m),
        fixed_case("quote-in-plain", b'a,b"c"d,e\r\n5" tv,x"y,z\r\n', "CRLF", m),
        fixed_case("doubled-then-text", b'a,"x""y"z"w,e\n', "LF", m),
        # A quote that opens a value crossing a line end and never closes: a stray quote (14),
        # read as plain text; the line ends the record, and the next one is short (12).
        Case("unclosed-at-end", b'a,b,c\nd,e,"f\ng,h', [("c0", 20, "COMMA"), ("c1", 20, "COMMA"),
             ("c2", 20, "EOL")], "latin-1",
             [(0, 6, ["a", "b", "c"], 0), (6, 13, ["d", "e", '"f'], 14), (13, 16, ["g", "h", ""], 12)]),
        fixed_case("empty-quoted", b'"","",""\n,,\n', "LF", m),
        fixed_case("no-final-line-end", b'a,"b\r\nc",d\r\ne,f,"g"', "EOL", m),
        fixed_case("mixed-line-ends", b'a,b,c\r\nd,"e\r\nf",g\nh,i,j\r\n', "EOL", m),
        fixed_case("semicolons", b'a;"b;c";"d\ne"\n', "LF", m, "SEMICO", ";"),
        # Quotes, line ends and delimiters at the read-ahead window's edge.
        window_case("edge-doubled-first", b'"ab""q",z\n', 3),
        window_case("edge-doubled-second", b'"ab""q",z\n', 4),
        window_case("edge-closing", b'"ab",z\n', 3),
        window_case("edge-opening", b'"ab",z\n', 0),
        window_case("edge-cr", b'a,"b"\r\n', 5),
        window_case("edge-quoted-cr", b'"a\r\nb",z\r\n', 2),
        # UTF-16 units and pairs at the window's edge.
        *([window16_case("edge16-pair", '"a\U0001F600b",z\n', 2),
           window16_case("edge16-pair-plain", 'a\U0001F600b,z\n', 1),
           window16_case("edge16-crlf", '"a\r\nb",z\r\n', 2),
           window16_case("edge16-delim", 'ab,\U0001F600\n', 2),
           window16_case("edge16-quote", '"ab""c",z\n', 3)] if unicode else []),
        # A last value beyond its maximum: 11 with its first bytes, and the read goes on with
        # the next record.
        Case("over-long-last", b'1,"abcdefgh""ij"\n2,"k,l"\n',
             [("c0", 4, "COMMA"), ("c1", 4, "EOL")], "latin-1",
             [(0, 17, ["1", "abcd"], 11), (17, 25, ["2", "k,l"], 0)]),
    ]


def scenario(case, source, backwards):
    """A scenario reading the case from disk or a field, forwards or backwards."""
    L = ["# %s, %s, %s" % (case.name, source, "backwards" if backwards else "forwards")]
    L += ["number ref", "number size", "number p", "list fmt name size delim"]
    for n, m, d in case.fields:
        L.append("char %s \"unset\"" % n)
        L.append("row fmt %s %d %s" % (host_text(n), m, host_text(d)))
    enc = host_text(case.open_name)
    L.append("load")
    if source == "disk":
        L.append("file data.csv " + file_bytes(case.data))
        L.append("call OpenFile \"data.csv\" ref size 0 %s %s" % (enc, host_text(case.quoting)))
    elif source == "clipboard":
        wide = case.codec.startswith("utf-16")
        L.append("clipboard " + ("wide " if wide else "") + file_bytes(case.data))
        L.append("call OpenFile \"CLIPBOARD\" ref size 0 %s %s" % (enc, host_text(case.quoting)))
    else:
        L.append("char src " + host_text(decode(case.data, case.codec)))
        L.append("call OpenFile \"FIELD:src\" ref size 0 %s %s" % (enc, host_text(case.quoting)))
    L += ["expect rc 0", "expect size = %d" % len(case.data),
          "call DefineFormat ref fmt \"name\" \"size\" \"delim\"", "expect rc 0"]
    if not backwards:
        for start, end, vals, code, *_ in case.rows:
            L.append("call ReadRecord ref p")
            L.append("expect rc %d" % code)
            for (n, _, _), v in zip(case.fields, vals):
                L.append("expect %s = %s" % (n, host_text(v)))
            L.append("expect p = %d" % end)
        L += ["call ReadRecord ref p", "expect rc 7"]
    else:
        L.append("number p %d" % len(case.data))
        for start, end, vals, code, *_ in reversed(case.rows):
            L.append("call ReadRecord ref p 0 1")
            L.append("expect rc %d" % code)
            for (n, _, _), v in zip(case.fields, vals):
                L.append("expect %s = %s" % (n, host_text(v)))
            L.append("expect p = %d" % (0 if start == case.bom else start))
        L += ["call ReadRecord ref p 0 1", "expect rc 7"]
    return "\n".join(L) + "\n"


def as_utf16(case):
    """A one-byte case again in UTF-16LE: each byte a unit, so offsets and maxima double."""
    data = case.data.decode("latin-1").encode("utf-16-le")
    rows = [(2 * s, 2 * e, vals, code, *rest) for s, e, vals, code, *rest in case.rows]
    fields = [(n, 2 * m, d) for n, m, d in case.fields]
    return Case(case.name + "-utf16", data, fields, "utf-16-le", rows, 0, case.quoting)


def main():
    hand = hand_cases()
    cases = [random_case(i) for i in range(args.files)] + hand
    if unicode:  # the malformed ones again, as characters
        cases += [as_utf16(c) for c in hand if c.codec == "latin-1"]
    cases += [ragged_case(i) for i in range(args.files)]
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
        return run(cases, args.keep)
    with tempfile.TemporaryDirectory(prefix="csv-check-") as folder:
        return run(cases, folder)


def run(cases, folder):
    paths = []
    for case in cases:
        # A field source in the Unicode builds holds characters: its text is UTF-8.
        # A code page's text reaches the library as bytes: from a file or the clipboard.
        sources = ["disk"] + (["field"] if case.codec == "utf-8" or not unicode else [])
        # The clipboard's Unicode text is little-endian.
        if windows and case.codec not in ("utf-8", "latin-1", "utf-16-be"):
            sources.append("clipboard")
        for source in sources:
            for backwards in (False, True):
                text = scenario(case, source, backwards)
                p = os.path.join(folder, "%s-%s-%s.qs" % (case.name, source,
                                                          "bwd" if backwards else "fwd"))
                with open(p, "w", encoding="utf-8") as f:
                    f.write(text)
                paths.append(p)
    # In batches: a Windows command line holds 32767 characters.
    code = 0
    for at in range(0, len(paths), 300):
        p = subprocess.run(args.wrapper + [args.host, "run", "--library", args.library] +
                           paths[at:at + 300], capture_output=True, text=True, errors="replace")
        if p.returncode != 0 or at + 300 >= len(paths):
            sys.stdout.write(p.stdout[-4000:])
            sys.stderr.write(p.stderr[-4000:])
        code = code or p.returncode
    print("csv-check: seed %d, %d files, %d scenarios" % (args.seed, len(cases), len(paths)))
    return code


sys.exit(main())
