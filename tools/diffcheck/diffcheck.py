#!/usr/bin/python3
"""Do two builds of tessaly-cli behave alike? A check for refactors that must change nothing.

Both builds run the same commands over the same inputs, each in fresh copies (modification
times kept, so that the catalogues' stamps agree), and everything they leave is compared:

  dry       --json --dry-run -r, and the same with --source data-lines: the JSON lines
  verbose   --dry-run -v -r: the per-file lines and the summary
  save      --json --sidecar --catalog -r into a fresh copy, then the same again (results up to
            date by the catalogue, results found in the folders), then --overwrite
            --accept-doubtful --creation-time: every saved PNG's bytes (the tIME chunk, which
            holds the moment of the save, set aside), every sidecar, the catalogue's rows (but
            processed_at, and output_hash only as present or not, since it hashes the tIME
            chunk too) and every --report kind over the catalogue
  outdir    --json --sidecar -o DIR --name-template '{yyyy}/{mm}/{name}' -r: the tree under DIR

For every run the standard output, the standard error and the exit status are compared, with
the copies' folders written as <WORK>. The inputs are the conformance corpora, the examples
and a tree of generated frames (the three layouts at several widths and noise levels, frames
holding only data lines, doubtful, blurred and blank ones, and pictures of one grey level).

  tools/diffcheck/diffcheck.py --old BASELINE_CLI --new THIS_CLI [--framegen GEN] [--work DIR]
                               [--keep] [--corpus DIR]...

Prints each difference (at most --show of each kind) and a summary; exits 0 when the two builds
left the same, 1 otherwise.
"""
import argparse
import json
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
REPORTS = ["frames", "gaps", "duplicates", "doubtful", "gone"]


def png_bytes(width, height, grey):
    """A greyscale PNG of one grey level."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes([grey]) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0,
                                                              0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def bmp_bytes(width, height, grey):
    """An 8-bit BMP with a grey palette, every pixel of one grey level."""
    stride = (width + 3) // 4 * 4
    pixels = (bytes([grey]) * width + b"\0" * (stride - width)) * height
    palette = b"".join(bytes([i, i, i, 0]) for i in range(256))
    offset = 14 + 40 + len(palette)
    return (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835,
                          256, 0)
            + palette + pixels)


def generate(gen, root):
    """The generated tree: frames of each layout and kind, and pictures of one grey level."""
    headers = {"goes": ["GOES8   VIS9812241200D2  ", "GOES-I  FD 0101311445    ",
                        "GOES-K  NH 2402292400UUUU"],
               "gms": ["GMSN    IR 0003151200C1  ", "GMS-5   WV 2402290000ab  "],
               "meteosat": ["MET7    C029912051230D2AB", "METEO-8 WV 5612312359UUUU"]}
    odd = ["MET7    C029902311230X   ", "GMS-5 IR 99-DEC-05 12.00Z", "MET7    ADM99xx051230D2AB",
           " " * 25, "GOES8   VIS98122412"]
    n = 0
    for layout, texts in headers.items():
        for width in (300, 600, 840, 1040, 1800):
            for noise in (0, 8, 32):
                header = (texts + odd)[n % (len(texts) + len(odd))]
                ext = ".bmp" if n % 2 == 0 else ".png"
                folder = root / layout / f"w{width}"
                folder.mkdir(parents=True, exist_ok=True)
                args = ["--layout", layout, "--width", str(width), "--noise", str(noise),
                        "--seed", str(n + 1), "--header", header]
                if width > 300:
                    args += ["--height", str(width * 11 // 10)]
                subprocess.run([gen, "-o", folder / f"f{n:03d}{ext}"] + args, check=True,
                               capture_output=True)
                n += 1
    odd_frames = root / "odd"
    odd_frames.mkdir()
    kinds = {
        "data-lines.bmp": ["--data-lines-only", "--header", "GOES-K  NH 0207040600    "],
        "data-lines.png": ["--data-lines-only", "--layout", "gms", "--header",
                           "GMSN    IR 0003151200C1  "],
        "blur.png": ["--width", "1040", "--blur", "1.2", "--noise", "4"],
        "blur2.bmp": ["--width", "1040", "--blur", "2.0"],
        "jpeg.png": ["--width", "1040", "--jpeg-quality", "20"],
        "late-bits.bmp": ["--width", "1040", "--bit-offset", "0.5"],
        "low-contrast.png": ["--width", "1040", "--black", "90", "--white", "170"],
        "narrow.bmp": ["--width", "400", "--header", "GOES-I  FD 0101311445    "],
        "no-data-rows.bmp": ["--data-rows", "0"],
        "blank-header.png": ["--header", " " * 25],
        "flat-grey.bmp": ["--content", "flat", "--black", "127", "--white", "128"],
        "colours.bmp": ["--announce-colours", "200"],
        "tiny.png": ["--width", "230", "--picture-height", "20"],
    }
    for day, (name, args) in enumerate(kinds.items(), start=1):
        if "--header" not in args:
            args += ["--header", f"GOES8   VIS9812{day:02d}1200D2  "]
        subprocess.run([gen, "-o", odd_frames / name] + args, check=True, capture_output=True)
    for width, height, grey in ((300, 40, 90), (840, 880, 128), (1040, 1100, 200), (1, 2, 0)):
        (odd_frames / f"grey{width}x{height}.bmp").write_bytes(bmp_bytes(width, height, grey))
        (odd_frames / f"grey{width}x{height}.png").write_bytes(png_bytes(width, height, grey))


def without_time(png):
    """The PNG's bytes with its tIME chunk set aside (it holds the moment of the save)."""
    out, at = bytearray(png[:8]), 8
    while at + 8 <= len(png):
        length = struct.unpack(">I", png[at:at + 4])[0]
        end = at + 12 + length
        if png[at + 4:at + 8] != b"tIME":
            out += png[at:end]
        at = end
    return bytes(out)


class Build:
    def __init__(self, name, cli, work, root_inputs):
        self.name, self.cli, self.work, self.inputs = name, cli, work / name, root_inputs
        self.seen = {}  # what the build left: label -> comparable value

    def run(self, label, args):
        done = subprocess.run([self.cli] + [str(a) for a in args], capture_output=True,
                              stdin=subprocess.DEVNULL, cwd=self.work)
        self.seen[label + " stdout"] = self.normal(done.stdout.decode("utf-8", "replace"))
        self.seen[label + " stderr"] = self.normal(done.stderr.decode("utf-8", "replace"))
        self.seen[label + " status"] = done.returncode

    def normal(self, text):
        """The text with the folders of this build's copies written alike for both builds."""
        return text.replace(str(self.work), "<WORK>")

    def fresh(self, label):
        copy = self.work / label
        shutil.copytree(self.inputs, copy, copy_function=shutil.copy2, symlinks=True)
        return copy

    def tree(self, label, root):
        for path in sorted(p for p in root.rglob("*") if p.is_file() and not p.is_symlink()):
            data = path.read_bytes()
            if data.startswith(b"\x89PNG"):
                data = without_time(data)
            elif path.suffix == ".json":
                data = self.normal(data.decode("utf-8", "replace"))
            self.seen[f"{label} file {path.relative_to(root)}"] = data

    def catalogue(self, label, catalog):
        con = sqlite3.connect(catalog)
        con.row_factory = sqlite3.Row
        for row in con.execute("SELECT * FROM frames ORDER BY source"):
            values = dict(row)
            values.pop("processed_at")
            values["output_hash"] = values["output_hash"] is not None
            self.seen[f"{label} row {self.normal(row['source'])}"] = self.normal(
                json.dumps(values, sort_keys=True))
        con.close()

    def check(self, corpus):
        root = self.inputs
        self.run(f"{corpus}: dry", ["--json", "--dry-run", "-r", "--jobs", "2", root])
        self.run(f"{corpus}: dry data-lines",
                 ["--json", "--dry-run", "-r", "--source", "data-lines", root])
        self.run(f"{corpus}: verbose", ["--dry-run", "-v", "-r", root])

        save = self.fresh("save")
        catalog = self.work / "catalog.sqlite"
        common = ["--json", "--sidecar", "-r", "--catalog", catalog, "--jobs", "2", save]
        self.run(f"{corpus}: save", common)
        self.run(f"{corpus}: save again", common)
        self.run(f"{corpus}: save over", common + ["--overwrite", "--accept-doubtful",
                                                   "--creation-time"])
        self.tree(f"{corpus}: save", save)
        self.catalogue(f"{corpus}: save", catalog)
        for kind in REPORTS:
            self.run(f"{corpus}: report {kind}", ["--catalog", catalog, "--report", kind])

        outdir = self.fresh("outdir")
        results = self.work / "results"
        self.run(f"{corpus}: outdir", ["--json", "--sidecar", "-r", "-o", results,
                                       "--name-template", "{yyyy}/{mm}/{name}", outdir])
        self.tree(f"{corpus}: outdir", results)


def differences(old, new, show):
    labels = sorted(set(old.seen) | set(new.seen))
    differing = [label for label in labels if old.seen.get(label) != new.seen.get(label)]
    kinds = {}
    for label in differing:
        kinds.setdefault(label.split(":")[1].split()[0], []).append(label)
    for kind, found in kinds.items():
        print(f"{len(found)} differences in {kind}:")
        for label in found[:show]:
            print(f"  {label}")
            a, b = old.seen.get(label), new.seen.get(label)
            if isinstance(a, str) and isinstance(b, str):
                lines = [(x, y) for x, y in zip(a.splitlines(), b.splitlines()) if x != y]
                for x, y in lines[:3]:
                    print(f"    old: {x[:300]}\n    new: {y[:300]}")
            else:
                print(f"    old: {str(a)[:200]}\n    new: {str(b)[:200]}")
    return len(labels), len(differing)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--old", required=True, type=Path, help="the baseline's tessaly-cli")
    parser.add_argument("--new", required=True, type=Path, help="this build's tessaly-cli")
    parser.add_argument("--framegen", type=Path,
                        default=REPO / "build/tools/framegen/tessaly-framegen")
    parser.add_argument("--work", type=Path, help="folder for the copies (default: a new one "
                        "under $TMPDIR, removed at the end unless --keep)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--corpus", action="append", type=Path,
                        help="a folder of inputs instead of the default ones (repeatable)")
    parser.add_argument("--show", type=int, default=10, help="differences shown of each kind")
    args = parser.parse_args()

    work = args.work or Path(tempfile.mkdtemp(prefix="tessaly-diffcheck."))
    work.mkdir(parents=True, exist_ok=True)
    corpora = args.corpus or [REPO / "tests/corpora/pngsuite", REPO / "tests/corpora/bmpsuite",
                              REPO.parent / "shared/testdata", REPO / "examples"]
    corpora = [c for c in corpora if c.is_dir()]
    generated = work / "generated"
    if not args.corpus:
        generate(args.framegen.resolve(), generated)
        corpora.append(generated)

    compared = differing = 0
    for corpus in corpora:
        label = corpus.name if corpus != generated else "generated"
        builds = []
        for name, cli in (("old", args.old), ("new", args.new)):
            place = work / "runs" / label
            place.mkdir(parents=True, exist_ok=True)
            build = Build(name, cli.resolve(), place, corpus.resolve())
            build.work.mkdir()
            build.check(label)
            builds.append(build)
        c, d = differences(*builds, args.show)
        compared += c
        differing += d
        print(f"{label}: {c} compared, {d} differ", flush=True)
    print(f"all: {compared} compared, {differing} differ")
    if args.keep or args.work:
        print(f"work folder kept: {work}")
    else:
        shutil.rmtree(work)
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
