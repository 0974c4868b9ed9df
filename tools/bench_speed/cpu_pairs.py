#!/usr/bin/python3
"""CPU time of this build's tessaly-cli against an earlier build, in interleaved pairs.

Wall time on a shared machine swings with whatever else runs; the processor time a run
consumes (user + system, as the kernel accounts it to the child) swings far less. Each round
runs both builds once, the order turning round by round, each on a fresh folder of hard links
to the same frames, and the figures are medians over the rounds:

  one      one 1040 x 1100 BMP, the whole process (read, decode, save)
  batch    100 frames of 1040 x 1100 with --jobs 2
  archive  200 frames of 1040 x 1100 with --jobs 2: the baseline saving beside the inputs, this
           build with --output-dir (a fresh folder inside the work folder), so that the figure
           holds the output folder and the up-to-date check of every target together
  catalog  300 frames of 1040 x 1100 with --jobs 2, this build against itself: without, and
           with --catalog (a fresh catalogue in the work folder), so that the figure is what
           recording every file costs (not run by default; --baseline is not used)
  rerun    2,000 frames of 520 x 550 with --jobs 2 and --output-dir, saved once by each build
           into a folder of its own (with --catalog), then run again over that folder in
           interleaved rounds, once without and once with --catalog, every result up to date:
           what trusting a result costs a nightly rerun (not run by default)
  nightly  a nightly rerun: 20,000 small frames (420 x 108) catalogued once by each build
           (--catalog, --output-dir, --jobs 2; not timed), then in each round 20 new frames
           added and the rerun over all of them timed, -q --strict; the catalogue and the
           results are put back as the first night left them before every round (not run by
           default; --nightly-frames sets the number)
  dated    100 frames of 1040 x 1100 with --jobs 2, both builds saving under --output-dir with
           the template {yyyy}/{mm}/{dd}/{name}, so that every save goes three folders down
           (not run by default)

  tools/bench_speed/cpu_pairs.py [--baseline TOOL] [--rounds 15]
                                 [--only one|batch|archive|catalog|rerun|nightly|dated]
                                 [--rerun-frames 2000] [--nightly-frames 20000]

It prints user, system and total CPU seconds, page faults and peak resident size of each
build, their wall time, and the median of the per-round ratios of CPU time this / baseline. Outputs of the two builds are
compared (SHA-256 digests of all but the save time in tIME) in the first round.
"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
HEADERS = ["GOES8   VIS9812241200D2  ", "GOES-I  FD 0101311445    ", "GOES-K  NH 0207040600    ",
           "MET7    C029912051230D2AB", "GMSN    IR 0003151200C1  "]


def make_frames(gen, folder, count, distinct=False, size=("1040", "1100")):
    """`count` frames; `distinct` gives each its own name also past 28 x 5 frames, by minute
    (and past 28 x 5 x 60 by hour)."""
    folder.mkdir(parents=True)
    for i in range(count):
        header = HEADERS[i % len(HEADERS)]
        day = 1 + i % 28
        header = header[:15] + f"{day:02d}" + header[17:]
        if distinct:
            header = header[:17] + f"{(i // 1680) % 24:02d}{(i // 28) % 60:02d}" + header[21:]
        subprocess.run([gen, "-o", folder / f"rx{i:04d}.bmp", "--width", size[0], "--height",
                        size[1], "--noise", str(2 + i % 4), "--seed", str(i + 1), "--header",
                        header], check=True, capture_output=True)


def make_listed(gen, folder, first, count):
    """`count` small frames of distinct headers and content, from number `first` on, written by
    one framegen process (thousands of processes would take far longer than the runs)."""
    folder.mkdir(parents=True, exist_ok=True)
    lines = []
    for i in range(first, first + count):
        day, minute = 1 + i % 28, i // 28
        header = f"GOES8   VIS9812{day:02d}{minute // 60 % 24:02d}{minute % 60:02d}D2  "
        lines.append(f"{folder / f'rx{i:05d}.bmp'}\t{header}\t{i + 1}\n")
    listed = folder.parent / f"list-{first}"
    listed.write_text("".join(lines))
    subprocess.run([gen, "--list", listed, "--width", "420", "--picture-height", "60",
                    "--tone-rows", "20", "--below-rows", "6", "--content", "flat", "--noise", "3"],
                   check=True, capture_output=True)


def timed(tool, args):
    """One run of `tool`; (user, system, faults, peak KiB, wall seconds)."""
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        try:
            os.execv(tool, [tool] + [str(a) for a in args])
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"cpu_pairs: {tool} failed with status {os.waitstatus_to_exitcode(status)}")
    return usage.ru_utime, usage.ru_stime, usage.ru_minflt + usage.ru_majflt, usage.ru_maxrss, wall


def nightly(tools, gen, scratch, rounds, count):
    """The rerun of a nightly job over `count` catalogued frames and 20 new ones."""
    old, new = scratch / "nightly/old", scratch / "nightly/new"
    make_listed(gen, old, 0, count)
    make_listed(gen, new, count, 20)
    samples = {name: [] for name in tools}
    first = {}
    for name, tool in tools.items():
        work = scratch / f"night-{name}"
        (work / "rx").mkdir(parents=True)
        for f in old.iterdir():
            os.link(f, work / "rx" / f.name)
        timed(tool, ["--catalog", work / "catalog.db", "-o", work / "out", "-q", "--strict",
                     "--jobs", "2", work / "rx"])
        shutil.copy2(work / "catalog.db", work / "first-night.db")
        first[name] = set(os.listdir(work / "out"))
    names = list(tools)
    for r in range(rounds):
        for name in (names if r % 2 == 0 else names[::-1]):
            work = scratch / f"night-{name}"
            shutil.copy2(work / "first-night.db", work / "catalog.db")
            for f in new.iterdir():
                os.link(f, work / "rx" / f.name)
            samples[name].append(timed(tools[name], [
                "--catalog", work / "catalog.db", "-o", work / "out", "-q", "--strict",
                "--jobs", "2", work / "rx"]))
            for f in new.iterdir():
                os.unlink(work / "rx" / f.name)
            for f in set(os.listdir(work / "out")) - first[name]:
                os.unlink(work / "out" / f)
    return samples


def run(tool, frames, work, args, fresh=True):
    """One run on a fresh folder of links (or, unless `fresh`, on the folder as it stands);
    (user, system, faults, peak KiB, wall seconds). "{work}" in an argument stands for the work
    folder."""
    if fresh:
        if work.exists():
            shutil.rmtree(work)
        work.mkdir()
        for f in sorted(frames.iterdir()):
            os.link(f, work / f.name)
    given = [a.replace("{work}", str(work)) for a in args]
    return timed(tool, ["--no-overwrite", "-q"] + given + [work if fresh else work / "in"])


def without_time(png):
    """The PNG's bytes without its tIME chunk, which holds the moment of the save."""
    out, at = bytearray(png[:8]), 8
    while at + 8 <= len(png):
        length = int.from_bytes(png[at:at + 4], "big")
        end = at + 12 + length
        if png[at + 4:at + 8] != b"tIME":
            out += png[at:end]
        at = end
    return bytes(out)


def outputs(folder):
    """A digest of each PNG: a child forked from this process counts this process's pages in its
    peak resident size until it execs, so the outputs themselves are not kept."""
    return {p.name: hashlib.sha256(without_time(p.read_bytes())).digest()
            for p in folder.rglob("*.png")}


def compare(label, tools, frames, scratch, rounds, args, this_args=None):
    """The two builds in interleaved rounds; `this_args`, when given, replaces `args` for the
    second build."""
    samples = {name: [] for name in tools}
    names = list(tools)
    for r in range(rounds):
        order = names if r % 2 == 0 else names[::-1]
        for name in order:
            work = scratch / f"work-{name}"
            given = this_args if this_args is not None and name == names[1] else args
            samples[name].append(run(tools[name], frames, work, given))
        if r == 0:
            a, b = (outputs(scratch / f"work-{n}") for n in names)
            same = a == b
            print(f"{label}: outputs of the two builds {'identical' if same else 'DIFFER'} "
                  f"({len(a)} files)")
    report(label, names, samples, rounds)


def report(label, names, samples, rounds):
    print(f"{label}, medians of {rounds} interleaved rounds:")
    for name in names:
        s = samples[name]
        user = statistics.median(x[0] for x in s)
        system = statistics.median(x[1] for x in s)
        total = statistics.median(x[0] + x[1] for x in s)
        faults = statistics.median(x[2] for x in s)
        peak = statistics.median(x[3] for x in s)
        wall = statistics.median(x[4] for x in s)
        print(f"  {name:9} user {user * 1000:8.1f} ms  system {system * 1000:8.1f} ms  "
              f"total {total * 1000:8.1f} ms  {faults:7.0f} faults  {peak / 1024:6.1f} MB  "
              f"wall {wall * 1000:8.1f} ms")
    for what, of in (("CPU time", lambda x: x[0] + x[1]), ("wall time", lambda x: x[4])):
        ratios = [of(x) / of(y) for x, y in zip(samples[names[1]], samples[names[0]])]
        quartiles = statistics.quantiles(ratios, n=4) if len(ratios) > 1 else ratios * 3
        print(f"  {what}, {names[1]} / {names[0]}: median of paired ratios "
              f"{statistics.median(ratios):.3f} (quartiles {quartiles[0]:.3f}-{quartiles[2]:.3f})")


def rerun(tools, frames, scratch, rounds):
    """Each build saves the frames once into its own folder, then reruns over it, interleaved."""
    folders = {}
    for name, tool in tools.items():
        work = scratch / f"rerun-{name}"
        work.mkdir()
        shutil.copytree(frames, work / "in", copy_function=os.link)
        run(tool, frames, work, ["--jobs", "2", "-o", "{work}/out", "--catalog", "{work}/cat.db"],
            fresh=False)
        folders[name] = work
    a, b = (outputs(folders[n] / "out") for n in tools)
    count = len(a)
    print(f"rerun: outputs of the two builds {'identical' if a == b else 'DIFFER'} "
          f"({count} files)")
    del a, b  # a child forked with them would count them in its peak size
    names = list(tools)
    for label, extra in (("without --catalog", []), ("with --catalog", ["--catalog",
                                                                         "{work}/cat.db"])):
        for name in names:
            # Once with the summary read: every result has to be found up to date.
            given = [x.replace("{work}", str(folders[name])) for x in extra]
            summary = subprocess.run([tools[name], "--no-overwrite", "-q", "--jobs", "2", "-o",
                                      str(folders[name] / "out")] + given +
                                     [str(folders[name] / "in")],
                                     capture_output=True, text=True).stdout.strip()
            print(f"  {name} {label}: {summary}")
        samples = {name: [] for name in names}
        for r in range(rounds):
            for name in (names if r % 2 == 0 else names[::-1]):
                samples[name].append(run(tools[name], frames, folders[name],
                                         ["--jobs", "2", "-o", "{work}/out"] + extra, fresh=False))
        report(f"rerun of {count} up-to-date frames {label}", names, samples, rounds)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", default="/work/bench-baseline/tessaly-cli")
    parser.add_argument("--build", default=str(REPO / "build"))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--batch-frames", type=int, default=100)
    parser.add_argument("--archive-frames", type=int, default=200)
    parser.add_argument("--catalog-frames", type=int, default=300)
    parser.add_argument("--rerun-frames", type=int, default=2000)
    parser.add_argument("--only",
                        choices=["one", "batch", "archive", "catalog", "rerun", "nightly",
                                 "dated"])
    parser.add_argument("--nightly-frames", type=int, default=20000)
    args = parser.parse_args()
    build = Path(args.build)
    gen = build / "tools/framegen/tessaly-framegen"
    tools = {"baseline": args.baseline, "this": str(build / "src/cli/tessaly-cli")}
    for path in list(tools.values()) + [str(gen)]:
        if not Path(path).exists():
            sys.exit(f"cpu_pairs: {path} is missing")
    with tempfile.TemporaryDirectory(prefix="tessaly-cpu-") as scratch_name:
        scratch = Path(scratch_name)
        if args.only in (None, "one"):
            make_frames(gen, scratch / "one", 1)
            compare("one 1040 x 1100 BMP", tools, scratch / "one", scratch, args.rounds, [])
        if args.only in (None, "batch"):
            make_frames(gen, scratch / "batch", args.batch_frames)
            compare(f"{args.batch_frames} frames of 1040 x 1100, --jobs 2", tools,
                    scratch / "batch", scratch, args.rounds, ["--jobs", "2"])
        if args.only in (None, "archive"):
            make_frames(gen, scratch / "archive", args.archive_frames, distinct=True)
            compare(f"{args.archive_frames} frames of 1040 x 1100, --jobs 2, this build with "
                    "--output-dir", tools, scratch / "archive", scratch, args.rounds,
                    ["--jobs", "2"], ["--jobs", "2", "--output-dir", "{work}/results"])
        if args.only == "catalog":
            make_frames(gen, scratch / "catalog", args.catalog_frames, distinct=True)
            compare(f"{args.catalog_frames} frames of 1040 x 1100, --jobs 2, without and with "
                    "--catalog", {"without": tools["this"], "with": tools["this"]},
                    scratch / "catalog", scratch, args.rounds, ["--jobs", "2"],
                    ["--jobs", "2", "--catalog", "{work}/catalog.db"])
        if args.only == "rerun":
            make_frames(gen, scratch / "rerun", args.rerun_frames, distinct=True,
                        size=("520", "550"))
            rerun(tools, scratch / "rerun", scratch, args.rounds)
        if args.only == "nightly":
            samples = nightly(tools, gen, scratch, args.rounds, args.nightly_frames)
            report(f"nightly rerun over {args.nightly_frames} catalogued frames of 420 x 108 "
                   "and 20 new ones, --jobs 2", list(samples), samples, args.rounds)
        if args.only == "dated":
            make_frames(gen, scratch / "dated", args.batch_frames, distinct=True)
            compare(f"{args.batch_frames} frames of 1040 x 1100, --jobs 2, both builds with "
                    "--output-dir and dated folders", tools, scratch / "dated", scratch,
                    args.rounds, ["--jobs", "2", "--output-dir", "{work}/results",
                                  "--name-template", "{yyyy}/{mm}/{dd}/{name}"])


if __name__ == "__main__":
    main()
