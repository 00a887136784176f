#!/usr/bin/env python3
"""Plays the same files in Movarin and in other players, one X server each, and prints and saves
the table: CPU (player + X server seconds per second of playback), peak resident memory, start to
first frame and dropped frames, each with Movarin's ratio to the best peer.

  peers.py --bin BUILD --media DIR --out DIR [--rounds N] [--seconds S] [--players a,b]
           [--baseline OLD_BUILD]   (an earlier Movarin in the same run, as "before")
           [--rows plain,scaled,gl] [--display :0]

Rows "plain" play each file at its own size on a 2048x1280 screen. Rows "scaled" play where the
picture is scaled, every player at the same on-screen size under the same window manager
(openbox; full screen without one): 360p in full screen on 1920x1080, 1080p fitted on a 1920x1080 screen, 720p with
QT_SCALE_FACTOR=2 on 3840x2160 (the others at twice the size). Row "gl" plays 720p through
Movarin's OpenGL output (MOVARIN_VIDEO_OUTPUT=gl) beside mpv --vo=gpu: on Xvfb that is Mesa's
llvmpipe, recorded rather than a goal. With --display, the players use that X server (a real
display and GPU, see bench/gpu.sh) instead of Xvfb: first frames and X server CPU are not taken.

Start to first frame is from just before exec to the first coloured pixel in the X server's
frame buffer, which Xvfb keeps in a file (-fbdir) that is read here without an X client, so
polling costs the server nothing. Players take turns within each round, in a rotating order,
because the machine is shared and its load drifts. Only the Python standard library is used.
"""

import argparse
import csv
import json
import mmap
import os
import pwd
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

SCREEN = (2048, 1280)
FPS = 30
CLK_TCK = os.sysconf("SC_CLK_TCK")

# (label, file name, ffmpeg video arguments, natural size)
FILES = [
    ("Spark 640x360", "spark-640x360.flv", ["-c:v", "flv1", "-q:v", "4"], (640, 360)),
    ("H.264 1280x720", "h264-1280x720.flv",
     ["-c:v", "libx264", "-preset", "fast", "-pix_fmt", "yuv420p", "-b:v", "3M"], (1280, 720)),
    ("H.264 1920x1080", "h264-1920x1080.flv",
     ["-c:v", "libx264", "-preset", "fast", "-pix_fmt", "yuv420p", "-b:v", "6M"], (1920, 1080)),
]


# Rows where the picture is scaled: (label, file name, natural size, screen, view). Every player
# shows the same on-screen size: full screen, or the size Movarin fits the picture to (measured
# in a first run of its own), which mpv gets as its window size and VLC as its zoom.
SCALED = [
    ("360p full 1920x1080", "spark-640x360.flv", (640, 360), (1920, 1080), {"full": True}),
    ("1080p fit 1920x1080", "h264-1920x1080.flv", (1920, 1080), (1920, 1080), {"fit": True}),
    ("720p scale 2", "h264-1280x720.flv", (1280, 720), (3840, 2160),
     {"fit": True, "movarin_env": {"QT_SCALE_FACTOR": "2"}}),
    # Widths of both parities: swscale once cost four times as much at odd ones.
    ("1080p fit odd", "h264-1920x1080.flv", (1920, 1080), SCREEN, {"fit": True, "parity": 1}),
    ("1080p fit even", "h264-1920x1080.flv", (1920, 1080), (2049, 1280),
     {"fit": True, "parity": 0}),
    ("720p at 1001x563", "h264-1280x720.flv", (1280, 720), SCREEN,
     {"fit": True, "parity": 1, "movarin_env": {"MOVARIN_BENCH_SIZE": "1001x563"}}),
]
# Movarin's OpenGL output beside mpv's; on Xvfb both draw with Mesa's llvmpipe.
GL = [
    ("720p GL", "h264-1280x720.flv", (1280, 720), SCREEN,
     {"gl": True, "movarin_env": {"MOVARIN_VIDEO_OUTPUT": "gl"}}),
    ("720p GL at 1001x563", "h264-1280x720.flv", (1280, 720), SCREEN,
     {"gl": True, "fit": True,
      "movarin_env": {"MOVARIN_VIDEO_OUTPUT": "gl", "MOVARIN_BENCH_SIZE": "1001x563"}}),
    ("720p GL at 1000x562", "h264-1280x720.flv", (1280, 720), SCREEN,
     {"gl": True, "fit": True,
      "movarin_env": {"MOVARIN_VIDEO_OUTPUT": "gl", "MOVARIN_BENCH_SIZE": "1000x562"}}),
]


def make_media(directory):
    os.makedirs(directory, exist_ok=True)
    for _, name, video, (w, h) in FILES:
        path = os.path.join(directory, name)
        if os.path.getsize(path) if os.path.exists(path) else 0:
            continue
        print(f"making {path} (once)", file=sys.stderr)
        subprocess.run(
            ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
             "-f", "lavfi", "-i", f"testsrc2=size={w}x{h}:rate={FPS}:duration=24",
             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=24",
             *video, "-c:a", "libmp3lame", "-b:a", "128k", "-ar", "44100", path + ".tmp.flv"],
            check=True)
        os.replace(path + ".tmp.flv", path)
    # Players that run as an unprivileged user must be able to read them.
    os.chmod(directory, 0o755)
    for _, name, _, _ in FILES:
        os.chmod(os.path.join(directory, name), 0o644)


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


class FrameBuffer:
    """Xvfb's screen as the XWD file it keeps under -fbdir."""

    def __init__(self, path):
        self.file = open(path, "rb")
        self.map = mmap.mmap(self.file.fileno(), 0, access=mmap.ACCESS_READ)
        head = struct.unpack(">25I", self.map[:100])
        header_size, bits_per_pixel, self.stride, ncolors = head[0], head[11], head[12], head[19]
        if bits_per_pixel != 32:
            raise RuntimeError("the bench wants a 24-bit screen at 32 bits per pixel")
        self.offset = header_size + ncolors * 12

    def coloured(self, width, height, step=8):
        """True once any sampled pixel in the top-left width x height is clearly not grey."""
        m = self.map
        for y in range(0, height, step):
            row = self.offset + y * self.stride
            line = m[row:row + width * 4]
            b, g, r = line[0::4 * step], line[1::4 * step], line[2::4 * step]
            # A grey row is settled at C speed: a Python loop over every row of a 1080p window
            # took several ms per poll, on a core the player needs.
            if b == g == r:
                continue
            for i in range(len(b)):
                hi = max(b[i], g[i], r[i])
                lo = min(b[i], g[i], r[i])
                if hi - lo > 80:
                    return True
        return False

    def close(self):
        self.map.close()
        self.file.close()


class Xvfb:
    def __init__(self, screen=SCREEN, window_manager=False):
        self.screen = screen
        self.wm = None
        self.dir = tempfile.mkdtemp(prefix="movarin-bench-", dir="/dev/shm")
        read, write = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{screen[0]}x{screen[1]}x24",
             "-fbdir", self.dir, "-nolisten", "tcp", "-br", "-ac"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.display = ":" + number.decode().strip()
        self.fb = FrameBuffer(os.path.join(self.dir, "Xvfb_screen0"))
        os.chmod(self.dir, 0o755)
        if window_manager:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"],
                                       env=dict(os.environ, DISPLAY=self.display),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)

    def close(self):
        if self.wm:
            end_process(self.wm)
        self.fb.close()
        self.proc.terminate()
        self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class RealDisplay:
    """An X server that is already there (a desktop with a GPU); nothing is started or read."""

    def __init__(self, display):
        self.display = display
        self.proc = None
        self.fb = None
        self.screen = SCREEN  # not read: the display is what it is

    def close(self):
        pass


class StderrTail(threading.Thread):
    """Keeps the last status line a player writes, so a full pipe never stalls it."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream = stream
        self.text = b""

    def run(self):
        while True:
            chunk = self.stream.read1(65536) if hasattr(self.stream, "read1") else b""
            if not chunk:
                return
            self.text = (self.text + chunk)[-65536:]


# Every player gets the same: no sound device (audio is still decoded), its own X11 output in
# software, looping, no on-screen text of its own.
class Movarin:
    name = "movarin"
    user = None

    def __init__(self, bin_dir, name="movarin"):
        self.name = name
        self.program = os.path.abspath(os.path.join(bin_dir, "movarin_bench"))
        self.picture = None  # device pixels of the last run's picture
        self.output = "software"

    def command(self, path, seconds, workdir, view):
        return [self.program, "play", path, str(seconds)]

    def used(self, workdir):
        """Movarin's engine decodes in software (hwdec=no); the output is the one asked for."""
        return {"output": self.output, "decoder": "software (hwdec=no, as set up)"}

    def env(self, view):
        env = dict(view.get("movarin_env", {}))
        self.output = env.get("MOVARIN_VIDEO_OUTPUT", "software")
        if view.get("full"):
            env["MOVARIN_BENCH_FULLSCREEN"] = "1"
        return env

    def stdout(self):
        return subprocess.PIPE

    def drops_begin(self, proc, workdir):
        return None

    def drops_end(self, proc, workdir, begin, tail):
        # movarin_bench reports, when its play time is over, the frames it put on screen.
        try:
            out, _ = proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            return None
        values = dict(zip(out.split()[0::2], out.split()[1::2]))
        try:
            self.picture = tuple(int(v) for v in values[b"picture"].split(b"x"))
        except (KeyError, ValueError):
            self.picture = None
        try:
            return max(0, round(float(values[b"video"]) * FPS) - int(values[b"shown"]))
        except (KeyError, ValueError):
            return None


class Mpv:
    name = "mpv"
    user = None

    def command(self, path, seconds, workdir, view):
        size = view.get("size")
        geometry = f"{size[0]}x{size[1]}+0+0" if size else "+0+0"
        gl = view.get("gl")
        return ["mpv", "--no-config", "--vo=gpu" if gl else "--vo=x11", "--ao=null",
                "--hwdec=" + ("auto" if gl and view.get("real") else "no"), "--loop-file=inf",
                "--really-quiet", "--osd-level=0", "--geometry=" + geometry,
                *(["--fs"] if view.get("full") else []),
                "--input-ipc-server=" + os.path.join(workdir, "mpv.sock"), path]

    def env(self, view):
        return {}

    def used(self, workdir):
        """What rendered and decoded, as mpv says."""
        try:
            return {p: self._get(workdir, p) for p in ("current-vo", "hwdec-current")}
        except (OSError, ValueError):
            return {}

    def _get(self, workdir, prop):
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(5)
        s.connect(os.path.join(workdir, "mpv.sock"))
        s.sendall((json.dumps({"command": ["get_property", prop]}) + "\n").encode())
        reply = b""
        while not reply.endswith(b"\n"):
            reply += s.recv(4096)
        s.close()
        return json.loads(reply.splitlines()[-1]).get("data")

    def stdout(self):
        return subprocess.DEVNULL

    def _query(self, workdir):
        s = socket.socket(socket.AF_UNIX)
        s.settimeout(5)
        s.connect(os.path.join(workdir, "mpv.sock"))
        total = 0
        for prop in ("frame-drop-count", "decoder-frame-drop-count"):
            s.sendall((json.dumps({"command": ["get_property", prop]}) + "\n").encode())
            reply = b""
            while not reply.endswith(b"\n"):
                reply += s.recv(4096)
            total += int(json.loads(reply.splitlines()[-1]).get("data") or 0)
        s.close()
        return total

    def drops_begin(self, proc, workdir):
        try:
            return self._query(workdir)
        except (OSError, ValueError):
            return None

    def drops_end(self, proc, workdir, begin, tail):
        try:
            end = self._query(workdir)
        except (OSError, ValueError):
            return None
        return None if begin is None else end - begin


class Vlc:
    name = "vlc"
    user = "nobody"  # it will not run as root

    def command(self, path, seconds, workdir, view):
        size, natural = view.get("size"), view.get("natural")
        if view.get("full") and natural:
            # Its full screen needs a window manager: a window of the screen's size is the same.
            screen = view["screen"]
            size = (screen[0], round(natural[1] * screen[0] / natural[0]))
        zoom = [f"--zoom={size[0] / natural[0]:.4f}"] if size and natural else []
        full = ["--fullscreen"] if view.get("full") else []
        return ["vlc", "-I", "rc", "--rc-fake-tty", "--vout=xcb_x11", "--aout=adummy",
                "--no-video-title-show", "--no-osd", "--loop", "--no-qt-error-dialogs",
                *zoom, *full, path]

    def env(self, view):
        return {}

    def stdout(self):
        return subprocess.PIPE

    def _lost(self, proc, tail):
        before = len(tail.text)
        proc.stdin.write(b"stats\n")
        proc.stdin.flush()
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            found = re.findall(rb"frames lost\s*:\s*(\d+)", tail.text[before:])
            if found:
                return int(found[-1])
            time.sleep(0.02)
        return None

    def drops_begin(self, proc, workdir):
        return ("vlc", proc)

    def drops_end(self, proc, workdir, begin, tail):
        return self._lost(proc, tail)


class Ffplay:
    name = "ffplay"
    user = None

    def command(self, path, seconds, workdir, view):
        return ["ffplay", "-hide_banner", "-left", "0", "-top", "0", "-loop", "0", path]

    def env(self, view):
        return {}

    def stdout(self):
        return subprocess.DEVNULL

    def drops_begin(self, proc, workdir):
        return None

    def drops_end(self, proc, workdir, begin, tail):
        found = re.findall(rb"fd=\s*(\d+)", tail.text)
        return int(found[-1]) if found else None


def run_one(player, path, size, x, warmup, seconds, start_only=False, view=None):
    """One run: start to first frame (ms), CPU per second, peak MiB, dropped frames; with
    start_only, the first frame alone. On a real display the first frame is not seen: the
    warm-up then starts at exec."""
    view = view or {}
    workdir = tempfile.mkdtemp(prefix="movarin-peer-")
    env = dict(os.environ, DISPLAY=x.display, SDL_AUDIODRIVER="dummy", HOME=workdir,
               XDG_RUNTIME_DIR=workdir, **player.env(view))
    env.pop("QT_QPA_PLATFORM", None)
    prefix = []
    if player.user:
        info = pwd.getpwnam(player.user)
        os.chown(workdir, info.pw_uid, info.pw_gid)
        prefix = ["setpriv", f"--reuid={info.pw_uid}", f"--regid={info.pw_gid}", "--clear-groups"]
    tail_source = player is not None and isinstance(player, (Vlc, Ffplay))
    # Going full screen takes a moment after the first frame.
    if view.get("full") and not start_only:
        warmup += 2
    start = time.monotonic()
    proc = subprocess.Popen(prefix + player.command(path, warmup + seconds + 1.0, workdir, view),
                            env=env, cwd=workdir, stdin=subprocess.PIPE,
                            stdout=player.stdout(),
                            stderr=subprocess.PIPE if isinstance(player, Ffplay) else
                            subprocess.DEVNULL)
    tail = None
    if tail_source:
        tail = StderrTail(proc.stdout if isinstance(player, Vlc) else proc.stderr)
        tail.start()
    first = None
    try:
        w, h = min(size[0], x.screen[0]), min(size[1] + 80, x.screen[1])
        if view.get("whole_screen"):
            w, h = x.screen
        while x.fb and time.monotonic() - start < 20:
            if x.fb.coloured(w, h):
                first = (time.monotonic() - start) * 1000
                break
            if proc.poll() is not None:
                break
            time.sleep(0.002)
        if first is None and x.fb:
            print(f"{player.name}: no picture on {path}", file=sys.stderr)
            return None
        if start_only:
            return first, None, None, None, None
        time.sleep(warmup)
        begin = player.drops_begin(proc, workdir)
        server = (lambda: cpu_ticks(x.proc.pid)) if x.proc else (lambda: 0)
        p0, x0 = cpu_ticks(proc.pid), server()
        t0 = time.monotonic()
        time.sleep(seconds)
        p1, x1 = cpu_ticks(proc.pid), server()
        t1 = time.monotonic()
        rss = peak_rss_mib(proc.pid)
        if view.get("report") is not None and hasattr(player, "used"):
            view["report"][player.name] = player.used(workdir)
        drops = player.drops_end(proc, workdir, begin, tail)
        if view.get("full") and isinstance(player, Movarin) and x.fb and \
                player.picture != tuple(x.screen):
            print(f"{player.name}: not in full screen ({player.picture})", file=sys.stderr)
            return None
        cpu = (p1 - p0 + x1 - x0) / CLK_TCK / (t1 - t0)
        return first, cpu, rss, drops, (x1 - x0) / CLK_TCK / (t1 - t0) if x.proc else None
    finally:
        end_process(proc)
        shutil.rmtree(workdir, ignore_errors=True)


def end_process(proc):
    """Asks a player to end, and kills it if it has not within 5 s."""
    if proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(v, digits):
    return "n/a" if v is None or v != v else f"{v:.{digits}f}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--media", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=8)
    parser.add_argument("--warmup", type=float, default=2)
    parser.add_argument("--starts", type=int, default=8,
                        help="further runs per player and file that end at the first frame: "
                             "start-up spreads far more than the rest from run to run")
    parser.add_argument("--players", default="movarin,mpv,vlc,ffplay")
    parser.add_argument("--files", default="", help="labels' sizes to keep, e.g. 360,720")
    parser.add_argument("--baseline", default="",
                        help="build directory of an earlier Movarin, measured as 'before'")
    parser.add_argument("--rows", default="plain,scaled",
                        help="plain (each file at its own size), scaled, gl")
    parser.add_argument("--display", default="",
                        help="play on this X server (a real display) instead of Xvfb")
    args = parser.parse_args()

    make_media(args.media)
    every = {"movarin": Movarin(args.bin), "mpv": Mpv(), "vlc": Vlc(), "ffplay": Ffplay()}
    players = [every[p] for p in args.players.split(",")]
    if args.baseline:
        players.insert(1, Movarin(args.baseline, "before"))
    files = [f for f in FILES if not args.files or any(k in f[0] for k in args.files.split(","))]
    kinds = args.rows.split(",")
    # (label, file name, natural size, screen, view, player names or None for all)
    rows_to_play = []
    if "plain" in kinds:
        rows_to_play += [(label, name, size, SCREEN, {}, None) for label, name, _, size in files]
    wanted = args.files.split(",") if args.files else None
    if "scaled" in kinds:
        rows_to_play += [(*r, ("movarin", "before", "mpv", "vlc")) for r in SCALED
                         if not wanted or any(k in r[0] for k in wanted)]
    if "gl" in kinds:
        rows_to_play += [(*r, ("movarin", "before", "mpv")) for r in GL
                         if not wanted or any(k in r[0] for k in wanted)]
    load_before = open("/proc/loadavg").read().split()[:3]
    used = {}  # label -> player -> what rendered and decoded

    def server(screen, view):
        if args.display:
            return RealDisplay(args.display)
        # Full screen needs no window manager (and Movarin's is not yet steady under one).
        return Xvfb(screen, window_manager=bool(view) and not view.get("full"))

    results = {}  # (file label, player) -> list of runs
    raw = []
    for label, name, size, screen, base_view, allowed in rows_to_play:
        path = os.path.abspath(os.path.join(args.media, name))
        row_players = [p for p in players if allowed is None or p.name in allowed]
        view = dict(base_view, natural=size, screen=screen, report=used.setdefault(label, {}),
                    real=bool(args.display))
        if base_view:
            view["whole_screen"] = True
        if view.get("fit"):
            # The size Movarin fits the picture to is the size the others get.
            x = server(screen, view)
            try:
                run_one(every["movarin"], path, size, x, 0.5, 0.5, view=view)
            finally:
                x.close()
            view["size"] = every["movarin"].picture
            print(f"{label}: on-screen size {view['size']}", file=sys.stderr)
            if "parity" in view and view["size"] and view["size"][0] % 2 != view["parity"]:
                print(f"{label}: the width is not of the parity the row is for", file=sys.stderr)
        # Full rounds, then start-only ones; players take turns in a rotating order in each.
        # A first frame in a scaled row says nothing new (full screen comes after it).
        passes = [("round", args.rounds, False)]
        if not base_view and not args.display:
            passes.append(("start", args.starts, True))
        for kind, count, start_only in passes:
            for r in range(count):
                order = row_players[r % len(row_players):] + row_players[:r % len(row_players)]
                for player in order:
                    print(f"{label}, {kind} {r + 1} of {count}: {player.name}", file=sys.stderr)
                    x = server(screen, view)
                    try:
                        run = run_one(player, path, size, x, 0 if start_only else args.warmup,
                                      0 if start_only else args.seconds, start_only, view)
                    finally:
                        x.close()
                    results.setdefault((label, player.name), []).append(run)
                    values = [] if run is None else run[:1] if start_only else run
                    raw.append([label, player.name, f"start {r + 1}" if start_only else r + 1,
                                *(["failed"] if run is None else [fmt(v, 4) for v in values])])

    load_after = open("/proc/loadavg").read().split()[:3]
    peers = [p.name for p in players if p.name not in ("movarin", "before")]
    measures = [("CPU", 3, 1), ("of it X server", 3, 4), ("peak MiB", 0, 2),
                ("first frame ms", 0, 0), ("drops", 0, 3)]
    rows = []
    for label, *_ in rows_to_play:
        for title, digits, index in measures:
            row = {"file": label, "figure": title}
            for p in players:
                runs = [r for r in results.get((label, p.name), []) if r]
                row[p.name] = med([r[index] for r in runs])
            best = [row[p] for p in peers if row.get(p) is not None]
            if title not in ("drops", "of it X server") and best and row.get("movarin") is not None and min(best) > 0:
                row["ratio"] = row["movarin"] / min(best)
                row["best"] = peers[[row[p] for p in peers].index(min(best))]
            rows.append((row, digits))

    names = [p.name for p in players]
    print(f"{'file':20} | {'figure':14} | " + " | ".join(f"{n:>8}" for n in names) +
          " | ratio to best peer")
    for row, digits in rows:
        ratio = f"{row['ratio']:.2f} ({row['best']})" if "ratio" in row else "-"
        print(f"{row['file']:20} | {row['figure']:14} | " +
              " | ".join(f"{fmt(row.get(n), digits):>8}" for n in names) + f" | {ratio}")
    for label, report in used.items():
        for player, what in report.items():
            if what:
                print(f"{label}: {player} used " +
                      ", ".join(f"{k} {v}" for k, v in what.items()))
    print(f"CPU: player + X server seconds per second; first frame: exec to a coloured picture; "
          f"drops: frames not shown at {FPS} fps over {args.seconds:g} s; medians of "
          f"{args.rounds} (first frame at the file's own size: of {args.rounds + args.starts}); "
          f"scaled rows: every player at the same on-screen size; load average before {' '.join(load_before)}, after "
          f"{' '.join(load_after)}")

    os.makedirs(args.out, exist_ok=True)
    stamp = time.strftime("%Y-%m-%d-%H%M")
    out = os.path.join(args.out, f"{stamp}-peers.csv")
    with open(out, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["date", "file", "figure", *names, "ratio_to_best_peer", "best_peer", "rounds",
                    "seconds", "load_before", "load_after"])
        for row, digits in rows:
            w.writerow([time.strftime("%Y-%m-%dT%H:%M:%S"), row["file"], row["figure"],
                        *[fmt(row.get(n), max(digits, 1) + 1) for n in names],
                        fmt(row.get("ratio"), 3), row.get("best", ""), args.rounds, args.seconds,
                        " ".join(load_before), " ".join(load_after)])
    with open(out.replace("-peers.csv", "-peers-runs.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["file", "player", "round", "first_frame_ms", "cpu", "peak_mib", "drops",
                    "x_server_cpu"])
        w.writerows(raw)
    print(f"saved {out}", file=sys.stderr)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    main()
