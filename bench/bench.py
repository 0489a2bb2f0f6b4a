#!/usr/bin/env python3
"""Whole-process benchmarks of resweaver.

Folder trees: resweaver against the floor, `find <html> -type f`, and Qt's `rcc -project` on the
same generated tree. Large .qrc files: a whole run against a bare RapidXml parse-and-print of
the same bytes. Each command runs several times; the table shows the median, the spread
(min-max) and the peak resident memory, as Markdown on standard output and in a file, with a
plot of time against the number of files.

Trees and files are made reproducibly from a seed in a temporary folder. Only the standard
library is used; the plot needs gnuplot.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WORDS = ["index", "guide", "page", "with space", "ünïcödé", "数据", "api", "class", "a&b", "it's"]
EXTENSIONS = [".html", ".html", ".html", ".css", ".js", ".png", ".svg", ".json"]
SMALL_QRC = b"<RCC>\n    <qresource prefix=\"/other\">\n        <file>x.txt</file>\n" \
            b"    </qresource>\n</RCC>\n"


def make_tree(html, files, seed):
    """About 20 files a folder, folders up to 5 deep, one link in 500 entries."""
    rng = random.Random(seed)
    folders = [(html, 0)]
    os.makedirs(html)
    while len(folders) * 20 < files:
        parent, depth = rng.choice([f for f in folders if f[1] < 5])
        path = os.path.join(parent, f"{rng.choice(WORDS)}-{len(folders)}")
        os.mkdir(path)
        folders.append((path, depth + 1))
    made = []
    for i in range(files):
        folder = rng.choice(folders)[0]
        path = os.path.join(folder, f"{rng.choice(WORDS)}-{i}{rng.choice(EXTENSIONS)}")
        if made and i % 500 == 499:
            os.symlink(rng.choice(made), path)
        else:
            os.close(os.open(path, os.O_CREAT | os.O_WRONLY, 0o644))
            made.append(path)


def make_qrc(path, size, seed):
    """A .qrc of about size bytes: groups of file entries, aliases, comments, indentation."""
    rng = random.Random(seed)
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE RCC>\n<RCC version="1.0">\n']
    written = len(parts[0])
    group = 0
    while written < size:
        lines = [f'    <!-- group {group} -->\n    <qresource prefix="/g{group}" lang="en">\n']
        for i in range(20):
            name = f"{rng.choice(WORDS)}/{rng.choice(WORDS)}-{i}{rng.choice(EXTENSIONS)}"
            name = name.replace("&", "&amp;")
            if i % 7 == 0:
                lines.append(f'        <file alias="a{i}">html/{name}</file>\n')
            else:
                lines.append(f"        <file>html/{name}</file>\n")
        lines.append("    </qresource>\n")
        chunk = "".join(lines)
        parts.append(chunk)
        written += len(chunk.encode())
        group += 1
    parts.append("</RCC>\n")
    with open(path, "w", encoding="utf-8") as out:
        out.write("".join(parts))


def measure(command, runs, cwd=None, reset=None, must_succeed=True):
    """Runs command several times; returns the times in seconds and the peak RSS in bytes.
    With must_succeed false, a failing exit status is expected (a refused document).

    GNU time reads the peak: a child of this (much larger) Python process would report
    Python's own peak, which a fork hands down to the child."""
    times, peaks = [], []
    with tempfile.NamedTemporaryFile("r") as usage:
        for _ in range(runs):
            if reset:
                reset()
            start = time.perf_counter()
            done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", usage.name] + command,
                                  cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            times.append(time.perf_counter() - start)
            if must_succeed and done.returncode != 0:
                sys.exit(f"{' '.join(command)} failed ({done.returncode}): {done.stderr}")
            usage.seek(0)
            peaks.append(int(usage.read().split()[-1]) * 1024)
    return times, max(peaks)


def millis(seconds):
    return f"{seconds * 1000:.1f}"


def row(name, times, peak, floor=None):
    median = statistics.median(times)
    ratio = f"{median / floor:.2f}" if floor else ""
    return (f"| {name} | {millis(median)} | {millis(min(times))}-{millis(max(times))} | {ratio} "
            f"| {peak / 2**20:.1f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--resweaver", required=True)
    parser.add_argument("--parse-print", required=True)
    parser.add_argument("--rcc", default="/usr/lib/qt5/bin/rcc")
    parser.add_argument("--files", default="1000,10000,100000,1000000")
    parser.add_argument("--qrc-mb", default="1,10,100")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--out", default="build/bench")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    rcc = args.rcc if os.access(args.rcc, os.X_OK) else None
    work = tempfile.mkdtemp(prefix="resweaver-bench-")
    report = [f"Machine: {os.cpu_count()} cores; {args.runs} runs each; times in ms; "
              f"peak RSS in MiB; ratio to the floor (find, or the bare parse-and-print).", ""]
    plot = []
    try:
        report += ["| files | command | median | spread | ratio | peak RSS |",
                   "|---|---|---|---|---|---|"]
        rss = {}
        for files in [int(n) for n in args.files.split(",")]:
            root = os.path.join(work, f"tree-{files}")
            html = os.path.join(root, "html")
            print(f"making a tree of {files} files", file=sys.stderr)
            make_tree(html, files, args.seed)
            qrc = os.path.join(root, "app.qrc")

            def reset_qrc():
                with open(qrc, "wb") as out:
                    out.write(SMALL_QRC)

            runs = args.runs if files < 1000000 else max(3, args.runs // 2)
            found, found_peak = measure(["find", html, "-type", "f"], runs)
            mine, mine_peak = measure([args.resweaver, root, "app", "html", "/"], runs,
                                      reset=reset_qrc)
            rss[files] = mine_peak
            floor = statistics.median(found)
            report.append(f"| {files} |" + row("resweaver", mine, mine_peak, floor)[1:])
            report.append(f"| {files} |" + row("find -type f", found, found_peak, floor)[1:])
            point = [files, statistics.median(mine), floor]
            if rcc:
                theirs, theirs_peak = measure(
                    [rcc, "-project", "-o", os.path.join(root, "rcc.qrc")], runs, cwd=html)
                report.append(f"| {files} |" + row("rcc -project", theirs, theirs_peak, floor)[1:])
                point.append(statistics.median(theirs))
            plot.append(point)
            shutil.rmtree(root)
        sizes = sorted(rss)
        if len(sizes) > 1:
            per_entry = (rss[sizes[-1]] - rss[sizes[0]]) / (sizes[-1] - sizes[0])
            report += ["", f"resweaver's peak memory grows by {per_entry:.0f} bytes per entry "
                       f"({sizes[0]} to {sizes[-1]} files)."]

        report += ["", "| .qrc | command | median | spread | ratio | peak RSS | RSS / size |",
                   "|---|---|---|---|---|---|---|"]
        for megabytes in [int(n) for n in args.qrc_mb.split(",")]:
            root = os.path.join(work, f"qrc-{megabytes}")
            os.makedirs(os.path.join(root, "html"))
            source = os.path.join(root, "source.qrc")
            make_qrc(source, megabytes << 20, args.seed)
            size = os.path.getsize(source)
            qrc = os.path.join(root, "app.qrc")

            def reset_copy():
                shutil.copyfile(source, qrc)

            bare, bare_peak = measure([args.parse_print, source, os.path.join(root, "out.qrc")],
                                      args.runs)
            mine, mine_peak = measure([args.resweaver, root, "app", "html", "/new"], args.runs,
                                      reset=reset_copy)
            floor = statistics.median(bare)
            for name, times, peak in [("resweaver", mine, mine_peak),
                                      ("parse and print", bare, bare_peak)]:
                report.append(f"| {megabytes} MB |" + row(name, times, peak, floor)[1:] +
                              f" {peak / size:.2f} |")
            shutil.rmtree(root)
        # Hostile shapes at two sizes each: the time must grow linearly with the size, and the
        # memory stay a small multiple of it.
        report += ["", "| shape | size | median | spread | peak RSS | RSS / size |",
                   "|---|---|---|---|---|---|"]
        shapes = [
            ("nesting (refused)", lambda n: "<a>" * n, [100000, 1000000]),
            ("one attribute value", lambda n: "<RCC a='" + "v" * n + "'/>", [5 << 20, 50 << 20]),
            ("sibling elements", lambda n: "<RCC>" + "<file>x</file>" * n + "</RCC>",
             [100000, 1000000]),
        ]
        root = os.path.join(work, "shapes")
        os.makedirs(os.path.join(root, "html"))
        qrc = os.path.join(root, "app.qrc")
        for name, make, counts in shapes:
            for count in counts:
                text = make(count).encode()
                source = os.path.join(root, "source.qrc")
                with open(source, "wb") as out:
                    out.write(text)

                def reset_shape():
                    shutil.copyfile(source, qrc)

                times, peak = measure([args.resweaver, root, "app", "html", "/"], args.runs,
                                      reset=reset_shape, must_succeed=False)
                report.append(f"| {name} | {len(text) / 2**20:.1f} MiB | "
                              f"{millis(statistics.median(times))} | "
                              f"{millis(min(times))}-{millis(max(times))} | "
                              f"{peak / 2**20:.1f} | {peak / len(text):.2f} |")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    text = "\n".join(report) + "\n"
    print(text)
    with open(os.path.join(args.out, "results.md"), "w", encoding="utf-8") as out:
        out.write(text)
    if plot and shutil.which("gnuplot"):
        data = os.path.join(args.out, "times.dat")
        with open(data, "w", encoding="utf-8") as out:
            for point in plot:
                out.write(" ".join(str(v) for v in point) + "\n")
        png = os.path.join(args.out, "time-vs-files.png")
        lines = [f"'{data}' using 1:($2*1000) with linespoints title 'resweaver'",
                 f"'{data}' using 1:($3*1000) with linespoints title 'find -type f'"]
        if rcc:
            lines.append(f"'{data}' using 1:($4*1000) with linespoints title 'rcc -project'")
        script = "\n".join([
            "set terminal png size 800,560", f"set output '{png}'", "set logscale xy",
            "set xlabel 'files in the HTML folder'", "set ylabel 'wall time (ms, median)'",
            "set key top left", "set grid", "plot " + ", ".join(lines)])
        subprocess.run(["gnuplot"], input=script.encode(), check=True)
        print(f"plot: {png}", file=sys.stderr)


if __name__ == "__main__":
    main()
