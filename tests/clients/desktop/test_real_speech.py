"""The real quorvane-dictation hearing recorded speech from the private
audio server's microphone, typed into an xterm under Xvfb."""

import re
import time

import pytest


def words_of(text):
    return re.findall(r"[a-z0-9']+", text.lower())


@pytest.fixture
def spoken(audio_server, binary, dictate, speech):
    """A dictation of the real program, begun with `how`, once the shortest
    recording has been spoken into it."""
    wav, transcript = min(speech, key=lambda sample: sample[0].stat().st_size)

    def speak(how):
        run = dictate({**audio_server.env, "QUORVANE_DICTATION_EXECUTABLE": binary})
        begun = run(how, "en-US")
        assert begun.returncode == 0, begun.stderr
        run.wait_until("listening")
        audio_server.feed(wav)
        time.sleep(0.5)  # the pause a speaker makes before the shortcut
        return run, transcript

    return speak


def test_toggle_twice_types_the_final_text_of_real_speech(receiver, spoken):
    run, transcript = spoken("toggle")
    ended = run("toggle", "--print")
    assert ended.returncode == 0, ended.stderr
    final = ended.stdout.removesuffix("\n")
    heard = set(words_of(final)) & set(transcript.split())
    assert len(heard) >= len(set(transcript.split())) / 2, (final, transcript)
    assert receiver.wait_for(final) == final
    assert run("status").stdout == "idle\n"


def test_cancel_types_nothing_more(receiver, spoken):
    run, _ = spoken("begin")
    # Some words are typed while speaking.
    deadline = time.monotonic() + 5
    while not receiver.text() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert receiver.text(), run.log.read_text()
    cancelled = run("cancel")
    assert cancelled.returncode == 0, cancelled.stderr
    typed = receiver.text()
    time.sleep(1)
    assert receiver.text() == typed
    assert "helper: cancelled" in run.log.read_text()
    assert "helper: final" not in run.log.read_text()
