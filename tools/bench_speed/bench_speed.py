#!/usr/bin/python3
"""Speed of tessaly-cli beside its measuring sticks, in one command.

Runs, in interleaved rounds (A B, B A, ...), today's tessaly-cli (a copy of an earlier build,
--baseline), this build's tessaly-cli, and the programs in ../shared/perf (a minimal libpng
program built from there, a Pillow and an OpenCV script), and prints ratios against the goals:

  one 1040 x 1100 BMP, whole process          this build / baseline      at most 0.45
  200 frames of 840 x 880, --jobs 2           Pillow x2 / this build      at least 3
                                              OpenCV x2 / this build      at least 2.2
                                              this build / minimal x2     at most 0.35
  output bytes of that batch                  this build / minimal        at most 1.01
  pixels                                      unchanged, resampled ones within one grey level

It also prints start-up time (--version), memory and page faults, and the deflate strategy
and row filter table of tools/bench_png_strategy over a corpus of the generator's frames at
several noise levels and real grey photographs read from python3-skimage's data folder (nothing
of it is kept). Packages: tools/bench_speed/setup. Timings on a shared machine swing; the ratios of
interleaved rounds are what to read.
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

REPO = Path(__file__).resolve().parents[2]
SKIMAGE_DATA = Path("/usr/lib/python3/dist-packages/skimage/data")
PHOTOS = ["camera", "moon", "grass", "gravel", "coins", "page", "brick", "text", "clock_motion",
          "cell", "astronaut", "chelsea", "coffee"]
NOISES = [0, 2, 4, 8, 16]


def find_perf(given):
    candidates = [Path(given)] if given else [REPO.parent / "shared" / "perf",
                                             REPO.parent.parent / "shared" / "perf"]
    for c in candidates:
        if (c / "minimal_pipeline.cpp").exists():
            return c
    sys.exit("bench_speed: the measuring programs (shared/perf) are not found; give --perf")


def need(path, hint):
    if not Path(path).exists():
        sys.exit(f"bench_speed: {path} is missing; {hint}")
    return Path(path)


def run_timed(commands, env=None):
    """Starts the commands at once, waits for all; wall seconds, the largest peak resident
    size (KiB) and the page faults of all together (minor and major) as /usr/bin/time reports
    them (0 without it: a child of this process would count this process's own pages from
    before its exec)."""
    timer = ["/usr/bin/time", "-f", "%M %R %F"] if os.path.exists("/usr/bin/time") else []
    start = time.perf_counter()
    procs = [subprocess.Popen(timer + c, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
             for c in commands]
    outputs = [p.communicate()[1].decode(errors="replace") for p in procs]
    seconds = time.perf_counter() - start
    peak = faults = 0
    for p, err in zip(procs, outputs):
        if p.returncode != 0:
            sys.exit(f"bench_speed: {' '.join(map(str, commands[0][:3]))} ... failed: {err}")
        if timer and err.strip():
            resident, minor, major = map(int, err.strip().splitlines()[-1].split())
            peak = max(peak, resident)
            faults += minor + major
    return seconds, peak, faults


def interleave(contestants, rounds):
    """contestants: name -> callable giving (seconds, peak, faults). Each round runs every
    contestant once, the order turning round by round; medians of seconds, peaks and faults."""
    names = list(contestants)
    seconds = {n: [] for n in names}
    peaks = {n: [] for n in names}
    faults = {n: [] for n in names}
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        if r % 2 == 1:
            order.reverse()
        for n in order:
            s, p, f = contestants[n]()
            seconds[n].append(s)
            peaks[n].append(p)
            faults[n].append(f)
    return ({n: statistics.median(v) for n, v in seconds.items()},
            {n: statistics.median(v) for n, v in peaks.items()},
            {n: statistics.median(v) for n, v in faults.items()},
            seconds)


def memory_and_faults(peak, faults, which=""):
    return f"{peak / 1024:6.1f} MB resident{which}  {faults:7.0f} page faults"


def paired_ratio(samples, a, b):
    """Median of the round-by-round ratios a/b: both ran in the same round, so a busy spell
    weighs on both."""
    return statistics.median(x / y for x, y in zip(samples[a], samples[b]))


def framegen(tool, out, width, height, noise, seed, header):
    text = subprocess.run([tool, "-o", out, "--width", str(width), "--height", str(height),
                           "--noise", str(noise), "--seed", str(seed), "--header", header],
                          check=True, capture_output=True, text=True).stdout
    info = {}
    for line in text.splitlines():
        key, _, value = line.partition(" ")
        if key == "picture":
            xy, _, size = value.partition(" ")
            x, y = xy.split(",")
            w, _, h = size.partition(" x ")
            info["crop"] = (int(x), int(y), int(w), int(h))
    return info


def header_for(i):
    # A distinct picture code for every frame, so that no two outputs share a name.
    return f"MET7    C0299120512{i // 60 % 100:02d}{i % 60:02d}{i % 10}"


def goal_line(label, value, goal, better_low):
    met = value <= goal if better_low else value >= goal
    sign = "<=" if better_low else ">="
    print(f"  {label:<58} {value:7.3f}   goal {sign} {goal:<5} {'met' if met else 'NOT met'}")


def read_grey(path):
    from PIL import Image
    im = Image.open(path)
    return im.size, im.convert("L").tobytes()


def compare_outputs(dir_a, dir_b):
    """Same names, same sizes; count of differing pixels and the largest difference."""
    names_a = sorted(p.name for p in dir_a.glob("*.png"))
    names_b = sorted(p.name for p in dir_b.glob("*.png"))
    if names_a != names_b:
        return f"names differ: {sorted(set(names_a) ^ set(names_b))[:4]}", None, None
    worst, differing, files_differing = 0, 0, 0
    for n in names_a:
        (sa, pa), (sb, pb) = read_grey(dir_a / n), read_grey(dir_b / n)
        if sa != sb:
            return f"{n}: size {sa} against {sb}", None, None
        d = [abs(x - y) for x, y in zip(pa, pb) if x != y]
        if d:
            files_differing += 1
            differing += len(d)
            worst = max(worst, max(d))
    return None, worst, (differing, files_differing, len(names_a))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=str(REPO / "build"), help="this build's folder")
    ap.add_argument("--baseline", default="/work/bench-baseline/tessaly-cli",
                    help="today's tessaly-cli, built from main before the change")
    ap.add_argument("--perf", help="folder of the measuring programs (default ../shared/perf)")
    ap.add_argument("--rounds", type=int, default=5, help="interleaved rounds of each comparison")
    ap.add_argument("--one-rounds", type=int, default=15, help="rounds of the one-file case")
    ap.add_argument("--batch", type=int, default=200, help="frames in the batch")
    ap.add_argument("--skip-strategy", action="store_true", help="leave out the strategy table")
    ap.add_argument("--keep", help="keep the frames and outputs in this folder")
    args = ap.parse_args()

    build = Path(args.build)
    cli = need(build / "src/cli/tessaly-cli", "build tessaly-cli first")
    gen = need(build / "tools/framegen/tessaly-framegen", "build tessaly-framegen first")
    baseline = need(args.baseline, "copy a tessaly-cli built from main there, or give --baseline")
    perf = find_perf(args.perf)
    for module in ("PIL", "cv2"):
        try:
            __import__(module)
        except ImportError:
            sys.exit(f"bench_speed: python module {module} is missing; run tools/bench_speed/setup")

    work = Path(args.keep) if args.keep else Path(tempfile.mkdtemp(prefix="tessaly-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    try:
        minimal = work / "minimal_pipeline"
        subprocess.run(["g++", "-O2", "-o", str(minimal), str(perf / "minimal_pipeline.cpp"),
                        "-lpng", "-lz"], check=True)
        python = sys.executable

        # --- start-up -------------------------------------------------------------------------
        print("Start-up, tessaly-cli --version, medians of interleaved rounds")
        med, peak, faults, samples = interleave({
            "baseline": lambda: run_timed([[str(baseline), "--version"]]),
            "this": lambda: run_timed([[str(cli), "--version"]]),
        }, max(args.one_rounds, 21))
        for n in ("baseline", "this"):
            print(f"  {n:<9} {med[n] * 1e3:7.2f} ms  {memory_and_faults(peak[n], faults[n])}")
        print(f"  this / baseline {paired_ratio(samples, 'this', 'baseline'):.3f}")

        # --- one 1040 x 1100 BMP --------------------------------------------------------------
        one = work / "one"
        one.mkdir(exist_ok=True)
        info = framegen(gen, one / "frame.bmp", 1040, 1100, 4, 7, header_for(7))
        x, y, w, h = info["crop"]
        env = dict(os.environ, PERF_CROP=f"{x},{y},{w},{h}", PERF_LEVELS="513,15501")
        for sub in ("a", "b"):
            (one / sub).mkdir(exist_ok=True)
            (one / sub / "frame.bmp").unlink(missing_ok=True)
            (one / sub / "frame.bmp").symlink_to(one / "frame.bmp")
        print("\nOne 1040 x 1100 BMP, whole process (write, flush and rename included), "
              f"{args.one_rounds} interleaved rounds")
        med, peak, faults, samples = interleave({
            "baseline": lambda: run_timed([[str(baseline), "--overwrite", str(one / "a/frame.bmp")]]),
            "this": lambda: run_timed([[str(cli), "--overwrite", str(one / "b/frame.bmp")]]),
            "minimal": lambda: run_timed([[str(minimal), "one", str(one / "frame.bmp"),
                                           str(one / "minimal.png")]], env),
        }, args.one_rounds)
        for n in med:
            print(f"  {n:<9} {med[n] * 1e3:7.2f} ms  {memory_and_faults(peak[n], faults[n])}")
        one_ratio = paired_ratio(samples, "this", "baseline")
        one_minimal = paired_ratio(samples, "this", "minimal")
        print(f"  this / minimal {one_minimal:.3f}")
        one_cmp = compare_outputs(one / "a", one / "b")

        # --- the batch ------------------------------------------------------------------------
        frames = work / "frames"
        frames.mkdir(exist_ok=True)
        files = []
        crop = None
        for i in range(args.batch):
            f = frames / f"f{i:03d}.bmp"
            # Received frames carry receiver noise; its strength varies from pass to pass.
            info = framegen(gen, f, 840, 880, [2, 3, 4, 6, 8][i % 5], i + 1, header_for(i))
            crop = crop or info["crop"]
            files.append(f)
        x, y, w, h = crop
        env = dict(os.environ, PERF_CROP=f"{x},{y},{w},{h}", PERF_LEVELS="513,15501")
        halves = [files[: len(files) // 2], files[len(files) // 2:]]
        outs = {}
        for n in ("baseline", "this", "minimal", "pillow", "opencv"):
            outs[n] = work / f"out-{n}"
            outs[n].mkdir(exist_ok=True)
        for n in ("baseline", "this"):
            for f in files:
                link = outs[n] / f.name
                link.unlink(missing_ok=True)
                link.symlink_to(f)

        def cli_batch(binary, n):
            return lambda: run_timed([[str(binary), "--overwrite", "--jobs", "2",
                                       *[str(outs[n] / f.name) for f in files]]])

        def peers(command, n):
            return lambda: run_timed([[*command, str(outs[n]), *map(str, half)] for half in halves],
                                     env)

        print(f"\n{args.batch} frames of 840 x 880 BMP, tessaly-cli --jobs 2 and the others in two "
              f"processes, {args.rounds} interleaved rounds")
        med, peak, faults, samples = interleave({
            "baseline": cli_batch(baseline, "baseline"),
            "this": cli_batch(cli, "this"),
            "minimal": peers([str(minimal), "batch"], "minimal"),
            "pillow": peers([python, str(perf / "pillow_peer.py")], "pillow"),
            "opencv": peers([python, str(perf / "opencv_peer.py")], "opencv"),
        }, args.rounds)
        for n in med:
            print(f"  {n:<9} {med[n]:7.3f} s  {args.batch / med[n]:7.1f} frames/s  "
                  f"{memory_and_faults(peak[n], faults[n], ' (largest process)')}")
        sizes = {n: sum(p.stat().st_size for p in outs[n].glob("*.png")) for n in outs}
        print("  output bytes: " + ", ".join(f"{n} {sizes[n]:,}" for n in sizes))
        batch_cmp = compare_outputs(outs["baseline"], outs["this"])

        print("\nGoals (ratios of paired rounds)")
        goal_line("one 1040 x 1100 BMP: this / baseline", one_ratio, 0.45, True)
        goal_line("batch: Pillow in two processes / this", paired_ratio(samples, "pillow", "this"),
                  3.0, False)
        goal_line("batch: OpenCV in two processes / this", paired_ratio(samples, "opencv", "this"),
                  2.2, False)
        goal_line("batch: this / minimal program in two processes",
                  paired_ratio(samples, "this", "minimal"), 0.35, True)
        goal_line("batch: this / baseline (no goal)", paired_ratio(samples, "this", "baseline"),
                  1.0, True)
        goal_line("batch output bytes: this / minimal", sizes["this"] / sizes["minimal"], 1.01,
                  True)
        goal_line("batch output bytes: this / baseline (no goal)",
                  sizes["this"] / sizes["baseline"], 1.0, True)
        for label, (problem, worst, counts) in (("one-file", one_cmp), ("batch", batch_cmp)):
            if problem:
                print(f"  pixels, {label} outputs against the baseline's: {problem}   NOT met")
            else:
                d, fd, total = counts
                print(f"  pixels, {label} outputs against the baseline's: {d} differ in {fd} of "
                      f"{total} files, by at most {worst} grey level(s)   "
                      f"{'met' if worst <= 1 else 'NOT met'}")

        # --- deflate strategy and row filters -------------------------------------------------
        if not args.skip_strategy:
            strategy = build / "tools/bench_png_strategy/bench_png_strategy"
            if not strategy.exists() or not SKIMAGE_DATA.exists():
                print("\n(strategy table left out: build bench_png_strategy and run "
                      "tools/bench_speed/setup)")
            else:
                corpus = work / "corpus"
                corpus.mkdir(exist_ok=True)
                for k, noise in enumerate(NOISES):
                    for content in ("disc", "gradient"):
                        i = 300 + 2 * k + (content == "gradient")
                        f = corpus / f"noise{noise}-{content}.bmp"
                        subprocess.run([str(gen), "-o", str(f), "--noise", str(noise), "--seed",
                                        str(i), "--content", content, "--header", header_for(i)],
                                       check=True, capture_output=True)
                subprocess.run([str(cli), "--overwrite", "--jobs", "2",
                                *map(str, corpus.glob("*.bmp"))], check=True, capture_output=True)
                frames_png = sorted(map(str, corpus.glob("*.png")))
                photos = [str(SKIMAGE_DATA / f"{p}.png") for p in PHOTOS
                          if (SKIMAGE_DATA / f"{p}.png").exists()]
                print("\nDeflate strategy and row filters at level 4 (first row: the libpng "
                      "default strategy with none, sub and Paeth, as before)")
                for label, pictures in (("frames at noise " + ", ".join(map(str, NOISES)),
                                         frames_png),
                                        (f"{len(photos)} photographs of python3-skimage", photos),
                                        ("frames and photographs together",
                                         frames_png + photos)):
                    print(f"-- {label}")
                    out = subprocess.run([str(strategy), "--rounds", str(args.rounds),
                                          *pictures], check=True, capture_output=True,
                                         text=True).stdout.splitlines()
                    # The old settings, the chosen ones, and the fastest within 1 % and beyond.
                    rows = out[2:]
                    within = [r for r in rows[1:] if "larger" not in r][:8]
                    beyond = [r for r in rows[1:] if "larger" in r][:4]
                    chosen = [r for r in rows if r.split()[:2] == ["rle", "none+sub+paeth"]]
                    keep = [rows[0]] + [r for r in rows[1:] if r in within + beyond + chosen]
                    print("\n".join(out[:2] + keep))
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
