#!/usr/bin/env python3
"""Runs the real Windows demo under wine on a private virtual X screen
and checks it from outside: screenshots, window and box captions, exit codes,
the display size and the sound reaching a null sink.

Usage: wine_smoke.py CASE --exe Tinselbay.exe --exe64 win64/Tinselbay.exe --packer tinsel-pack
                     --standin make_standin_data.py
CASE is one of: fullscreen, windowed, sound, data. Exit code 77 means skipped
(only when wine is not installed).

The shipped 32-bit exe runs under wine's 32-bit loader where this machine runs
32-bit programs; where its kernel refuses them, the 64-bit build of the same
code runs under wine64. TINSEL_WINE_ARCH=32 or 64 forces either path."""
import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
MAGIC = b"TROVAKE"
TRAILER = 11


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def check(condition, text):
    if not condition:
        raise Failure(text)
    log("ok: " + text)


# --- archive trailer -------------------------------------------------------


def archive_start(path):
    """Offset of the appended archive, or None when the file carries none."""
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        length = f.tell()
        if length < TRAILER:
            return None
        f.seek(length - TRAILER)
        trailer = f.read(TRAILER)
    if trailer[4:] != MAGIC:
        return None
    offset = struct.unpack("<i", trailer[:4])[0]
    return offset if 0 <= offset <= length - TRAILER else None


def strip_archive(source, target):
    start = archive_start(source)
    with open(source, "rb") as f:
        image = f.read() if start is None else f.read(start)
    with open(target, "wb") as f:
        f.write(image)


# --- screenshots -----------------------------------------------------------


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def region(self, x0, y0, x1, y1, step=4):
        """Share of black pixels and the mean colour of a rectangle."""
        black, total, sums = 0, 0, [0, 0, 0]
        for y in range(y0, y1, step):
            for x in range(x0, x1, step):
                p = self.pixel(x, y)
                total += 1
                if max(p) < 16:
                    black += 1
                for c in range(3):
                    sums[c] += p[c]
        return black / total, tuple(s / total for s in sums)

    def columns_with_black(self, x0, y0, x1, y1, step=2):
        columns = range(x0, x1, step)
        hits = sum(1 for x in columns if any(max(self.pixel(x, y)) < 16 for y in range(y0, y1)))
        return hits / len(columns)


# --- the private environment ----------------------------------------------


def wine_env(arch, root):
    """The environment of every wine test: a private home and a fresh prefix
    under root, made for the chosen path's architecture."""
    env = dict(os.environ)
    for name in ("HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"):
        path = os.path.join(root, name.lower())
        os.makedirs(path, mode=0o700)
        env[name] = path
    env.update(
        WINEPREFIX=os.path.join(root, "prefix"),
        WINEARCH="win64" if arch == 64 else "win32",
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
    )
    if arch == 64:
        # /usr/bin/wine would pick the 32-bit loader whenever it is installed.
        env["WINELOADER"] = WINE64
    for name in ("PULSE_SERVER", "PULSE_SINK", "PULSE_RUNTIME_PATH", "WAYLAND_DISPLAY", "XAUTHORITY"):
        env.pop(name, None)
    return env


class Session:
    """A temporary home, wine prefix, X server and (optionally) sound server,
    all torn down on exit whatever happened."""

    def __init__(self, args, screen):
        self.args = args
        self.screen = screen
        self.dir = tempfile.mkdtemp(prefix="tinsel-wine-")
        self.processes = []
        self.shot_count = 0
        self.env = wine_env(args.arch, self.dir)

    def __enter__(self):
        try:
            self.start_x()
            self.wine(["wineboot", "--init"], timeout=90)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)
        return False

    def spawn(self, argv, **kw):
        process = subprocess.Popen(argv, env=self.env, start_new_session=True, **kw)
        self.processes.append(process)
        return process

    def start_x(self):
        read, write = os.pipe()
        size = "%dx%dx24" % self.screen
        self.spawn(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            raise Failure("the virtual X server did not start")
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def start_sound(self):
        """A pulseaudio with only a null sink; returns its monitor source."""
        subprocess.run(
            ["pulseaudio", "-D", "-n", "--exit-idle-time=-1", "--disable-shm=yes",
             "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=tinsel"],
            env=self.env, check=True, timeout=20,
        )
        for _ in range(50):
            if subprocess.run(["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return "tinsel.monitor"
            time.sleep(0.2)
        raise Failure("the sound server did not start")

    def stop_sound(self):
        subprocess.run(["pulseaudio", "--kill"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wine(self, argv, cwd=None, timeout=60):
        result = subprocess.run([self.args.loader] + argv, env=self.env, cwd=cwd, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)
        return result.returncode

    def start_demo(self, exe, cwd):
        # wine's own console output is noise here; the checks are made from outside.
        return self.spawn([self.args.loader, exe], cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def xdotool(self, *argv):
        result = subprocess.run(["xdotool"] + list(argv), env=self.env, capture_output=True, text=True, timeout=20)
        return result.stdout.split()

    def find_window(self, name, seconds=30, process=None):
        deadline = time.time() + seconds
        while time.time() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", "^%s$" % name)
            if found:
                return found[0]
            if process is not None and process.poll() is not None:
                return None
            time.sleep(0.2)
        return None

    def window_geometry(self, window):
        values = {}
        for line in subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=self.env,
                                   capture_output=True, text=True, timeout=20).stdout.splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.isdigit() else value
        return values

    def press(self, window, key):
        # Held long enough to be seen between two batches of messages.
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("keydown", key)
        time.sleep(0.3)
        self.xdotool("keyup", key)

    def screenshot(self):
        width, height = self.screen
        rgb = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=self.env, capture_output=True,
                             timeout=30).stdout
        if len(rgb) != 3 * width * height:
            raise Failure("the screenshot is not %dx%d 8-bit RGB" % self.screen)
        if self.args.shots:
            self.shot_count += 1
            name = "%s-%d.ppm" % (self.args.case, self.shot_count)
            with open(os.path.join(self.args.shots, name), "wb") as f:
                f.write(b"P6 %d %d 255\n" % self.screen + rgb)
        return Picture(width, height, rgb)

    def screen_size(self):
        for line in subprocess.run(["xdpyinfo"], env=self.env, capture_output=True, text=True,
                                   timeout=20).stdout.splitlines():
            if "dimensions:" in line:
                return line.split()[1]
        return None

    def wait(self, process, seconds=30):
        try:
            code = process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            raise Failure("the demo did not end within %d s" % seconds)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
        return code


# --- what the scene looks like from outside ----------------------------------

BAR = 45


def check_scene(shot, left, top, what, clip=None):
    """Black bars at the top and bottom of a 640x480 picture at (left, top),
    a picture that is not black between them, all seen through the clip
    rectangle (x0, y0, x1, y1). Returns the middle's mean colour."""
    cx0, cy0, cx1, cy1 = clip or (0, 0, shot.width, shot.height)
    x0, x1 = max(left, cx0), min(left + 640, cx1)
    rows = {"top": (top, top + BAR), "bottom": (top + 480 - BAR, top + 480)}
    for bar in ("top", "bottom"):
        y0, y1 = max(rows[bar][0], cy0), min(rows[bar][1], cy1)
        # The scroll text runs over the bars, so a bar shows as black in
        # every column somewhere, not as a wholly black strip.
        share = shot.columns_with_black(x0, y0, x1, y1)
        log("%s: %s bar: %.0f%% of columns show black" % (what, bar, 100 * share))
        check(share > 0.9, "%s: black bar at the %s" % (what, bar))
    mid_black, mid_mean = shot.region(x0, top + BAR + 15, x1, top + 480 - BAR - 15)
    log("%s: middle %.1f%% black, mean colour %s" % (what, 100 * mid_black, tuple(round(c) for c in mid_mean)))
    check(mid_black < 0.05 and max(mid_mean) > 30, "%s: a picture between the bars" % what)
    return mid_mean


def wait_for_picture(s, left, top, what, clip=None, seconds=45):
    """The first screenshot whose middle is drawn. The window is there (and
    black) from window creation on, but the scene draws only after its
    start-up, which waits for wine to open the wave device: about 2 s on
    this machine's kind, more on a slower or busier one."""
    cx0, cy0, cx1, cy1 = clip or (0, 0, 10**6, 10**6)
    x0, x1 = max(left, cx0), min(left + 640, cx1)
    started = time.time()
    while True:
        shot = s.screenshot()
        black, _ = shot.region(x0, top + BAR + 15, x1, top + 480 - BAR - 15)
        if black < 0.05 or time.time() - started > seconds:
            log("%s: the picture shows %.1f s after the window" % (what, time.time() - started))
            return shot
        time.sleep(0.25)


def standin_data(args, into):
    subprocess.run([sys.executable, args.standin, into], check=True)
    return os.path.join(into, "data")


def demo_with_archive(args, work):
    """The built exe when it carries its archive; otherwise a copy of it with
    stand-in data appended, so that the program finds its files the same way."""
    if archive_start(args.exe) is not None:
        log("using the built exe with its own data archive")
        return args.exe
    log("the built exe carries no data archive yet: appending stand-in data to a copy")
    data = standin_data(args, os.path.join(work, "standin"))
    target = os.path.join(work, "with-archive", "Tinselbay.exe")
    os.makedirs(os.path.dirname(target))
    subprocess.run([args.packer, "--append", args.exe, "--to", target, data], check=True,
                   stdout=subprocess.DEVNULL)
    check(archive_start(target) is not None, "the copy carries an archive")
    return target


def empty_dir(work, name):
    path = os.path.join(work, name)
    os.makedirs(path, exist_ok=True)
    return path


def run_until_escape(s, exe, cwd, what, during=None):
    """Starts the demo, checks its scene on the screen, runs during() while it
    plays, checks that no box came up and ends it with Escape."""
    demo = s.start_demo(exe, cwd)
    window = s.find_window("Tinselbay", process=demo)
    check(window is not None, "%s: the demo window appears" % what)
    first = wait_for_picture(s, 0, 0, what)
    mean = check_scene(first, 0, 0, what)
    time.sleep(0.5)
    check(s.screenshot().rgb != first.rgb, "%s: frames keep coming (the scrollers move)" % what)
    if during:
        during()
    check(s.find_window("Error", seconds=0.1) is None, "%s: no message box" % what)
    s.press(window, "Escape")
    code = s.wait(demo)
    # The last message taken is one of the Escape key's own.
    check(code == 27, "%s: exit code 27 after Escape (got %d)" % (what, code))
    return mean


# --- the cases -------------------------------------------------------------


def case_fullscreen(args):
    with Session(args, (640, 480)) as s:
        exe = demo_with_archive(args, s.dir)
        before = s.screen_size()
        check(before == "640x480", "the screen is 640x480 before the run")
        run_until_escape(s, exe, empty_dir(s.dir, "run"), "fullscreen")
        check(s.screen_size() == before, "the display is left at %s" % before)


def case_windowed(args):
    with Session(args, (1024, 768)) as s:
        exe = demo_with_archive(args, s.dir)
        cwd = empty_dir(s.dir, "run")

        demo = s.start_demo(exe, cwd)
        box = s.find_window("Error", process=demo)
        check(box is not None, "the mode change is refused and a box titled Error appears")
        check(s.find_window("Tinselbay", seconds=0.1) is None, "no demo window while the box asks")
        s.press(box, "y")
        window = s.find_window("Tinselbay", process=demo)
        check(window is not None, "Yes: the demo window appears")
        geometry = s.window_geometry(window)
        log("window geometry %s" % geometry)
        # The X window is the client area of a frame placed at the origin.
        x, y, width, height = (geometry.get(k) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        check(x + width + x == 640 and y + height + x == 480,
              "Yes: the window with its frame is 640x480 (client %dx%d at %d,%d)" % (width, height, x, y))
        # The drawing keeps its 640x480 size from the bottom left of the
        # client area, so its top rows and right columns are cut off.
        clip = (x, y, x + width, y + height)
        shot = wait_for_picture(s, x, y + height - 480, "windowed", clip)
        check_scene(shot, x, y + height - 480, "windowed", clip)
        s.press(window, "Escape")
        code = s.wait(demo)
        check(code == 27, "Yes: exit code 27 after Escape (got %d)" % code)
        check(s.screen_size() == "1024x768", "the display is left at 1024x768")

        demo = s.start_demo(exe, cwd)
        box = s.find_window("Error", process=demo)
        check(box is not None, "second run: the box appears again")
        s.press(box, "n")
        code = s.wait(demo)
        check(s.find_window("Tinselbay", seconds=0.1) is None, "No: no demo window appears")
        check(code == 0, "No: exit code 0 (got %d)" % code)


def case_data(args):
    with Session(args, (640, 480)) as s:
        bare = os.path.join(s.dir, "bare", "Tinselbay.exe")
        os.makedirs(os.path.dirname(bare))
        strip_archive(args.exe, bare)
        check(archive_start(bare) is None, "the copy carries no archive")

        plain = empty_dir(s.dir, "plain")
        standin_data(args, plain)
        run_until_escape(s, bare, plain, "plain files")

        packed = empty_dir(s.dir, "packed")
        source = empty_dir(s.dir, "source")
        subprocess.run([args.packer, "--out", os.path.join(packed, "beach.Trovake"), standin_data(args, source)],
                       check=True, stdout=subprocess.DEVNULL)
        check(os.listdir(packed) == ["beach.Trovake"], "the second directory holds only the archive file")
        run_until_escape(s, bare, packed, "archive file")

        demo = s.start_demo(bare, empty_dir(s.dir, "nothing"))
        box = s.find_window("Error", process=demo)
        check(box is not None, "no data: a box titled Error appears")
        check(s.find_window("Tinselbay", seconds=0.1) is None, "no data: no scene is shown")
        s.press(box, "Return")
        code = s.wait(demo)
        check(code == 0, "no data: exit code 0 after the box (got %d)" % code)


def level(raw):
    """Root mean square of signed 16-bit little-endian samples, 0..32767."""
    count = len(raw) // 2
    if count == 0:
        return 0.0
    samples = struct.unpack("<%dh" % count, raw[: 2 * count])
    return (sum(v * v for v in samples) / count) ** 0.5


def case_sound(args):
    with Session(args, (640, 480)) as s:
        exe = demo_with_archive(args, s.dir)
        cwd = empty_dir(s.dir, "run")
        # No sound server at all: the demo runs silently and says nothing.
        run_until_escape(s, exe, cwd, "no sound server")

        monitor = s.start_sound()

        def record():
            # The music starts at the end of start-up, when the scene first draws.
            time.sleep(0.5)
            raw = subprocess.run(["timeout", "4", "parec", "--device=" + monitor, "--format=s16le", "--channels=2",
                                  "--rate=44100", "--raw"], env=s.env, capture_output=True).stdout
            rms = level(raw)
            log("with sound: recorded %.1f s from the null sink, RMS level %.0f of 32767" % (len(raw) / 176400.0, rms))
            check(len(raw) > 176400, "with sound: the null sink's monitor was recorded")
            check(rms > 100, "with sound: the song reaches the sink (not silence)")

        try:
            run_until_escape(s, exe, cwd, "with sound", record)
        finally:
            s.stop_sound()


def runs_32bit():
    """Whether this machine runs 32-bit programs, found by running one: some
    kernels have 32-bit emulation switched off at boot."""
    if not os.access(WINE32, os.X_OK):
        return False, "%s is not installed" % WINE32
    try:
        result = subprocess.run([WINE32, "--version"], capture_output=True, text=True, timeout=20)
    except OSError as error:
        return False, "%s does not start: %s" % (WINE32, error.strerror)
    except subprocess.TimeoutExpired:
        return False, "%s --version did not answer within 20 s" % WINE32
    if result.returncode != 0:
        return False, "%s --version failed with code %d" % (WINE32, result.returncode)
    return True, "%s --version ran (%s)" % (WINE32, result.stdout.strip())


def choose_path(args):
    """Picks the 32-bit or the 64-bit path, says which and why; None when the
    chosen path cannot run (a failure, never a silent pass)."""
    forced = os.environ.get("TINSEL_WINE_ARCH", "")
    if forced not in ("", "32", "64"):
        log("FAIL: TINSEL_WINE_ARCH must be 32 or 64, not %r" % forced)
        return None
    if forced:
        args.arch = int(forced)
        log("path: %d-bit, forced by TINSEL_WINE_ARCH=%s" % (args.arch, forced))
    else:
        ok, why = runs_32bit()
        args.arch = 32 if ok else 64
        log("path: %d-bit, because %s" % (args.arch, why))
    if args.arch == 64:
        args.loader = WINE64
        args.exe = args.exe64
        if not os.access(WINE64, os.X_OK):
            log("FAIL: the 64-bit path needs %s (package wine64)" % WINE64)
            return None
    else:
        args.loader = WINE32
    log("running %s under %s" % (args.exe, args.loader))
    return args.arch


def prepare(args, tools):
    """What every wine test checks before it starts: an exit code to stop
    with, or None to go on with args.arch, args.loader and args.exe set."""
    if shutil.which("wineserver") is None or not (os.access(WINE32, os.X_OK) or os.access(WINE64, os.X_OK)):
        log("SKIP: wine is not installed (scripts/deps.sh --wine installs it)")
        return SKIP
    if choose_path(args) is None:
        return 1
    for tool in tools:
        if shutil.which(tool) is None:
            log("FAIL: %s is missing (scripts/deps.sh installs it)" % tool)
            return 1
    if not args.exe or not os.path.isfile(args.exe):
        log("FAIL: no Windows build at %s (scripts/build-windows.sh makes it)" % args.exe)
        return 1
    args.exe = os.path.abspath(args.exe)
    return None


CASES = {"fullscreen": case_fullscreen, "windowed": case_windowed, "data": case_data, "sound": case_sound}
TOOLS = ("Xvfb", "xdotool", "import", "xdpyinfo")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--exe", required=True, help="the 32-bit exe")
    parser.add_argument("--exe64", help="the 64-bit exe, run where 32-bit programs do not run")
    parser.add_argument("--packer", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--shots", help="directory to keep the screenshots in")
    args = parser.parse_args()
    code = prepare(args, TOOLS + (("pulseaudio", "parec", "pactl") if args.case == "sound" else ()))
    if code is not None:
        return code
    started = time.time()
    try:
        CASES[args.case](args)
    except Failure as failure:
        log("FAIL: %s (after %.1f s)" % (failure, time.time() - started))
        return 1
    log("PASS: %s in %.1f s" % (args.case, time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
