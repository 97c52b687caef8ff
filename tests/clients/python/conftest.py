import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
sys.path[:0] = [str(ROOT / "tests" / "support"), str(ROOT / "clients" / "python")]

from private_audio_server import librivox_samples  # noqa: E402
from product_fixtures import audio_server, binary  # noqa: E402,F401


@pytest.fixture
def audio_env(audio_server):
    """An environment whose default audio source is the private server's."""
    return {**os.environ, **audio_server.env}


@pytest.fixture(scope="session")
def speech():
    """(WAV path, words of its transcript) of a short LibriVox recording."""
    samples = librivox_samples()
    if not samples:
        pytest.fail("no LibriVox samples; install pocketsphinx-testdata")
    return min(samples, key=lambda sample: sample[0].stat().st_size)


@pytest.fixture
def fake(tmp_path):
    """Makes a stand-in executable from a shell script body."""
    def make(body):
        path = tmp_path / "fake-dictation"
        path.write_text("#!/bin/sh\n" + body)
        path.chmod(0o755)
        return str(path)
    return make
