#!/usr/bin/env python3
"""Writes the benchmark's import files, each as CSV with CRLF line ends and as a
tab-separated twin; the same seed gives the same bytes on every machine.
- customers: one million customer records of eight fields (id, first and last name with
  letters beyond ASCII, email, city, ISO date, amount, a note; a tenth of the notes quoted
  with a comma inside);
- narrow: about 100 MB of records of 20 numeric fields of 1 to 8 bytes;
- wide: about 100 MB of records of 4 fields (id, title, body, date), the body a quoted text
  of 1 to 4 KB that holds commas and line ends (quoted in the twin too, for its line ends).

Usage: bench_data.py OUT_DIR [RECORDS]   (RECORDS: customers only; the shapes scale with it)"""
import os
import random
import sys

FIRST = ["Anna", "Zoë", "José", "Łukasz", "Søren", "Ærin", "Chloé", "Jürgen", "Mårten", "Noël",
         "Ines", "Ömer", "Björk", "Dagný", "Frédéric", "Tomás", "Kateřina", "Miloš", "Ana", "Lars"]
LAST = ["Müller", "Núñez", "Ångström", "Dvořák", "García", "O'Brien", "Smith", "Kowalski",
        "Øvergård", "Lefèvre", "Schröder", "Brontë", "Jovanović", "Nguyễn", "Weiß", "Costa"]
CITIES = ["Zürich", "São Paulo", "Kraków", "Malmö", "Reykjavík", "Köln", "Montréal", "Łódź",
          "Genève", "Besançon", "Oslo", "Lisbon", "Brno", "Århus", "Sevilla", "Wien"]
WORDS = ["order", "shipped", "late", "invoice", "paid", "returned", "call", "back", "prefers",
         "email", "delivery", "window", "gift", "wrap", "discount", "applied", "customer", "asked"]


def records(n, rng):
    for i in range(1, n + 1):
        first = rng.choice(FIRST)
        last = rng.choice(LAST)
        email = f"{first.lower()}.{i}@example.com".encode("ascii", "ignore").decode()
        city = rng.choice(CITIES)
        date = f"{rng.randint(1990, 2026):04d}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        amount = f"{rng.randint(0, 99999)}.{rng.randint(0, 99):02d}"
        note = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 6)))
        quoted = i % 10 == 0
        if quoted:
            note = note + ", " + rng.choice(WORDS)
        yield [str(i), first, last, email, city, date, amount, note], quoted


def narrow(target, rng):
    """Records of 20 numbers of 1 to 8 digits, until target bytes."""
    size = 0
    while size < target:
        fields = [str(rng.randint(0, 10 ** rng.randint(1, 8) - 1)) for _ in range(20)]
        size += sum(len(f) for f in fields) + 19 + 2
        yield fields, False


def wide(target, rng):
    """Records of an id, a title, a quoted body of 1 to 4 KB with commas and line ends, and
    a date, until target bytes."""
    size, i = 0, 0
    while size < target:
        i += 1
        title = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 5)))
        want = rng.randint(1024, 4096)
        parts = []
        length = 0
        while length < want:
            sentence = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 12)))
            sentence += rng.choice([", ", ". ", ".\r\n", ", and "])
            parts.append(sentence)
            length += len(sentence)
        body = "".join(parts)[:want].rstrip()
        date = f"{rng.randint(1990, 2026):04d}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        fields = [str(i), title, body, date]
        size += sum(len(f) for f in fields) + 3 + 2 + 2
        yield fields, True


def write_pair(out, name, rows, quote_field, quote_tsv=True):
    """One shape as NAME.csv and NAME.tsv; quote_field is the index quoted when a row says
    (in the TSV twin too, unless quote_tsv is false)."""
    with open(os.path.join(out, name + ".csv"), "wb") as csv_f, \
         open(os.path.join(out, name + ".tsv"), "wb") as tsv_f:
        csv_lines, tsv_lines = [], []
        for fields, quoted in rows:
            shown = list(fields)
            if quoted:
                shown[quote_field] = '"' + fields[quote_field] + '"'
            csv_lines.append(",".join(shown))
            tsv_lines.append("\t".join(shown if quote_tsv else fields))
            if len(csv_lines) == 1000:
                csv_f.write(("\r\n".join(csv_lines) + "\r\n").encode())
                tsv_f.write(("\r\n".join(tsv_lines) + "\r\n").encode())
                csv_lines, tsv_lines = [], []
        if csv_lines:
            csv_f.write(("\r\n".join(csv_lines) + "\r\n").encode())
            tsv_f.write(("\r\n".join(tsv_lines) + "\r\n").encode())


def main():
    out = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    os.makedirs(out, exist_ok=True)
    target = n * 100  # about 100 MB at the default
    write_pair(out, "narrow", narrow(target, random.Random(20261209)), 0)
    write_pair(out, "wide", wide(target, random.Random(20261210)), 2)
    # The customers' TSV twin leaves its notes unquoted: a comma needs no quotes there.
    write_pair(out, "customers", records(n, random.Random(20261208)), 7, quote_tsv=False)

if __name__ == "__main__":
    main()
