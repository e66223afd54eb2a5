#!/usr/bin/env python3
"""Writes the benchmark's import files: one million customer records of eight fields
(id, first and last name with letters beyond ASCII, email, city, ISO date, amount, a note;
a tenth of the notes quoted with a comma inside), as CSV with CRLF line ends and as a
tab-separated twin. The same seed gives the same bytes on every machine.

Usage: bench_data.py OUT_DIR [RECORDS]"""
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


def main():
    out = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20261208)
    with open(os.path.join(out, "customers.csv"), "wb") as csv_f, \
         open(os.path.join(out, "customers.tsv"), "wb") as tsv_f:
        csv_lines, tsv_lines = [], []
        for fields, quoted in records(n, rng):
            csv_fields = list(fields)
            if quoted:
                csv_fields[7] = '"' + fields[7] + '"'
            csv_lines.append(",".join(csv_fields))
            tsv_lines.append("\t".join(fields))
            if len(csv_lines) == 10000:
                csv_f.write(("\r\n".join(csv_lines) + "\r\n").encode())
                tsv_f.write(("\r\n".join(tsv_lines) + "\r\n").encode())
                csv_lines, tsv_lines = [], []
        if csv_lines:
            csv_f.write(("\r\n".join(csv_lines) + "\r\n").encode())
            tsv_f.write(("\r\n".join(tsv_lines) + "\r\n").encode())


if __name__ == "__main__":
    main()
