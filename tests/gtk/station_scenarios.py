#!/usr/bin/python3
"""The station's window end to end, read through AT-SPI (run by run.sh with TQ_SCENARIOS).

    station_scenarios.py NAME UPDATER SIMULATOR OUTDIR

The station (tq734-station beside UPDATER) serves ports COM33.. (ttyUSB0..) of a private
device directory where simulated devices appear; records go to OUTDIR/NAME-records.jsonl.
Tiles are read by their accessible ids: COMn-state (its text, and its colour as the
description), COMn-version, COMn-progress; the header's "counters" and "records".
Everything started here is stopped by pid at the end, pass or fail.
"""
import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import pyatspi

from scenario_rig import *  # noqa: F401,F403  (the arguments, folders, processes, helpers)

STATION = os.path.join(os.path.dirname(UPDATER), "tq734-station")
FAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "station", "fake_updater.sh")
RECORDS = os.path.join(OUT, NAME + "-records.jsonl")
CAPTION = "Станция обновления TQ734 (CPU2)"
CAPTION_PATTERN = "^Станция обновления TQ734 \\(CPU2\\)$"

station = None
tiles = {}


def station_sim(com, *options):
    """A simulated device on COM<com> that stays for the station's whole cycle."""
    return sim(com, "--keep-running", *options, timeout_s=120)


def descendants_of(pid):
    """Every process below pid, read from /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
    found, frontier = [], [pid]
    while frontier:
        p = frontier.pop()
        kids = [c for c, parent in parents.items() if parent == p]
        found += kids
        frontier += kids
    return found


def launch(ports, *options, env_extra=None, records_file=RECORDS):
    global station, tiles
    env = dict(os.environ, TQ734_DEVICE_DIR=DEV, XDG_CONFIG_HOME=CONFIG, **(env_extra or {}))
    station = start([STATION, *ports, "-r", records_file, *options], env=env, stdout=LOG, stderr=LOG)
    found = window_of(station, CAPTION, "counters")
    if found is None:
        fail("the station ended with %s before its window appeared" % station.returncode)
    tiles = found[1]


def tile(com):
    """What the tile of COM<com> shows: (colour, state text, version text, blocks)."""
    state = tiles["COM%d-state" % com]
    bar = tiles["COM%d-progress" % com].queryValue().currentValue
    return state.description, state.name, tiles["COM%d-version" % com].name, round(bar * 1231)


def wait_tile(com, colour, text_begins="", ms=30000):
    deadline = time.time() + ms / 1000
    while True:
        seen = tile(com)
        if seen[0] == colour and seen[1].startswith(text_begins):
            return seen
        if time.time() > deadline:
            fail("COM%d never became %s %r: %r" % (com, colour, text_begins, seen))
        time.sleep(0.1)


def records():
    if not os.path.exists(RECORDS):
        return []
    with open(RECORDS, "rb") as f:
        data = f.read()
    if data and not data.endswith(b"\n"):
        fail("the records file ends in half a line: %r" % data[-80:])
    return [json.loads(line) for line in data.decode().splitlines()]


def screenshot(name):
    path = os.path.join(OUT, name)
    subprocess.run(["import", "-window", "root", path], check=True, timeout=30)
    log("screenshot", path)


def close_window():
    """The window manager's close (WM_DELETE_WINDOW), sent as a window manager sends it."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", CAPTION_PATTERN],
                         capture_output=True, text=True).stdout.split()
    ids or fail("no station window to close")
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    display = x.XOpenDisplay(None)

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]

    e = Event()
    e.message.type = 33  # ClientMessage
    e.message.window = int(ids[0])
    e.message.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
    e.message.format = 32
    e.message.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x.XSendEvent(display, int(ids[0]), 0, 0, ctypes.byref(e))
    x.XFlush(display)
    x.XCloseDisplay(display)


def question():
    """The station's close question, when it shows."""
    for i in range(desktop_app().childCount):
        w = desktop_app().getChildAtIndex(i)
        if w is not None and w.get_accessible_id() == "close-question":
            return w
    return None


def desktop_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.get_process_id() == station.pid:
            return a
    fail("the station is not on the accessibility bus")


def press(window, label):
    for c in walk(window):
        if c.getRoleName() == "push button" and c.name == label:
            c.queryAction().doAction(0)
            return
    fail("no button %r" % label)


def running(pid):
    """Alive and not a zombie (one the machine's init has not reaped yet has ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def expect_nothing_left(pids):
    deadline = time.time() + 2
    while any(running(p) for p in pids) and time.time() < deadline:
        time.sleep(0.05)
    alive = [p for p in pids if running(p)]
    alive and fail("left running after the station: %s" % alive)


def scenario():
    global station
    if NAME == "station_four_ports":
        # Devices arrive at different times: one restarts and comes back with the new
        # firmware, one stays answering, one is not a TQ734, one reports an error.
        # Silent long enough after its restart for the removal's child to start and see 2 s.
        station_sim(33, "--version", "2.384", "--arrive-after-ms", "300", "--finish-after-block", "40",
            "--restart-silence-ms", "8000")
        station_sim(34, "--version", "2.384", "--arrive-after-ms", "2500", "--finish-after-block", "40")
        station_sim(35, "--tag", "XY", "--arrive-after-ms", "1000")
        station_sim(36, "--version", "2.384", "--arrive-after-ms", "1500", "--finish-after-block", "30", "--result", "4")
        launch(["COM33", "ttyUSB1", "COM35", "/dev/ttyUSB3"], "-o", "Смена 2")
        wait_tile(33, "done", "Обновлено")
        wait_tile(35, "failed", "Не TQ734 (ответ «XY»)")
        wait_tile(36, "failed")
        wait_tile(34, "done", "Обновлено")
        seen = wait_tile(33, "up_to_date", "Уже версия 2.385", ms=30000)
        seen[2] == "Версия до: 2.385" or fail("COM33 after its restart: %r" % (seen,))
        screenshot("station-gtk-4.png")
        time.sleep(3)   # COM34 stays connected and answering: it must not be updated again
        wait_tile(34, "done", "Обновлено")
        counters = tiles["counters"].name
        counters == "Обновлено: 2     Ошибки: 2     Всего: 5" or fail("counters: %r" % counters)
        got = sorted((r["port"], r["result"], r["code"]) for r in records())
        want = [("COM33", "ok", 0), ("COM33", "up_to_date", None), ("COM34", "ok", 0),
                ("COM35", "not_tq734", None), ("COM36", "device_error", 4)]
        got == want or fail("records %r, wanted %r" % (got, want))
        for r in records():
            r["operator"] == "Смена 2" or fail("operator: %r" % r)
        for com in (33, 34, 36):
            with open(report_path(com)) as f:
                rep = f.read()
            # --finish-after-block: the device ends each update with its own early finish reply.
            rep.count("finish reply") == 1 or fail("COM%d was not updated exactly once" % com)
        with open(report_path(35)) as f:
            " rx block" not in f.read() or fail("a block was written to the wrong device")
        pids = descendants_of(station.pid)
        stop(station)
        station.returncode == 0 or fail("the station ended with %s" % station.returncode)
        expect_nothing_left(pids)
    elif NAME == "station_close_asks":
        station_sim(33, "--version", "2.384")
        launch(["COM33"])
        wait_tile(33, "updating")
        close_window()
        deadline = time.time() + 10
        while question() is None:
            time.sleep(0.1)
            time.time() < deadline or fail("no question on closing during an update")
        "COM33" in " ".join(c.name for c in walk(question()) if c.getRoleName() == "label") or fail(
            "the question does not name COM33")
        press(question(), "Продолжить")
        time.sleep(1)
        station.poll() is None or fail("the station closed although the technician went on")
        wait_tile(33, "updating")
        pids = descendants_of(station.pid)
        pids or fail("no updater child while updating")
        close_window()
        while question() is None:
            time.sleep(0.1)
        press(question(), "Прервать и закрыть")
        station.wait(10)
        expect_nothing_left(pids)
        got = [(r["port"], r["result"], r["final_command"]) for r in records()]
        got == [("COM33", "interrupted", False)] or fail("records %r" % got)
    elif NAME == "station_killed":
        # Killed outright while its children write records: every line whole, no child left.
        for round_ in range(3):
            sims = [station_sim(33 + i, "--version", "2.384", "--finish-after-block", str(5 + 3 * i)) for i in range(4)]
            launch(["COM33", "COM34", "COM35", "COM36"])
            before = len(records())
            deadline = time.time() + 30
            while len(records()) < before + 1 + round_:
                time.sleep(0.02)
                time.time() < deadline or fail("no records written")
            pids = descendants_of(station.pid)
            station.kill()
            station.wait()
            expect_nothing_left(pids)
            for s in sims:
                stop(s)
            log("round", round_, "records", len(records()))
        len(records()) >= 6 or fail("too few records")
    elif NAME == "station_records_unwritable":
        # A records file that cannot be written: said in the header, the updates go on.
        station_sim(33, "--version", "2.384", "--finish-after-block", "20")
        launch(["COM33"], records_file="/dev/null/records.jsonl")
        wait_tile(33, "done", "Обновлено")
        deadline = time.time() + 5
        while not tiles["records"].name.startswith("Журнал НЕ записывается ("):
            time.sleep(0.1)
            time.time() < deadline or fail("the header does not say so: %r" % tiles["records"].name)
        screenshot("station-gtk-records-unwritable.png")
    elif NAME == "station_chooser":
        # No ports and none remembered: the found ports to tick; the choice is remembered.
        station_sim(33, "--version", "2.384")
        station_sim(35, "--version", "2.384")
        env = dict(os.environ, TQ734_DEVICE_DIR=DEV, XDG_CONFIG_HOME=CONFIG, TQ734_UPDATER=FAKE)
        station = start([STATION, "-r", RECORDS], env=env, stdout=LOG, stderr=LOG)
        chooser, deadline = None, time.time() + 20
        while chooser is None:
            time.sleep(0.1)
            time.time() < deadline or fail("no port chooser")
            try:
                chooser = next((w for w in walk(desktop_app()) if w.get_accessible_id() == "port-chooser"), None)
            except Failure:
                pass
        ids = {c.get_accessible_id(): c for c in walk(chooser) if c.get_accessible_id()}
        sorted(k for k in ids if k.startswith("choose-")) == ["choose-COM33", "choose-COM35"] or fail(
            "ports offered: %r" % sorted(ids))
        ids["choose-COM35"].queryAction().doAction(0)
        press(chooser, "Начать")
        deadline = time.time() + 20
        while "COM35-state" not in tiles:
            time.sleep(0.2)
            time.time() < deadline or fail("no station window after the choice")
            for w in walk(desktop_app()):
                if w.getRoleName() == "frame" and w.name == CAPTION:
                    tiles.update({c.get_accessible_id(): c for c in walk(w) if c.get_accessible_id()})
        "COM33-state" not in tiles or fail("an unticked port is served")
        with open(os.path.join(CONFIG, "tq734-updater", "station-ports")) as f:
            f.read() == "StationPorts=COM35\n" or fail("not remembered")
        stop(station)
        launch([])
        "COM35-state" in tiles and "COM33-state" not in tiles or fail("the remembered set is not served")
        stop(station)
    elif NAME == "station_screens":
        # The window with 1, 8 and 16 ports in every state (the updater stood in for), and with
        # 16 at 144 dpi: on the 1366 x 768 screen every time, a window manager's caption spared.
        plan = ("COM33=ok COM34=updating COM35=error COM36=wrong COM37=uptodate COM38=crash COM39=absent "
                "COM40=finishing COM41=ok COM42=updating COM43=error COM44=wait COM45=ok COM46=updating "
                "COM47=wait COM48=ok")
        for count, dpi_scale, picture in ((1, "1", "1"), (8, "1", "8"), (16, "1", "16"), (16, "1.5", "16-144dpi")):
            ports = ["COM%d" % (33 + i) for i in range(count)]
            launch(ports, env_extra={"TQ734_UPDATER": FAKE, "TQ734_FAKE_PLAN": plan, "GDK_DPI_SCALE": dpi_scale})
            wait_tile(33, "done", "Обновлено\nСнимите устройство")
            if count >= 8:
                wait_tile(35, "failed", "Код 4: Ошибка при записи во флеш-память")
                wait_tile(36, "failed", "Не TQ734")
                wait_tile(37, "up_to_date")
                wait_tile(38, "failed", "Сбой программы обновления")
                wait_tile(39, "waiting", "Порт занят или отсутствует")
                wait_tile(40, "updating", "Устройство записывает прошивку")
                tile(34)[3] == 492 or fail("COM34's bar: %r" % (tile(34),))
            time.sleep(1.2)
            screenshot("station-gtk-%s.png" % picture)
            geometry = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", CAPTION_PATTERN,
                                       "getwindowgeometry"], capture_output=True, text=True).stdout
            log(picture, "ports:", geometry.replace("\n", " "))
            width, height = map(int, geometry.split("Geometry: ")[1].split()[0].split("x"))
            width <= 1366 and height <= 768 - 40 or fail("%s: the window is %dx%d" % (picture, width, height))
            pids = descendants_of(station.pid)
            stop(station)
            expect_nothing_left(pids)
        crashed = [r for r in records() if r["result"] == "crashed"]
        crashed and crashed[0]["port"] == "COM38" or fail("no crashed record of COM38: %r" % records())
    else:
        fail("unknown scenario " + NAME)


def describe_failure():
    if station is not None and station.poll() is None:
        log("tiles:", {k: (v.name, v.description) for k, v in tiles.items() if k.endswith("-state")})


def station_children():
    """What the station started and may leave behind should it be stopped halfway."""
    return descendants_of(station.pid) if station is not None and station.poll() is None else []


def fresh_records():
    if os.path.exists(RECORDS):
        os.remove(RECORDS)
    scenario()


if __name__ == "__main__":
    sys.exit(run(fresh_records, describe_failure, station_children))
