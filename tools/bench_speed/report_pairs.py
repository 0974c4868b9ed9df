#!/usr/bin/python3
"""CPU time of this build's tessaly-cli --report against an earlier build's, in interleaved pairs.

Both builds read the same catalogue, which neither changes (a report only reads): make it with
the earlier build's bench_catalog, so that both know its version, for instance

  /path/to/old/build/tools/bench_catalog/bench_catalog --keep --reps 1 --work /tmp/old-catalog
  tools/bench_speed/report_pairs.py --baseline /path/to/old/build/src/cli/tessaly-cli \\
      --catalog /tmp/old-catalog/archive.db

Each round runs every report with both builds, the order turning round by round; it prints the
medians of the processor time (user + system) of each and of the per-round ratios this /
baseline, and whether the two builds printed the same text.
"""
import argparse
import resource
import statistics
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
# bench_catalog's rows: five satellites, four codes each, a frame every three hours from 1999.
REPORTS = [
    ["--report", "frames", "--since", "1999-06-01", "--until", "1999-06-30"],
    ["--report", "frames", "--satellite", "GOES8", "--since", "1999-06-01", "--until", "1999-06-30"],
    ["--report", "gaps"],
    ["--report", "gaps", "--satellite", "GOES8", "--code", "C1", "--since", "1999-06-01",
     "--until", "1999-06-30"],
    ["--report", "duplicates"],
    ["--report", "doubtful"],
]


def cpu_ms(tool, catalog, args):
    """The run's processor time in milliseconds, and what it printed."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run([tool, "--catalog", catalog] + args, capture_output=True, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    used = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return used * 1e3, done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", required=True, help="the earlier build's tessaly-cli")
    parser.add_argument("--catalog", required=True, help="a catalogue both builds read")
    parser.add_argument("--tool", default=str(REPO / "build/src/cli/tessaly-cli"))
    parser.add_argument("--rounds", type=int, default=11)
    options = parser.parse_args()
    for args in REPORTS:
        times = {options.baseline: [], options.tool: []}
        ratios = []
        same = True
        for round_ in range(options.rounds):
            order = [options.baseline, options.tool]
            texts = {}
            for tool in order if round_ % 2 == 0 else reversed(order):
                used, texts[tool] = cpu_ms(tool, options.catalog, args)
                times[tool].append(used)
            ratios.append(times[options.tool][-1] / times[options.baseline][-1])
            same = same and texts[options.tool] == texts[options.baseline]
        print(f"{' '.join(args):90s} baseline {statistics.median(times[options.baseline]):8.2f} ms"
              f"  this {statistics.median(times[options.tool]):8.2f} ms"
              f"  ratio {statistics.median(ratios):.3f}  same text: {'yes' if same else 'NO'}")


if __name__ == "__main__":
    main()
