"""Orca as a blind user runs it, with a speech engine that writes what it says.

Speech Dispatcher gets one output module: the generic one, whose synthesis
command appends each text to a file; ALSA's default device is the null device.
Orca runs with default settings (German messages) and a debug log that holds
every event it received, so a test can tell what reached assistive technology
apart from what was spoken.
"""

import os, subprocess, time

MODULE = """GenericExecuteSynth "printf %s \\'$DATA\\' >> {spoken}; echo >> {spoken}"
GenericCmdDependency "printf"
AddVoice "de" "male1" "de"
AddVoice "en" "male1" "en"
GenericLanguage "de" "de" "utf-8"
GenericLanguage "en" "en" "utf-8"
DefaultVoice "de"
"""

SPEECHD = """AddModule "file" "sd_generic" "file.conf"
DefaultModule file
DefaultLanguage "de"
AudioOutputMethod "alsa"
LogDir "{logs}"
"""

# Orca's debug file is buffered; each line is wanted as it happens.
ORCA = """import builtins, runpy, sys
_open = builtins.open
def _line_buffered(file, mode="r", *args, **kwargs):
    if mode == "w" and not args and not kwargs and str(file) == sys.argv[-1]:
        return _open(file, mode, buffering=1)
    return _open(file, mode, *args, **kwargs)
builtins.open = _line_buffered
sys.argv[0] = "orca"
runpy.run_path("/usr/bin/orca", run_name="__main__")
"""


def configure(home, env):
    """Writes the speech set-up under `home` and the variables Orca needs into `env`."""
    spoken = f"{home}/spoken.txt"
    open(spoken, "w").close()
    os.makedirs(f"{home}/.config/speech-dispatcher/modules", exist_ok=True)
    os.makedirs(f"{home}/speechd-logs", exist_ok=True)
    with open(f"{home}/.config/speech-dispatcher/modules/file.conf", "w") as f:
        f.write(MODULE.format(spoken=spoken))
    with open(f"{home}/.config/speech-dispatcher/speechd.conf", "w") as f:
        f.write(SPEECHD.format(logs=f"{home}/speechd-logs"))
    with open(f"{home}/.asoundrc", "w") as f:
        f.write("pcm.!default { type null }\nctl.!default { type hw card 0 }\n")
    env.update(HOME=home, XDG_CONFIG_HOME=f"{home}/.config", LANGUAGE="de", LANG="C.UTF-8",
               GSETTINGS_BACKEND="memory")
    return spoken


def start(home, env, run, wait):
    """Starts Speech Dispatcher, then Orca with its debug log in `home`/orca-debug.txt;
    returns Orca's process."""
    # Ours to end: one Orca started itself would outlive the test.
    run(["speech-dispatcher", "--run-single", "--timeout", "0"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    runtime = env.get("XDG_RUNTIME_DIR") or f"{home}/.cache"
    wait("Speech Dispatcher", lambda: os.path.exists(f"{runtime}/speech-dispatcher/speechd.sock"))
    debug = f"{home}/orca-debug.txt"
    with open(f"{home}/orca-start.py", "w") as f:
        f.write(ORCA)
    os.makedirs(f"{home}/orca-prefs", exist_ok=True)
    return run(["/usr/bin/python3", f"{home}/orca-start.py", "-u", f"{home}/orca-prefs",
                "--debug-file", debug], stdout=open(f"{home}/orca-out.txt", "wb"),
               stderr=subprocess.STDOUT)


class Speech:
    """What Orca said, read from the engine's file as it grows; `log` is Orca's
    debug log, which grows with every event Orca takes in."""

    def __init__(self, spoken, log=None):
        self.path, self.log, self.mark = spoken, log, 0

    def all(self):
        with open(self.path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def since_mark(self):
        return self.all()[self.mark:]

    def settle(self, quiet=1.0, seconds=20):
        """Waits until neither Orca's log nor its speech has grown for `quiet`
        seconds: on a busy machine Orca may still be saying an earlier step."""
        sizes = lambda: tuple(os.path.getsize(p) for p in (self.path, self.log) if p)  # noqa: E731
        end = time.monotonic() + seconds
        last, since = sizes(), time.monotonic()
        while time.monotonic() < end:
            time.sleep(0.1)
            if (now := sizes()) != last:
                last, since = now, time.monotonic()
            elif time.monotonic() - since >= quiet:
                return
        print(f"note: Orca was still busy after {seconds} s")

    def set_mark(self):
        """Marks the end of what was said, once Orca is quiet: what it says
        after the mark belongs to the next step."""
        self.settle()
        self.mark = len(self.all())

    def wait(self, what, wanted, seconds=60):
        """Waits until text said since the mark holds `wanted` (text or predicate)."""
        test = wanted if callable(wanted) else (lambda said: wanted in said)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if test(said := self.since_mark()):
                return said
            time.sleep(0.05)
        raise AssertionError(f"{what}: not said within {seconds} s; said: {self.since_mark()!r}")
