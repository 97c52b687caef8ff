"""The IBus engine under a private X server: a private session bus,
ibus-daemon with the build tree's component, and a GTK 3 text field that
records its preedit and committed text."""

import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
sys.path[:0] = [str(ROOT / "tests" / "support"), str(ROOT / "clients" / "ibus"),
                str(ROOT / "clients" / "desktop"), str(ROOT / "clients" / "python")]

from desktop_session import xvfb  # noqa: E402
from ibus_session import IBusSession, TextField  # noqa: E402
from private_audio_server import librivox_samples  # noqa: E402
from product_fixtures import audio_server, binary  # noqa: E402,F401


@pytest.fixture(scope="session")
def xserver():
    with xvfb() as display:
        yield display


@pytest.fixture
def desktop(xserver, binary, tmp_path):
    """Makes (session, field): ibus-daemon whose engine and helper get
    `extra_env`, and the focused text field, its engine still the default."""
    made = []

    def make(extra_env=None):
        session = IBusSession(xserver, tmp_path, binary, extra_env)
        made.append(session)
        field = TextField(session, tmp_path)
        made.append(field)
        return session, field

    yield make
    for thing in reversed(made):
        thing.close()


@pytest.fixture(scope="session")
def shortest_speech():
    samples = librivox_samples()
    if not samples:
        pytest.fail("no LibriVox samples; install pocketsphinx-testdata")
    return min(samples, key=lambda sample: sample[0].stat().st_size)
