"""The Python library against the real executable and against stand-ins
that misbehave the ways a host must survive."""

import asyncio
import re
import subprocess
import time

import pytest

import quorvane_dictation as dictation
from quorvane_dictation import aio
from validate_messages import validate_line

READY = '{"type":"ready","engine":"recognizer"}'
LIMIT = 60  # seconds; only against hanging, never a measure


def types(events):
    return [event.type for event in events]


def test_status_and_authorize_report_granted_on_linux(binary):
    expected = {"speech": "granted", "microphone": "granted", "engine": "recognizer"}
    assert dictation.status(executable=binary) == expected
    assert dictation.authorize(executable=binary) == expected
    assert asyncio.run(aio.status(executable=binary)) == expected


def test_invalid_locale_is_an_invalid_request(binary):
    with dictation.listen("en US!", executable=binary) as session:
        events = list(session)
        with pytest.raises(dictation.DictationError) as raised:
            session.final_text()
    assert raised.value.code == "invalid_request"
    assert events == [dictation.Event("error", code="invalid_request"),
                      dictation.Event("exit", returncode=1)]

    async def run():
        session = await aio.listen("x", executable=binary)
        return [event async for event in session]

    assert types(asyncio.run(run())) == ["error", "exit"]


def words_of(text):
    """The words alone, as the transcript has them: no capitals, no marks."""
    return re.findall(r"[a-z0-9']+", text.lower())


def test_a_spoken_sentence_becomes_text(binary, audio_server, audio_env, speech):
    wav, transcript = speech
    with dictation.listen("en-US", executable=binary, env=audio_env) as session:
        events = [session.next_event(timeout=LIMIT)]
        assert events[0].type == "ready", events
        audio_server.feed(wav)
        # The end of the sentence is still on its way through the audio
        # server and the recognizer: stop once its last word shows, as a
        # person would, or after a while.
        patience = time.monotonic() + 10
        while transcript.split()[-1] not in words_of(session.transcript):
            try:
                events.append(session.next_event(timeout=max(patience - time.monotonic(), 0)))
            except TimeoutError:
                break
            if events[-1].type == "exit":
                break
        session.stop()
        text = session.final_text(timeout=LIMIT)
        events += list(session)
    assert types(events)[-3:] == ["final", "done", "exit"] and events[-1].returncode == 0
    partials = [event.text for event in events if event.type == "partial"]
    assert partials, events
    assert all(a != b for a, b in zip(partials, partials[1:])), partials
    heard = set(words_of(text)) & set(transcript.split())
    assert len(heard) >= len(set(transcript.split())) / 2, (text, transcript)


def test_cancel_ends_a_session_without_text(binary, audio_env):
    async def run():
        async with await aio.listen("en-US", executable=binary, env=audio_env) as session:
            assert (await asyncio.wait_for(session.next_event(), LIMIT)).type == "ready"
            await session.cancel()
            with pytest.raises(dictation.Cancelled):
                await asyncio.wait_for(session.final_text(), LIMIT)
            return [event async for event in session]

    events = asyncio.run(run())
    assert types(events) == ["cancelled", "exit"] and events[-1].returncode == 0


def test_lines_reach_the_program_and_messages_come_back(fake):
    # The stand-in answers the first line it reads, as the program answers stop.
    echo = fake(f"echo '{READY}'; read line; "
                """printf '{"type":"final","text":"%s"}\\n{"type":"done"}\\n' "$line"\n""")
    with dictation.listen(executable=echo) as session:
        assert session.next_event(timeout=LIMIT).type == "ready"
        session.stop()
        assert session.final_text(timeout=LIMIT) == "stop"

    async def run():
        session = await aio.listen(executable=echo)
        await session.cancel()
        text = await session.final_text()
        await session.close()
        return text

    assert asyncio.run(run()) == "cancel"


BROKEN = {
    "not JSON": (f"echo '{READY}'; echo 'Segmentation fault'; cat >/dev/null", 0),
    "exit without a last message": (f"echo '{READY}'; exit 3", 3),
    "missing key": (f"echo '{READY}'; echo '{{\"type\":\"partial\"}}'; cat >/dev/null", 0),
}


@pytest.mark.parametrize("body, returncode", BROKEN.values(), ids=BROKEN.keys())
def test_a_misbehaving_program_ends_the_session_with_a_protocol_error(fake, body, returncode):
    with dictation.listen(executable=fake(body)) as session:
        events = list(session)
        session.stop()  # the program is gone: nothing to write to, no exception
        session.cancel()
        with pytest.raises(dictation.DictationError) as raised:
            session.final_text()
    assert raised.value.code == dictation.PROTOCOL_ERROR
    assert events == [dictation.Event("ready"),
                      dictation.Event("error", code=dictation.PROTOCOL_ERROR),
                      dictation.Event("exit", returncode=returncode)]

    async def run():
        session = await aio.listen(executable=fake(body))
        events = [event async for event in session]
        await session.stop()
        await session.close()
        return events

    assert types(asyncio.run(run())) == ["ready", "error", "exit"]


def test_unknown_message_types_are_skipped(fake):
    body = """echo '{"type":"hint","text":"later versions may say more"}'; echo '{"type":"cancelled"}'"""
    with dictation.listen(executable=fake(body)) as session:
        assert types(session) == ["cancelled", "exit"]


def test_start_and_status_failures_raise(fake, tmp_path):
    for call in (dictation.status, lambda executable: dictation.listen(executable=executable)):
        with pytest.raises(dictation.DictationError) as raised:
            call(executable=str(tmp_path / "missing"))
        assert raised.value.code == dictation.SPAWN_FAILED

    denied = fake("""echo '{"type":"error","code":"speech_denied"}'; exit 1""")
    with pytest.raises(dictation.DictationError) as raised:
        dictation.authorize(executable=denied)
    assert raised.value.code == "speech_denied"

    garbage = fake("echo 'status: ok'")
    with pytest.raises(dictation.DictationError) as raised:
        asyncio.run(aio.status(executable=garbage))
    assert raised.value.code == dictation.PROTOCOL_ERROR


def test_the_real_output_fits_the_schema(binary):
    for arguments in (["status"], ["authorize"], ["listen", "??"], ["bogus"], []):
        result = subprocess.run([binary, *arguments], stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=LIMIT)
        assert result.stderr == b""
        lines = result.stdout.decode().splitlines()
        assert len(lines) == 1
        validate_line(lines[0])
