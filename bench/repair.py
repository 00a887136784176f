#!/usr/bin/env python3
"""movarin-repair beside the FLV fixers people use: `flvmeta --fix`, `yamdi` and
`ffmpeg -c copy -flvflags add_keyframe_index`, on damaged files made here, long recordings
(1 h, 4 h) and a 1 GB one. Every output is judged the same way, by FFmpeg's FLV demuxer:
does ffprobe read it, does its metadata duration equal the end of its last packet, how many
packets survive (against the most any tool kept), does it carry a keyframe index, how long
mpv takes to show the middle of it; and each tool's time (to its exit, and to its copy being on the disk) and peak memory (GNU time's maximum resident set).
Prints the table and saves it under --out.

  repair.py [--bin BUILD] [--media DIR] [--out DIR] [--quick] [--only 'WORDS;...']

Needs flvmeta, yamdi, ffmpeg, mpv and GNU time (scripts/install-deps.sh bench). Files are made once into
--media (about 1.5 GB). Run it on a quiet machine: the load average is printed and saved.
"""

import argparse
import csv
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = ["movarin-repair", "flvmeta", "yamdi", "ffmpeg"]


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-y", "-hide_banner", "-loglevel", "error", *args], check=True)


# --- FLV bytes -------------------------------------------------------------------------------

def tags(data):
    """(start, end) of each whole tag of a well-formed file, trailer included."""
    out, at = [], 13
    while at + 11 <= len(data):
        end = at + 11 + int.from_bytes(data[at + 1:at + 4], "big") + 4
        if end > len(data):
            break
        out.append((at, end))
        at = end
    return out


def stamp(tag, ms):
    ms &= 0xFFFFFFFF
    return tag[:4] + (ms & 0xFFFFFF).to_bytes(3, "big") + bytes([ms >> 24]) + tag[8:]


def stamp_of(tag):
    return int.from_bytes(tag[4:7], "big") | (tag[7] << 24)


def rebuild(data, change):
    out = [data[:13]]
    for i, (a, b) in enumerate(tags(data)):
        out.append(change(i, data[a:b]))
    return b"".join(out)


def without_metadata(data):
    return rebuild(data, lambda i, t: b"" if i == 0 and t[0] == 18 else t)


def prev_plus4(data):
    return rebuild(data, lambda i, t: t[:-4] + (int.from_bytes(t[-4:], "big") + 4).to_bytes(4, "big"))


def backwards(data):
    n = len(tags(data))
    return rebuild(data, lambda i, t: stamp(t, max(0, stamp_of(t) - 600)) if i > n // 3 and t[0] != 18 else t)


def claims(data, seconds):
    at = data.find(b"\x00\x08duration\x00")
    if at < 0:
        return data
    return data[:at + 11] + struct.pack(">d", seconds) + data[at + 19:]


def insert(data, at, junk):
    return data[:at] + junk + data[at:]


def noise(n, seed=4):
    r = random.Random(seed)
    return bytes(r.getrandbits(8) for _ in range(n))


def repeated(base, path, target_bytes=0, rounds=0):
    """Tags of `base` over and over, timestamps running on, for `rounds` or until
    `target_bytes`: a long recording in seconds of work instead of hours of encoding."""
    spans = tags(base)
    body = [base[a:b] for a, b in spans[1:]]
    length = max(stamp_of(t) for t in body) + 40
    with open(path, "wb") as f:
        f.write(without_metadata(base)[:13])
        written, r = 13, 0
        while (rounds and r < rounds) or (not rounds and written < target_bytes):
            chunk = b"".join(stamp(t, stamp_of(t) + r * length) for t in body)
            f.write(chunk)
            written += len(chunk)
            r += 1


# --- the files ----------------------------------------------------------------------------------

def make_files(media, quick):
    os.makedirs(media, exist_ok=True)
    p = lambda name: os.path.join(media, name)
    if not os.path.exists(p("spark.flv")):
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=20", "-f", "lavfi",
               "-i", "sine=duration=20", "-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "44100", p("spark.flv"))
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=20", "-f", "lavfi",
               "-i", "sine=duration=20", "-c:v", "libx264", "-bf", "2", "-c:a", "aac", p("avc.flv"))
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=320x180:rate=15:duration=20", "-f", "lavfi",
               "-i", "sine=duration=20", "-c:v", "libx264", "-c:a", "libspeex", "-ar", "16000", p("avc-speex.flv"))
        ffmpeg("-f", "lavfi", "-i", "sine=duration=20", "-c:a", "libmp3lame", p("sound.flv"))
    spark, avc, speex, sound = (open(p(n), "rb").read() for n in ("spark.flv", "avc.flv", "avc-speex.flv", "sound.flv"))
    mid = lambda d: tags(d)[len(tags(d)) // 2][0]
    kinds = {
        "well-formed spark": spark,
        "well-formed h264 aac": avc,
        "previous sizes +4": prev_plus4(spark),
        "zeros between tags": insert(spark, mid(spark), bytes(200_000)),
        "noise between tags": insert(avc, mid(avc), noise(7000)),
        "a bad tag type": spark[:mid(spark)] + b"\x55" + spark[mid(spark) + 1:],
        "cut off in a tag": spark[:len(spark) * 2 // 3 + 5],
        "header flags lie": spark[:4] + b"\x00" + spark[5:],
        "timestamps run back": backwards(avc),
        "claims 28 s of 20 s": claims(spark, 28.0),
        "no metadata, h264": without_metadata(avc),
        "h264 speex, noise": insert(speex, mid(speex), noise(3000, 9)),
        "sound only, no meta": without_metadata(sound),
        "every fault at once": (lambda d: insert(d, mid(d), noise(7000))[:-100])(
            claims(backwards(prev_plus4(spark[:4] + b"\x01" + spark[5:])), 28.0)),
    }
    files = []
    for name, data in kinds.items():
        path = p(re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-") + ".flv")
        if not os.path.exists(path):
            open(path, "wb").write(data)
        files.append((name, path))
    if quick:
        return files
    if not os.path.exists(p("hour.flv")):
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=3600", "-f", "lavfi",
               "-i", "sine=duration=3600", "-c:v", "flv1", "-b:v", "60k", "-g", "100", "-c:a",
               "libmp3lame", "-ar", "22050", "-b:a", "32k", p("hour.flv"))
    hour = open(p("hour.flv"), "rb").read()
    if not os.path.exists(p("hour-damaged.flv")):
        d = claims(prev_plus4(hour), 5000.0)
        d = insert(d, tags(d)[len(tags(d)) // 3][0], noise(20000, 3))
        open(p("hour-damaged.flv"), "wb").write(insert(d, tags(d)[len(tags(d)) * 2 // 3][0], bytes(1 << 20)))
    if not os.path.exists(p("four-hours.flv")):
        repeated(hour, p("four-hours.flv"), rounds=4)
    if not os.path.exists(p("one-gb.flv")):
        big = open(p("avc.flv"), "rb").read()
        repeated(big, p("one-gb.flv"), target_bytes=1 << 30)
    files += [("1 h recording", p("hour.flv")), ("1 h, damaged", p("hour-damaged.flv")),
              ("4 h, no metadata", p("four-hours.flv")), ("1 GB h264 aac", p("one-gb.flv"))]
    return files


# --- running and judging ------------------------------------------------------------------------

def command(tool, build, src, dst):
    return {
        "movarin-repair": [os.path.join(build, "movarin-repair"), "--force", src, dst],
        "flvmeta": ["flvmeta", "--fix", src, dst],
        "yamdi": ["yamdi", "-i", src, "-o", dst],
        "ffmpeg": ["ffmpeg", "-y", "-hide_banner", "-loglevel", "error", "-i", src, "-map", "0",
                   "-c", "copy", "-flvflags", "add_keyframe_index", dst],
    }[tool]


def timed(cmd, dst):
    """Seconds to the tool's exit and to its copy being on the disk, peak memory in MiB and the
    exit status of one run. movarin-repair flushes its copy before it renames it; the others
    leave theirs in the page cache, so each output is flushed after its tool ends and both
    times are kept: the second is the one where a crash no longer loses the copy. GNU time
    reports the tool's own peak: wait4 from here would count this script's memory, inherited
    across the fork."""
    os.sync()  # the last tool's writes do not land on this one
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.monotonic()
        r = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *cmd],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seconds = time.monotonic() - start
        if os.path.exists(dst):
            fd = os.open(dst, os.O_RDONLY)
            os.fsync(fd)
            os.close(fd)
        durable = time.monotonic() - start
        kib = int(report.read().split()[-1])
    return seconds, durable, kib / 1024, r.returncode


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "packet=stream_index,dts_time,duration_time", "-show_entries",
                          "format=duration", "-of", "compact", path],
                         capture_output=True, text=True)
    packets, end, duration = 0, 0.0, None
    for line in out.stdout.splitlines():
        f = dict(kv.split("=", 1) for kv in line.split("|")[1:] if "=" in kv)
        if line.startswith("format"):
            duration = float(f["duration"]) if f.get("duration", "N/A") != "N/A" else None
        elif line.startswith("packet"):
            packets += 1
            length = f.get("duration_time", "N/A")
            if f.get("dts_time", "N/A") != "N/A":
                end = max(end, float(f["dts_time"]) + (float(length) if length != "N/A" else 0))
    return out.returncode == 0 and packets > 0, packets, duration, end


def has_index(path):
    with open(path, "rb") as f:
        head = f.read(13 + 11)
        if len(head) < 24 or head[13] != 18:
            return False
        body = f.read(int.from_bytes(head[14:17], "big"))
    return b"\x00\x0dfilepositions\x0a" in body and b"\x00\x05times\x0a" in body


def seek_time(path, duration):
    if not duration:
        return None
    start = time.monotonic()
    r = subprocess.run(["mpv", "--no-config", "--vo=null", "--ao=null", "--really-quiet",
                        f"--start={duration / 2:.3f}", "--frames=1", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    return time.monotonic() - start if r.returncode == 0 else None


def judge(name, path, build, work):
    rows = []
    for tool in TOOLS:
        dst = os.path.join(work, "out-" + tool + ".flv")
        if os.path.exists(dst):
            os.remove(dst)
        seconds, durable, mib, status = timed(command(tool, build, path, dst), dst)
        readable, packets, duration, end = probe(dst) if os.path.exists(dst) else (False, 0, None, 0)
        rows.append({
            "file": name, "tool": tool, "status": status, "readable": readable, "packets": packets,
            "duration": duration, "end": end,
            "true_duration": readable and duration is not None and abs(duration - end) <= 0.1,
            "index": readable and has_index(dst), "seek_s": seek_time(dst, duration) if readable else None,
            "time_s": seconds, "on_disk_s": durable, "peak_mib": mib})
        if os.path.exists(dst):
            os.remove(dst)
    most = max(r["packets"] for r in rows)
    for r in rows:
        r["most"] = most
        r["sound"] = r["readable"] and r["true_duration"] and r["index"] and r["packets"] == most
    return rows


def fmt(v, spec="{:.2f}"):
    return "-" if v is None else spec.format(v)


def table(rows):
    head = f"{'file':22} {'tool':15} {'ok':>3} {'packets':>13} {'meta dur':>9} {'last end':>9} {'index':>5} {'seek s':>7} {'time s':>7} {'+flush':>7} {'MiB':>7} sound"
    lines = [head, "-" * len(head)]
    for r in rows:
        lines.append(f"{r['file'][:22]:22} {r['tool']:15} {'yes' if r['readable'] else 'no':>3} "
                     f"{r['packets']:>6}/{r['most']:<6} {fmt(r['duration']):>9} {r['end']:>9.2f} "
                     f"{'yes' if r['index'] else 'no':>5} {fmt(r['seek_s']):>7} {r['time_s']:>7.2f} "
                     f"{r['on_disk_s']:>7.2f} {r['peak_mib']:>7.1f} {'yes' if r['sound'] else 'NO'}")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--media", default="/tmp/movarin-repair-bench")
    ap.add_argument("--out", default=os.path.join(HERE, "results"))
    ap.add_argument("--quick", action="store_true", help="the small damaged files only")
    ap.add_argument("--only", help="run only the files whose names hold one of these words, ';' between")
    args = ap.parse_args()
    for tool in ("flvmeta", "yamdi", "ffmpeg", "ffprobe", "mpv"):
        if subprocess.run(["which", tool], capture_output=True).returncode != 0:
            sys.exit(f"{tool} is missing: scripts/install-deps.sh bench")
    files = make_files(args.media, args.quick)
    if args.only:
        wanted = args.only.split(";")
        files = [f for f in files if any(w in f[0] for w in wanted)]
    work = os.path.join(args.media, "out")
    os.makedirs(work, exist_ok=True)
    load = os.getloadavg()
    rows = []
    for name, path in files:
        # The file read once before the tools, so none of them pays for the cold disk alone.
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL)
        rows += judge(name, path, args.bin, work)
        print(table([r for r in rows if r["file"] == name]).split("\n", 2)[2], flush=True)
    end_load = os.getloadavg()
    text = table(rows) + f"\n\nload average at start {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}, at end {end_load[0]:.2f} {end_load[1]:.2f} {end_load[2]:.2f}\n"
    print("\n" + text)
    os.makedirs(args.out, exist_ok=True)
    stem = os.path.join(args.out, time.strftime("%Y-%m-%d-%H%M") + "-repair")
    with open(stem + ".csv", "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0].keys()))
        w.writeheader()
        w.writerows(rows)
    open(stem + ".txt", "w").write(text)
    print("saved", stem + ".csv", stem + ".txt")


if __name__ == "__main__":
    main()
