"""A desktop for the tests and the benchmark of quorvane-dictate: a private
X server, a terminal there that writes every key it gets to a file, and
the command run in private folders."""

import json
import os
import shutil
import signal
import subprocess
import sys
import time
from contextlib import contextmanager
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "clients" / "python"), str(ROOT / "clients" / "desktop")]

from quorvane_dictate import control  # noqa: E402

SCRIPT = ROOT / "clients" / "desktop" / "quorvane-dictate"
FAKE_HELPER = ROOT / "tests" / "clients" / "desktop" / "fake_helper.py"
LIMIT = 30  # seconds; only against hanging, never a measure


def need(tool):
    path = shutil.which(tool)
    if path is None:
        raise RuntimeError(f"{tool} is not installed; scripts/setup installs it")
    return path


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def fake_helper_env(folder, partials, final, **timing):
    """The environment that has quorvane-dictate or the IBus engine run the
    stand-in helper with a script of partials and a final text."""
    path = folder / "script.json"
    path.write_text(json.dumps({"partials": partials, "final": final, **timing}))
    return {"FAKE_DICTATION_SCRIPT": str(path), "QUORVANE_DICTATION_EXECUTABLE": str(FAKE_HELPER)}


def visible_text(data):
    """What a text field would show after these keys: DEL and BS erase the
    character before."""
    text = []
    for character in data.decode("utf-8", "replace"):
        if character in "\x7f\b":
            if text:
                text.pop()
        else:
            text.append(character)
    return "".join(text)


def x_server_answers(display):
    return subprocess.run([need("xdotool"), "getdisplaygeometry"], env={**os.environ,
                          "DISPLAY": display}, capture_output=True, timeout=LIMIT).returncode == 0


@contextmanager
def xvfb():
    """DISPLAY of a private Xvfb. The display number is named, not left to
    -displayfd: that mode takes no lock file, so two suites at once would
    pick the same number and take each other's socket. -noreset: a server
    that resets as its last client leaves drops the next test's terminal."""
    first = 100 + os.getpid() % 800
    for number in range(first, first + 50):
        display = f":{number}"
        process = subprocess.Popen([need("Xvfb"), display, "-noreset", "-nolisten", "tcp",
                                    "-screen", "0", "1024x768x24"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + LIMIT
        # It ends at once when the number is taken.
        while process.poll() is None and not x_server_answers(display):
            assert time.monotonic() < deadline, "Xvfb did not answer"
            time.sleep(0.05)
        if process.poll() is None:
            break
    else:
        raise RuntimeError("Xvfb found no free display number")
    try:
        yield display
    finally:
        stop_process(process)


def receiving(folder):
    """A shell command line for a terminal: its cat writes every key to
    FOLDER/typed as it comes, a Return as a line feed, nothing echoed."""
    return ["sh", "-c", f"stty -icanon -echo && : >'{folder}/typed' && "
                        f"echo >'{folder}/ready' && exec cat >>'{folder}/typed'"]


class Receiver:
    """An xterm with the keyboard focus that writes every key to a file."""

    def __init__(self, display, folder):
        self.file = folder / "typed"
        self.env = {**os.environ, "DISPLAY": display, "LC_ALL": "C.UTF-8"}
        title = f"receiver-{os.getpid()}-{folder.name}"
        with open(folder / "xterm.log", "wb") as log:
            self.process = subprocess.Popen([need("xterm"), "-u8", "-T", title, "-e",
                                             *receiving(folder)], env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=log)
        xdotool = need("xdotool")
        deadline = time.monotonic() + LIMIT
        # Polled rather than `search --sync`: on a loaded machine xterm can
        # take long to map, and an xterm that died should say so at once.
        while not (found := subprocess.run([xdotool, "search", "--onlyvisible", "--name", title],
                                           env=self.env, capture_output=True, text=True,
                                           timeout=LIMIT).stdout.split()):
            assert self.process.poll() is None, \
                f"xterm ended with {self.process.returncode}: {(folder / 'xterm.log').read_text()}"
            assert time.monotonic() < deadline, "the receiver's window never showed"
            time.sleep(0.05)
        window = found[0]
        # Focus fails while the window is still being mapped.
        while subprocess.run([xdotool, "windowfocus", "--sync", window], env=self.env,
                             stderr=subprocess.DEVNULL, timeout=LIMIT).returncode != 0:
            assert time.monotonic() < deadline, "the receiver never took the focus"
            time.sleep(0.05)
        while not (folder / "ready").exists() and time.monotonic() < deadline:
            time.sleep(0.02)

    def text(self):
        return visible_text(self.file.read_bytes())

    def wait_for(self, expected, timeout=5):
        """The text once it equals `expected`, or what there is after `timeout`."""
        deadline = time.monotonic() + timeout
        while (text := self.text()) != expected and time.monotonic() < deadline:
            time.sleep(0.02)
        return text


class Dictate:
    """Runs quorvane-dictate in private runtime and state folders; stops any
    background dictation it left at the end."""

    def __init__(self, folder, session, extra_env=None):
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE")}
        self.runtime = runtime = folder / "runtime"
        runtime.mkdir(mode=0o700)
        self.env.update(session, XDG_RUNTIME_DIR=str(runtime),
                        XDG_STATE_HOME=str(folder / "state"), **(extra_env or {}))
        self.log = folder / "state" / "quorvane-dictation" / "dictate.log"
        self.pids = set()

    def __call__(self, *arguments, timeout=LIMIT):
        # As a desktop shortcut runs it: by its own interpreter line.
        result = subprocess.run([str(SCRIPT), *arguments], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=timeout)
        if arguments[0] in ("begin", "toggle"):
            self.remember()
        return result

    def remember(self):
        """The background process's pid, for close()."""
        reply = control.request(Path(self.env["XDG_RUNTIME_DIR"]) / "quorvane-dictate",
                                "status")
        if reply:
            self.pids.add(reply["pid"])

    def wait_until(self, state, timeout=LIMIT):
        deadline = time.monotonic() + timeout
        while (now := self("status").stdout.strip()) != state:
            assert time.monotonic() < deadline, f"still {now}, not {state}"
            time.sleep(0.05)

    def close(self):
        for pid in self.pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
