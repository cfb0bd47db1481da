#!/usr/bin/env python3
"""The real program under X, as a user meets it: the `velmo` binary started as a process under
Xvfb with its own data folder and driven with keys through xdotool.

Measured in one run, each against a reference measured in the same run:
  - Load Directory of a 100,000-track Music/Artist/Album tree, from the folder chosen to the rows
    painted; once with no file in the chosen folder and once with one; against `find` doing a
    bare recursive stat walk of the same tree;
  - start with the stored list of those tracks, process start to the window painted with rows;
  - Exit with that list unchanged, from the key to the process gone;
  - start with a settings file that sets every value and picks Bulgarian (its language file read
    and applied), against the same start with no settings file; with no list and with that list;
  - start with that list and 1,000 stored groups of 100 tracks (the tree rebuilt from the disk),
    against the start with the list alone plus a bare stat walk of the tree;
  - RSS per track once the list is loaded and its durations measured, over the empty program;
  - whole-process CPU while playing a 320 kbit/s file with the window shown, against
    `mpg123 -o pulse` playing the same file.

The program reports its moments through VELMO_MILESTONES (CLOCK_MONOTONIC nanoseconds, the
clock of time.monotonic_ns). Needs Xvfb, xdotool, ffmpeg, mpg123 and a running sound server.
"""
import argparse
import os
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ARTISTS, ALBUMS, TRACKS = 100, 10, 100
DISTINCT_LENGTHS = 240  # seconds 1..240: a few hundred distinct duration texts, as in a library


# Every value away from its default, Bulgarian as the language.
SETTINGS_FILE = """[SysTry]
Enable=0
[DefPath]
Local=/home/user/Music/A folder name longer than thirty characters
[MyColor]
SetColor=12632256
[Volume]
CurrVolume=70
[Repeat]
State=1
[MyFont]
SetFont=DejaVu Sans
SetFontStyle=3
SetFontSize=11
SetFontColor=8388608
[SetCheckPlayList]
IsPlayListCheked=0
[FormResize]
FormX=1024
FormY=768
FormLeft=40
FormTop=30
[_SetGridLines]
GridLines_State=1
[SET_LANGUAGE]
DEFAULT_LANGUAGE=1
"""


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          **kw)


def artist_name(i):
    # Every tenth artist has a name that is hard on a program: not ASCII, not UTF-8, quotes.
    odd = {0: "Артист %d" % i, 3: "Bj\xf6rk's %d" % i, 5: 'The "Band" & Co %d' % i,
           7: "Sigur R\xf3s [%d]" % i}
    name = odd.get(i % 10, "Artist %03d" % i)
    if i % 20 == 3:
        return os.fsencode("Caf") + b"\xe9 %d" % i  # a Latin-1 byte: not a UTF-8 name
    return os.fsencode(name)


def make_sources(work):
    sources = os.path.join(work, "sources")
    done = os.path.join(sources, ".done")
    if os.path.exists(done):
        return sources
    os.makedirs(sources, exist_ok=True)
    log("making %d source files" % DISTINCT_LENGTHS)
    procs = []
    for seconds in range(1, DISTINCT_LENGTHS + 1):
        out = os.path.join(sources, "%03d.mp3" % seconds)
        procs.append(subprocess.Popen(
            ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             "anullsrc=r=8000:cl=mono", "-t", str(seconds), "-c:a", "libmp3lame", "-b:a", "8k",
             out], stdout=subprocess.DEVNULL))
        if len(procs) >= 8:
            for p in procs:
                if p.wait() != 0:
                    raise SystemExit("ffmpeg failed")
            procs = []
    for p in procs:
        if p.wait() != 0:
            raise SystemExit("ffmpeg failed")
    play = os.path.join(sources, "play320.mp3")
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         "aevalsrc=0.3*sin(2*PI*440*t)+0.1*(random(0)-0.5)|0.3*sin(2*PI*554*t)+0.1*(random(1)-0.5)"
         ":s=44100:d=60", "-c:a", "libmp3lame", "-b:a", "320k", play])
    open(done, "w").close()
    return sources


def make_tree(work, sources):
    """Music/Artist/Album/NN Title.mp3, hard links to the sources: 100,000 names, little disk."""
    root = os.path.join(work, "Music")
    done = os.path.join(work, ".tree-done")
    if os.path.exists(done):
        return root
    shutil.rmtree(root, ignore_errors=True)
    log("making the tree")
    n = 0
    broot = os.fsencode(root)
    for a in range(ARTISTS):
        artist = os.path.join(broot, artist_name(a))
        for b in range(ALBUMS):
            album = os.path.join(artist, b"Album %02d (%d)" % (b, 1990 + b))
            os.makedirs(album)
            for t in range(TRACKS):
                source = os.path.join(sources, "%03d.mp3" % (n % DISTINCT_LENGTHS + 1))
                title = b"%02d - Track %d of %s.mp3" % (t + 1, t + 1, artist_name(a))
                os.link(source, os.path.join(album, title))
                n += 1
    open(done, "w").close()
    return root


class Display:
    def __init__(self):
        for number in range(90, 140):
            if not os.path.exists("/tmp/.X11-unix/X%d" % number) and \
                    not os.path.exists("/tmp/.X%d-lock" % number):
                break
        self.name = ":%d" % number
        self.proc = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists("/tmp/.X11-unix/X%d" % number):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise SystemExit("Xvfb did not start")
            time.sleep(0.05)

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class Velmo:
    """One run of the program with its own data folder and milestone log."""

    def __init__(self, binary, display, data, args=(), extra_env=None):
        self.log = os.path.join(data, "milestones.log")
        if os.path.exists(self.log):
            os.unlink(self.log)
        env = dict(os.environ)
        env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_DATA_HOME=data,
                   VELMO_MILESTONES=self.log)
        env.update(extra_env or {})
        env.pop("QT_QPA_PLATFORMTHEME", None)
        self.started = time.monotonic_ns()
        self.proc = subprocess.Popen([binary, *args], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.display = display
        self.window = None

    def marks(self):
        try:
            with open(self.log) as f:
                return [line.split(" ", 2) for line in f.read().splitlines()]
        except FileNotFoundError:
            return []

    def wait_mark(self, name, value=None, timeout=600):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for ns, mark, got in self.marks():
                if mark == name and (value is None or got == value):
                    return int(ns), got
            if self.proc.poll() is not None:
                raise SystemExit("velmo ended early waiting for %s" % name)
            time.sleep(0.005)
        raise SystemExit("no %s within %d s" % (name, timeout))

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True,
                              env=dict(os.environ, DISPLAY=self.display), timeout=30).stdout

    def keys(self, *keys):
        if self.window is None:
            self.window = self.xdotool("search", "--sync", "--onlyvisible", "--pid",
                                       str(self.proc.pid)).split()[0]
        self.xdotool("windowfocus", "--sync", self.window)
        self.xdotool("key", "--clearmodifiers", *keys)

    def choose_folder(self, path):
        self.keys("ctrl+l")
        dialog = self.xdotool("search", "--sync", "--onlyvisible", "--name",
                              "^Select Directory$").split()[0]
        self.xdotool("windowfocus", "--sync", dialog)
        self.xdotool("key", "ctrl+a")
        self.xdotool("type", "--delay", "2", path)
        self.xdotool("key", "Return")

    def rss_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise SystemExit("no VmRSS")

    def wait_gone(self, timeout):
        """The moment the process ended, as it happens: Popen.wait with a timeout polls with
        sleeps of up to 50 ms."""
        fd = os.pidfd_open(self.proc.pid)
        try:
            if not select.select([fd], [], [], timeout)[0]:
                raise SystemExit("velmo did not end within %d s" % timeout)
            gone = time.monotonic_ns()
        finally:
            os.close(fd)
        self.proc.wait()
        return gone

    def exit_by_key(self):
        """Esc, then the process gone: nanoseconds from the command to the exit."""
        self.keys("Escape")
        gone = self.wait_gone(120)
        command, _ = self.wait_mark("command", "AExit")
        if self.proc.returncode != 0:
            raise SystemExit("velmo exited with %d" % self.proc.returncode)
        return gone - command

    def kill(self):
        self.proc.kill()
        self.proc.wait()


def cpu_ns_of(pid):
    """CPU time of all the process's threads in nanoseconds: finer than the clock ticks of stat."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass  # a thread that has just ended
    return total


def stat_walk(root):
    start = time.monotonic_ns()
    run(["find", root, "-printf", "%s %p\n"])
    return time.monotonic_ns() - start


def median_ms(values):
    return statistics.median(values) / 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velmo", required=True)
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "velmo-window-bench"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cpu-seconds", type=int, default=20)
    parser.add_argument("--skip", default="", help="comma list of: load,start,memory,settings,groups,cpu")
    opts = parser.parse_args()
    skip = set(filter(None, opts.skip.split(",")))
    binary = os.path.abspath(opts.velmo)
    os.makedirs(opts.work, exist_ok=True)
    sources = make_sources(opts.work)
    root = make_tree(opts.work, sources)
    top_file = os.path.join(root, "00 Intro.mp3")
    if os.path.exists(top_file):
        os.unlink(top_file)
    tracks = ARTISTS * ALBUMS * TRACKS
    display = Display()
    results = []
    # Set by the load run and the empty program's run, when they take place.
    loaded_rss = None
    empty = None

    def report(name, figure, unit, reference_name=None, reference=None):
        line = "%-44s %10.1f %s" % (name, figure, unit)
        if reference:
            line += "   %5.2fx %s (%.1f %s)" % (figure / reference, reference_name, reference, unit)
        results.append(line)
        print(line, flush=True)

    def fresh_data(name):
        data = os.path.join(opts.work, name)
        shutil.rmtree(data, ignore_errors=True)
        os.makedirs(data)
        return data

    try:
        stored = os.path.join(opts.work, "stored")
        # The load run leaves the stored list that the later parts read.
        if "load" not in skip or not os.path.exists(stored):
            walks = {"no file at the top": [], "one file at the top": []}
            loads = {"no file at the top": [], "one file at the top": []}
            stat_walk(root)  # warms the cache for both
            for run_index in range(opts.runs):
                for shape in loads:
                    if shape == "one file at the top":
                        os.link(os.path.join(sources, "001.mp3"), top_file)
                    try:
                        walks[shape].append(stat_walk(root))
                        data = fresh_data("load")
                        velmo = Velmo(binary, display.name, data)
                        velmo.wait_mark("shown")
                        velmo.choose_folder(root)
                        chosen, _ = velmo.wait_mark("folder-chosen")
                        shown, rows = velmo.wait_mark("rows")
                        expected = tracks + (shape == "one file at the top")
                        if int(rows) != expected:
                            raise SystemExit("Load Directory showed %s rows, not %d" %
                                             (rows, expected))
                        loads[shape].append(shown - chosen)
                        if run_index == 0 and shape == "no file at the top":
                            # The list, its durations measured, becomes the stored list.
                            velmo.wait_mark("durations")
                            time.sleep(1)
                            loaded_rss = velmo.rss_kib()
                            velmo.exit_by_key()
                            shutil.rmtree(stored, ignore_errors=True)
                            shutil.copytree(data, stored)
                        else:
                            velmo.kill()
                    finally:
                        if os.path.exists(top_file):
                            os.unlink(top_file)
            for shape in loads:
                report("Load Directory, %s (ms)" % shape, median_ms(loads[shape]), "ms",
                       "stat walk", median_ms(walks[shape]))
        if "memory" not in skip and loaded_rss is not None:
            empties = []
            for _ in range(opts.runs):
                velmo = Velmo(binary, display.name, fresh_data("empty"))
                velmo.wait_mark("shown")
                time.sleep(1)
                empties.append(velmo.rss_kib())
                velmo.exit_by_key()
            empty = statistics.median(empties)
            report("RSS per track, loaded and measured (B)", (loaded_rss - empty) * 1024 / tracks,
                   "B")
        if "start" not in skip:
            starts, exits, rss = [], [], []
            for _ in range(opts.runs):
                velmo = Velmo(binary, display.name, stored)
                shown, rows = velmo.wait_mark("shown")
                if int(rows) != tracks:
                    raise SystemExit("start-up showed %s rows" % rows)
                starts.append(shown - velmo.started)
                time.sleep(1)
                rss.append(velmo.rss_kib())
                exits.append(velmo.exit_by_key())
            report("Start with 100,000 stored tracks (ms)", median_ms(starts), "ms")
            report("Exit, list unchanged (ms)", median_ms(exits), "ms")
            report("RSS with the stored list (MiB)", statistics.median(rss) / 1024, "MiB")
            if empty is not None:
                report("RSS per track, stored list read at start (B)",
                       (statistics.median(rss) - empty) * 1024 / tracks, "B")
        if "settings" not in skip:
            # The same list started with no settings file and with one that sets every value
            # and picks Bulgarian, whose language file is then read and applied; by turns.
            settings = SETTINGS_FILE.replace("\n", "\r\n")
            lists = (("no stored list", None), ("100,000 stored tracks", stored))
            for shape, source in lists:
                plain, configured = [], []
                for _ in range(opts.runs):
                    for into, text in ((plain, None), (configured, settings)):
                        data = fresh_data("settings")
                        if source:
                            shutil.rmtree(data)
                            shutil.copytree(source, data)
                        folder = os.path.join(data, "velmo")
                        os.makedirs(folder, exist_ok=True)
                        path = os.path.join(folder, "MP3_PLAYER_SETTINGS.DAT")
                        if os.path.exists(path):
                            os.unlink(path)
                        if text:
                            with open(path, "w", encoding="utf-8") as f:
                                f.write(text)
                        velmo = Velmo(binary, display.name, data)
                        shown, _ = velmo.wait_mark("shown")
                        into.append(shown - velmo.started)
                        velmo.kill()
                report("Start, %s, settings + language (ms)" % shape, median_ms(configured), "ms",
                       "no settings file", median_ms(plain))
                report("  added by settings + language (ms)",
                       median_ms(configured) - median_ms(plain), "ms")
        if "groups" not in skip:
            # The stored list with 1,000 stored groups, one an album of 100 tracks, which the
            # program rebuilds from the disk at start; against the same list with no group file
            # plus a bare stat walk of the tree that holds those folders; by turns.
            albums = []
            for a in range(ARTISTS):
                artist = os.path.join(os.fsencode(root), artist_name(a))
                for b in range(ALBUMS):
                    albums.append(os.path.join(artist, b"Album %02d (%d)" % (b, 1990 + b)))
            groups_text = b"".join(b"[%dMP3_GROUP_SECTION]\r\nMP3_GROUP_NAME=%s\r\n" % (k, folder)
                                   for k, folder in enumerate(albums))
            groups_text += b"[MP3_GROUP_SECTION]\r\nMP3_GROUP_COUNT=%d\r\n" % len(albums)
            with_groups, alone, walks = [], [], []
            for _ in range(opts.runs):
                walks.append(stat_walk(root))
                for into, text in ((alone, None), (with_groups, groups_text)):
                    data = fresh_data("groups")
                    shutil.rmtree(data)
                    shutil.copytree(stored, data)
                    path = os.path.join(data, "velmo", "MP3_GROUP_LIST.DAT")
                    if os.path.exists(path):
                        os.unlink(path)
                    if text:
                        with open(path, "wb") as f:
                            f.write(text)
                    velmo = Velmo(binary, display.name, data)
                    shown, rows = velmo.wait_mark("shown")
                    if int(rows) != tracks:
                        raise SystemExit("start-up with groups showed %s rows" % rows)
                    into.append(shown - velmo.started)
                    velmo.kill()
            reference = median_ms(alone) + median_ms(walks)
            report("Start, 100,000 tracks + {:,} groups (ms)".format(len(albums)),
                   median_ms(with_groups), "ms", "list alone + stat walk", reference)
            report("  list alone (ms)", median_ms(alone), "ms")
            report("  stat walk of the tree (ms)", median_ms(walks), "ms")
        if "cpu" not in skip:
            play = os.path.join(sources, "play320.mp3")
            folder = os.path.join(opts.work, "playing")
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            os.link(play, os.path.join(folder, "play320.mp3"))

            def playing_cpu(data, rows):
                velmo = Velmo(binary, display.name, data)
                velmo.wait_mark("shown")
                velmo.choose_folder(folder)  # appends the file as the last row
                velmo.wait_mark("durations")
                velmo.keys("End", "F1")
                velmo.wait_mark("playing", timeout=30)
                time.sleep(2)
                before = cpu_ns_of(velmo.proc.pid)
                time.sleep(opts.cpu_seconds)
                used = cpu_ns_of(velmo.proc.pid) - before
                shown, got = velmo.wait_mark("rows")
                if int(got) != rows:
                    raise SystemExit("the playing window showed %s rows" % got)
                velmo.kill()
                return used

            def mpg123_cpu():
                ref = subprocess.Popen(["mpg123", "-q", "-o", "pulse", play],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(2)
                before = cpu_ns_of(ref.pid)
                time.sleep(opts.cpu_seconds)
                used = cpu_ns_of(ref.pid) - before
                ref.terminate()
                ref.wait()
                return used

            # By turns, so that a slow spell of the machine falls on both.
            alone, reference = [], []
            for _ in range(opts.runs):
                alone.append(playing_cpu(fresh_data("play"), 1))
                reference.append(mpg123_cpu())
            data = fresh_data("play-library")
            shutil.rmtree(data)
            shutil.copytree(stored, data)
            library = [playing_cpu(data, tracks + 1)]
            for name, used in (("alone", alone), ("in 100,001 rows", library)):
                report("CPU playing 320 kbit/s %s, %d s (ms)" % (name, opts.cpu_seconds),
                       median_ms(used), "ms", "mpg123 -o pulse", max(median_ms(reference), 0.001))
    finally:
        display.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
