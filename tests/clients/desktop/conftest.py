"""A real X server with a terminal that writes the keys it gets to a file,
and quorvane-dictate run against it, each in private folders."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "tests" / "support"))

from desktop_session import (LIMIT, Dictate, Receiver, fake_helper_env, need,  # noqa: E402
                             receiving, stop_process, xvfb)
from private_audio_server import librivox_samples  # noqa: E402
from product_fixtures import audio_server, binary  # noqa: E402,F401


@pytest.fixture(scope="session")
def xserver():
    with xvfb() as display:
        yield display


@pytest.fixture
def receiver(xserver, tmp_path):
    receiver = Receiver(xserver, tmp_path)
    yield receiver
    stop_process(receiver.process)


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
        return fake_helper_env(tmp_path, partials, final, **timing)
    return make


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
