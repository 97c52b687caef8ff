"""What a dictation hands the field for a run of helper events and user
actions; the helper's run on the GLib main loop; the engine's description."""

import os
import xml.etree.ElementTree as ElementTree

import pytest
from gi.repository import GLib

from desktop_session import FAKE_HELPER, fake_helper_env
from quorvane_dictation import Event
from quorvane_ibus.dictation import Desk, Dictation, beyond
from quorvane_ibus.helper import HelperRun
from quorvane_ibus.main import engines_xml, language


class Field:
    """Records what the field is given, as the text it then shows."""

    def __init__(self):
        self.calls = []
        self.committed = ""
        self.shown = ""
        self.wanted = True
        self.after_word = False

    def commit(self, text):
        self.calls.append(("commit", text))
        self.committed += text

    def preedit(self, text):
        self.calls.append(("preedit", text))
        self.shown = text

    def erase(self, count):
        self.calls.append(("erase", count))
        self.committed = self.committed[:-count]

    def forward(self, keys):
        self.calls.append(("forward", tuple(keys)))

    def notice(self, message):
        self.calls.append(("notice", message))

    def follows_word(self):
        return self.after_word

    def wants_dictation(self):
        return self.wanted


class Run:
    """A stand-in for HelperRun: records what it is told."""

    def __init__(self, on_event):
        self.deliver = on_event
        self.told = []

    def start(self):
        self.told.append("start")

    def stop(self):
        self.told.append("stop")

    def cancel(self):
        self.told.append("cancel")


ENTER = (0xFF0D, 28, 0)

# (steps, what the field then holds: committed, preedit; what the run was
# told; the calls that forward keys or notify). A step is an event of the
# helper ("partial text", "final text", "error code", "cancelled", "exit")
# or an action of the user ("enter", "escape", "detach").
CASES = [
    # Stable words committed as they come, the rest as preedit; Enter
    # commits the rest of the final text, then the key goes on.
    (["partial Hello", "partial Hello world", "partial Hello world this",
      "partial Hello world this is", "enter", "final Hello world this is.", "exit"],
     "Hello world this is.", "", ["start", "stop"], [("forward", (ENTER,))]),
    # A committed word the final text revises is erased first.
    (["partial Hello how", "partial Hello how are", "partial Hello how are you",
      "partial Hello, how are you? I", "enter", "final Hello, how are you? I am.", "exit"],
     "Hello, how are you? I am.", "", ["start", "stop"], [("forward", (ENTER,))]),
    # Leaving the field: what it showed stays its own (IBus commits the
    # preedit); the final text reaches it no more.
    (["partial Hello", "partial Hello world", "partial Hello world this", "detach",
      "final Hello world this.", "exit"],
     "Hello", " world this", ["start", "stop"], []),
    # Escape drops the preedit and commits nothing more.
    (["partial Hello", "partial Hello world", "partial Hello world this", "escape",
      "partial Hello world this is", "cancelled", "exit"],
     "Hello", "", ["start", "cancel"], []),
    # A failure: a notice, and the field as it was.
    (["error microphone_unavailable", "exit"],
     "", "", ["start"], [("notice", "no microphone could be opened (is the audio server running?)")]),
    # A helper that ends without a final text after Enter: the preedit
    # dropped, a notice, and the key all the same.
    (["partial One two", "enter", "error protocol_error", "exit"], "", "", ["start", "stop"],
     [("notice", "quorvane-dictation stopped unexpectedly"), ("forward", (ENTER,))]),
]


def step(dictation, run, action):
    kind, _, argument = action.partition(" ")
    if kind == "enter":
        dictation.end([ENTER])
    elif kind == "escape":
        dictation.cancel()
    elif kind == "detach":
        dictation.detach()
    elif kind in ("partial", "final"):
        run.deliver(Event(kind, text=argument))
    elif kind == "error":
        run.deliver(Event(kind, code=argument))
    else:
        run.deliver(Event(kind, returncode=0 if kind == "exit" else None))


# After a word already in the field ("after TEXT": the field holds TEXT),
# the first words get a space before them; after a line feed none.
CASES += [
    (["after Hi.", "partial Hello", "partial Hello world", "partial Hello world this", "enter",
      "final Hello world this.", "exit"], "Hi. Hello world this.", "", ["start", "stop"],
     [("forward", (ENTER,))]),
    (["after Hi.", "partial Hello", "escape", "cancelled", "exit"], "Hi.", "",
     ["start", "cancel"], []),
    (["after Hi.", "partial Hello", "enter", "final Hello.", "exit"], "Hi. Hello.", "",
     ["start", "stop"], [("forward", (ENTER,))]),
    (["after Hi.\n", "partial Hello", "partial Hello world", "partial Hello world this",
      "detach", "exit"], "Hi.\nHello", " world this", ["start", "stop"], []),
]


@pytest.mark.parametrize("steps, committed, preedit, told, others", CASES)
def test_a_dictation_hands_the_field_its_text(steps, committed, preedit, told, others):
    field, runs, ended = Field(), [], []
    if steps[0].startswith("after "):
        field.committed = steps[0][len("after "):]
        field.after_word = not field.committed[-1].isspace()
        steps = steps[1:]
    dictation = Dictation(lambda on_event: runs.append(Run(on_event)) or runs[-1], field,
                          lambda line: None, ended.append)
    dictation.start()
    for action in steps:
        step(dictation, runs[0], action)
    assert (field.committed, field.shown) == (committed, preedit)
    assert runs[0].told == told
    assert [call for call in field.calls if call[0] in ("forward", "notice")] == others
    assert ended == [dictation] and not dictation.running
    # The text is only ever extended, apart from the final text's revision.
    assert sum(1 for call in field.calls if call[0] == "erase") <= 1


def test_the_desk_runs_one_dictation_at_a_time():
    runs, first, second = [], Field(), Field()
    desk = Desk(lambda on_event: runs.append(Run(on_event)) or runs[-1], lambda line: None)
    dictation = desk.begin(first)
    assert desk.begin(first) is dictation and len(runs) == 1
    # Another field waits until the first one's helper has ended.
    assert desk.begin(second) is None
    assert runs[0].told == ["start", "stop"] and dictation.field is None
    runs[0].deliver(Event("final", text="Hi."))
    assert first.calls == [] and second.calls == []
    runs[0].deliver(Event("exit", returncode=0))
    assert len(runs) == 2 and desk.of(second) is not None and desk.of(first) is None
    # Enter: a new dictation in the same field once the final text is in,
    # with no space before its first words, whatever the field says.
    desk.of(second).end([ENTER], again=True)
    runs[1].deliver(Event("final", text="Hi."))
    runs[1].deliver(Event("exit", returncode=0))
    assert len(runs) == 3 and desk.of(second) is not None
    second.after_word = True
    runs[2].deliver(Event("partial", text="So"))
    assert second.shown == "So"
    # Leaving it ends it, and nothing follows.
    desk.leave(second)
    runs[2].deliver(Event("exit", returncode=0))
    assert len(runs) == 3 and desk.current is None


@pytest.mark.parametrize("typed, text, shown", [
    ("Hello", "Hello world this", " world this"),
    ("", "Hello", "Hello"),
    ("Hello how", "Hello, how are you? I", " are you? I"),
    ("one two three", "one two", ""),
])
def test_the_preedit_is_what_follows_the_committed_words(typed, text, shown):
    assert beyond(typed, text) == shown


def run_helper(arguments, env, after_ready=None):
    """The events of a HelperRun until its exit, on a main loop."""
    os.environ.update(env)
    loop, events = GLib.MainLoop(), []
    run = None

    def take(event):
        events.append(event)
        if event.type == "ready" and after_ready:
            after_ready(run)
        if event.type == "exit":
            loop.quit()

    run = HelperRun(arguments, take, lambda line: None)
    if run.start():
        GLib.timeout_add_seconds(20, loop.quit)  # only against hanging
        loop.run()
    return events


@pytest.mark.parametrize("arguments, script, after_ready, told", [
    ([str(FAKE_HELPER), "listen"], (["One", "One two"], "One two.", 0.01),
     lambda run: GLib.timeout_add(300, run.stop),
     ["ready", "partial One", "partial One two", "final One two.", "done", "exit 0"]),
    ([str(FAKE_HELPER), "listen"], (["One"], "One.", 0.01), lambda run: run.cancel(),
     ["ready", "cancelled", "exit 0"]),
    # A line that is no message: the run is cancelled, and its end still seen.
    (["sh", "-c", "echo '{\"type\":\"ready\",\"engine\":\"recognizer\"}'; echo garbage; "
      "read line; exit 4"], None, None, ["ready", "error protocol_error", "exit 4"]),
    (["sh", "-c", "echo '{\"type\":\"error\",\"code\":\"microphone_unavailable\"}'; exit 1"],
     None, None, ["error microphone_unavailable", "exit 1"]),
    (["sh", "-c", "exit 3"], None, None, ["error protocol_error", "exit 3"]),
    (["/nonexistent/quorvane-dictation", "listen"], None, None,
     ["error spawn_failed", "exit None"]),
], ids=["stop", "cancel", "garbage", "error", "silent-exit", "missing"])
def test_the_helper_run_reads_its_messages_on_the_main_loop(tmp_path, arguments, script,
                                                            after_ready, told):
    env = fake_helper_env(tmp_path, script[0], script[1], interval=script[2]) if script else {}
    events = run_helper(arguments, env, after_ready)
    assert [" ".join(str(part) for part in (event.type, event.text, event.code,
                                            event.returncode) if part is not None)
            if event.type != "exit" else f"exit {event.returncode}"
            for event in events] == told


@pytest.mark.parametrize("env, expected", [
    ({"LANG": "fr_FR.UTF-8"}, "fr_FR"),
    ({"LC_ALL": "de_DE.UTF-8", "LANG": "fr_FR.UTF-8"}, "de_DE"),
    ({"LC_MESSAGES": "sr_RS@latin", "LANG": "C"}, "sr_RS"),
    ({"LANG": "C.UTF-8"}, "en"),
    ({}, "en"),
])
def test_the_engine_is_listed_in_the_users_language(env, expected):
    assert language(env) == expected
    engine = ElementTree.fromstring(engines_xml(env)).find("engine")
    assert engine.findtext("name") == "quorvane"
    assert engine.findtext("longname") == "Dictation"
    assert engine.findtext("language") == expected
