#!/usr/bin/env python3
"""Seek latency in long FLV recordings without a keyframe index (what ffmpeg and most live
recorders write), Movarin beside mpv, each in an X server of its own, and the first frame of each
file. Prints the table with Movarin's ratio to mpv and saves it under --out.

  seeks.py --bin BUILD --media DIR --out DIR [--rounds N] [--baseline OLD_BUILD]

The files are made once into --media: 1 h and 4 h, 320x240 Spark at 150 kbit/s with MP3 sound,
a keyframe every 10 s. A 160x120 box in the picture's corner has a colour of its own for each
second, so the picture for a time is known without asking the player. A seek is timed from just
before it is asked (Movarin: MPRIS SetPosition through dbus-send, whose start is in the figure;
mpv: its JSON IPC socket) to the box on screen having the target second's colour. Both players
are paused, so the target picture stays. Each round asks each target a few seconds later than
the round before, so no player finds the place it found last time.
"""

import argparse
import csv
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peers  # noqa: E402

peers.SCREEN = (800, 600)

FILES = [("1 h", "seek-1h.flv", 3600), ("4 h", "seek-4h.flv", 14400)]
BOX = ("color=black:s=16x12:r=30,format=rgb24,geq=r='16*mod(floor(T),16)'"
       ":g='16*mod(floor(T/16),16)':b='16*mod(floor(T/256),16)',scale=160x120:flags=neighbor")
TOLERANCE = 10


def targets(length):
    # Halfway between keyframes, so that each seek decodes on from one.
    return [1505.5, 3005.5, length - 54.5]


def colour_at(seconds):
    s = int(seconds)
    return (16 * (s % 16), 16 * (s // 16 % 16), 16 * (s // 256 % 16))  # r, g, b


def make_media(directory):
    os.makedirs(directory, exist_ok=True)
    for _, name, seconds in FILES:
        path = os.path.join(directory, name)
        if os.path.exists(path) and os.path.getsize(path):
            continue
        print(f"making {path} (once)", file=sys.stderr)
        subprocess.run(
            ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
             "-f", "lavfi", "-i", "testsrc=size=320x240:rate=30", "-f", "lavfi", "-i", BOX,
             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
             "-filter_complex", "[0][1]overlay=format=auto", "-t", str(seconds),
             "-c:v", "flv1", "-b:v", "150k", "-g", "300", "-c:a", "libmp3lame", "-b:a", "32k",
             "-ar", "44100", path + ".tmp.flv"], check=True)
        os.replace(path + ".tmp.flv", path)


def pixel(fb, x, y):
    at = fb.offset + y * fb.stride + x * 4
    b, g, r = fb.map[at], fb.map[at + 1], fb.map[at + 2]
    return r, g, b


def near(c, want):
    return all(abs(a - b) <= TOLERANCE for a, b in zip(c, want))


def find_box(fb, want):
    """Points inside the screen's region of colour `want`, or None."""
    xs, ys = [], []
    for y in range(0, peers.SCREEN[1], 4):
        for x in range(0, peers.SCREEN[0], 4):
            if near(pixel(fb, x, y), want):
                xs.append(x)
                ys.append(y)
    if len(xs) < 100:
        return None
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    return [(x0 + (x1 - x0) * i // 6, y0 + (y1 - y0) * j // 6)
            for i in range(1, 6) for j in range(1, 6)]


def shows(fb, points, want):
    return all(near(pixel(fb, x, y), want) for x, y in points)


def wait_for(check, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if check():
            return True
        time.sleep(0.001)
    return False


class MovarinSeeks:
    def __init__(self, bin_dir, name="movarin"):
        self.name = name
        self.program = os.path.abspath(os.path.join(bin_dir, "movarin"))

    def start(self, path, env, workdir):
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                              "--print-pid=1"], capture_output=True, text=True, check=True)
        address, pid = out.stdout.split()[:2]
        self.bus_pid = int(pid)
        env = dict(env, DBUS_SESSION_BUS_ADDRESS=address)
        self.env = env
        # The program writes its log beside itself: a copy of its own keeps the build clean.
        exe = os.path.join(workdir, "movarin")
        shutil.copy(self.program, exe)
        return subprocess.Popen([exe, path], env=env, cwd=workdir, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def _send(self, *args):
        return subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--reply-timeout=5000",
             "--dest=org.mpris.MediaPlayer2.movarin", "/org/mpris/MediaPlayer2", *args],
            env=self.env, capture_output=True, text=True).stdout

    def ready(self):
        meta = self._send("org.freedesktop.DBus.Properties.Get",
                          "string:org.mpris.MediaPlayer2.Player", "string:Metadata")
        m = re.search(r'mpris:trackid"\s+variant\s+object path "([^"]+)"', meta)
        self.track = m.group(1) if m else None
        return self.track is not None

    def pause(self):
        self._send("org.mpris.MediaPlayer2.Player.Pause")

    def seek(self, seconds):
        self._send("org.mpris.MediaPlayer2.Player.SetPosition", "objpath:" + self.track,
                   f"int64:{int(seconds * 1e6)}")

    def stop(self):
        subprocess.run(["kill", str(self.bus_pid)])


class MpvSeeks:
    name = "mpv"

    def start(self, path, env, workdir):
        self.sock_path = os.path.join(workdir, "mpv.sock")
        return subprocess.Popen(
            ["mpv", "--no-config", "--vo=x11", "--ao=null", "--hwdec=no", "--really-quiet",
             "--osd-level=0", "--geometry=+0+0", "--input-ipc-server=" + self.sock_path, path],
            env=env, cwd=workdir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def ready(self):
        try:
            self.sock = socket.socket(socket.AF_UNIX)
            self.sock.connect(self.sock_path)
            return True
        except OSError:
            return False

    def _command(self, *words):
        self.sock.sendall((json.dumps({"command": list(words)}) + "\n").encode())

    def pause(self):
        self._command("set_property", "pause", True)

    def seek(self, seconds):
        self._command("seek", seconds, "absolute")

    def stop(self):
        self.sock.close()


def run_player(player, path, length, rounds):
    """First frame ms and {target: [seek ms per round]}, or None."""
    x = peers.Xvfb()
    workdir = tempfile.mkdtemp(prefix="movarin-seek-")
    env = dict(os.environ, DISPLAY=x.display, HOME=workdir, XDG_RUNTIME_DIR=workdir)
    env.pop("QT_QPA_PLATFORM", None)
    begun = time.monotonic()
    proc = player.start(path, env, workdir)
    try:
        if not wait_for(lambda: x.fb.coloured(*peers.SCREEN), 20):
            print(f"{player.name}: no picture", file=sys.stderr)
            return None
        first = (time.monotonic() - begun) * 1000
        if not wait_for(player.ready, 10):
            print(f"{player.name}: no control", file=sys.stderr)
            return None
        player.pause()
        home = 5.5
        player.seek(home)
        points = None
        end = time.monotonic() + 10
        while points is None and time.monotonic() < end:
            points = find_box(x.fb, colour_at(home))
        if points is None:
            print(f"{player.name}: the box never showed second {int(home)}", file=sys.stderr)
            return None
        seeks = {}
        for r in range(rounds):
            for target in targets(length):
                at = target + 7 * r
                want = colour_at(at)
                t0 = time.monotonic()
                player.seek(at)
                ok = wait_for(lambda: shows(x.fb, points, want), 10)
                ms = (time.monotonic() - t0) * 1000 if ok else None
                seeks.setdefault(target, []).append(ms)
                player.seek(home)
                wait_for(lambda: shows(x.fb, points, colour_at(home)), 10)
                time.sleep(0.3)
        return first, seeks
    finally:
        try:
            player.stop()
        except OSError:
            pass
        peers.end_process(proc)
        x.close()
        shutil.rmtree(workdir, ignore_errors=True)


def fmt(v):
    return "n/a" if v is None else f"{v:.0f}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--media", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--baseline", default="",
                        help="build directory of an earlier Movarin, measured as 'before'")
    args = parser.parse_args()

    make_media(args.media)
    players = [MovarinSeeks(args.bin), MpvSeeks()]
    if args.baseline:
        players.insert(1, MovarinSeeks(args.baseline, "before"))
    load_before = open("/proc/loadavg").read().split()[:3]
    rows = []
    for label, name, length in FILES:
        path = os.path.abspath(os.path.join(args.media, name))
        results = {}
        for player in players:
            print(f"{label}: {player.name}", file=sys.stderr)
            results[player.name] = run_player(player, path, length, args.rounds)
        figures = [("first frame", lambda r: r[0])] + [
            (f"seek to {t:.1f} s", lambda r, t=t: peers.med(r[1].get(t, []))) for t in targets(length)]
        for title, pick in figures:
            row = {"file": label, "figure": title}
            for p in players:
                row[p.name] = pick(results[p.name]) if results[p.name] else None
            if row.get("movarin") and row.get("mpv"):
                row["ratio"] = row["movarin"] / row["mpv"]
            rows.append(row)
    load_after = open("/proc/loadavg").read().split()[:3]

    names = [p.name for p in players]
    print(f"{'file':5} | {'figure':16} | " + " | ".join(f"{n:>8}" for n in names) +
          " | movarin / mpv")
    for row in rows:
        ratio = f"{row['ratio']:.2f}" if "ratio" in row else "-"
        print(f"{row['file']:5} | {row['figure']:16} | " +
              " | ".join(f"{fmt(row.get(n)):>8}" for n in names) + f" | {ratio}")
    print(f"ms; seeks: SetPosition (mpv: IPC seek) to the target picture on screen, paused, "
          f"medians of {args.rounds}; first frame: exec to a coloured picture; load average "
          f"before {' '.join(load_before)}, after {' '.join(load_after)}")

    os.makedirs(args.out, exist_ok=True)
    out = os.path.join(args.out, time.strftime("%Y-%m-%d-%H%M") + "-seeks.csv")
    with open(out, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["date", "file", "figure", *names, "ratio_movarin_to_mpv", "rounds",
                    "load_before", "load_after"])
        for row in rows:
            w.writerow([time.strftime("%Y-%m-%dT%H:%M:%S"), row["file"], row["figure"],
                        *[fmt(row.get(n)) for n in names],
                        f"{row['ratio']:.3f}" if "ratio" in row else "", args.rounds,
                        " ".join(load_before), " ".join(load_after)])
    print(f"saved {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
