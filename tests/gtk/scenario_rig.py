"""What the updater's and the station's window scenarios share: their arguments and private
folders, the processes they start (every one stopped by pid at the end, pass or fail),
simulated devices, and the walk through the accessibility tree.

    <scenario file> NAME UPDATER SIMULATOR OUTDIR      (run by run.sh inside its own session bus)
"""
import os
import shutil
import signal
import subprocess
import sys
import time

import pyatspi

NAME, UPDATER, SIM, OUT = sys.argv[1:5]
DEV = os.path.join(OUT, NAME + "-dev")
CONFIG = os.path.join(OUT, NAME + "-config")
LOG = open(os.path.join(OUT, NAME + ".log"), "a", buffering=1)

children = []          # every process started here, stopped at the end


class Failure(Exception):
    pass


def log(*words):
    print(*words, file=LOG)


def fail(message):
    raise Failure(message)


def device_of(com):
    """The device file the fixed table gives COM<com> (COM33 is ttyUSB0)."""
    for first, stem in ((1, "ttyS"), (33, "ttyUSB"), (65, "ttyACM")):
        if first <= com < first + 32:
            return "%s%d" % (stem, com - first)
    fail("COM%d has no device file" % com)


def start(args, **kwargs):
    p = subprocess.Popen(args, **kwargs)
    children.append(p)
    return p


def stop(p, sig=signal.SIGTERM):
    if p.poll() is None:
        p.send_signal(sig)
    try:
        p.wait(5)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()


def report_path(com, run=""):
    return os.path.join(OUT, "%s-com%d%s.report" % (NAME, com, run))


def sim(com, *options, run="", timeout_s=280):
    """A simulated TQ734 on COM<com>; its report is OUTDIR/NAME-com<com><run>.report."""
    out = os.path.join(OUT, "%s-com%d%s.out" % (NAME, com, run))
    p = start([SIM, "--link", os.path.join(DEV, device_of(com)), "--report", report_path(com, run),
               "--timeout-s", str(timeout_s), *options], stdout=open(out, "w"), stderr=LOG)
    for _ in range(100):
        with open(out) as f:
            if "READY" in f.read():
                return p
        time.sleep(0.05)
    fail("simulator on COM%d not ready" % com)


def walk(accessible):
    yield accessible
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def run(scenario, on_failure=lambda: None, stragglers=lambda: []):
    """Runs the scenario with its own accessibility bus and fresh folders; returns the exit
    status. on_failure logs what the window showed; stragglers names processes started by
    the program under test, killed after everything started here is stopped."""
    for d in (DEV, CONFIG):
        shutil.rmtree(d, ignore_errors=True)
    os.makedirs(DEV)
    bus = start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stderr=LOG)
    time.sleep(0.5)
    rc = 0
    try:
        scenario()
        log("PASS")
    except Failure as e:
        log("FAIL:", e)
        on_failure()
        print("FAIL:", e, file=sys.stderr)
        rc = 1
    finally:
        leftovers = stragglers()
        for p in reversed(children):
            if p is not bus:
                stop(p)
        for pid in leftovers:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        stop(bus)
        shutil.rmtree(DEV, ignore_errors=True)
    return rc


def window_of(process, caption, ready_id, seconds=20):
    """PROCESS's AT-SPI application and the controls of its window CAPTION by accessible id, once
    the control READY_ID is there; None when the process ends first."""
    desktop = pyatspi.Registry.getDesktop(0)
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process.poll() is not None:
            return None
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            try:
                if a is None or a.get_process_id() != process.pid:
                    continue
                frame = next((c for c in walk(a) if c.getRoleName() == "frame" and c.name == caption), None)
            except Exception:
                continue
            if frame is None:
                continue
            ids = {c.get_accessible_id(): c for c in walk(frame) if c.get_accessible_id()}
            if ready_id in ids:
                return a, ids
        time.sleep(0.1)
    fail("no window")
