"""The engine under ibus-daemon, into a GTK 3 text view under Xvfb: from a
stand-in helper, from one that fails, and from the real one hearing
recorded speech."""

import time

import pytest

from desktop_session import fake_helper_env
from ibus_session import ENGINE, OTHER_ENGINE, HelperRecord, wait_until

PARTIALS = ["Hello", "Hello world", "Hello world this", "Hello world this is",
            "Hello world this is a test"]
FINAL = "Hello world this is a test."


def switch(session, name):
    session.ibus("engine", name, check=False)  # its status reports the layout, not the switch
    wait_until(lambda: session.current_engine() == name, f"the engine {name}")


@pytest.fixture
def dictating(desktop, tmp_path):
    """The field, switched to the engine with the stand-in helper, once all
    its partials have come."""
    def make(interval=0.05):
        session, field = desktop(fake_helper_env(tmp_path, PARTIALS, FINAL, interval=interval))
        switch(session, ENGINE)
        field.wait_for(lambda f: f.text() + f.preedit() == PARTIALS[-1], "the partials")
        return session, field
    return make


def test_stable_words_are_committed_and_the_rest_shown_until_switching_away(dictating):
    session, field = dictating()
    assert (field.text(), field.preedit()) == ("Hello world this is", " a test")
    # The first word shows as preedit before it is committed.
    shown = [event for event in field.events() if event.get("preedit") or event.get("text")]
    assert shown[0] == {"t": shown[0]["t"], "preedit": "Hello"}
    switch(session, OTHER_ENGINE)
    # IBus commits the preedit; the final text's closing mark reaches nobody.
    field.wait_for(lambda f: f.text() == PARTIALS[-1] and f.preedit() == "", "the commit")
    session.wait_for_log("the final text was 27 characters, the field took 26")
    switch(session, ENGINE)
    session.wait_for_log("started", count=2)


def test_enter_commits_the_final_text_and_then_reaches_the_application(dictating):
    session, field = dictating()
    field.key("Return")
    field.wait_for(lambda f: f.text() == FINAL + "\n", "the final text and the line feed")
    assert field.preedit() == ""
    # The next dictation starts in the same field.
    session.wait_for_log("started", count=2)
    assert "helper: error" not in session.log_text()


def test_escape_drops_the_preedit_and_commits_nothing(desktop, tmp_path):
    session, field = desktop(fake_helper_env(tmp_path, ["One", "One two", "One two three"],
                                             "One two three.", interval=0.3))
    switch(session, ENGINE)
    field.wait_for(lambda f: f.preedit() == "One two", "the preedit")
    field.key("Escape")
    field.wait_for(lambda f: f.preedit() == "", "the preedit to go")
    session.wait_for_log("helper: cancelled")
    time.sleep(0.5)  # what the stand-in would have said by now
    assert field.text() == "" and field.preedit() == ""
    assert "helper: final" not in session.log_text()


def test_a_failing_helper_leaves_the_field_as_it_was(desktop, tmp_path):
    failing = tmp_path / "failing-helper"
    failing.write_text("#!/bin/sh\necho '{\"type\":\"error\",\"code\":\"microphone_unavailable\"}'\n"
                       "exit 1\n")
    failing.chmod(0o755)
    session, field = desktop({"QUORVANE_DICTATION_EXECUTABLE": str(failing)})
    switch(session, ENGINE)
    session.wait_for_log("helper: error microphone_unavailable")
    session.wait_for_log("helper: exit status 1")
    field.key("a")  # keys reach the application as before
    field.wait_for(lambda f: f.text() == "a", "the key")
    assert not any(event.get("preedit") for event in field.events())
    assert session.log_text().count("started") == 1  # no second try on its own


def test_the_focus_lost_ends_the_dictation_and_back_starts_one(dictating):
    session, field = dictating(interval=0.02)
    field.send("unfocus")
    field.wait_for(lambda f: not f.focused(), "the focus to go")
    session.wait_for_log("helper: final")
    field.wait_for(lambda f: f.text() == PARTIALS[-1] and f.preedit() == "", "the commit")
    field.send("focus")
    session.wait_for_log("started", count=2)
    # After a word, the new dictation's first words get a space.
    field.wait_for(lambda f: f.text() + f.preedit() == f"{PARTIALS[-1]} {PARTIALS[-1]}",
                   "the second dictation's text")


@pytest.fixture
def speaking(desktop, binary, audio_server, shortest_speech, tmp_path):
    """The real helper, through the recorder, hearing the shortest LibriVox
    recording; returns once its words show."""
    record = HelperRecord(tmp_path, binary)
    session, field = desktop({**audio_server.env, **record.env})
    switch(session, ENGINE)
    session.wait_for_log("helper: ready")
    audio_server.feed(shortest_speech[0])
    field.wait_for(lambda f: f.text() + f.preedit(), "the first words")
    time.sleep(0.5)  # the pause before the key
    return session, field, record


def test_enter_after_real_speech_commits_the_helpers_final_text(speaking):
    session, field, record = speaking
    field.key("Return")
    wait_until(record.final, "the final text")
    _, final = record.final()
    field.wait_for(lambda f: f.text() == final + "\n", f"{final!r} and the line feed")
    assert len(final.split()) >= 3


def test_switching_away_after_real_speech_commits_what_was_shown(speaking):
    session, field, record = speaking
    # The partials have settled (the field shows the last one, or where it
    # revised a committed word, what follows that word).
    wait_until(lambda: time.monotonic() - record.messages("partial")[-1][0] > 0.7,
               "the partials to settle")
    shown = field.text() + field.preedit()
    assert shown.split()[-1] == record.last_partial().split()[-1]
    switch(session, OTHER_ENGINE)
    field.wait_for(lambda f: f.preedit() == "" and f.text() == shown, "the commit")
    wait_until(record.final, "the final text")
    assert field.text() == shown
