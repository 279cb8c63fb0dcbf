#!/usr/bin/python3
"""A screen reader's road through Orvane as users run it, read through AT-SPI.

Usage: a11y_road.py ORVANE DEV_SERVICE, inside a D-Bus session and keyring of
its own. Waits for states, never a fixed time.
"""

import json, os, re, subprocess, sys, tempfile, time

results = {"passed": 0, "failed": 0}


def eventually(what, probe, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if value := probe():
                return value
        except Exception:  # an object may go away while it is read
            pass
        time.sleep(0.05)
    raise AssertionError(f"{what}: not within {seconds} s")


def check(name, condition, detail=""):
    results["passed" if condition else "failed"] += 1
    print(f"ok      {name}" if condition else f"FAILED  {name}: {detail}")


def find(root, role=None, name=None, where=lambda a: True):
    import pyatspi
    stack = [root]
    while stack:
        acc = stack.pop()
        if acc is None:
            continue
        if ((role is None or acc.getRoleName() == role) and
                (name is None or (name(acc.name) if callable(name) else acc.name == name)) and
                acc.getState().contains(pyatspi.STATE_SHOWING) and where(acc)):
            return acc
        stack.extend(reversed(list(acc)))


def states(acc):
    import pyatspi
    return {pyatspi.stateToString(s) for s in acc.getState().getStates()}


def press(acc):
    action = acc.queryAction()
    action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))


def road():
    import pyatspi
    app = eventually("Orvane on the bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "Orvane"), None))
    pill = eventually("the pill", lambda: find(app, "push button", lambda n: "Orvane" in n))
    check("the pill is a button named Orvane", pill.name == "Orvane", pill.name)
    check("the pill presses without taking the focus", "focusable" not in states(pill) and
          pill.queryAction().getName(0) == "Press", states(pill))
    press(pill)
    email = eventually("the sign-in form", lambda: find(app, "text", "E-Mail"))
    focus = eventually("the focus", lambda: find(app, where=lambda a: "focused" in states(a)))
    check("the opened popover's focus is named", bool(focus.name), focus.getRoleName())

    email.queryEditableText().setTextContents("demo@orvane.test")
    find(app, "password text").queryEditableText().setTextContents("orvane-demo")
    press(find(app, "push button", "Anmelden"))
    new_session = eventually("signed in", lambda: find(app, "push button", "Neue Session"))
    today = find(app, name=lambda n: n.startswith("Heute erfasst"))
    check("the today card reads as a sentence", today, "no 'Heute erfasst …'")

    press(new_session)
    clients = eventually("the clients", lambda: find(
        app, "list", where=lambda a: a.childCount > 1 and a.name != "Zuletzt"))
    first, second = clients[0], clients[1]
    check("a client row is a list item named by the client, selected first",
          first.getRoleName() == "list item" and first.name and "selected" in states(first))
    eventually("the search field's keys", lambda: find(app, "text", "Suche",
                                                       where=lambda a: "focused" in states(a)))
    pyatspi.Registry.generateKeyboardEvent(0xFF54, None, pyatspi.KEY_SYM)  # Down
    eventually("Down", lambda: {"selected", "focused"} <= states(second))
    check("Down selects and focuses the next client", "selected" not in states(first))

    # Each press picks its item as a click does, up to a running timer.
    press(second)
    job = eventually("the jobs", lambda: find(app, name="Projekt wählen") and
                     find(app, "list", where=lambda a: a.childCount and a.name != "Zuletzt"))[0]
    check("a job item is named by its number and title", " – " in job.name, job.name)
    press(job)
    task = eventually("the tasks", lambda: find(app, name="Aufgabe wählen") and
                      find(app, "list", where=lambda a: a.childCount and a.name != "Zuletzt"))[0]
    check("a task item is named by the task", task.name, task.name)
    press(task)
    stop = eventually("the running card", lambda: find(app, "push button", "Stoppen"))
    check("the pill names its running clock",
          eventually("the clock", lambda: re.fullmatch(r"Orvane, \d+:\d\d läuft", pill.name)))
    press(stop)
    grid = eventually("the summary's minute grid", lambda: find(app, "combo box"))
    # A combo box is named by its choice; its label comes by relation, as Orca reads it.
    labels = [r.getTarget(0).name for r in grid.getRelationSet()
              if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
    check("the minute grid is labelled", labels == ["Minuten-Raster"], labels)


class World:
    """Orvane on an X display, accessibility bus and stand-in service of its own.

    `before_app(world)` runs once the bus is up, before Orvane starts."""

    def __init__(self, orvane, dev_service, before_app=None, data=None):
        self.work, self.started = tempfile.mkdtemp(), []
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("WAYLAND_DISPLAY", "QT_SCALE_FACTOR")}
        self.orvane, self.dev_service, self.before_app, self.data = (
            orvane, dev_service, before_app, data)

    def run(self, args, **kw):
        self.started.append(subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, **kw))
        return self.started[-1]

    def __enter__(self):
        try:
            return self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise

    def _start(self):
        # Qt's AT-SPI bridge runs on xcb: an X server of our own.
        xvfb = self.run(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24",
                         "-nolisten", "tcp"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.env["DISPLAY"] = ":" + xvfb.stdout.readline().decode().strip()
        self.run(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        eventually("the accessibility bus", lambda: b"true" in subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
             "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"],
            capture_output=True, env=self.env).stdout)
        if self.before_app:
            self.before_app(self)
        data = ["--data", self.data] if self.data else []
        self.run([self.dev_service, "--port", "0", *data],
                 stderr=open(f"{self.work}/service.log", "wb"))
        port = eventually("the stand-in", lambda: re.search(
            r"127\.0\.0\.1:(\d+)", open(f"{self.work}/service.log").read())).group(1)
        os.makedirs(f"{self.work}/orvane")
        json.dump({"orvane_api_base_url": f"http://127.0.0.1:{port}"},
                  open(f"{self.work}/orvane/defaults.json", "w"))
        self.env.update(QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                        XDG_CONFIG_HOME=self.work, XDG_DATA_HOME=self.work)
        self.run([self.orvane], stderr=open(f"{self.work}/orvane.log", "wb"))
        return self

    def __exit__(self, *exc):
        # Terminated, not killed: the bus launcher then ends its bus too.
        for process in reversed(self.started):
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()


def main(orvane, dev_service):
    try:
        with World(orvane, dev_service):
            road()
    except AssertionError as error:
        check("the road", False, error)
    print(f"{results['passed']} passed, {results['failed']} failed")
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
