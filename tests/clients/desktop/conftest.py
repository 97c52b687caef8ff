"""A real X server with a terminal that writes the keys it gets to a file,
and quorvane-dictate run against it, each in private folders."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
sys.path[:0] = [str(ROOT / "tests" / "support"), str(ROOT / "clients" / "python"),
                str(ROOT / "clients" / "desktop")]

from private_audio_server import PrivateAudioServer, librivox_samples  # noqa: E402

SCRIPT = ROOT / "clients" / "desktop" / "quorvane-dictate"
FAKE_HELPER = Path(__file__).with_name("fake_helper.py")
LIMIT = 30  # seconds; only against hanging, never a measure


def need(tool):
    path = shutil.which(tool)
    if path is None:
        pytest.fail(f"{tool} is not installed; scripts/setup installs it")
    return path


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


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


@pytest.fixture(scope="session")
def xserver(tmp_path_factory):
    """DISPLAY of a private Xvfb, on a display number it picks itself."""
    read, write = os.pipe()
    process = subprocess.Popen([need("Xvfb"), "-displayfd", str(write), "-nolisten", "tcp",
                                "-screen", "0", "1024x768x24"], pass_fds=(write,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        with os.fdopen(read) as stream:
            number = stream.readline().strip()
        if not number:
            pytest.fail("Xvfb did not start")
        yield f":{number}"
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
        self.process = subprocess.Popen([need("xterm"), "-u8", "-T", title, "-e",
                                         *receiving(folder)], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        xdotool = need("xdotool")
        window = subprocess.run([xdotool, "search", "--sync", "--onlyvisible", "--name", title],
                                env=self.env, capture_output=True, text=True,
                                timeout=LIMIT).stdout.split()[0]
        deadline = time.monotonic() + LIMIT
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


@pytest.fixture
def receiver(xserver, tmp_path):
    receiver = Receiver(xserver, tmp_path)
    yield receiver
    stop_process(receiver.process)


class Dictate:
    """Runs quorvane-dictate in private runtime and state folders; stops any
    background dictation it left at the end."""

    def __init__(self, folder, session, extra_env=None):
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE")}
        runtime = folder / "runtime"
        runtime.mkdir(mode=0o700)
        self.env.update(session, XDG_RUNTIME_DIR=str(runtime),
                        XDG_STATE_HOME=str(folder / "state"), **(extra_env or {}))
        self.log = folder / "state" / "quorvane-dictation" / "dictate.log"
        self.pids = set()

    def __call__(self, *arguments, timeout=LIMIT):
        result = subprocess.run([sys.executable, str(SCRIPT), *arguments], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=timeout)
        if arguments[0] in ("begin", "toggle"):
            self.remember()
        return result

    def remember(self):
        answer = self("status").stdout.strip()
        if answer not in ("idle", "ended"):
            # One more look, with the pid, for the clean-up.
            from quorvane_dictate import control
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


@pytest.fixture
def dictate(tmp_path, xserver):
    """Makes a Dictate for the X server, or for `session`'s variables."""
    made = []

    def make(extra_env=None, session=None):
        made.append(Dictate(tmp_path, session or {"DISPLAY": xserver}, extra_env))
        return made[-1]

    yield make
    for dictation in made:
        dictation.close()


@pytest.fixture
def fake_script(tmp_path):
    """The fake helper's environment for a script of partials and a final."""
    def make(partials, final, **timing):
        path = tmp_path / "script.json"
        path.write_text(json.dumps({"partials": partials, "final": final, **timing}))
        return {"FAKE_DICTATION_SCRIPT": str(path),
                "QUORVANE_DICTATION_EXECUTABLE": str(FAKE_HELPER)}
    return make


@pytest.fixture(scope="session")
def audio_server():
    with PrivateAudioServer() as server:
        yield server


@pytest.fixture(scope="session")
def binary():
    path = os.environ.get("QUORVANE_BINARY") or str(ROOT / "build" / "quorvane-dictation")
    if not os.access(path, os.X_OK):
        pytest.fail(f"no executable at {path}; set QUORVANE_BINARY")
    return path


@pytest.fixture(scope="session")
def speech():
    samples = librivox_samples()
    if not samples:
        pytest.fail("no LibriVox samples; install pocketsphinx-testdata")
    return samples


def as_nobody():
    """sway refuses to run as root: root runs it as nobody."""
    if os.getuid() != 0:
        return []
    return [need("setpriv"), "--reuid=65534", "--regid=65534", "--clear-groups"]


def make_own(folder):
    """`folder`, made for the compositor and its clients' user."""
    folder.mkdir(mode=0o700)
    if os.getuid() == 0:
        os.chown(folder, 65534, 65534)
    return folder


@pytest.fixture(scope="session")
def sway():
    """WAYLAND_DISPLAY (a path) of a headless sway, a wlroots compositor."""
    for tool in ("sway", "foot", "wtype"):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed")
    # Out of pytest's folders, which only their owner may enter.
    top = Path(tempfile.mkdtemp(prefix="quorvane-sway-"))
    top.chmod(0o755)
    folder = make_own(top / "session")
    (folder / "config").write_text("output HEADLESS-1 resolution 1024x768\n")
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(folder),
           "XDG_RUNTIME_DIR": str(folder), "WLR_BACKENDS": "headless",
           "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1", "LC_ALL": "C.UTF-8"}
    process = subprocess.Popen([*as_nobody(), "sway", "-c", str(folder / "config")], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + LIMIT
        while not list(folder.glob("wayland-*[0-9]")):
            assert process.poll() is None and time.monotonic() < deadline, "sway did not start"
            time.sleep(0.05)
        yield {"env": env, "folder": folder,
               "WAYLAND_DISPLAY": str(next(folder.glob("wayland-*[0-9]")))}
    finally:
        stop_process(process)
        shutil.rmtree(top, ignore_errors=True)


class FootReceiver(Receiver):
    """A foot terminal under sway, the only window and so the focused one,
    that writes every key to a file."""

    def __init__(self, sway, name):
        folder = make_own(sway["folder"] / name)
        self.file = folder / "typed"
        self.env = {**os.environ, "WAYLAND_DISPLAY": sway["WAYLAND_DISPLAY"]}
        self.env.pop("DISPLAY", None)
        self.process = subprocess.Popen(
            [*as_nobody(), "foot", *receiving(folder)],
            env={**sway["env"], "WAYLAND_DISPLAY": sway["WAYLAND_DISPLAY"]},
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + LIMIT
        while not (folder / "ready").exists():
            assert self.process.poll() is None and time.monotonic() < deadline, "no foot"
            time.sleep(0.02)
        time.sleep(0.3)  # the window mapped and focused after the shell starts


@pytest.fixture
def foot(sway, request):
    receiver = FootReceiver(sway, re.sub(r"\W", "-", request.node.name))
    yield receiver
    stop_process(receiver.process)
