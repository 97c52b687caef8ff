"""An input method desktop for the tests and the benchmark of the IBus
engine: a private D-Bus session, ibus-daemon finding the build tree's
component beside the system's, and a GTK 3 text field under the private X
server that records its preedit and committed text with their times."""

import json
import os
import subprocess
import sys
import time
from pathlib import Path

from desktop_session import LIMIT, need, stop_process

ROOT = Path(__file__).resolve().parents[2]
FIELD = Path(__file__).with_name("ibus_text_field.py")
SYSTEM_COMPONENTS = "/usr/share/ibus/component"
ENGINE = "quorvane"
OTHER_ENGINE = "xkb:us::eng"


def component_folder(binary):
    """The build tree's component folder, beside the helper under test."""
    folder = Path(binary).resolve().parent / "ibus"
    if not (folder / "quorvane.xml").is_file():
        raise RuntimeError(f"no {folder}/quorvane.xml; build the tree with cmake")
    return folder


def wait_until(condition, what, timeout=LIMIT):
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)
    return result


class IBusSession:
    """dbus-daemon and ibus-daemon in private folders under `folder`, for
    the X server `display`. `extra_env` reaches ibus-daemon, so the engine
    and the helper it runs (the audio server's address, a stand-in helper)."""

    wayland = False

    def __init__(self, display, folder, binary, extra_env=None):
        self.folder = folder
        home = folder / "home"
        runtime = folder / "runtime"
        for path in (home, runtime):
            path.mkdir(mode=0o700, parents=True)
        self.env = {key: value for key, value in os.environ.items()
                    if not key.startswith(("DBUS_", "IBUS_", "XDG_", "GTK_", "QT_", "PULSE_"))
                    and key not in ("DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE")}
        self.env.update(HOME=str(home), XDG_RUNTIME_DIR=str(runtime),
                        XDG_CONFIG_HOME=str(home / ".config"),
                        XDG_CACHE_HOME=str(home / ".cache"),
                        XDG_STATE_HOME=str(home / ".local" / "state"),
                        DISPLAY=display, LC_ALL="C.UTF-8", NO_AT_BRIDGE="1",
                        GTK_IM_MODULE="ibus", GSETTINGS_BACKEND="memory")
        self.log = home / ".local" / "state" / "quorvane-dictation" / "dictate.log"
        self._processes = []
        self._bus = subprocess.Popen([need("dbus-daemon"), "--session", "--nofork",
                                      "--nopidfile", "--print-address=1"], env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
        self._processes.append(self._bus)
        address = self._bus.stdout.readline().strip()
        assert address, "dbus-daemon gave no address"
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        components = f"{component_folder(binary)}:{SYSTEM_COMPONENTS}"
        with open(folder / "ibus-daemon.log", "wb") as log:
            self._daemon = subprocess.Popen(
                [need("ibus-daemon"), "--panel=disable", "--emoji-extension=disable",
                 "--cache=none"],
                env={**self.env, "IBUS_COMPONENT_PATH": components, **(extra_env or {})},
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self._processes.append(self._daemon)
        wait_until(lambda: self._answers(), "ibus-daemon to answer")
        self.env["IBUS_ADDRESS"] = self.ibus("address").stdout.strip()

    def _answers(self):
        assert self._daemon.poll() is None, \
            f"ibus-daemon ended: {(self.folder / 'ibus-daemon.log').read_text()}"
        listed = self.ibus("list-engine", "--name-only", check=False)
        return listed.returncode == 0 and ENGINE in listed.stdout.split()

    def ibus(self, *arguments, check=True):
        result = subprocess.run([need("ibus"), *arguments], env=self.env, capture_output=True,
                                text=True, timeout=LIMIT, stdin=subprocess.DEVNULL)
        if check:
            assert result.returncode == 0, f"ibus {' '.join(arguments)}: {result.stderr}"
        return result

    def engine(self, name):
        """Switches the focused field's input method, as Super+Space does."""
        self.ibus("engine", name)

    def current_engine(self):
        return self.ibus("engine").stdout.strip()

    def log_text(self):
        try:
            return self.log.read_text()
        except FileNotFoundError:
            return ""

    def wait_for_log(self, line, count=1, timeout=LIMIT):
        """Until `line` is in the log `count` times."""
        wait_until(lambda: self.log_text().count(line) >= count,
                   f"{line!r} in the log:\n{self.log_text()}", timeout)

    def close(self):
        for process in reversed(self._processes):
            stop_process(process)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class TextField:
    """The GTK 3 text view, focused, and what it recorded."""

    def __init__(self, session, folder):
        self.record = folder / "field.jsonl"
        self.record.touch()
        self.session = session
        with open(folder / "field.log", "wb") as log:
            self.process = subprocess.Popen([sys.executable if sys.executable else "python3",
                                             str(FIELD), str(self.record)], env=session.env,
                                            stdin=subprocess.PIPE, stdout=log, stderr=log,
                                            text=True)
        if session.wayland:
            # The compositor focuses a new window; there is no xdotool.
            wait_until(self.focused, "the text field's focus")
            return
        xdotool = need("xdotool")
        env = session.env

        def window():
            assert self.process.poll() is None, (folder / "field.log").read_text()
            found = subprocess.run([xdotool, "search", "--onlyvisible", "--name",
                                    "quorvane-ibus-field"], env=env, capture_output=True,
                                   text=True, timeout=LIMIT).stdout.split()
            return found[0] if found else None

        self.window = wait_until(window, "the text field's window")
        # No window manager gives it the keyboard focus.
        wait_until(lambda: subprocess.run([xdotool, "windowfocus", "--sync", self.window],
                                          env=env, stderr=subprocess.DEVNULL,
                                          timeout=LIMIT).returncode == 0 and self.focused(),
                   "the text field's focus")

    def events(self):
        return [json.loads(line) for line in self.record.read_text().splitlines()]

    def focused(self):
        focus = [event["focus"] for event in self.events() if "focus" in event]
        return bool(focus) and focus[-1]

    def text(self):
        texts = [event["text"] for event in self.events() if "text" in event]
        return texts[-1] if texts else ""

    def preedit(self):
        shown = [event["preedit"] for event in self.events() if "preedit" in event]
        return shown[-1] if shown else ""

    def wait_for(self, condition, what, timeout=LIMIT):
        return wait_until(lambda: condition(self), what, timeout)

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def key(self, name):
        """A key press and release, as the user's keyboard gives them."""
        if self.session.wayland:
            self.session.press(name)
            return
        subprocess.run([need("xdotool"), "key", name],
                       env=self.session.env, check=True, timeout=LIMIT)

    def close(self):
        if self.process.poll() is None:
            try:
                self.send("quit")
                self.process.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                pass
        stop_process(self.process)


RECORDING_HELPER = Path(__file__).with_name("recording_helper.py")


class HelperRecord:
    """What the real helper said, and when its host wrote to it, through
    recording_helper.py."""

    def __init__(self, folder, binary):
        self.path = folder / "helper.jsonl"
        self.env = {"QUORVANE_DICTATION_EXECUTABLE": str(RECORDING_HELPER),
                    "QUORVANE_RECORDED_BINARY": str(binary),
                    "QUORVANE_HELPER_RECORD": str(self.path)}

    def lines(self):
        try:
            return [json.loads(line) for line in self.path.read_text().splitlines()]
        except FileNotFoundError:
            return []

    def messages(self, kind):
        return [(line["t"], line["out"]) for line in self.lines()
                if "out" in line and line["out"]["type"] == kind]

    def final(self):
        """(time, text) of the final text, once it came."""
        finals = self.messages("final")
        return (finals[-1][0], finals[-1][1]["text"]) if finals else None

    def last_partial(self):
        partials = self.messages("partial")
        return partials[-1][1]["text"] if partials else ""

    def stopped(self):
        """When the host wrote "stop"."""
        stops = [line["t"] for line in self.lines() if line.get("in") == "stop"]
        return stops[-1] if stops else None
