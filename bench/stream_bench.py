#!/usr/bin/env python3
"""Internet radio in the real program under X: the `velmo` binary started under Xvfb with a main
list holding one radio entry, played with F1, against `mpg123 -o pulse` playing the same address.

Measured in one run, each against a reference measured in the same run:
  - from the play command to the first sound at the sound server's sink (the null sink's
    monitor, recorded at low latency), against mpg123 from its start to its first sound;
  - whole-process CPU while a 128 kbit/s stream plays, same seconds, against mpg123;
  - RSS after `--long-minutes` of streaming against RSS after the first minute;
  - the window's longest event-loop stall while connecting to a server that accepts and never
    answers, against the same seconds of the idle window (the program marks every stall over
    20 ms when VELMO_MILESTONES and VELMO_WATCH_STALLS are set; only this run sets the second,
    since the watch's timer would weigh on the CPU figure).

The radio server is Icecast on 127.0.0.1 (scripts/start-radio-server.sh; its address comes in
VELMO_TEST_RADIO). Needs Xvfb, xdotool, mpg123, parec and a running sound server.
"""
import argparse
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_bench import Display, Velmo, cpu_ns_of, log  # noqa: E402

RATE = 44100
LOUD = 300  # of 32767: well above the null sink's silence, far below the tone


class Monitor:
    """Records the null sink's monitor and notes when sound first comes out."""

    def __init__(self):
        self.proc = subprocess.Popen(
            ["parec", "-d", "velmo_null.monitor", "--latency-msec=5", "--format=s16le",
             "--rate=%d" % RATE, "--channels=1", "--raw"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
        self.first_loud = None
        self.armed_at = None
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        time.sleep(0.5)  # the recorder's own start is not part of any figure

    def _read(self):
        while True:
            chunk = self.proc.stdout.read(512)
            if not chunk:
                return
            now = time.monotonic_ns()
            samples = struct.unpack("<%dh" % (len(chunk) // 2), chunk[:len(chunk) // 2 * 2])
            with self.lock:
                if self.armed_at is None or self.first_loud is not None:
                    continue
                for i, s in enumerate(samples):
                    if abs(s) > LOUD:
                        # The chunk arrived when its last sample had been played.
                        self.first_loud = now - (len(samples) - i) * 1_000_000_000 // RATE
                        break

    def arm(self):
        with self.lock:
            self.armed_at = time.monotonic_ns()
            self.first_loud = None

    def wait_sound(self, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                if self.first_loud is not None:
                    return self.first_loud
            time.sleep(0.002)
        raise SystemExit("no sound within %d s" % timeout)

    def wait_silence(self, seconds=1.0, timeout=20):
        """Until the sink has been quiet for `seconds`, so the next start is heard from silence."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.arm()
            time.sleep(seconds)
            with self.lock:
                if self.first_loud is None:
                    return
        raise SystemExit("the sink never fell silent")

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class SilentServer:
    """Accepts connections on 127.0.0.1 and never answers."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.url = "http://127.0.0.1:%d/silent" % self.sock.getsockname()[1]
        self.held = []
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.held.append(conn)

    def close(self):
        self.sock.close()
        for conn in self.held:
            conn.close()


def data_with_entry(work, name, url):
    """A data folder whose stored main list holds one radio entry pointing at `url`."""
    data = os.path.join(work, name)
    shutil.rmtree(data, ignore_errors=True)
    os.makedirs(os.path.join(data, "velmo"))
    entry = os.path.join(data, "station.m3u")
    with open(entry, "w") as f:
        f.write("#EXTM3U\n#EXTINF:-1,Bench\n%s\n" % url)
    with open(os.path.join(data, "velmo", "MP3_PLAYER_PLAY_LIST.DAT"), "w") as f:
        f.write("[0PlayList]\nFileName=%s\nFileSize=1\nTime=\nOnlyName=station.m3u\n"
                "[PlayList]\nCount=1\n_TotalTime=0\n" % entry)
    return data


def play_entry(velmo):
    """Clicks the entry (the list's first row, at this height in the window's default layout)
    and plays it with F1; returns the moment the program ran the command."""
    velmo.wait_mark("shown")
    velmo.keys("shift")  # finds and focuses the window
    velmo.xdotool("mousemove", "--window", velmo.window, "100", "130", "click", "1")
    velmo.xdotool("key", "F1")
    ns, _ = velmo.wait_mark("command", "Mp3Play", timeout=30)
    return ns


def median(values):
    return statistics.median(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velmo", required=True)
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "velmo-stream-bench"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cpu-seconds", type=int, default=10)
    parser.add_argument("--long-minutes", type=float, default=10)
    parser.add_argument("--skip", default="", help="comma-separated: start,cpu,memory,stall")
    opts = parser.parse_args()
    skip = set(filter(None, opts.skip.split(",")))
    base = os.environ.get("VELMO_TEST_RADIO")
    if not base:
        raise SystemExit("VELMO_TEST_RADIO is not set: start scripts/start-radio-server.sh")
    url = base.rstrip("/") + "/tone.mp3"
    binary = os.path.abspath(opts.velmo)
    os.makedirs(opts.work, exist_ok=True)

    def report(name, figure, unit, reference_name=None, reference=None):
        if reference is None:
            print("%-58s %10.1f %s" % (name, figure, unit))
        else:
            print("%-58s %10.1f %s  = %.2fx %s (%.1f %s)" % (
                name, figure, unit, figure / reference, reference_name, reference, unit))

    display = Display()
    monitor = Monitor()
    try:
        data = data_with_entry(opts.work, "radio", url)
        if "start" not in skip:
            ours, theirs = [], []
            for _ in range(opts.runs):
                monitor.wait_silence()
                velmo = Velmo(binary, display.name, data)
                velmo.wait_mark("shown")
                monitor.arm()
                command = play_entry(velmo)
                ours.append(monitor.wait_sound() - command)
                velmo.kill()

                monitor.wait_silence()
                monitor.arm()
                started = time.monotonic_ns()
                ref = subprocess.Popen(["mpg123", "-q", "-o", "pulse", url],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                theirs.append(monitor.wait_sound() - started)
                ref.terminate()
                ref.wait()
            report("Play to first sound, local Icecast (ms)", median(ours) / 1e6, "ms",
                   "mpg123 -o pulse", median(theirs) / 1e6)

        if "cpu" not in skip:
            ours, theirs = [], []
            for _ in range(max(1, opts.runs // 2)):
                velmo = Velmo(binary, display.name, data)
                play_entry(velmo)
                monitor.arm()
                monitor.wait_sound()
                time.sleep(2)
                before = cpu_ns_of(velmo.proc.pid)
                time.sleep(opts.cpu_seconds)
                ours.append(cpu_ns_of(velmo.proc.pid) - before)
                velmo.kill()

                ref = subprocess.Popen(["mpg123", "-q", "-o", "pulse", url],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(2)
                before = cpu_ns_of(ref.pid)
                time.sleep(opts.cpu_seconds)
                theirs.append(cpu_ns_of(ref.pid) - before)
                ref.terminate()
                ref.wait()
            report("CPU streaming 128 kbit/s, %d s (ms)" % opts.cpu_seconds, median(ours) / 1e6,
                   "ms", "mpg123 -o pulse", median(theirs) / 1e6)

        if "stall" not in skip:
            silent = SilentServer()
            try:
                stall_data = data_with_entry(opts.work, "silent", silent.url)
                velmo = Velmo(binary, display.name, stall_data,
                              extra_env={"VELMO_WATCH_STALLS": "1"})
                velmo.wait_mark("shown")
                time.sleep(1)
                idle_from = time.monotonic_ns()
                time.sleep(5)
                command = play_entry(velmo)
                time.sleep(5)  # connecting: the server never answers within this
                marks = velmo.marks()
                velmo.kill()

                def longest(lo, hi):
                    gaps = [int(v) for ns, m, v in marks if m == "stall" and lo <= int(ns) < hi]
                    return max(gaps, default=0)
                idle = longest(idle_from, idle_from + 5_000_000_000)
                connecting = longest(command, command + 5_000_000_000)
                report("Longest stall connecting to a silent server, 5 s (ms; 0 = none > 20)",
                       connecting, "ms")
                report("Longest stall of the idle window, 5 s (ms; 0 = none > 20)", idle, "ms")
            finally:
                silent.close()

        if "memory" not in skip:
            velmo = Velmo(binary, display.name, data)
            play_entry(velmo)
            monitor.arm()
            monitor.wait_sound()
            time.sleep(60)
            first = velmo.rss_kib()
            time.sleep(max(0.0, opts.long_minutes - 1) * 60)
            last = velmo.rss_kib()
            velmo.kill()
            report("RSS after 1 min of streaming (MiB)", first / 1024, "MiB")
            report("RSS after %g min of streaming (MiB)" % opts.long_minutes, last / 1024, "MiB")
            report("RSS growth from minute 1 (KiB)", last - first, "KiB")
    finally:
        monitor.close()
        display.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
