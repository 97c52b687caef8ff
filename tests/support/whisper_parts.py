"""What the Whisper tests share: the parts scripts/fetch-whisper makes, the
recorded speech, and word error on written text."""

import os
import re
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PARTS = ROOT / ".deps" / "whisper"
LIBRIVOX = Path("/usr/share/pocketsphinx/test/data/librivox")

sys.path.insert(0, str(ROOT / "bench"))
import harness  # noqa: E402  (bench/harness.py: the benchmark's word error)


def require_parts(*files):
    """Skips when a part is missing, except under CI (CI=true), where the
    Whisper parts are always tested and a missing one fails."""
    missing = [name for name in files if not (PARTS / name).exists()]
    if not missing:
        return
    message = f"{', '.join(missing)} missing from {PARTS}: run scripts/fetch-whisper"
    if os.environ.get("CI") == "true":
        pytest.fail(message)
    pytest.skip(message)


def librivox_recordings():
    """[(wav, reference)] of pocketsphinx-testdata's LibriVox recordings."""
    recordings = []
    for line in (LIBRIVOX / "transcription").read_text(encoding="utf-8").splitlines():
        match = re.fullmatch(r"<s> (.*) </s> \((\S+)\)", line.strip())
        if match:
            recordings.append((LIBRIVOX / f"{match.group(2)}.wav", match.group(1)))
    return recordings


def spoken_form(text):
    """Whisper writes what it hears: "Mr.", "ill-disposed". As words the way
    the references spell them."""
    text = re.sub(r"\bmr\.", "mister", text.lower())
    return re.sub(r"[-\u2014]", " ", text)


def word_error_rate(pairs):
    """Pooled word error over [(reference, written hypothesis)]."""
    return harness.word_error_rate([(spoken_form(r), spoken_form(h)) for r, h in pairs])
