#!/usr/bin/python3
"""The window against the batch tool on the same new frames, in interleaved pairs.

Each round gives a fresh folder of hard links to the same 200 frames of 840 x 880 (BMP, each
with its own header) first to one, then to the other (the order turning round by round):

  cli      tessaly-cli --jobs 2 FOLDER
  window   tessaly FOLDER --screenshot PNG   (on the display in $DISPLAY)

The window handles the folder named on its command line as a drop, then, through its testing
aid --screenshot, waits 500 ms for the window to settle, saves a picture of itself and ends;
its time is the whole process less those 500 ms. --earlier-window adds the window of another
build as a third contestant. Each must leave 200 results. Printed: median wall and CPU seconds
(user + system) of each, and the median of the per-round ratios window / cli. Run it under a
display, for example

  xvfb-run -a tools/bench_speed/window_pairs.py [--build build] [--rounds 7] [--frames 200]
      [--earlier-window OTHER/src/gui/tessaly] [--work FOLDER]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_speed import framegen, header_for  # noqa: E402

REPO = Path(__file__).resolve().parents[2]
SETTLE_SECONDS = 0.5  # kSettleMilliseconds of src/gui/main.cpp


def timed(command, env):
    """Wall seconds and CPU seconds (user + system) of one run to its end."""
    start = time.perf_counter()
    proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"window_pairs: {command[0]} failed: {err}")
    return wall, usage.ru_utime + usage.ru_stime


def fresh_copy(frames, folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for f in frames:
        os.link(f, folder / f.name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(REPO / "build"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--frames", type=int, default=200)
    parser.add_argument("--earlier-window", default=None, help="tessaly of another build")
    parser.add_argument("--work", default=None, help="folder for the frames (default: a "
                        "temporary folder under /tmp)")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("window_pairs: no display; run it under xvfb-run -a")
    build = Path(args.build)
    gen = build / "tools/framegen/tessaly-framegen"
    cli = build / "src/cli/tessaly-cli"
    window = build / "src/gui/tessaly"
    for tool in (gen, cli, window):
        if not tool.exists():
            sys.exit(f"window_pairs: {tool} is missing; build it first")

    work = Path(tempfile.mkdtemp(prefix="window_pairs.", dir=args.work))
    try:
        source = work / "frames"
        source.mkdir()
        frames = []
        for i in range(args.frames):
            f = source / f"f{i:03d}.bmp"
            framegen(gen, f, 840, 880, [2, 3, 4, 6, 8][i % 5], i + 1, header_for(i))
            frames.append(f)
        env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"))
        env.pop("QT_QPA_PLATFORM", None)
        runs = {
            "cli": lambda folder: [cli, "--jobs", "2", folder],
            "window": lambda folder: [window, folder, "--screenshot", work / "shot.png"],
        }
        if args.earlier_window:
            runs["earlier"] = lambda folder: [args.earlier_window, folder, "--screenshot",
                                              work / "shot.png"]
        wall = {name: [] for name in runs}
        cpu = {name: [] for name in runs}
        for r in range(args.rounds):
            order = list(runs) if r % 2 == 0 else list(reversed(runs))
            for name in order:
                folder = work / "run"
                fresh_copy(frames, folder)
                seconds, processor = timed([str(a) for a in runs[name](folder)], env)
                if name != "cli":
                    seconds -= SETTLE_SECONDS
                results = len(list(folder.glob("*.png")))
                if results != args.frames:
                    sys.exit(f"window_pairs: {name} left {results} results, not {args.frames}")
                wall[name].append(seconds)
                cpu[name].append(processor)
            print(f"round {r + 1}: " + ", ".join(f"{n} {wall[n][-1]:.2f} s" for n in runs),
                  flush=True)
        print(f"\n{args.frames} new frames of 840 x 880, {args.rounds} rounds, medians:")
        for name in runs:
            print(f"  {name:<7} wall {statistics.median(wall[name]):6.2f} s   "
                  f"CPU {statistics.median(cpu[name]):6.2f} s")
        for name in runs:
            if name == "cli":
                continue
            ratio = statistics.median(w / c for w, c in zip(wall[name], wall["cli"]))
            goal = "   goal <= 1.5" if name == "window" else ""
            print(f"  {name} / cli, wall (median of the rounds' ratios): {ratio:.2f}{goal}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
