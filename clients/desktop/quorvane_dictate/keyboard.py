"""Typing into the window that has the keyboard focus.

X11 through the XTEST extension (xdotool); Wayland through a virtual
keyboard (wtype, on compositors with the virtual-keyboard protocol, such as
the wlroots ones; ydotool, through the kernel's uinput, anywhere). Each
piece of text becomes a few short runs of the tool, line feeds typed as
Return keys; on X11 letters outside ASCII get keys of their own first.
"""

import os
import re
import shutil
import subprocess
import threading
import time

from . import xkeymap

KEY_DELAY_MS = 2
# A letter xdotool has to bind itself, for want of a spare key (xkeymap),
# needs time for the X client to read the map before the binding goes.
REMAPPED_DELAY_MS = 40
SETTLE_SECONDS = 0.02  # for clients to hear of newly bound letters

_LINES = re.compile(r"(\n+)|([^\n]+)")


class NoKeyboard(Exception):
    """No way to type in this session; the message says what to install."""


class Keyboard:
    """Runs one typing tool; abort() ends the run in progress for good."""

    name = None

    def __init__(self, path, env=None):
        self.path = path
        self.env = env  # the session's variables, for the tool
        self._lock = threading.Lock()
        self._running = None
        self._aborted = False

    def _run(self, *arguments, text=None):
        """Runs the tool with `arguments`, and `text` on its standard input."""
        with self._lock:
            if self._aborted:
                return
            self._running = subprocess.Popen(
                [self.path, *arguments], stdout=subprocess.DEVNULL, env=self.env,
                stdin=subprocess.DEVNULL if text is None else subprocess.PIPE)
        try:
            if text is not None:
                try:
                    self._running.communicate(text.encode())
                except BrokenPipeError:
                    pass
            status = self._running.wait()
        finally:
            with self._lock:
                self._running = None
        if status != 0 and not self._aborted:
            raise OSError(f"{self.name} exited with status {status}")

    def abort(self):
        with self._lock:
            self._aborted = True
            if self._running is not None:
                self._running.kill()

    def apply(self, edit):
        """Erases, then types, as an stable.Edit says."""
        if edit.erase:
            self.erase(edit.erase)
        if edit.text:
            self.type(edit.text)

    def type(self, text):
        for newlines, line in _LINES.findall(text):
            if newlines:
                self.keys("Return", len(newlines))
            else:
                self.text(line)

    def erase(self, count):
        self.keys("BackSpace", count)

    def close(self):
        """Once nothing more is typed."""


class Xdotool(Keyboard):
    name = "xdotool"

    def __init__(self, path, env=None):
        super().__init__(path, env)
        self._spare_keys = None

    def text(self, text):
        if any(ord(character) >= 0x80 for character in text):
            if self._spare_keys is None:
                display = (self.env or os.environ).get("DISPLAY")
                self._spare_keys = xkeymap.SpareKeys(display.encode() if display else None)
            if self._spare_keys.bind(text):
                time.sleep(SETTLE_SECONDS)
        slow = self._spare_keys.unbound(text) if self._spare_keys else False
        delay = REMAPPED_DELAY_MS if slow else KEY_DELAY_MS
        self._run("type", "--clearmodifiers", "--delay", str(delay), "--", text)

    def close(self):
        if self._spare_keys is not None:
            self._spare_keys.close()

    def keys(self, key, count):
        self._run("key", "--clearmodifiers", "--delay", str(KEY_DELAY_MS),
                  "--repeat", str(count), key)


class Wtype(Keyboard):
    name = "wtype"
    # Each run makes a new virtual keyboard; the focused client drops the
    # keys that come before it has its keymap (seen with sway and foot).
    START_MS = "20"

    def text(self, text):
        self._run("-s", self.START_MS, "--", text)

    def keys(self, key, count):
        self._run("-s", self.START_MS, *["-k", key] * count)


class Ydotool(Keyboard):
    # ydotool presses the keys of a US layout: it cannot type what that
    # layout lacks. Text goes on its standard input, so that a leading "-"
    # is no option; its keys are named as the kernel names them.
    name = "ydotool"
    KEY_NAMES = {"Return": "Enter", "BackSpace": "Backspace"}

    def text(self, text):
        self._run("type", "--file", "-", text=text)

    def keys(self, key, count):
        self._run("key", *[self.KEY_NAMES[key]] * count)


KEYBOARDS = {keyboard.name: keyboard for keyboard in (Xdotool, Wtype, Ydotool)}


def session_kind(env):
    """"wayland", "x11" or None, from the session's variables. A Wayland
    session's DISPLAY is XWayland's, which reaches only X programs."""
    kind = env.get("XDG_SESSION_TYPE", "").lower()
    if env.get("WAYLAND_DISPLAY") or kind == "wayland":
        return "wayland"
    if env.get("DISPLAY"):
        return "x11"
    return None


def choose(env=None, name=None, which=shutil.which):
    """The Keyboard for this session, or `name` if given. Raises NoKeyboard."""
    env = os.environ if env is None else env
    if name is not None:
        if name not in KEYBOARDS:
            raise NoKeyboard(f"unknown typing tool {name}; choose one of {', '.join(KEYBOARDS)}")
        candidates, advice = [name], f"install {name}"
    else:
        kind = session_kind(env)
        if kind is None:
            raise NoKeyboard("no desktop session to type into (neither WAYLAND_DISPLAY "
                             "nor DISPLAY is set)")
        if kind == "wayland":
            candidates = ["wtype", "ydotool"]
            advice = "install wtype (wlroots desktops such as sway) or ydotool (any desktop)"
        else:
            candidates, advice = ["xdotool"], "install xdotool"
    for candidate in candidates:
        path = which(candidate, path=env.get("PATH"))
        if path:
            return KEYBOARDS[candidate](path, env)
    raise NoKeyboard(f"nothing can type here: {advice}")
