#!/usr/bin/python3
"""What a blind user hears from Orca on the keyboard road through Orvane.

Usage: orca_road.py ORVANE DEV_SERVICE DEMO_DATA, inside a D-Bus session and
keyring of its own. Orca (Debian's package, default settings) speaks through
Speech Dispatcher into a file; the road types at a person's pace with real X
key events and waits for sentences. Exits 77 when Orca cannot start here.
"""

import json, os, re, subprocess, sys, tempfile, time

sys.dont_write_bytecode = True  # the source tree stays as it is
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from a11y_road import World, check, eventually, find, press, results, states  # noqa: E402
import speech  # noqa: E402

SKIP = 77
EMAIL = "demo@orvane.test"
# Letters no German word or Orca message holds in a row.
WRONG = "qx7vjz9w"
PASSWORD = "kz4wqx8j"


class OrcaMissing(Exception):
    pass


def key(world, *keys):
    subprocess.run(["xdotool", "key", "--delay", "120", *keys], env=world.env, check=True)


def type_slowly(world, text):
    # At a person's pace: each character its own event for Orca to echo.
    subprocess.run(["xdotool", "type", "--delay", "150", text], env=world.env, check=True)


def windows(secret, size=4):
    return {secret[i:i + size] for i in range(len(secret) - size + 1)}


def leaks(said, secret):
    """Parts of `secret` in what was said, as whole runs or character by character."""
    joined = re.sub(r"[\s.,;:!?'\"]", "", said.lower())
    return sorted(w for w in windows(secret) if w in joined)


def focused(app):
    return find(app, where=lambda a: "focused" in states(a))


def tab_to(world, target, tab="Tab", most=8):
    app = target.getApplication()
    for _ in range(most):
        now = focused(app)
        if now == target:
            return
        key(world, tab)
        eventually(f"{tab} moving the focus", lambda: focused(app) != now, 15)
    raise AssertionError(f"{tab} never reached {target.name}")


def type_into(world, field, text):
    """Types as a person does, and mends what a busy machine lost on the way."""
    for _ in range(3):
        type_slowly(world, text)
        try:
            return eventually("the typed text", lambda: field.queryText().characterCount == len(
                text) and (field.getRoleName() == "password text" or field.queryText().getText(
                    0, -1) == text), 5)
        except AssertionError:
            key(world, "ctrl+a", "BackSpace")
    raise AssertionError(f"{field.name} never held what was typed")


def said_soon(talk, wanted, seconds=60):
    """What was said once `wanted` (text, pattern or test) was, or all said within `seconds`."""
    if isinstance(wanted, re.Pattern):
        test = wanted.search
    elif callable(wanted):
        test = wanted
    else:
        test = lambda said: wanted in said  # noqa: E731
    try:
        return talk.wait(str(wanted), test, seconds)
    except AssertionError:
        return talk.since_mark()


def heard(talk, name, wanted, seconds=60):
    """Counts under `name` whether `wanted` (a test of the text) is said within `seconds`."""
    said = said_soon(talk, wanted, seconds)
    check(name, bool(wanted(said)), said)
    return said


def ticking(logged, idle):
    """Kinds of Orvane events (type and role) that came in most seconds of `idle`."""
    first, last = idle
    seconds = {}
    for m in re.finditer(r"^(\d\d):(\d\d):(\d\d)\.\d+ - EVENT MANAGER: (\S+) for \[([^|\]]*)"
                         r".* in \[application \| Orvane\]", logged, re.M):
        h, mi, sec, kind, role = m.groups()
        t = int(h) * 3600 + int(mi) * 60 + int(sec)
        if first < t < last:
            seconds.setdefault((kind, role.strip()), set()).add(t)
    return sorted(k for k, s in seconds.items() if len(s) > (last - first) // 2)


def seconds_of_day():
    now = time.localtime()
    return now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec


def road(world, talk, idle):
    import pyatspi
    app = eventually("Orvane on the bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "Orvane"), None), 60)
    pill = eventually("the pill", lambda: find(app, "push button", lambda n: "Orvane" in n))

    talk.set_mark()
    press(pill)
    eventually("the sign-in form", lambda: find(app, "text", "E-Mail"))
    talk.wait("opening signed out", lambda said: "E-Mail" in said or "Panel" in said)
    email = find(app, "text", "E-Mail")
    try:
        in_email = eventually("the e-mail field's focus", lambda: "focused" in states(email), 5)
    except AssertionError:
        in_email = False
    said = said_soon(talk, "E-Mail")
    check("opening signed out puts the keyboard in the e-mail field and says it",
          in_email and "E-Mail" in said, said)
    if not in_email:
        email.queryComponent().grabFocus()
        eventually("the e-mail field's focus", lambda: "focused" in states(email))

    type_into(world, email, EMAIL)
    talk.set_mark()
    key(world, "Tab")
    password = find(app, "password text")
    eventually("Tab to the password", lambda: "focused" in states(password))
    said = said_soon(talk, "Passwort")
    check("Tab to the empty password field says it", "Passwort" in said, said)
    talk.set_mark()
    type_into(world, password, WRONG)
    said = talk.since_mark()
    check("typing a password says none of its characters", not leaks(said, WRONG), said)
    check("the password field reads as stars",
          password.queryText().getText(0, -1) == "*" * len(WRONG),
          password.queryText().getText(0, -1))

    talk.set_mark()
    key(world, "Tab")
    talk.wait("Tab to the eye", "Passwort anzeigen")
    talk.set_mark()
    key(world, "space")
    heard(talk, "the eye's new name is spoken", lambda s: "Passwort verbergen" in s)
    check("the shown password still reads as stars",
          password.queryText().getText(0, -1) == "*" * len(WRONG),
          password.queryText().getText(0, -1))
    talk.set_mark()
    key(world, "space")
    talk.wait("the eye pressed again", "Passwort anzeigen")

    # Signing in goes through the button: Return in a field does nothing.
    sign_in = find(app, "push button", "Anmelden")
    tab_to(world, sign_in)
    talk.set_mark()
    key(world, "Return")
    heard(talk, "a refused sign-in is announced",
          lambda s: "Zugangsdaten sind uns nicht bekannt" in s)

    tab_to(world, password, "shift+Tab")
    key(world, "ctrl+a")
    talk.set_mark()
    type_into(world, password, PASSWORD)
    check("retyping the password says none of it", not leaks(talk.since_mark(), PASSWORD),
          talk.since_mark())
    tab_to(world, sign_in)
    key(world, "Return")
    eventually("signed in", lambda: find(app, "push button", "Neue Session"), 60)

    talk.set_mark()
    key(world, "ctrl+shift+n")
    talk.wait("the flow", "Kunde wählen")
    clients = eventually("the client list", lambda: find(
        app, "list", where=lambda a: a.childCount > 1 and a.name != "Zuletzt"))
    check("the flow's list has a name", clients.name, clients.name)
    eventually("the search field's keys", lambda: find(app, "text", "Suche",
                                                       where=lambda a: "focused" in states(a)))
    type_slowly(world, "nord")
    eventually("the filtered clients", lambda: clients.childCount == 1)
    talk.set_mark()
    key(world, "Return")
    heard(talk, "Return on a client says the new step",
          lambda s: "Projekt wählen" in s and "Schritt 2 von 3" in s)
    talk.set_mark()
    key(world, "Down")
    talk.wait("Down on the jobs", "Geschäftsausstattung")
    talk.set_mark()
    key(world, "Return")
    heard(talk, "Return on a job says the new step",
          lambda s: "Aufgabe wählen" in s and "Schritt 3 von 3" in s)
    talk.set_mark()
    key(world, "Escape")
    heard(talk, "Escape back a step says it",
          lambda s: "Projekt wählen" in s and "Schritt 2 von 3" in s)
    talk.set_mark()
    key(world, "Return")
    talk.wait("Return on the job again", "Aufgabe wählen")
    talk.set_mark()
    key(world, "Return")
    said = talk.wait("Return on a task", "läuft")
    check("a start says that a timer runs and on what",
          re.search(r"Timer läuft: \w+ für Nordlicht Design", said), said)
    task = re.search(r"Timer läuft: (\S+)", said).group(1)

    talk.set_mark()
    key(world, "Escape")
    eventually("the popover closed", lambda: not find(app, "push button", "Stoppen"))
    press(pill)
    heard(talk, "opening while a timer runs mentions it",
          lambda s: "Läuft seit" in s and task in s)
    # Left alone, open with its clock running, long enough to show any event
    # that comes every second (looked for at the end in Orca's log).
    idle.append(seconds_of_day())
    time.sleep(8)
    idle.append(seconds_of_day())

    talk.set_mark()
    key(world, "ctrl+shift+t")
    grid = eventually("the summary", lambda: find(app, "combo box"), 60)
    talk.wait("the summary", "Session beendet")
    booked = re.compile(r"Gebucht: \d+ (Minuten?|Stunden?)\b")
    said = said_soon(talk, booked)
    check("the summary says the booked duration on arrival", booked.search(said), said)

    # Flat review reads the summary's lines again, one by one, down from the focus's.
    figures = {"booked time": r"^\d+ (Minuten?|Stunden?)( \d+)?$", "rounding": r"^Gerundet: ",
               "start": r"\bStart \d\d:\d\d", "end": r"\bEnde \d\d:\d\d",
               "budget": r"\bBudget genutzt\b", "project total": r"\bProjekt gesamt\b"}
    talk.set_mark()
    key(world, "KP_Up")
    for _ in range(20):
        talk.settle()
        if all(re.search(f, talk.since_mark(), re.M) for f in figures.values()):
            break
        key(world, "KP_Page_Up")
    for name, figure in figures.items():
        check(f"flat review reads the summary's {name}", re.search(figure, talk.since_mark(), re.M),
              talk.since_mark())

    talk.set_mark()
    tab_to(world, grid)
    chosen = re.compile(r"Rundungsrichtung\.\s*ausgewählt")
    said = said_soon(talk, chosen)
    check("Tab stops on the chosen rounding, heard as chosen", chosen.search(said), said)
    talk.set_mark()
    key(world, "Down")
    value = re.compile(r"\b\d+ Min(uten)?\b")
    said = said_soon(talk, value)
    check("the minute grid says its value", value.search(said), said)

    save = find(app, "push button", "Speichern")
    tab_to(world, save)
    key(world, "Return")
    eventually("the summary saved", lambda: not find(app, "combo box"), 60)

    # A recent row's play button starts as the flow does.
    play = eventually("a recent row's play button", lambda: find(
        app, "push button", lambda n: n.startswith("Starten: ")), 60)
    tab_to(world, play)
    talk.set_mark()
    key(world, "Return")
    said = talk.wait("a start from a recent row", "Timer läuft")
    task = play.name[len("Starten: "):].split(" – ")[0]
    check("a start from a recent row says it", f"Timer läuft: {task}" in said, said)


def main(orvane, dev_service, demo_data):
    with tempfile.TemporaryDirectory() as data_dir:
        data = json.load(open(demo_data))
        for user in data["users"]:
            user["password"] = PASSWORD
        json.dump(data, open(f"{data_dir}/data.json", "w"))
        talk, debug, idle = None, None, []

        def start_orca(world):
            nonlocal talk, debug
            home = f"{world.work}/home"
            os.makedirs(home)
            try:
                # Orca refuses to start beside another of the same user.
                eventually("no other Orca", lambda: subprocess.run(
                    ["pgrep", "-u", str(os.getuid()), "-x", "orca"]).returncode == 1, 120)
            except AssertionError:
                raise OrcaMissing("another Orca of this user runs")
            spoken = speech.configure(home, world.env)
            orca = speech.start(home, world.env, world.run, eventually)
            debug = f"{home}/orca-debug.txt"
            talk = speech.Speech(spoken, debug)
            try:
                # Orca says it is on once it listens.
                eventually("Orca", lambda: orca.poll() is not None or talk.all(), 60)
            except AssertionError:
                keep = os.environ.get("ORVANE_ORCA_KEEP")
                if keep:
                    subprocess.run(["cp", "-r", home, keep])
                raise OrcaMissing("Orca said nothing within 60 s: " +
                                  open(f"{home}/orca-out.txt").read()[-500:])
            if orca.poll() is not None:
                raise OrcaMissing(open(f"{home}/orca-out.txt").read()[-500:])

        try:
            with World(orvane, dev_service, before_app=start_orca,
                       data=f"{data_dir}/data.json") as world:
                try:
                    road(world, talk, idle)
                finally:
                    heard = talk.all()
                    logged = open(debug, encoding="utf-8", errors="replace").read()
                    for secret in (WRONG, PASSWORD):
                        check(f"no part of a password is ever spoken ({secret})",
                              not leaks(heard, secret), leaks(heard, secret))
                        check(f"no password reaches Orca at all ({secret})",
                              secret not in logged, "in Orca's event log")
                    if len(idle) == 2:
                        check("no kind of event comes every second",
                              not ticking(logged, idle), ticking(logged, idle))
                    if os.environ.get("ORVANE_ORCA_KEEP"):
                        subprocess.run(["cp", "-r", f"{world.work}", os.environ["ORVANE_ORCA_KEEP"]])
        except OrcaMissing as missing:
            print(f"Orca cannot start here: {missing}")
            return SKIP
        except AssertionError as error:
            check("the road", False, error)
    print(f"{results['passed']} passed, {results['failed']} failed")
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
