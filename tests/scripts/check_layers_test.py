"""scripts/check-layers fails on an include that points up or sideways."""
import pathlib
import subprocess
import sys

import pytest

CHECKER = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "check-layers"

# (file, the header it includes, whether the checker lets it pass)
CASES = [
    ("platform/linux/vosk/a.cc", "platform/linux/speech/timed_word.h", True),
    ("platform/linux/vosk/a.cc", "platform/linux/process/shared_library.h", True),
    ("platform/linux/pocketsphinx/a.cc", "platform/speech_service.h", True),
    ("platform/linux/linux_platform.cc", "platform/linux/vosk/vosk_recognizer.h", True),
    ("platform/linux/capture/a.cc", "platform/linux/process/process_environment.h", True),
    # An engine on another engine, or on capture.
    ("platform/linux/vosk/a.cc", "platform/linux/pocketsphinx/sphinx_api.h", False),
    ("platform/linux/pocketsphinx/a.cc", "platform/linux/vosk/vosk_api.h", False),
    ("platform/linux/vosk/a.cc", "platform/linux/capture/pulse_api.h", False),
    # Sideways between capture and speech, and up from below.
    ("platform/linux/capture/a.cc", "platform/linux/speech/audio_queue.h", False),
    ("platform/linux/speech/a.cc", "platform/linux/capture/tap_slot.h", False),
    ("platform/linux/speech/a.cc", "platform/linux/pocketsphinx/recognized_word.h", False),
    ("platform/linux/process/a.cc", "platform/linux/speech/timed_word.h", False),
    ("platform/linux/speech/a.cc", "platform/linux/linux_platform.h", False),
    ("platform/linux/a/b.cc", "platform/linux/process/shared_library.h", False),
    ("dictation/a.cc", "platform/linux/linux_platform.h", False),
]


@pytest.mark.parametrize("source, header, passes", CASES)
def test_layers(tmp_path, source, header, passes):
    path = tmp_path / source
    path.parent.mkdir(parents=True)
    path.write_text(f'#include "{header}"\n', encoding="utf-8")
    result = subprocess.run([sys.executable, str(CHECKER), str(tmp_path)],
                            capture_output=True, text=True, check=False)
    assert (result.returncode == 0) == passes, result.stdout
