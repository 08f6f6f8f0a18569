#!/usr/bin/env python3
"""Whole-process speed and peak memory of kestrelle against libvips on files.

Each case runs every command RUNS times, interleaved (kestrelle, then vips,
then kestrelle again...), so both see the same machine; the table gives the
median wall time and the median peak resident memory of each command (for a
command that starts other processes, the largest of them). Inputs are made
once with vips and kept in the data folder.

Durable against durable: kestrelle syncs each output before it takes its
name, so the vips commands it is compared with are followed by `sync FILE`
(and `cp` + `sync`, reading and writing the same bytes durably, is the
floor). The vips commands without the sync are shown too.

    bench/whole_process.py KESTRELLE DATA_DIR [RUNS] [CASE...]
"""
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import time


KESTRELLE = ""  # the program's path, shown as "kestrelle" in the tables
SHOOT = 20  # JPEGs in the batch case


def run_once(command, cwd):
    started = time.monotonic()
    p = subprocess.Popen(command, shell=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - started
    err = p.stderr.read().decode(errors="replace")
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed ({os.waitstatus_to_exitcode(status)}): {command}\n{err}")
    return wall, usage.ru_maxrss / 1024.0  # MiB


def vips(*args, cwd):
    subprocess.run(["vips", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def make_inputs(data, cases):
    """Photo-like inputs: the sample photo enlarged, with grain (so JPEGs
    compress like photographs, not like smooth gradients)."""
    os.makedirs(data, exist_ok=True)
    coffee = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "coffee.png")

    def photo(name, width, height, grain=10):
        if os.path.exists(os.path.join(data, name)):
            return
        scale = max(width / 600.0, height / 400.0) * 1.001
        vips("resize", coffee, "_r.v", str(scale), cwd=data)
        vips("crop", "_r.v", "_c.v", "0", "0", str(width), str(height), cwd=data)
        vips("gaussnoise", "_n.v", str(width), str(height), "--sigma", str(grain), "--mean", "0", cwd=data)
        vips("bandjoin", "_n.v _n.v _n.v", "_n3.v", cwd=data)
        vips("add", "_c.v", "_n3.v", "_s.v", cwd=data)
        vips("cast", "_s.v", name, "uchar", cwd=data)
        for f in ("_r.v", "_c.v", "_n.v", "_n3.v", "_s.v"):
            os.remove(os.path.join(data, f))

    photo("photo-24mp.v", 6000, 4000)
    if not os.path.exists(os.path.join(data, "24mp.tif")):
        vips("copy", "photo-24mp.v", "24mp.tif", cwd=data)
    if not os.path.exists(os.path.join(data, "24mp.jpg")):
        vips("copy", "photo-24mp.v", "24mp.jpg[Q=92]", cwd=data)
    if "memory" in cases:
        photo("photo-100mp.v", 12500, 8000)
        if not os.path.exists(os.path.join(data, "100mp.tif")):
            vips("copy", "photo-100mp.v", "100mp.tif", cwd=data)
        photo("photo-400mp.v", 20000, 20000)
        if not os.path.exists(os.path.join(data, "20000.png")):
            vips("copy", "photo-400mp.v", "20000.png[compression=1]", cwd=data)
    shoot = os.path.join(data, "shoot")
    if "shoot" in cases and (not os.path.isdir(shoot) or len(os.listdir(shoot)) != SHOOT):
        # Exactly SHOOT frames: a folder left by a run with another count
        # would make the table's "20 JPEGs" untrue.
        shutil.rmtree(shoot, ignore_errors=True)
        os.makedirs(shoot)
        photo("photo-12mp.v", 4000, 3000)
        for i in range(SHOOT):
            # Each frame its own: shifted and with its own grain.
            vips("gaussnoise", "_g.v", "4000", "3000", "--sigma", "4", "--mean", str(i % 7), cwd=data)
            vips("bandjoin", "_g.v _g.v _g.v", "_g3.v", cwd=data)
            vips("add", "photo-12mp.v", "_g3.v", "_f.v", cwd=data)
            vips("cast", "_f.v", os.path.join("shoot", f"frame-{i:02d}.jpg[Q=92]"), "uchar", cwd=data)
        for f in ("_g.v", "_g3.v", "_f.v"):
            os.remove(os.path.join(data, f))
    if "camera" in cases and not os.path.exists(os.path.join(data, "24mp-camera.jpg")):
        # A camera's JPEG: the same picture with EXIF and a 160 x 120
        # thumbnail, which every output makes again from the corrected rows.
        vips("thumbnail", "24mp.jpg", "_thumb.jpg[Q=90]", "160", cwd=data)
        shutil.copy(os.path.join(data, "24mp.jpg"), os.path.join(data, "_camera.jpg"))
        subprocess.run(["exiftool", "-q", "-overwrite_original", "-Make=Kestrel Optics", "-Model=K1",
                        "-ThumbnailImage<=_thumb.jpg", "_camera.jpg"], cwd=data, check=True)
        os.replace(os.path.join(data, "_camera.jpg"), os.path.join(data, "24mp-camera.jpg"))
        os.remove(os.path.join(data, "_thumb.jpg"))
    for f in os.listdir(data):
        if f.startswith("photo-") and f.endswith(".v"):
            os.remove(os.path.join(data, f))


def measure(title, commands, data, runs, prepare=None):
    results = {name: ([], []) for name, _ in commands}
    for _ in range(runs):
        for name, command in commands:
            if prepare:
                prepare()
            wall, peak = run_once(command, data)
            results[name][0].append(wall)
            results[name][1].append(peak)
    print(f"\n### {title}\n")
    print("| command | wall (median) | peak memory (median) |")
    print("|---|---|---|")
    for name, command in commands:
        walls, peaks = results[name]
        shown = command.replace(KESTRELLE, "kestrelle")
        print(f"| `{shown}` | {statistics.median(walls):.3f} s | {statistics.median(peaks):.0f} MiB |")
    return {name: statistics.median(results[name][0]) for name, _ in commands}


def fsync_seconds(command, data):
    """Time spent in fsync and fdatasync by one run (strace -T)."""
    if not shutil.which("strace"):
        return None
    log = os.path.join(data, "_strace.txt")
    subprocess.run(f"strace -f -T -e trace=fsync,fdatasync -o {log} {command}", shell=True, cwd=data,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    total = 0.0
    with open(log) as f:
        for line in f:
            if "<" in line and line.rstrip().endswith(">"):
                total += float(line.rstrip()[line.rindex("<") + 1:-1])
    os.remove(log)
    return total


def durable(command, output):
    """`command`, then its output synced to the disk, as kestrelle does."""
    return f"{command} && sync {output}"


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    global KESTRELLE
    k, data = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    KESTRELLE = shlex.quote(k)
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    cases = sys.argv[4:] or ["tiff", "jpeg", "camera", "shoot", "memory"]
    make_inputs(data, cases)
    print(f"kestrelle: {k}; {len(os.sched_getaffinity(0))} processors; "
          f"{runs} runs of each command, interleaved")
    gains = "--red-gain 1.2 --blue-gain 0.9 --quiet"
    linear = '"1.2 1 0.9" "0 0 0" --uchar'

    def ratios(m):
        print(f"\ndurable vips linear / kestrelle: {m['vips linear + sync'] / m['kestrelle']:.2f}x; "
              f"vips linear (not durable) / kestrelle: {m['vips linear'] / m['kestrelle']:.2f}x", end="")
        if "cp + sync" in m:
            print(f"; kestrelle / (cp + sync): {m['kestrelle'] / m['cp + sync']:.2f}x", end="")
        print()

    def one_file(title, name, vips_output, with_floor=True):
        """kestrelle on one file against durable vips (and the copy floor)."""
        ext = os.path.splitext(name)[1]
        kc = f"{shlex.quote(k)} apply {gains} {name} _k{ext}"
        commands = [
            ("kestrelle", kc),
            ("vips linear + sync", durable(f"vips linear {name} {vips_output} {linear}", f"_v{ext}")),
            ("vips linear", f"vips linear {name} {vips_output} {linear}"),
        ]
        if with_floor:
            commands.append(("cp + sync", durable(f"cp {name} _c{ext}", f"_c{ext}")))
        ratios(measure(title, commands, data, runs))
        if with_floor:
            print(f"time in fsync (one run of kestrelle, strace): {fsync_seconds(kc, data):.3f} s")

    if "tiff" in cases:
        one_file("6000 x 4000 8-bit RGB uncompressed TIFF", "24mp.tif", "_v.tif")
    if "jpeg" in cases:
        one_file("6000 x 4000 JPEG, quality 92, to JPEG", "24mp.jpg", "_v.jpg[Q=92]")
    if "camera" in cases:
        one_file("6000 x 4000 JPEG with EXIF and a thumbnail, as cameras write them, to JPEG", "24mp-camera.jpg",
                 "_v.jpg[Q=92]", with_floor=False)

    if "shoot" in cases:
        out_k, out_v = os.path.join(data, "_out-k"), os.path.join(data, "_out-v")

        def clear():
            for d in (out_k, out_v):
                shutil.rmtree(d, ignore_errors=True)
                os.makedirs(d)
        each = f"vips linear shoot/$1 _out-v/$1[Q=92] {linear}"
        m = measure(f"{SHOOT} JPEGs of 12 megapixels, two at a time", [
            ("kestrelle", f"{shlex.quote(k)} apply {gains} --jobs 2 --output-dir _out-k shoot"),
            ("vips linear + sync", f"ls shoot | xargs -P2 -I{{}} sh -c '{each} && sync _out-v/$1' _ {{}}"),
            ("vips linear", f"ls shoot | xargs -P2 -I{{}} sh -c '{each}' _ {{}}"),
        ], data, runs, prepare=clear)
        ratios(m)

    if "memory" in cases:
        measure("Peak memory on large pictures (one run each)", [
            ("24 MP TIFF", f"{shlex.quote(k)} apply {gains} 24mp.tif _k.tif"),
            ("100 MP TIFF", f"{shlex.quote(k)} apply {gains} 100mp.tif _k100.tif"),
            ("20000 x 20000 PNG", f"{shlex.quote(k)} apply {gains} 20000.png _k400.png"),
        ], data, 1)
    for f in os.listdir(data):
        if f.startswith("_"):
            p = os.path.join(data, f)
            shutil.rmtree(p) if os.path.isdir(p) else os.remove(p)


if __name__ == "__main__":
    main()
