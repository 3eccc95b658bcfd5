"""Runs Windows programs of this tree under Wine and records what they show.

Use from a test script (Python 3 standard library only):

    import winharness
    with winharness.WineSession() as wine:
        result = wine.run_windows_program("/path/to/prog.exe", ["arg"], cwd=work,
                                          env={"TEMP": r"C:\\tmp", "TMP": None})
        assert result.exit_code == 0
        assert [(b.caption, b.text, b.icon) for b in result.boxes] == [...]

A session owns one Wine prefix (WINEHARNESS_PREFIX, normally <windows build tree>/wineprefix;
created once with wineboot and then reused; never ~/.wine) and one X display: the caller's
DISPLAY when it is set, otherwise an Xvfb of its own on a free display number that the session
stops when it closes (at exit or SIGTERM too; the X server also ends when the test process is
killed). The first use and the close both run "wineserver -k", so no Wine process outlives
the session. Tests that share the prefix must not run at the same time; add_wine_test()
in winharness/CMakeLists.txt gives them a common CTest RESOURCE_LOCK.

run_windows_program() starts msgdriver.exe (WINEHARNESS_BIN), which starts the program, records
every message box (caption, text, icon, owner), presses a button in it (OK unless `answers`
says otherwise) and reports the exit code. Paths given to it may be Unix paths; they are turned
into Wine paths on drive Z:. `env` changes the program's Windows environment block (a value of
None removes the variable; Wine does not take TEMP and TMP from the Unix environment, so set
them here); `unix_env` changes the Unix environment of the Wine process itself (for example TZ).

run_windows_program(..., shots_dir=DIR) saves DIR/box-N.png while box N is on screen.
Other helpers: screenshot(path) (PNG of the whole display), windows_version("win95", exe=...)
(a context manager that sets the version Wine reports, for one program or for all), reg_add(),
start_program() (a program left running, such as holdwin.exe), work_dir(name) (a fresh
directory for one case; kept under WINEHARNESS_WORK when that is set) and to_windows_path().

Environment: WINEHARNESS_PREFIX, WINEHARNESS_BIN (directory of msgdriver.exe and the helper
programs), WINEHARNESS_WORK (optional), WINEHARNESS_KEEP=1 (keep temporary work directories).
"""

import atexit
import contextlib
import ctypes
import dataclasses
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINE = shutil.which("wine") or "/usr/bin/wine"
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"
WINEBOOT = shutil.which("wineboot") or "/usr/bin/wineboot"
READY_MARK = ".winharness-ready"


@dataclasses.dataclass
class Box:
    caption: str
    text: str
    icon: str  # stop, exclamation, question, information, none or unknown
    owner: tuple  # (title, class) of the owner window, or None
    buttons: list
    answer: int


@dataclasses.dataclass
class RunResult:
    exit_code: int  # the program's exit code; None when it could not be started
    boxes: list
    windows: list  # other visible top-level windows: dicts with title, class, rect, controls
    timed_out: bool
    records: list  # every record of the driver, as parsed JSON objects
    driver_output: str

    def box_summary(self):
        """(caption, text, icon, owner) of each box, in order: handy for assertEqual."""
        return [(b.caption, b.text, b.icon, b.owner) for b in self.boxes]


def to_windows_path(path):
    """A Unix path as Wine sees it: drive Z: is the Unix root. Windows paths pass unchanged."""
    if len(path) >= 2 and path[1] == ":":
        return path
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def quote_argument(argument):
    """Quotes one argument the way the C run-time's command-line parser splits it again."""
    return subprocess.list2cmdline([argument]) if argument else '""'


def windows_command_line(exe, args):
    return " ".join(quote_argument(a) for a in [to_windows_path(exe)] + list(args))


def parse_driver_records(text):
    records = []
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("{"):
            records.append(json.loads(line))
    return records


def result_from_records(records, driver_output):
    boxes, windows, exit_code, timed_out = [], [], None, False
    for record in records:
        event = record["event"]
        if event == "box":
            owner = record["owner"]
            boxes.append(Box(record["caption"], record["text"], record["icon"],
                             (owner["title"], owner["class"]) if owner else None,
                             record["buttons"], record["answer"]))
        elif event == "window":
            windows.append(record)
        elif event == "exit":
            exit_code = record["code"]
        elif event == "timeout":
            timed_out = True
    return RunResult(exit_code, boxes, windows, timed_out, records, driver_output)


def _die_with_parent():
    """In a child before exec: have the kernel end it when the test process dies, however
    that happens (a test killed at its time limit must not leave an X server behind)."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def _free_display_xvfb(screen):
    """Starts Xvfb on a display number of its own choosing; returns (process, ':N')."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True, preexec_fn=_die_with_parent)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                process.kill()
                raise RuntimeError("Xvfb did not start")
            number += chunk
    return process, ":" + number.decode().strip()


class WineSession:
    def __init__(self, prefix=None, bin_dir=None, screen="1024x768x24"):
        self.prefix = os.path.abspath(prefix or os.environ["WINEHARNESS_PREFIX"])
        self.bin_dir = bin_dir or os.environ.get("WINEHARNESS_BIN", "")
        self.screen = screen
        self.display = os.environ.get("DISPLAY") or None
        self.xvfb = None
        self.background = []
        self.temp_root = None
        self.closed = False

    # ---- life cycle ----------------------------------------------------------------------

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def open(self):
        if not self.display:
            self.xvfb, self.display = _free_display_xvfb(self.screen)
        atexit.register(self.close)
        if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
            signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # runs close() on the way out
        self._ensure_prefix()
        self._kill_wineserver()

    def close(self):
        if self.closed:
            return
        self.closed = True
        for process in self.background:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        self._kill_wineserver()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
            self.xvfb = None
        if self.temp_root and not os.environ.get("WINEHARNESS_KEEP"):
            shutil.rmtree(self.temp_root, ignore_errors=True)

    def wine_environment(self, unix_env=None):
        env = dict(os.environ)
        env.update(WINEPREFIX=self.prefix, WINEARCH="win32", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display)
        env.update(unix_env or {})
        return env

    def _kill_wineserver(self):
        subprocess.run([WINESERVER, "-k"], env=self.wine_environment(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=self.wine_environment(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def _ensure_prefix(self):
        """Creates the prefix once; concurrent sessions wait on a lock beside it."""
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        with open(self.prefix + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if os.path.exists(os.path.join(self.prefix, READY_MARK)):
                return
            shutil.rmtree(self.prefix, ignore_errors=True)
            env = self.wine_environment()
            subprocess.run([WINEBOOT, "-i"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True, timeout=300)
            subprocess.run([WINESERVER, "-w"], env=env, timeout=300)
            # Without a window manager, every closed window would stall for about 2 s.
            self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
            subprocess.run([WINESERVER, "-w"], env=env, timeout=60)
            with open(os.path.join(self.prefix, READY_MARK), "w") as mark:
                mark.write("wineboot done\n")

    # ---- running programs ----------------------------------------------------------------

    def helper(self, name):
        """Path of one of the harness's own programs (msgdriver.exe, holdwin.exe, ...)."""
        return os.path.join(self.bin_dir, name)

    def work_dir(self, name):
        """A fresh, empty directory for one case."""
        base = os.environ.get("WINEHARNESS_WORK")
        if not base:
            if not self.temp_root:
                self.temp_root = tempfile.mkdtemp(prefix="wh-")
            base = self.temp_root
        path = os.path.join(base, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def wine(self, args, unix_env=None, timeout=120, check=True):
        """Runs `wine ARGS...` to its end; returns the CompletedProcess (text output).

        The output goes through a file, not a pipe: Wine's service processes inherit it and
        live on for seconds after the program has ended, and a pipe would wait for them."""
        with tempfile.TemporaryFile() as output:
            completed = subprocess.run([WINE] + list(args), env=self.wine_environment(unix_env),
                                       stdout=output, stderr=subprocess.STDOUT, timeout=timeout)
            output.seek(0)
            completed.stdout = output.read().decode("utf-8", "replace")
        if check:
            completed.check_returncode()
        return completed

    def start_program(self, exe, args=(), unix_env=None):
        """Starts a program under Wine and leaves it running; the session kills it at close."""
        process = subprocess.Popen([WINE, exe] + list(args), env=self.wine_environment(unix_env),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        self.background.append(process)
        return process

    def run_windows_program(self, exe, args=(), cwd=None, env=None, unix_env=None, timeout=60,
                            answers=(), show=None, shots_dir=None, all_processes=False):
        """Runs exe under the message-box driver; returns a RunResult."""
        scratch = tempfile.mkdtemp(prefix="whrun-")
        try:
            out_path = os.path.join(scratch, "records.jsonl")
            response = os.path.join(scratch, "run.rsp")
            lines = ["cmd=" + windows_command_line(exe, args), "out=" + to_windows_path(out_path),
                     "timeout=%d" % int(timeout * 1000)]
            if cwd is not None:
                lines.append("cwd=" + to_windows_path(cwd))
            for name, value in (env or {}).items():
                lines.append("unset=" + name if value is None else "set=%s=%s" % (name, value))
            lines += ["answer=%d" % a for a in answers]
            if show is not None:
                lines.append("show=%d" % show)
            if shots_dir:
                lines.append("shots=" + to_windows_path(shots_dir))
            if all_processes:
                lines.append("scope=all")
            with open(response, "w", encoding="latin-1", newline="\r\n") as file:
                file.write("\n".join(lines) + "\n")
            driver = self._run_driver(response, unix_env, timeout + 60, shots_dir)
            text = ""
            if os.path.exists(out_path):
                with open(out_path, encoding="latin-1") as file:
                    text = file.read()
            records = parse_driver_records(text)
            if driver.returncode != 0 or not any(r["event"] in ("exit", "error") for r in records):
                raise RuntimeError("msgdriver failed (%d): %s\n%s"
                                   % (driver.returncode, driver.stdout, text))
            return result_from_records(records, driver.stdout)
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    def _run_driver(self, response, unix_env, timeout, shots_dir):
        """Runs msgdriver.exe to its end, taking the screenshots that it asks for."""
        with tempfile.TemporaryFile() as output:
            process = subprocess.Popen(
                [WINE, self.helper("msgdriver.exe"), to_windows_path(response)],
                env=self.wine_environment(unix_env), stdout=output, stderr=subprocess.STDOUT)
            deadline = time.monotonic() + timeout
            try:
                while process.poll() is None:
                    if time.monotonic() > deadline:
                        raise subprocess.TimeoutExpired(process.args, timeout)
                    if shots_dir:
                        self._take_requested_shots(shots_dir)
                    time.sleep(0.02)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
            output.seek(0)
            return subprocess.CompletedProcess(process.args, process.returncode,
                                               output.read().decode("utf-8", "replace"))

    def _take_requested_shots(self, shots_dir):
        for name in os.listdir(shots_dir):
            if name.endswith(".ready"):
                base = os.path.join(shots_dir, name[:-len(".ready")])
                self.screenshot(base + ".tmp.png")
                os.rename(base + ".tmp.png", base + ".png")
                os.remove(os.path.join(shots_dir, name))

    # ---- screen and settings ---------------------------------------------------------------

    def screenshot(self, path):
        """Saves the whole display as an image (format from the extension, e.g. .png)."""
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def reg_add(self, key, name, value, kind="REG_SZ"):
        self.wine(["reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"])

    def reg_delete(self, key, name):
        self.wine(["reg", "delete", key, "/v", name, "/f"], check=False)

    def reg_query(self, key, name):
        """The value's data as text, or None when it is not set."""
        result = self.wine(["reg", "query", key, "/v", name], check=False)
        for line in result.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == name and parts[1].startswith("REG_"):
                return parts[2]
        return None

    @contextlib.contextmanager
    def windows_version(self, version, exe=None):
        """Makes Wine report `version` ("win95", "win98", "nt351", "nt40", "winxp", "win10",
        ...) to one program (by file name, e.g. "bootstrap.exe") or, with exe=None, to all,
        and puts the previous setting back afterwards."""
        key = r"HKCU\Software\Wine" + (r"\AppDefaults" + "\\" + exe if exe else "")
        previous = self.reg_query(key, "Version")
        self.reg_add(key, "Version", version)
        try:
            yield
        finally:
            if previous is None:
                self.reg_delete(key, "Version")
            else:
                self.reg_add(key, "Version", previous)
