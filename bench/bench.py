#!/usr/bin/env python3
"""Whole-process benchmarks of resweaver.

Folder trees: resweaver's writing run, its no-op run (the .qrc already up to date) and, when the
binary takes options, its --sort run, side by side with the floor (bench/floor.c: a C walk with
getdents64 that prints the same document into one buffer and writes it once), `find <html>
-type f` and Qt 5's `rcc -project` on the same generated tree. The floor's output is checked to be
byte for byte the tool's before anything is timed. At 100,000 files, the cost of flushing the
.qrc to disk: the same writing run with fsync() turned into a no-op by eatmydata (a preload, so
with a build that the dynamic loader starts). At 10 and 10,000 files, other builds of the tool
(libc shared, as a Debian package takes it; the C++ runtime shared too).

Large .qrc files: a whole run against a bare RapidXml parse-and-print of the same bytes. Hostile
document shapes at two sizes each.

Every time is a whole process, started and reaped by bench/measure.c, which also reads its peak
memory (what GNU time reports as %M). The commands of one tree run in rounds, one run of each
command a round in a rotating order, after one warm-up run each; before every run, sync() leaves
nothing dirty for it to flush. The tables show the median, the spread (min-max), the median of the
per-round ratios and the highest peak. Trees and files are made
reproducibly from a seed in a temporary folder. Only the standard library is used; the plot needs
gnuplot, the flush cost eatmydata and the instruction counts valgrind.
"""

import argparse
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WORDS = ["index", "guide", "page", "with space", "ünïcödé", "数据", "api", "class", "a&b", "it's"]
EXTENSIONS = [".html", ".html", ".html", ".css", ".js", ".png", ".svg", ".json"]
# Letters of 2, 3 and 4 bytes in UTF-8 for the long names, and a space.
LONG_LETTERS = ("αβγδεζηθλμνξπρσφψωабвгдежзиклмнопрстуфхцчшщюя"
                "数据文件页面样式脚本图像资源网络设计说明ひらがなカタカナ한국어"
                "😀🚀🌍🎉 ")
SMALL_QRC = b"<RCC>\n    <qresource prefix=\"/other\">\n        <file>x.txt</file>\n" \
            b"    </qresource>\n</RCC>\n"
EATMYDATA = "libeatmydata.so"

# The trees: name -> (files, shape). "nested": about 20 files a folder, up to 5 deep; "flat": all
# files in the HTML folder; "utf8": nested, with long names of multi-byte letters.
TREES = {
    "10": (10, "nested"),
    "10000": (10000, "nested"),
    "100000": (100000, "nested"),
    "1000000": (1000000, "nested"),
    "flat-100000": (100000, "flat"),
    "utf8-100000": (100000, "utf8"),
}
# Rounds when --runs is not given: enough for a stable median, within about a minute a tree.
DEFAULT_ROUNDS = {10: 51, 10000: 31, 100000: 21, 1000000: 9}
FLUSH_TREE = "100000"
# Linux counts a process's resident pages per CPU and adds them to the total in batches of 32, so
# a peak (ru_maxrss) comes in steps of 128 KiB: two peaks closer than that are equal.
PEAK_RESOLUTION = 32 * 4096
LINKING_TREES = ["10", "10000"]
# The walk with readdir() against getdents64() where the listing's cost shows.
WALK_TREES = ["100000", "1000000"]

# What the tool is held to: writing run / floor for a tree; no-op / writing and --sort / writing.
FLOOR_TARGETS = {"10": 1.1, "100000": 1.5, "1000000": 1.8, "flat-100000": 1.5,
                 "utf8-100000": 1.5}
NOOP_TARGET = 1.05
SORT_TARGET = 1.2
SORT_TARGET_TREE = "100000"
PEAK_TARGET_MIB = {"1000000": 100}


def word_name(rng, index):
    word = rng.choice(WORDS)
    return f"{word}-{index}{rng.choice(EXTENSIONS)}"


def long_name(rng, index, extension, low, high):
    """A name of low to high bytes of multi-byte letters, then -index and the extension."""
    wanted = rng.randint(low, high)
    letters = []
    size = 0
    while True:
        letter = rng.choice(LONG_LETTERS)
        if size + len(letter.encode()) > wanted:
            break
        letters.append(letter)
        size += len(letter.encode())
    return "".join(letters).strip() + f"-{index}{extension}"


def make_tree(html, files, seed, shape="nested"):
    """About 20 files a folder, folders up to 5 deep (none with shape "flat"), one link in 500
    entries. The first three links are the odd ones: to a file outside the HTML folder, dangling,
    and to a folder (which the scan neither lists nor enters)."""
    rng = random.Random(seed)
    folders = [(html, 0)]
    shallow = [(html, 0)]  # the folders less than 5 deep, in the order they were made
    os.makedirs(html)
    outside = os.path.join(os.path.dirname(html), "outside", "linked.html")
    os.makedirs(os.path.dirname(outside))
    os.close(os.open(outside, os.O_CREAT | os.O_WRONLY, 0o644))
    while shape != "flat" and len(folders) * 20 < files:
        parent, depth = rng.choice(shallow)
        if shape == "utf8":
            name = long_name(rng, len(folders), "", 20, 40)
        else:
            name = f"{rng.choice(WORDS)}-{len(folders)}"
        path = os.path.join(parent, name)
        os.mkdir(path)
        folders.append((path, depth + 1))
        if depth + 1 < 5:
            shallow.append((path, depth + 1))
    made = []
    links = 0
    for i in range(files):
        folder = rng.choice(folders)[0]
        if shape == "utf8":
            name = long_name(rng, i, rng.choice(EXTENSIONS), 60, 100)
        else:
            name = word_name(rng, i)
        path = os.path.join(folder, name)
        if made and i % 500 == 499:
            target = rng.choice(made)
            if links == 0:
                target = outside
            elif links == 1:
                target = path + ".missing"
            elif links == 2:
                # The last folder made has no folders below it, so the link never points at one
                # of its own parents (rcc follows links to folders).
                target = folders[-1][0] if folder != folders[-1][0] else outside
            links += 1
            os.symlink(target, path)
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


def unescaped(line):
    """The text of a printed <file> line."""
    text = line.strip()[len(b"<file>"):-len(b"</file>")]
    for reference, byte in [(b"&lt;", b"<"), (b"&gt;", b">"), (b"&quot;", b'"'),
                            (b"&apos;", b"'"), (b"&amp;", b"&")]:
        text = text.replace(reference, byte)
    return text


def write_bytes(path, data):
    with open(path, "wb") as out:
        out.write(data)


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


class Command:
    """One command of a benchmark: its name, its arguments, where it runs, variables for it
    alone, what to do before each run, and the exit statuses it may end with."""

    def __init__(self, name, argv, cwd=None, env=(), before=None, after=None, ok=(0,)):
        self.name, self.argv, self.cwd, self.env = name, argv, cwd, list(env)
        self.before, self.after, self.ok = before, after, ok
        self.times, self.peaks, self.statuses = [], [], []


def busy_ticks():
    """The machine's busy CPU time so far, in clock ticks, from /proc/stat."""
    with open("/proc/stat", encoding="utf-8") as stat:
        fields = [int(f) for f in stat.readline().split()[1:]]
    return sum(fields) - fields[3] - fields[4]  # all but idle and iowait


class Runner:
    def __init__(self, measure):
        self.measure = measure
        self.others = {}  # label -> share of the machine that other processes used

    def once(self, command, record=True):
        if command.before:
            command.before()
        # Every run starts with nothing waiting to be written back, so that no run pays for the
        # files that the previous one (or a reset) left dirty.
        os.sync()
        flags = []
        for variable in command.env:
            flags += ["-e", variable]
        done = subprocess.run([self.measure] + flags + command.argv, cwd=command.cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        fields = done.stdout.split()
        if done.returncode != 0 or len(fields) != 3:
            sys.exit(f"measure failed on {command.argv}: {done.stderr.decode(errors='replace')}")
        nanoseconds, kib, status = (int(f) for f in fields)
        if status not in command.ok:
            # Once more, to show what the command said.
            again = subprocess.run(command.argv, cwd=command.cwd, capture_output=True,
                                   check=False)
            sys.exit(f"{command.name}: {' '.join(command.argv)} exited with {status}: "
                     f"{again.stdout.decode(errors='replace')[:2000]}"
                     f"{again.stderr.decode(errors='replace')[:2000]}")
        if command.after:
            command.after()
        if record:
            command.times.append(nanoseconds / 1e9)
            command.peaks.append(kib * 1024)
            command.statuses.append(status)

    def rounds(self, commands, rounds, label):
        """One warm-up run of each command, then rounds in which each command runs once, the
        order turning by one place each round so that no command always follows the same one."""
        for command in commands:
            self.once(command, record=False)
        started = time.monotonic()
        ticks, own = busy_ticks(), sum(os.times()[:4])
        for index in range(rounds):
            turn = index % len(commands)
            for command in commands[turn:] + commands[:turn]:
                self.once(command)
            if sys.stderr.isatty():
                print(f"  {label}: round {index + 1}/{rounds} "
                      f"({time.monotonic() - started:.0f} s)", file=sys.stderr, end="\r")
        wall = time.monotonic() - started
        # Whatever else kept the processors busy meanwhile (this process and the commands it ran
        # aside) skews the times: a share of the machine's capacity.
        other = ((busy_ticks() - ticks) / os.sysconf("SC_CLK_TCK") -
                 (sum(os.times()[:4]) - own)) / (wall * os.cpu_count())
        self.others[label] = max(0.0, other)
        print(f"  {label}: {rounds} rounds in {wall:.0f} s, other work "
              f"{100 * self.others[label]:.0f}%", file=sys.stderr)


def median(values):
    return statistics.median(values)


def paired(numerator, denominator):
    """The median of the per-round ratios of two commands that ran in the same rounds."""
    if numerator is None or denominator is None:
        return None
    return median([a / b for a, b in zip(numerator.times, denominator.times)])


def millis(seconds):
    return f"{seconds * 1000:.1f}" if seconds < 10 else f"{seconds * 1000:.0f}"


def mib(size):
    return f"{size / 2**20:.1f}"


def ratio(value):
    return "" if value is None else f"{value:.2f}"


def machine_lines(work, tool):
    model = "unknown"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    fstype = subprocess.run(["df", "--output=fstype", work], capture_output=True, text=True,
                            check=False).stdout.split()[-1:] or ["unknown"]
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    head = subprocess.run(["git", "-C", repo, "log", "-1", "--format=%h %s"], capture_output=True,
                          text=True, check=False).stdout.strip() or "unknown"
    changed = subprocess.run(["git", "-C", repo, "status", "--porcelain", "--", "src"],
                             capture_output=True, text=True, check=False).stdout.strip()
    built = time.strftime("%Y-%m-%d %H:%M", time.localtime(os.path.getmtime(tool)))
    return [
        f"Machine: {os.cpu_count()} cores, {model}, {memory / 2**30:.0f} GiB, Linux "
        f"{platform.release()}; trees in {work} on {fstype[0]}.",
        f"Tool: built {built} from {head}"
        + (" with uncommitted changes in src/." if changed else "."),
    ]


def load_average():
    with open("/proc/loadavg", encoding="utf-8") as load:
        return " ".join(load.read().split()[:3])


def summary_mark(value, limit):
    if value is None:
        return ""
    return "met" if value <= limit else "**missed**"


def bench_trees(args, runner, work, tool, options, report, plot):
    names = [n for n in args.trees.split(",") if n]
    for name in names:
        if name not in TREES:
            sys.exit(f"unknown tree {name}; known: {', '.join(TREES)}")
    results = {}
    flush_rows = []
    linking_rows = []
    walk_rows = []
    for name in names:
        files, shape = TREES[name]
        root = os.path.join(work, f"tree-{name}")
        html = os.path.join(root, "html")
        print(f"tree {name}: making {files} files ({shape})", file=sys.stderr)
        make_tree(html, files, args.seed, shape)

        def qrc(rcname):
            return os.path.join(root, rcname + ".qrc")

        def resetter(rcname):
            return lambda: write_bytes(qrc(rcname), SMALL_QRC)

        # The reference output, and the floor held to it byte for byte.
        write_bytes(qrc("check"), SMALL_QRC)
        done = subprocess.run([tool, root, "check", "html", "/"], capture_output=True,
                              check=False)
        if done.returncode != 0:
            sys.exit(f"resweaver failed on tree {name}: {done.stdout.decode(errors='replace')}")
        expected = read_bytes(qrc("check"))
        write_bytes(qrc("check"), SMALL_QRC)
        done = subprocess.run([args.floor, root, "check", "html", "/"], capture_output=True,
                              check=False)
        if done.returncode != 0:
            sys.exit(f"the floor failed on tree {name}: {done.stderr.decode(errors='replace')}")
        floor_out = read_bytes(qrc("check"))
        if floor_out != expected:
            mine, theirs = expected.split(b"\n"), floor_out.split(b"\n")
            line = next((i for i, (a, b) in enumerate(zip(mine, theirs)) if a != b),
                        min(len(mine), len(theirs)))
            sys.exit(f"FLOOR CHECK FAILED on tree {name}: the floor's output differs from "
                     f"resweaver's at line {line + 1}:\n  resweaver: "
                     f"{mine[line] if line < len(mine) else b'(end)'!r}\n  floor:     "
                     f"{theirs[line] if line < len(theirs) else b'(end)'!r}\n"
                     f"({len(expected)} bytes against {len(floor_out)})")
        entries = expected.count(b"<file>") - 1
        print(f"tree {name}: {entries} entries, {len(expected)} bytes; the floor's output is "
              f"resweaver's", file=sys.stderr)

        # The no-op run's .qrc holds the tool's output already; a run that rewrites it anyway is
        # caught by its modification time.
        write_bytes(qrc("noop"), expected)
        noop_stamp = os.stat(qrc("noop")).st_mtime_ns
        noop_wrote = []

        def noop_after():
            if os.stat(qrc("noop")).st_mtime_ns != noop_stamp:
                noop_wrote.append(True)
                write_bytes(qrc("noop"), expected)

        sort_note = ""
        if options:
            write_bytes(qrc("sorted"), SMALL_QRC)
            done = subprocess.run([tool, "--sort", root, "sorted", "html", "/"],
                                  capture_output=True, check=False)
            if done.returncode != 0:
                sys.exit(f"resweaver --sort failed on tree {name}: "
                         f"{done.stdout.decode(errors='replace')}")
            sorted_lines = read_bytes(qrc("sorted")).split(b"\n")
            plain_lines = expected.split(b"\n")
            texts = [unescaped(line) for line in sorted_lines if line.startswith(b"\t\t<file>")]
            if sorted(sorted_lines) != sorted(plain_lines):
                sort_note = "--sort lists other entries than the plain run"
            elif texts[1:] != sorted(texts[1:], key=lambda text: text.split(b"/")):
                sort_note = "--sort's order is not name by name, bytewise"

        writing = Command("resweaver (writing)", [tool, root, "app", "html", "/"],
                          before=resetter("app"))
        noop = Command("resweaver (no-op)", [tool, root, "noop", "html", "/"], after=noop_after)
        floor = Command("floor", [args.floor, root, "floor", "html", "/"],
                        before=resetter("floor"))
        durable = Command("floor, durable save (-s)",
                          [args.floor, "-s", root, "durable", "html", "/"],
                          before=resetter("durable"))
        find = Command("find -type f", ["find", html, "-type", "f"])
        commands = [writing, noop, floor, durable, find]
        sort = None
        if options:
            sort = Command("resweaver --sort (writing)",
                           [tool, "--sort", root, "sorted", "html", "/"], before=resetter("sorted"))
            commands.insert(2, sort)
        rcc = None
        if args.rcc:
            rcc = Command("rcc -project", [args.rcc, "-project", "-o", qrc("rcc")], cwd=html)
            commands.append(rcc)
        flush = []
        if name == FLUSH_TREE and args.eatmydata and args.flush_build:
            # eatmydata is a preload: it needs a build that the dynamic loader starts.
            preload = [f"LD_PRELOAD={args.eatmydata}"]
            build = args.flush_build
            flush = [
                Command("writing", [build] + writing.argv[1:], before=resetter("app")),
                Command("writing, eatmydata", [build] + writing.argv[1:], env=preload,
                        before=resetter("app")),
                Command("no-op", [build] + noop.argv[1:], after=noop_after),
                Command("no-op, eatmydata", [build] + noop.argv[1:], env=preload,
                        after=noop_after),
            ]
            commands += flush
        rounds = args.runs or DEFAULT_ROUNDS[files]
        runner.rounds(commands, rounds, f"tree {name}")

        for command in [writing, noop, sort, floor, durable, find, rcc]:
            if command is None:
                continue
            report_row = (f"| {name} | {command.name} | {millis(median(command.times))} | "
                          f"{millis(min(command.times))}-{millis(max(command.times))} | "
                          f"{ratio(paired(command, floor))} | {ratio(paired(command, find))} | "
                          f"{ratio(paired(command, rcc))} | {mib(max(command.peaks))} |")
            results.setdefault(name, {"rows": []})["rows"].append(report_row)
        results[name].update(writing=writing, noop=noop, sort=sort, floor=floor,
                             durable=durable, find=find,
                             rcc=rcc, noop_wrote=bool(noop_wrote), sort_note=sort_note,
                             entries=entries, size=len(expected), files=files, shape=shape)
        if shape == "nested":
            plot.append([files, median(writing.times), median(floor.times), median(find.times)] +
                        ([median(rcc.times)] if rcc else []))
        if flush:
            flush_writing, eaten, flush_noop, noop_eaten = flush
            flush_rows = [
                (flush_writing, "the writing run"),
                (eaten, "the writing run, fsync() a no-op (eatmydata)"),
                (flush_noop, "the no-op run"),
                (noop_eaten, "the no-op run under eatmydata (the preload's own cost)"),
                (floor, "the floor"),
                (durable, "the floor with a durable save (temporary file, fsync, rename, "
                          "fsync of the folder)"),
            ]
            results[name]["flush"] = (flush_writing, eaten, flush_noop, noop_eaten, floor,
                                      durable)
        if name in LINKING_TREES and args.variant:
            linking_rows += bench_linking(args, runner, root, name, files, tool, resetter)
        if name in WALK_TREES and args.walk_variant:
            walk_rows += bench_walk(args, runner, root, name, files, tool, resetter)
        shutil.rmtree(root)

    if not results:
        return
    report += [
        "## Folder trees", "",
        "Medians of whole-process runs; the ratios are medians of the per-round ratios. A "
        "writing run starts from the small .qrc; a no-op run finds the .qrc already up to date.",
        "",
        "| tree | command | median ms | spread ms | / floor | / find | / rcc | peak MiB |",
        "|---|---|---|---|---|---|---|---|"]
    for name in names:
        report += results[name]["rows"]
    report += [
        "", "Trees: `10` to `1000000` about 20 files a folder, up to 5 deep, one link in 500 "
        "entries, names with spaces, `&`, `'` and non-ASCII letters; `flat-100000` all in the "
        "HTML folder; `utf8-100000` nested, names of 60 to 100 bytes (folders 20 to 40) of "
        "2- to 4-byte letters.", ""]

    report += [
        "## Against the targets", "",
        "| tree | entries | .qrc bytes | writing / floor | target | writing / durable floor | "
        "no-op / writing | --sort / writing | peak MiB: writing / no-op / floor | other work |",
        "|---|---|---|---|---|---|---|---|---|---|"]
    notes = []
    for name in names:
        r = results[name]
        writing, noop, sort, floor = r["writing"], r["noop"], r["sort"], r["floor"]
        to_floor = paired(writing, floor)
        limit = FLOOR_TARGETS.get(name)
        target = f"≤ {limit} ({summary_mark(to_floor, limit)})" if limit else ""
        noop_ratio = paired(noop, writing)
        noop_cell = f"{ratio(noop_ratio)} ({summary_mark(noop_ratio, NOOP_TARGET)})"
        if median(noop.peaks) > median(writing.peaks) + peak_resolution(writing):
            noop_cell += ", more memory"
        sort_ratio = paired(sort, writing)
        sort_cell = ratio(sort_ratio) if sort else "no options"
        if sort and name == SORT_TARGET_TREE:
            sort_cell += f" ({summary_mark(sort_ratio, SORT_TARGET)})"
        peak_cell = f"{mib(max(writing.peaks))} / {mib(max(noop.peaks))} / {mib(max(floor.peaks))}"
        if name in PEAK_TARGET_MIB:
            peak_cell += (f" (≤ {PEAK_TARGET_MIB[name]} MiB: "
                          f"{summary_mark(max(writing.peaks) / 2**20, PEAK_TARGET_MIB[name])})")
        report.append(f"| {name} | {r['entries']} | {r['size']} | {ratio(to_floor)} | {target} | "
                      f"{ratio(paired(writing, r['durable']))} | {noop_cell} | {sort_cell} | "
                      f"{peak_cell} | {100 * runner.others.get(f'tree {name}', 0):.0f}% |")
        if r["noop_wrote"]:
            notes.append(f"tree {name}: the no-op run rewrote the .qrc (its modification time "
                         "changed).")
        if r["sort_note"]:
            notes.append(f"tree {name}: {r['sort_note']}.")
    report += [""] + ([f"- {note}" for note in notes] + [""] if notes else [])
    report += [f"Targets: no-op ≤ {NOOP_TARGET} × the writing run, with no more memory (median "
               f"peaks, equal within 1% or {PEAK_RESOLUTION >> 10} KiB, which is as exact as "
               "Linux reports a peak: it adds up a process's pages in batches of 32); "
               f"--sort ≤ {SORT_TARGET} × the writing run at "
               f"{SORT_TARGET_TREE} files. The durable floor saves as a careful tool does "
               "(temporary file, fsync, rename, fsync of the folder); the plain floor writes the "
               ".qrc in place and leaves the flush to the kernel. Other work: the share of the "
               "machine that other processes kept busy during the tree's rounds (sync's writeback "
               "included); above a few percent, the times are skewed.", ""]
    nested = sorted((r["files"], max(r["writing"].peaks)) for r in results.values()
                    if r["shape"] == "nested")
    if len(nested) > 1 and nested[-1][0] > nested[0][0]:
        per_entry = (nested[-1][1] - nested[0][1]) / (nested[-1][0] - nested[0][0])
        report += [f"resweaver's peak memory grows by {per_entry:.0f} bytes per file "
                   f"({nested[0][0]} to {nested[-1][0]} files, writing run).", ""]

    if flush_rows:
        writing, eaten, noop, noop_eaten, floor, floor_durable = results[FLUSH_TREE]["flush"]
        report += [
            f"## Flushing the .qrc ({FLUSH_TREE} files)", "",
            "The same runs in the same rounds; eatmydata (an LD_PRELOAD) makes fsync() and its "
            "kin return at once. "
            + ("The runs are the tool's own. " if args.flush_build == tool else
               f"A preload needs the dynamic loader, which the tool does without: the runs are "
               f"those of `{args.flush_build_name}`, the same sources with libc shared. "), "",
            "| run | median ms | spread ms | / no-op run | peak MiB |", "|---|---|---|---|---|"]
        for command, label in flush_rows:
            report.append(f"| {label} | {millis(median(command.times))} | "
                          f"{millis(min(command.times))}-{millis(max(command.times))} | "
                          f"{ratio(paired(command, noop))} | {mib(max(command.peaks))} |")
        cost = [a - b for a, b in zip(writing.times, eaten.times)]
        preload = [a - b for a, b in zip(noop_eaten.times, noop.times)]
        floor_cost = [a - b for a, b in zip(floor_durable.times, floor.times)]
        report += ["", f"The flush costs the writing run {millis(median(cost))} ms (median of the "
                       f"per-round differences; {100 * median(cost) / median(writing.times):.0f}% "
                       f"of the run); loading eatmydata itself costs {millis(median(preload))} ms. "
                       f"A durable save costs the floor {millis(median(floor_cost))} ms.", ""]
    if linking_rows:
        report += [
            "## Linking", "",
            "Writing runs of the same sources built three ways, in the same rounds: the default "
            "build (everything linked in), libc shared (as a Debian package takes it) and the C++ "
            "runtime shared too. Instructions are valgrind's count for one run (start-up, the "
            "dynamic loader and exit included).",
            "", "| tree | build | binary KiB | median ms | spread ms | / default | peak MiB | "
                "instructions |", "|---|---|---|---|---|---|---|---|"]
        report += linking_rows + [""]
    if walk_rows:
        report += [
            "## The walk", "",
            "Writing runs of the default build, which lists folders with getdents64() on Linux, "
            "and of a build that lists them with readdir(), as every POSIX system can, in the "
            "same rounds.",
            "", "| tree | build | median ms | spread ms | / default |", "|---|---|---|---|---|"]
        report += walk_rows + [""]


def peak_resolution(command):
    """How far two peaks of a command's size may lie apart and still count as equal."""
    return max(median(command.peaks) * 0.01, PEAK_RESOLUTION)


def has_loader(binary):
    """Whether an ELF binary names a dynamic loader (a PT_INTERP program header)."""
    with open(binary, "rb") as file:
        header = file.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            return False
        offset = int.from_bytes(header[0x20:0x28], "little")
        size = int.from_bytes(header[0x36:0x38], "little")
        count = int.from_bytes(header[0x38:0x3a], "little")
        file.seek(offset)
        table = file.read(size * count)
    return any(int.from_bytes(table[i * size:i * size + 4], "little") == 3 for i in range(count))


def instructions(argv, before):
    """valgrind's count of the instructions one run executes, or None without valgrind."""
    if not shutil.which("valgrind"):
        return None
    before()
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] +
                          argv, capture_output=True, text=True, check=False)
    for line in done.stderr.splitlines():
        if "Collected :" in line:
            return int(line.split(":")[-1])
    return None


def bench_linking(args, runner, root, name, files, tool, resetter):
    builds = [("default", tool)] + [tuple(v.split("=", 1)) for v in args.variant]
    commands = []
    for index, (label, binary) in enumerate(builds):
        rcname = f"link{index}"
        commands.append(Command(label, [binary, root, rcname, "html", "/"],
                                before=resetter(rcname)))
    rounds = args.runs or DEFAULT_ROUNDS[files]
    runner.rounds(commands, rounds, f"tree {name}, linking")
    rows = []
    for (label, binary), command in zip(builds, commands):
        counted = instructions(command.argv, command.before)
        rows.append(f"| {name} | {label} | {os.path.getsize(binary) / 1024:.0f} | "
                    f"{millis(median(command.times))} | "
                    f"{millis(min(command.times))}-{millis(max(command.times))} | "
                    f"{ratio(paired(command, commands[0]))} | {mib(max(command.peaks))} | "
                    f"{'' if counted is None else f'{counted:,}'} |")
    return rows


def bench_walk(args, runner, root, name, files, tool, resetter):
    builds = [("default", tool), tuple(args.walk_variant.split("=", 1))]
    commands = [Command(label, [binary, root, f"walk{index}", "html", "/"],
                        before=resetter(f"walk{index}"))
                for index, (label, binary) in enumerate(builds)]
    runner.rounds(commands, args.runs or DEFAULT_ROUNDS[files], f"tree {name}, walk")
    return [f"| {name} | {label} | {millis(median(command.times))} | "
            f"{millis(min(command.times))}-{millis(max(command.times))} | "
            f"{ratio(paired(command, commands[0]))} |"
            for (label, _), command in zip(builds, commands)]


def bench_qrc(args, runner, work, tool, report):
    sizes = [int(n) for n in args.qrc_mb.split(",") if n]
    if not sizes:
        return
    report += [
        "## Large .qrc files", "",
        "A whole run that appends a group (empty HTML folder) to a large .qrc, against "
        "`bench/parse_print.cc`: RapidXml alone loading, parsing, printing and writing the same "
        "bytes. A reference, not a floor: it uses RapidXml's default pool, prints into a "
        "std::string and writes without flushing to disk.", "",
        "| .qrc | command | median ms | spread ms | / parse and print | peak MiB | "
        "peak / size |", "|---|---|---|---|---|---|---|"]
    for megabytes in sizes:
        root = os.path.join(work, f"qrc-{megabytes}")
        os.makedirs(os.path.join(root, "html"))
        source = os.path.join(root, "source.qrc")
        print(f"qrc of {megabytes} MB", file=sys.stderr)
        make_qrc(source, megabytes << 20, args.seed)
        size = os.path.getsize(source)
        qrc = os.path.join(root, "app.qrc")
        mine = Command("resweaver", [tool, root, "app", "html", "/new"],
                       before=lambda: shutil.copyfile(source, qrc))
        bare = Command("parse and print", [args.parse_print, source,
                                           os.path.join(root, "out.qrc")])
        runner.rounds([mine, bare], args.runs or 5, f"qrc {megabytes} MB")
        for command in [mine, bare]:
            report.append(f"| {megabytes} MB | {command.name} | {millis(median(command.times))} | "
                          f"{millis(min(command.times))}-{millis(max(command.times))} | "
                          f"{ratio(paired(command, bare))} | {mib(max(command.peaks))} | "
                          f"{max(command.peaks) / size:.2f} |")
        shutil.rmtree(root)
    report.append("")


def bench_shapes(args, runner, work, tool, report):
    # Hostile shapes at two sizes each: the time must grow linearly with the size, and the memory
    # stay a small multiple of it. Each shape has its expected outcome, checked on every run.
    report += ["## Hostile document shapes", "",
               "| shape | size | outcome | median ms | spread ms | peak MiB | peak / size |",
               "|---|---|---|---|---|---|---|"]
    shapes = [
        ("nesting", lambda n: "<a>" * n, [100000, 1000000], False),
        ("one attribute value", lambda n: "<RCC a='" + "v" * n + "'/>", [5 << 20, 50 << 20],
         True),
        ("sibling elements", lambda n: "<RCC>" + "<file>x</file>" * n + "</RCC>",
         [100000, 1000000], True),
    ]
    root = os.path.join(work, "shapes")
    os.makedirs(os.path.join(root, "html"))
    qrc = os.path.join(root, "app.qrc")
    source = os.path.join(root, "source.qrc")
    for name, make, counts, accepted in shapes:
        for count in counts:
            text = make(count).encode()
            write_bytes(source, text)
            command = Command(name, [tool, root, "app", "html", "/"],
                              before=lambda: shutil.copyfile(source, qrc),
                              ok=(0,) if accepted else tuple(range(1, 256)))
            runner.rounds([command], args.runs or 5, f"shape {name}")
            report.append(f"| {name} | {len(text) / 2**20:.1f} MiB | "
                          f"{'written' if accepted else 'refused'} | "
                          f"{millis(median(command.times))} | "
                          f"{millis(min(command.times))}-{millis(max(command.times))} | "
                          f"{mib(max(command.peaks))} | {max(command.peaks) / len(text):.2f} |")
    report.append("")


def write_plot(out, plot, rcc):
    data = os.path.join(out, "times.dat")
    with open(data, "w", encoding="utf-8") as dat:
        for point in sorted(plot):
            dat.write(" ".join(str(v) for v in point) + "\n")
    png = os.path.join(out, "time-vs-files.png")
    lines = [f"'{data}' using 1:($2*1000) with linespoints title 'resweaver (writing)'",
             f"'{data}' using 1:($3*1000) with linespoints title 'floor'",
             f"'{data}' using 1:($4*1000) with linespoints title 'find -type f'"]
    if rcc:
        lines.append(f"'{data}' using 1:($5*1000) with linespoints title 'rcc -project'")
    script = "\n".join([
        "set terminal png size 800,560", f"set output '{png}'", "set logscale xy",
        "set xlabel 'files in the HTML folder (nested trees)'",
        "set ylabel 'wall time (ms, median)'", "set key top left", "set grid",
        "plot " + ", ".join(lines)])
    subprocess.run(["gnuplot"], input=script.encode(), check=True)
    print(f"plot: {png}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--resweaver", required=True)
    parser.add_argument("--floor", required=True, help="bench/floor.c built")
    parser.add_argument("--measure", required=True, help="bench/measure.c built")
    parser.add_argument("--parse-print", required=True)
    parser.add_argument("--rcc", default="/usr/lib/qt5/bin/rcc")
    parser.add_argument("--flush-build", default="", metavar="NAME=BINARY",
                        help="a build of the tool that the dynamic loader starts, for the flush "
                        "cost when the tool itself is linked statically")
    parser.add_argument("--eatmydata", default=EATMYDATA,
                        help="the eatmydata library to preload; empty to skip the flush cost")
    parser.add_argument("--walk-variant", default="", metavar="NAME=BINARY",
                        help="a build with another walk, timed against the default at "
                             "100,000 and 1,000,000 files")
    parser.add_argument("--variant", action="append", default=[], metavar="NAME=BINARY",
                        help="another build of the tool, timed against the default at "
                             f"{' and '.join(LINKING_TREES)} files")
    parser.add_argument("--trees", default=",".join(TREES),
                        help=f"comma-separated, of {', '.join(TREES)}")
    parser.add_argument("--qrc-mb", default="1,10,100", help="sizes of the large .qrc files; "
                        "empty to skip")
    parser.add_argument("--no-shapes", action="store_true", help="skip the hostile shapes")
    parser.add_argument("--runs", type=int, default=0,
                        help="rounds for every benchmark (default: by tree size, 5 for files)")
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--out", default="build/bench")
    args = parser.parse_args()
    for name in ["resweaver", "floor", "measure", "parse_print"]:
        setattr(args, name, os.path.abspath(getattr(args, name)))

    os.makedirs(args.out, exist_ok=True)
    args.rcc = args.rcc if os.access(args.rcc, os.X_OK) else None
    if args.eatmydata and not any(os.path.exists(os.path.join(d, args.eatmydata)) for d in
                                  ["/usr/lib/x86_64-linux-gnu", "/usr/lib", "/lib"]
                                  ) and not os.path.exists(args.eatmydata):
        print(f"{args.eatmydata} not found: no flush cost", file=sys.stderr)
        args.eatmydata = ""
    work = tempfile.mkdtemp(prefix="resweaver-bench-")
    started = time.monotonic()
    load_start = load_average()
    try:
        # The binary under test is copied, so that a rebuild during the run changes nothing.
        tool = os.path.join(work, "resweaver")
        shutil.copy2(args.resweaver, tool)
        options = subprocess.run([tool, "--version"], capture_output=True,
                                 check=False).returncode == 0
        if has_loader(tool):
            args.flush_build, args.flush_build_name = tool, "resweaver"
        elif args.flush_build:
            args.flush_build_name, args.flush_build = args.flush_build.split("=", 1)
        elif args.eatmydata and FLUSH_TREE in args.trees.split(","):
            print("resweaver is linked statically and no --flush-build is given: no flush cost",
                  file=sys.stderr)
        runner = Runner(args.measure)
        idle = Command("true", ["true"])
        runner.rounds([idle], 11, "a process that does nothing")
        by_size = ", ".join(f"{rounds} at {files} files" for files, rounds in
                            DEFAULT_ROUNDS.items())
        report = ["# resweaver benchmarks", ""] + machine_lines(work, args.resweaver) + [
            f"Rounds: {args.runs or by_size + '; 5 for the .qrc files and shapes'}; "
            f"times in ms, peak RSS in MiB (`true` alone: {millis(median(idle.times))} ms, "
            f"{mib(max(idle.peaks))} MiB). Options (--sort): "
            f"{'yes' if options else 'no (resweaver --version fails)'}.", ""]
        plot = []
        bench_trees(args, runner, work, tool, options, report, plot)
        bench_qrc(args, runner, work, tool, report)
        if not args.no_shapes:
            bench_shapes(args, runner, work, tool, report)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    report.append(f"Benchmark time: {(time.monotonic() - started) / 60:.1f} min; load average "
                  f"at the start {load_start}, at the end {load_average()} (other work on the "
                  "machine shows there).")

    text = "\n".join(report) + "\n"
    print(text)
    with open(os.path.join(args.out, "results.md"), "w", encoding="utf-8") as out:
        out.write(text)
    if len(plot) > 1 and shutil.which("gnuplot"):
        write_plot(args.out, plot, args.rcc)


if __name__ == "__main__":
    main()
