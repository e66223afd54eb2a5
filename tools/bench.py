#!/usr/bin/env python3
"""Runs the import benchmark and prints one table (tools/bench.sh builds what it needs).

Every measurement runs in a process of its own, so its peak memory (VmHWM; the working
set's peak under Wine) is its own.
Figures: MB/s (10^6 bytes of the file per second), records/s, the ratio to libcsv and to the
memchr limit measured in the same run, and peak resident memory.

Usage: bench.py DATA_DIR BUILD_DIR [--wine WIN_BUILD_DIR] [--results FILE]"""
import argparse
import os
import re
import subprocess
import sys

PYTHON_CSV = r"""
import csv, resource, sys, time
delim = "\t" if sys.argv[2] == "tsv" else ","
t0 = time.perf_counter()
n = 0
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    for row in csv.reader(f, delimiter=delim):
        n += 1
dt = time.perf_counter() - t0
import os
peak = [int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("VmHWM:")][0]
print("python-csv", os.path.getsize(sys.argv[1]), n, "%.6f" % dt, peak)
"""


# Rounds of runs, the best run of each measurement kept (QM_BENCH_RUNS): on a shared machine
# single runs of one build move by a quarter or more, and five were too few to find its speed.
RUNS = int(os.environ.get("QM_BENCH_RUNS", "7"))


def warm(cmd):
    """Reads through every file a measurement names, so that each run reads the page cache, as
    the figures assume: a machine that reclaims idle pages (this kind pages out file pages left
    untouched for about a minute) would otherwise have a run read part of its file from the
    device."""
    for arg in cmd:
        if os.path.isfile(arg):
            with open(arg, "rb") as f:
                while f.read(1 << 20):
                    pass


MEASUREMENTS = []


def run(cmd, label, rounds=None, tool=False):
    """A measurement, measured later by measure_all into the row returned now, in the first
    `rounds` rounds (all of them by default). Its program prints its own figures as its last
    line; or, for the import tool, its summary of its read loop on standard error (output
    written to /dev/null), with its peak memory from the kernel's account of the child."""
    row = {"label": label, "cmd": cmd, "tool": tool, "rounds": rounds or RUNS}
    MEASUREMENTS.append(row)
    return row


TOOL_SUMMARY = re.compile(r"(\d+) record\(s\), (\d+) bytes in ([0-9.]+) s")


def once(row):
    """One run of a measurement: (bytes, records, seconds, peak KiB)."""
    cmd, label = row["cmd"], row["label"]
    warm(cmd)
    if not row["tool"]:
        out = subprocess.run(cmd, capture_output=True, text=True)
        if out.returncode != 0:
            sys.exit(f"bench: {label} failed ({out.returncode}): {out.stderr.strip()}")
        _, nbytes, records, seconds, peak = [
            l for l in out.stdout.splitlines() if l.strip()][-1].split()
        return int(nbytes), int(records), float(seconds), int(peak)
    with open(os.devnull, "wb") as sink:
        proc = subprocess.Popen(cmd, stdout=sink, stderr=subprocess.PIPE)
        err = proc.stderr.read().decode(errors="replace")
        _, status, usage = os.wait4(proc.pid, 0)
    m = TOOL_SUMMARY.search(err)
    if os.waitstatus_to_exitcode(status) != 0 or not m:
        sys.exit(f"bench: {label} failed ({os.waitstatus_to_exitcode(status)}): {err.strip()}")
    return int(m.group(2)), int(m.group(1)), float(m.group(3)), usage.ru_maxrss


def measure_all():
    """Every measurement once a round, RUNS rounds, the fastest run of each kept. A shared
    machine only ever makes a run slower, and its slow spells last seconds to minutes: in
    rounds a spell costs each measurement one run, where five runs in a row could all fall
    into it and skew the ratios between measurements taken minutes apart."""
    for n in range(RUNS):
        print(f"bench: round {n + 1} of {RUNS} ({len(MEASUREMENTS)} measurements)",
              file=sys.stderr, flush=True)
        for row in (r for r in MEASUREMENTS if r["rounds"] > n):
            nbytes, records, seconds, peak = once(row)
            if "seconds" not in row or seconds < row["seconds"]:
                row.update(bytes=nbytes, records=records, seconds=seconds, peak_kib=peak)


def table(title, rows, libcsv, limit):
    print(f"\n{title}")
    head = f"{'measurement':<44} {'MB/s':>8} {'records/s':>11} {'x libcsv':>9} {'x memchr':>9} {'peak MiB':>9}"
    print(head)
    print("-" * len(head))
    for r in rows:
        mbs = r["bytes"] / r["seconds"] / 1e6 if r["seconds"] > 0 else 0.0
        rps = r["records"] / r["seconds"] if r["seconds"] > 0 else 0.0
        r["mbs"], r["rps"] = mbs, rps
        vs_csv = f"{mbs / libcsv:9.2f}" if libcsv else f"{'-':>9}"
        vs_lim = f"{mbs / limit:9.3f}" if limit else f"{'-':>9}"
        print(f"{r['label']:<44} {mbs:8.1f} {rps:11.0f} {vs_csv} {vs_lim} {r['peak_kib'] / 1024:9.1f}")


def mbs(r):
    return r["bytes"] / r["seconds"] / 1e6


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("build")
    ap.add_argument("--wine", action="append", default=[],
                    help="a Windows build folder to measure under Wine (repeatable)")
    ap.add_argument("--results")
    a = ap.parse_args()
    csv_file = os.path.join(a.data, "customers.csv")
    tsv_file = os.path.join(a.data, "customers.tsv")
    slice_file = os.path.join(a.data, "customers-10mb.csv")
    bench = os.path.join(a.build, "bench", "quillomar-import-bench")
    peer = os.path.join(a.build, "bench", "quillomar-libcsv-peer")
    lib = os.path.join(a.build, "QuillomarU.so")

    def library(read, source, minimal, fmt="csv", path=None, quoting="", shape="customers",
                encoding=""):
        default = os.path.join(a.data, f"{shape}.{fmt}")
        cmd = [bench, "library", lib, path or default, "--source", source, "--read", read,
               "--shape", shape]
        if encoding:
            cmd += ["--encoding", encoding]
        if minimal:
            cmd.append("--minimal")
        if fmt == "tsv":
            cmd.append("--tsv")
        if quoting:
            cmd.append("--csv")
        host = "minimal host" if minimal else "stand-in host"
        name = "" if shape == "customers" else f"{shape}: "
        label = f"{name}{read} {source} {fmt}{' CSV quoting' if quoting else ''}"
        if path:  # the same records in another encoding
            label += f" {encoding or 'bytes'}"
        return run(cmd, f"{label}, {host}")

    rows = []
    limit = run([bench, "memchr", csv_file], "memchr limit (1 MiB reads) csv")
    libcsv = run([peer, csv_file], "libcsv csv") if os.path.exists(peer) else None
    rows += [limit] + ([libcsv] if libcsv else [])
    rows.append(run([sys.executable, "-c", PYTHON_CSV, csv_file, "csv"], "python csv.reader csv"))
    # The old design's cost, a thousandth of the rest: two runs place it well enough.
    rows.append(run([bench, "onebyte", slice_file], "one read() per byte (10 MB slice)", 2))
    for source in ("disk", "field", "clipboard"):
        rows.append(library("forwards", source, True))
        rows.append(library("backwards", source, True))
        rows.append(library("forwards", source, False))
    rows.append(library("backwards", "disk", False))
    # CSV quoting, in the same run as the default rule above.
    rows.append(library("forwards", "disk", True, quoting="CSV"))
    rows.append(library("backwards", "disk", True, quoting="CSV"))
    rows.append(library("forwards", "field", True, quoting="CSV"))
    rows.append(library("upto", "disk", True))
    rows.append(library("bytes", "disk", True))
    # The same records written in Windows-1252 (characters it lacks as "?"), read as bytes
    # as they stand and decoded by the code page's table: the decoding's cost.
    cp1252_file = os.path.join(a.data, "customers-cp1252.csv")
    if not os.path.exists(cp1252_file):
        with open(csv_file, encoding="utf-8", newline="") as f, \
                open(cp1252_file, "w", encoding="cp1252", errors="replace", newline="") as g:
            g.write(f.read())
    for encoding in ("", "Windows-1252"):
        rows.append(library("forwards", "disk", True, path=cp1252_file, encoding=encoding))
    for encoding in ("", "Windows-1252"):
        rows.append(library("backwards", "disk", True, path=cp1252_file, quoting="CSV",
                            encoding=encoding))
    # The same records in UTF-16 (a spreadsheet's "Unicode text": little-endian, its mark).
    utf16_file = os.path.join(a.data, "customers-utf16.csv")
    if not os.path.exists(utf16_file):
        with open(csv_file, encoding="utf-8", newline="") as f, \
                open(utf16_file, "w", encoding="utf-16", newline="") as g:
            g.write(f.read())
    rows.append(library("forwards", "disk", True, path=utf16_file, encoding="UTF-16"))
    rows.append(library("backwards", "disk", True, path=utf16_file, quoting="CSV",
                        encoding="UTF-16"))
    rows.append(run([bench, "memchr", tsv_file, "--tsv"], "memchr limit (1 MiB reads) tsv"))
    if os.path.exists(peer):
        rows.append(run([peer, tsv_file, "--tsv"], "libcsv tsv"))
    rows.append(run([sys.executable, "-c", PYTHON_CSV, tsv_file, "tsv"], "python csv.reader tsv"))
    rows.append(library("forwards", "disk", True, "tsv"))
    rows.append(library("backwards", "disk", True, "tsv"))
    # The import tool converting the file, against Python's csv.reader reading it (above).
    host_tool = os.path.join(a.build, "quillomar-host")
    fields = ["id:10:COMMA", "first:40:COMMA", "last:40:COMMA", "email:80:COMMA",
              "city:40:COMMA", "date:10:COMMA", "amount:12:COMMA", "note:400:CRLF"]
    for output in ("csv", "json"):
        cmd = [host_tool, "import", "--library", lib, "--strip-quotes", "--output", output]
        for f in fields:
            cmd += ["--field", f]
        rows.append(run(cmd + [csv_file], f"import tool --output {output} (disk), read loop",
                        tool=True))
    tables = [(f"Native ({os.path.getsize(csv_file) / 1e6:.0f} MB, 1,000,000 records)", rows,
               libcsv, limit)]

    # The two other shapes, each beside its own peers.
    for shape in ("narrow", "wide"):
        shape_csv = os.path.join(a.data, f"{shape}.csv")
        shape_tsv = os.path.join(a.data, f"{shape}.tsv")
        srows = [run([bench, "memchr", shape_csv], f"{shape}: memchr limit (1 MiB reads) csv")]
        s_libcsv = run([peer, shape_csv], f"{shape}: libcsv csv") if os.path.exists(peer) else None
        if s_libcsv:
            srows.append(s_libcsv)
        srows.append(run([sys.executable, "-c", PYTHON_CSV, shape_csv, "csv"],
                         f"{shape}: python csv.reader csv"))
        srows.append(library("forwards", "field", True, shape=shape))
        srows.append(library("forwards", "field", True, shape=shape, quoting="CSV"))
        srows.append(library("forwards", "disk", True, shape=shape))
        srows.append(library("forwards", "disk", True, shape=shape, quoting="CSV"))
        srows.append(library("backwards", "disk", True, shape=shape, quoting="CSV"))
        if os.path.exists(peer):
            srows.append(run([peer, shape_tsv, "--tsv"], f"{shape}: libcsv tsv"))
        srows.append(library("forwards", "field", True, "tsv", shape=shape))
        tables.append((f"Native, {shape} ({os.path.getsize(shape_csv) / 1e6:.0f} MB)", srows,
                       s_libcsv, srows[0]))

    native = next(r for r in rows if r["label"] == "forwards disk csv, minimal host")
    ratios = []  # (tag, the DLL's forward row): against the native row of the same run
    for wine_dir in a.wine:
        wexe = os.path.join(wine_dir, "bench", "quillomar-import-bench.exe")
        wlib = os.path.join(wine_dir, "QuillomarU.dll")
        tag = os.path.basename(wine_dir)
        wrap = [os.path.join(os.path.dirname(__file__), "wine-run.sh"), wexe]
        # The same file as the native rows, so that the ratio below compares like with like
        # (a slice weighs each run's fixed costs ten times as much); only the per-byte
        # baseline, at under a megabyte a second, reads the slice.
        wlimit = run(wrap + ["memchr", csv_file], f"{tag}: memchr limit (1 MiB reads)")
        wine_rows = [wlimit, run(wrap + ["onebyte", slice_file],
                                 f"{tag}: one ReadFile per byte (10 MB slice)", 2)]
        for read, minimal in (("forwards", True), ("backwards", True), ("forwards", False)):
            cmd = wrap + ["library", wlib, csv_file, "--source", "disk", "--read", read]
            if minimal:
                cmd.append("--minimal")
            host = "minimal host" if minimal else "stand-in host"
            wine_rows.append(run(cmd, f"{tag}: QuillomarU.dll {read} disk, {host}"))
        tables.append((f"Under Wine, {tag} ({os.path.getsize(csv_file) / 1e6:.0f} MB)",
                       wine_rows, None, wlimit))
        ratios.append((tag, wine_rows[2]))

    measure_all()
    for title, trows, peer_row, limit_row in tables:
        table(title, trows, mbs(peer_row) if peer_row else None, mbs(limit_row))
    for tag, forwards in ratios:
        print(f"{tag}: forwards disk, minimal host, at {mbs(forwards) / mbs(native):.2f} of the "
              f"native figure ({mbs(native):.0f} MB/s)")

    if a.results:
        with open(a.results, "w") as f:
            for _, trows, _, _ in tables:
                for r in trows:
                    f.write(f"\"{r['label']}\" {r['mbs']:.2f} {r['rps']:.0f} "
                            f"{r['peak_kib'] / 1024:.1f}\n")


if __name__ == "__main__":
    main()
