#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Times whole thumbnailer processes on one 4000x3000 photo-like JPEG, longest side 256.

tamba-tool thumbnail is run side by side with the peers that are installed: vipsthumbnail
(libvips-tools) and ImageMagick's convert -thumbnail. Each command runs a few times untimed,
then --runs times; the median wall time of each is reported (with the median CPU time), and
tamba's rate (thumbnails per second) divided by each peer's.

The photo is the sample recipe's dusk landscape drawn at 4000x3000 and encoded by cjpeg at the
recipe's quality; it is made once and kept in the work folder.
"""
import argparse
import importlib.util
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
WIDTH, HEIGHT, SIZE = 4000, 3000, 256
# tamba's rate over the peer's that counts as met.
TARGETS = {"vipsthumbnail": 1.0, "imagemagick": 3.0}


def make_photo(path):
    spec = importlib.util.spec_from_file_location(
        "make_samples", os.path.join(ROOT, "scripts", "make-samples.py"))
    samples = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(samples)
    data = samples.jpeg_bytes(*samples.photo_pixels(WIDTH, HEIGHT))
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


def commands(tool, photo, out):
    """(name, argv) of every thumbnailer found. ImageMagick's convert is looked up by its
    versioned name, since another program may be called convert earlier on PATH."""
    found = [("tamba", [tool, "thumbnail", "--size", str(SIZE), "--output-dir", out, photo])]
    vips = shutil.which("vipsthumbnail")
    if vips:
        found.append(("vipsthumbnail", [vips, "-s", str(SIZE), "-o",
                                        os.path.join(out, "vips-%s.png"), photo]))
    magick = shutil.which("convert-im6.q16") or (
        "/usr/bin/convert" if os.access("/usr/bin/convert", os.X_OK) else None)
    if magick:
        found.append(("imagemagick", [magick, photo, "-thumbnail", "%dx%d" % (SIZE, SIZE),
                                      os.path.join(out, "magick.png")]))
    return found


def run_once(argv, env):
    """Wall and CPU (user + system) seconds of one run of argv."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("bench-thumbnail: %s exited with %d" % (" ".join(argv), child.returncode))
    return wall, usage.ru_utime + usage.ru_stime


def medians(argv, runs, warmup, env):
    """Median wall and CPU seconds over runs, after warmup untimed runs."""
    samples = [run_once(argv, env) for _ in range(warmup + runs)][warmup:]
    return (statistics.median(w for w, _ in samples), statistics.median(c for _, c in samples))


def medians_hyperfine(hyperfine, argv, runs, warmup, env):
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        subprocess.run([hyperfine, "-N", "--style", "none", "--warmup", str(warmup), "--runs",
                        str(runs), "--export-json", report.name, " ".join(argv)],
                       check=True, env=env, stdout=subprocess.DEVNULL)
        result = json.load(open(report.name))["results"][0]
        return result["median"], result["user"] + result["system"]


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def commit():
    try:
        return subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], check=True,
                              capture_output=True, text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build"),
                    help="build folder holding tools/ and loaders/ (default build)")
    ap.add_argument("--work", default=None,
                    help="folder for the photo and the thumbnails (default BUILD/bench-thumbnail)")
    ap.add_argument("--runs", type=int, default=15, help="timed runs per command (default 15)")
    ap.add_argument("--warmup", type=int, default=3, help="untimed runs first (default 3)")
    args = ap.parse_args()

    tool = os.path.join(args.build, "tools", "tamba-tool", "tamba-tool")
    if not os.access(tool, os.X_OK):
        sys.exit("bench-thumbnail: %s not built (cmake --build %s --target tamba-tool "
                 "tambaloader-jpeg tambaloader-png)" % (tool, args.build))
    work = args.work or os.path.join(args.build, "bench-thumbnail")
    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    photo = os.path.join(work, "photo-%dx%d.jpg" % (WIDTH, HEIGHT))
    if not os.path.exists(photo):
        print("making %s (about a minute, once)" % photo, file=sys.stderr)
        make_photo(photo)

    # The modules of this build, found through the library search.
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = os.pathsep.join(
        p for p in (os.path.join(args.build, "loaders"), env.get("LD_LIBRARY_PATH")) if p)
    hyperfine = shutil.which("hyperfine")
    found = commands(tool, photo, out)

    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    print("machine: %d cores, %s; load average %s; commit %s; timer %s" %
          (os.cpu_count(), cpu_model(), load, commit(), "hyperfine" if hyperfine else "own loop"))
    print("input: %dx%d JPEG, %d bytes; longest side %d; median of %d runs after %d warm-up" %
          (WIDTH, HEIGHT, os.path.getsize(photo), SIZE, args.runs, args.warmup))
    # A peer may use both cores, so CPU time is shown beside the wall time the ratios use.
    wall, cpu = {}, {}
    for name, argv in found:
        if hyperfine:
            wall[name], cpu[name] = medians_hyperfine(hyperfine, argv, args.runs, args.warmup,
                                                      env)
        else:
            wall[name], cpu[name] = medians(argv, args.runs, args.warmup, env)
        print("%-14s %8.1f ms wall %8.1f ms CPU %7.2f thumbnails/s" %
              (name, wall[name] * 1e3, cpu[name] * 1e3, 1 / wall[name]))
    for peer, target in TARGETS.items():
        if peer not in wall:
            print("tamba / %s: not measured (%s not installed)" % (peer, peer))
            continue
        ratio = wall[peer] / wall["tamba"]
        print("tamba / %s: %.2f (target >= %.1f, %s); by CPU time %.2f" %
              (peer, ratio, target, "met" if ratio >= target else "not met",
               cpu[peer] / cpu["tamba"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
