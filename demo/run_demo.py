#!/usr/bin/env python3
"""Assembles the demo setup medium and runs SETUP.EXE on it under Wine.

    run_demo.py --lsz LSZ --windows-build DIR --out DIR

The medium (OUT/medium) holds SETUP.EXE, SETUP.LST, UNSQUISH.DLL, MFC30.DL_ (packed with
mscompress), DEMO.LSZ (made by lsz: the demo second stage RUNINST.EXE, README.TXT and a large
data file) and NOTES.TX_ (packed with mscompress). SETUP.EXE runs with TEMP set to OUT/temp;
the second stage's box, which shows what it received, is printed. Without a display, Wine
draws on a virtual one (Xvfb). OUT/progress-window.png is saved while the progress window
is up.
"""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "winharness"))
import winharness  # noqa: E402

WINDOW_TITLE = "Orvello Demo Setup"


def lz_pack(source, target):
    scratch = target + ".in"
    shutil.copyfile(source, scratch)
    subprocess.run(["mscompress", scratch], check=True, stdout=subprocess.DEVNULL)
    os.replace(scratch + "_", target)  # mscompress appends "_" to the name
    os.remove(scratch)


def write_data_file(path, size):
    """A large text of pseudo-random words: it takes a moment to unpack, so the progress
    window stays up long enough to be seen (and photographed)."""
    words = ["setup", "orvello", "staging", "archive", "member", "window", "library",
             "version", "medium", "expand", "second", "stage", "system", "drive", "temp"]
    state = 12345
    with open(path, "w", newline="\r\n") as out:
        line = []
        while out.tell() < size:
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            line.append(words[state % len(words)] + str(state % 97))
            if len(line) == 10:
                out.write(" ".join(line) + "\n")
                line = []


def build_medium(args, medium, work):
    shutil.rmtree(medium, ignore_errors=True)
    os.makedirs(medium)
    deliverables = os.path.join(args.windows_build, "deliverables")
    for name in ("SETUP.EXE", "UNSQUISH.DLL"):
        shutil.copyfile(os.path.join(deliverables, name), os.path.join(medium, name))
    shutil.copyfile(os.path.join(HERE, "medium", "SETUP.LST"), os.path.join(medium, "SETUP.LST"))
    lz_pack(os.path.join(deliverables, "MFC30.DLL"), os.path.join(medium, "MFC30.DL_"))
    lz_pack(os.path.join(HERE, "medium", "NOTES.TXT"), os.path.join(medium, "notes.tx_"))

    members = os.path.join(work, "members")
    shutil.rmtree(members, ignore_errors=True)
    os.makedirs(members)
    shutil.copyfile(os.path.join(args.windows_build, "demo", "RUNINST.EXE"),
                    os.path.join(members, "RUNINST.EXE"))
    shutil.copyfile(os.path.join(HERE, "medium", "README.TXT"),
                    os.path.join(members, "README.TXT"))
    write_data_file(os.path.join(members, "DATA.TXT"), 24 * 1024 * 1024)
    subprocess.run([args.lsz, "create", os.path.join(medium, "DEMO.LSZ")]
                   + [os.path.join(members, n) for n in ("RUNINST.EXE", "README.TXT", "DATA.TXT")],
                   check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(members)


def viewable_window(env, title):
    """The X window id of a mapped window with this title, or None."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True, errors="replace").stdout
    for line in tree.splitlines():
        if '"%s"' % title in line:
            window = line.split()[0]
            info = subprocess.run(["xwininfo", "-id", window], env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True, errors="replace").stdout
            if "IsViewable" in info:
                return window
    return None


def watch_for_progress_window(wine, shot, stop):
    """Saves a screenshot as soon as the progress window is on the display."""
    env = wine.wine_environment()
    while not stop.is_set():
        if viewable_window(env, WINDOW_TITLE):
            wine.screenshot(shot)
            # Keep it only if the window was still up once the picture was taken.
            if viewable_window(env, WINDOW_TITLE):
                return
            os.remove(shot)
        time.sleep(0.02)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lsz", required=True)
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    medium = os.path.join(out, "medium")
    temp = os.path.join(out, "temp")
    shutil.rmtree(temp, ignore_errors=True)
    os.makedirs(temp)
    print("Building the demo medium in", medium)
    build_medium(args, medium, out)

    wine = winharness.WineSession(prefix=os.path.join(args.windows_build, "wineprefix"),
                                  bin_dir=os.path.join(args.windows_build, "winharness"))
    with wine:
        progress_shot = os.path.join(out, "progress-window.png")
        if os.path.exists(progress_shot):
            os.remove(progress_shot)
        stop = threading.Event()
        watcher = threading.Thread(target=watch_for_progress_window,
                                   args=(wine, progress_shot, stop))
        watcher.start()
        print("Running SETUP.EXE under Wine (display %s)" % wine.display)
        try:
            result = wine.run_windows_program(
                os.path.join(medium, "SETUP.EXE"), cwd=out,
                env={"TEMP": winharness.to_windows_path(temp)}, timeout=300,
                all_processes=True)
        finally:
            stop.set()
            watcher.join()

    print()
    for box in result.boxes:
        print("[%s]" % box.caption)
        print(box.text.replace("\r\n", "\n"))
        print()
    print("SETUP.EXE exit code:", result.exit_code)
    print("Staging directory left behind:", os.listdir(temp) or "none")
    if os.path.exists(progress_shot):
        print("Screenshot of the progress window:", progress_shot)
    else:
        print("The progress window was gone before a screenshot could be taken.")
    shown = [b for b in result.boxes if b.caption == "Demo second stage"]
    return 0 if result.exit_code == 0 and len(shown) == 1 and not os.listdir(temp) else 1


if __name__ == "__main__":
    sys.exit(main())
