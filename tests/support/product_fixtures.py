"""pytest fixtures for the suites that run the real quorvane-dictation:
a conftest imports the ones it needs."""

import os
from pathlib import Path

import pytest

from private_audio_server import PrivateAudioServer

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def binary():
    """The quorvane-dictation under test: $QUORVANE_BINARY, else build/'s."""
    path = os.environ.get("QUORVANE_BINARY") or str(ROOT / "build" / "quorvane-dictation")
    if not os.access(path, os.X_OK):
        pytest.fail(f"no executable at {path}; set QUORVANE_BINARY")
    return path


@pytest.fixture(scope="session")
def audio_server():
    with PrivateAudioServer() as server:
        yield server
