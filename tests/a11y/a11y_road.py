#!/usr/bin/python3
"""The road a screen reader user takes, read through AT-SPI itself.

Starts an X server, the accessibility bus, the service stand-in and Orvane as
users run it, then reads names, roles and states as Orca would, and acts only
through AT-SPI actions and keys the accessibility registry types.

Usage: a11y_road.py ORVANE DEV_SERVICE
Run inside a D-Bus session of its own with an unlocked keyring
(dbus-run-session -- scripts/in-keyring-session ...).
"""

import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

ROAD_SECONDS = 50
# Rows that wait for work on another branch: they report what they read
# and pass while it is missing. Set ORVANE_A11Y_STRICT=1 to make them count.
STRICT = os.environ.get("ORVANE_A11Y_STRICT") == "1"

failures = []
passed = 0
started = time.monotonic()


def deadline_left():
    return ROAD_SECONDS - (time.monotonic() - started)


def eventually(what, probe, seconds=15):
    """Polls until probe() gives a true value; never waits a fixed time."""
    end = time.monotonic() + min(seconds, max(deadline_left(), 1))
    last_error = None
    while time.monotonic() < end:
        try:
            value = probe()
            if value:
                return value
        except Exception as error:  # an object may go away while it is read
            last_error = error
        time.sleep(0.05)
    raise AssertionError(f"{what}: not within {seconds} s" +
                         (f" ({last_error})" if last_error else ""))


def check(name, condition, detail=""):
    global passed
    if condition:
        passed += 1
        print(f"ok      {name}")
    else:
        failures.append(name)
        print(f"FAILED  {name}: {detail}")


def waiting_row(name, condition, detail):
    """A row another branch makes true."""
    if condition or STRICT:
        check(name, condition, detail)
    else:
        print(f"waiting {name}: {detail}")


def start(args, env, **kwargs):
    return subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, **kwargs)


def read_line(stream, pattern, seconds):
    end = time.monotonic() + seconds
    text = b""
    while time.monotonic() < end:
        ready, _, _ = select.select([stream], [], [], 0.2)
        if not ready:
            continue
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        text += chunk
        match = re.search(pattern, text)
        if match:
            return match
    raise AssertionError(f"never printed {pattern!r}: {text[-400:]!r}")


def main():
    orvane, dev_service = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="orvane-a11y-")
    processes = []
    try:
        env = dict(os.environ)
        for key in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR"):
            env.pop(key, None)

        # An X server of our own: Qt's AT-SPI bridge runs on xcb only.
        read_end, write_end = os.pipe()
        xvfb = start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                      "-nolisten", "tcp"], env, pass_fds=(write_end,),
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(xvfb)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            display = read_line(pipe, rb"(\d+)\n", 30).group(1).decode()
        env["DISPLAY"] = ":" + display

        # The accessibility bus, with the display for the registry's keys.
        processes.append(start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                               env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        eventually("the accessibility bus", lambda: b"true" in subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
             "string:org.a11y.Bus"], capture_output=True, env=env).stdout)

        service = start([dev_service, "--port", "0"], env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.PIPE)
        processes.append(service)
        port = read_line(service.stderr, rb"listening on http://127\.0\.0\.1:(\d+)",
                         30).group(1).decode()

        config = os.path.join(work, "config")
        os.makedirs(os.path.join(config, "orvane"))
        with open(os.path.join(config, "orvane", "defaults.json"), "w") as f:
            json.dump({"orvane_api_base_url": f"http://127.0.0.1:{port}"}, f)
        app_env = dict(env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                       XDG_CONFIG_HOME=config, XDG_DATA_HOME=os.path.join(work, "data"))
        app = start([orvane], app_env, stdout=subprocess.DEVNULL,
                    stderr=open(os.path.join(work, "orvane.log"), "wb"))
        processes.append(app)

        road(app)
    except AssertionError as error:
        failures.append(str(error))
        print(f"FAILED  {error}")
    finally:
        for process in reversed(processes):
            process.terminate()
        for process in reversed(processes):
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        log = os.path.join(work, "orvane.log")
        if failures and os.path.exists(log):
            sys.stdout.write(open(log, errors="replace").read()[-2000:])
        shutil.rmtree(work, ignore_errors=True)
    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


# ---- Reading the tree ----

def states(acc):
    import pyatspi
    return {pyatspi.stateToString(s) for s in acc.getState().getStates()}


def walk(acc, depth=0):
    if acc is None or depth > 40:
        return
    yield acc
    for child in acc:
        yield from walk(child, depth + 1)


def find(root, role=None, name=None, showing=True, predicate=None):
    for acc in walk(root):
        if role and acc.getRoleName() != role:
            continue
        if name is not None and (acc.name if not callable(name) else None) != name and \
                not (callable(name) and name(acc.name)):
            continue
        if showing and "showing" not in states(acc):
            continue
        if predicate and not predicate(acc):
            continue
        return acc
    return None


def press(acc):
    action = acc.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    index = next(i for i, n in enumerate(names) if n in ("press", "click", "activate"))
    action.doAction(index)


def key(keysym):
    import pyatspi
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)


def road(process):
    import pyatspi

    app = eventually("Orvane on the accessibility bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Orvane"),
        None), 30)

    # The pill: a button that opens the popover without taking the keyboard.
    pill = eventually("the pill", lambda: find(app, role="push button",
                                               name=lambda n: n.startswith("Orvane")))
    check("pill is a push button named Orvane", pill.name == "Orvane", pill.name)
    actions = pill.queryAction()
    check("pill offers a press action",
          [actions.getName(i) for i in range(actions.nActions)] == ["Press"])
    check("pill takes no focus", "focusable" not in states(pill), states(pill))
    press(pill)
    email = eventually("the sign-in form after the pill's press",
                       lambda: find(app, role="text", name="E-Mail"))
    focused = eventually("the focus in the popover", lambda: find(
        app, predicate=lambda a: "focused" in states(a)))
    check("focus on opening lands on a named object", bool(focused.name),
          f"{focused.getRoleName()} without a name")

    # Signing in through the form's fields and its button.
    email.queryEditableText().setTextContents("demo@orvane.test")
    find(app, role="password text").queryEditableText().setTextContents("orvane-demo")
    press(find(app, role="push button", name="Anmelden"))
    new_session = eventually("the signed-in popover",
                             lambda: find(app, role="push button", name="Neue Session"), 30)
    today = find(app, name=lambda n: bool(n) and n.startswith("Heute erfasst"))
    waiting_row("the today card reads as a sentence", today is not None,
                "no object named 'Heute erfasst …' (the figures' names)")

    # The client list: Down moves the selected and focused item.
    press(new_session)
    clients = eventually("the client list with its rows", lambda: find(
        app, role="list", predicate=lambda a: a.childCount >= 2))
    first, second = clients[0], clients[1]
    check("client rows are list items named by the client",
          first.getRoleName() == "list item" and bool(first.name), first.name)
    check("the first client is selected at the start", "selected" in states(first),
          states(first))
    eventually("the search field holds the keys",
               lambda: find(app, role="text", name="Suche",
                            predicate=lambda a: "focused" in states(a)))
    key(0xFF54)  # Down
    eventually("the second client selected and focused after Down",
               lambda: {"selected", "focused"} <= states(second))
    check("Down selects and focuses the second client",
          {"selected", "focused"} <= states(second) and "selected" not in states(first))

    # Pressing an item picks it, as a click does: client, job, task.
    press(second)
    eventually("the job step after pressing a client", lambda: find(app, name="Projekt wählen"))
    job = eventually("the job list", lambda: find(app, role="list", predicate=lambda a: a.childCount >= 1))[0]
    check("job items are named by number and title", " – " in job.name, job.name)
    press(job)
    eventually("the task step after pressing a job", lambda: find(app, name="Aufgabe wählen"))
    task = eventually("the task list", lambda: find(app, role="list", predicate=lambda a: a.childCount >= 1))[0]
    check("task items are named by the task", bool(task.name), task.name)
    press(task)
    stop = eventually("the running card after pressing a task",
                      lambda: find(app, role="push button", name="Stoppen"), 30)
    eventually("the pill names its running clock",
               lambda: re.fullmatch(r"Orvane, \d+:\d\d läuft", pill.name))
    check("the pill names its running clock", True)

    # The summary after the stop: its minute grid's label comes from another branch.
    press(stop)
    grid = eventually("the summary's minute grid", lambda: find(app, role="combo box"), 30)
    waiting_row("the minute grid is named Minuten-Raster", grid.name == "Minuten-Raster",
                f"read {grid.name!r}")


if __name__ == "__main__":
    sys.exit(main())
