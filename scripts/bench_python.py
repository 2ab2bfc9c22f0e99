"""The Python module's build() against the interactive program, on real
terrain: for each side, the contour raster of bench_real_terrain.sh (a DEM
resampled from matplotlib's topobathy.npz, contours every 40 m rasterised on
its grid by 'relief_forge_gis import'); then, in the same run, the program's
stage time (from its first dilation pass to "Saving the result", read off its
console as it goes) and build(contours, 40, 5) timed in a fresh interpreter,
both its stages (as its progress reports them) and the whole call, with each
one's peak memory per pixel, and the two DEMs compared to the bit.

    PYTHONPATH=build/python python3 scripts/bench_python.py BUILD [SIDE...]

Not a test: it measures and prints. Run by scripts/bench_python.sh.
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]

# Run in a fresh interpreter: the peak memory of build() alone, its input
# loaded, the peak reset before the call.
MODULE_RUN = r"""
import sys, time
import numpy as np
import relief_forge as rf

raw, side, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
contours = np.fromfile(raw, dtype="<i4").reshape(side, side)

def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024

with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
# The stages' own window, as the program's: from the dilation's start to
# the smoothing's end, as progress reports them.
marks = {}
def progress(stage, fraction):
    if (stage, fraction) in (("dilation", 0.0), ("smoothing", 1.0)):
        marks[stage] = time.perf_counter()

before = status("VmRSS:")
t = time.perf_counter()
dem = rf.build(contours, 40, 5, progress=progress)
elapsed = time.perf_counter() - t
peak = status("VmHWM:")
np.save(out, dem)
print(elapsed, marks["smoothing"] - marks["dilation"], peak - before)
"""


def contour_raster(work, side, build):
    name = f"t{side}"
    folder = work / "images" / "terrain"
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run([sys.executable, ROOT / "scripts" / "terrain_dem.py", str(side),
                    work / "dem.tif"], check=True)
    (work / "contours.gpkg").unlink(missing_ok=True)
    subprocess.run(["gdal_contour", "-q", "-a", "ELEV", "-i", "40", work / "dem.tif",
                    work / "contours.gpkg"], check=True)
    subprocess.run([build / "relief_forge_gis", "import", work / "contours.gpkg", "--like",
                    work / "dem.tif", "--out", folder / name, "-q"], check=True)
    return name, folder


def run_program(build, work, name):
    """The program's stage time (s), its peak memory (bytes) and its DEM."""
    answers = f"terrain\n{name}\n1\n0\n40\n5\n".encode()
    proc = subprocess.Popen([build / "relief_forge"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=dict(os.environ, HOME=str(work)))
    proc.stdin.write(answers)
    proc.stdin.close()
    text = b""
    start = end = None
    while True:
        chunk = os.read(proc.stdout.fileno(), 65536)
        if not chunk:
            break
        text += chunk
        if start is None and b"Iterative process number 1 " in text:
            start = time.perf_counter()
        if end is None and b"Saving the result" in text:
            end = time.perf_counter()
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0 or start is None or end is None:
        raise RuntimeError(f"relief_forge failed: {text[-500:]!r}")
    passes = text.count(b"Iterative process number")
    return end - start, usage.ru_maxrss * 1024, passes


def main():
    build = Path(sys.argv[1]).resolve()
    sides = [int(s) for s in sys.argv[2:]] or [1024, 2048, 4096, 8192]
    rows = []
    with tempfile.TemporaryDirectory(prefix="relief_forge_python.") as tmp:
        work = Path(tmp)
        for side in sides:
            print(f"== {side} x {side}", file=sys.stderr)
            name, folder = contour_raster(work, side, build)
            stage, program_peak, passes = run_program(build, work, name)
            dem_program = np.fromfile(folder / f"{name}_m4.raw", dtype="<i4")
            (folder / f"{name}_m4.raw").unlink()
            out = work / "dem.npy"
            done = subprocess.run([sys.executable, "-c", MODULE_RUN, folder / f"{name}_c4.raw",
                                   str(side), out], check=True, capture_output=True, text=True)
            elapsed, stages, module_peak = done.stdout.split()
            elapsed, stages, module_peak = float(elapsed), float(stages), int(module_peak)
            same = np.array_equal(np.load(out).ravel(), dem_program)
            out.unlink()
            pixels = side * side
            rows.append(f"| {side} | {passes} | {stage:.2f} s | {stages:.2f} s | "
                        f"{elapsed:.2f} s | {stages / stage:.2f} | {elapsed / stage:.2f} | "
                        f"{program_peak / pixels:.1f} B | "
                        f"{module_peak / pixels:.1f} B | {'yes' if same else 'NO'} |")
    print()
    print(f"Real terrain (topobathy.npz), contours every 40 m, mesh 5, {os.cpu_count()} cores, "
          "all rows from one run; the program's stage time runs from its first dilation pass "
          "to \"Saving the result\", build()'s from its dilation's start to its smoothing's end "
          "(as progress reports them); build() whole is the call (copy in, checks, stages, "
          "copy out); "
          "peaks: the program's whole process, build()'s growth over its loaded input.")
    print()
    print("| side | passes | program stages | build() stages | build() whole | stages / "
          "program | whole / program | program peak per pixel | build() peak per pixel | "
          "same DEM |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
