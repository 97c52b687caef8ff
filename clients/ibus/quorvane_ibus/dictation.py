"""What a dictation puts into the text field, from the helper's events.

Each stable word is committed once, as quorvane-dictate types it; the rest
of the newest partial shows as preedit after it. The field is anything
with commit(text), preedit(text) ("" hides it), erase(count) before the
cursor, forward(keys), notice(message) and follows_word() (the text before
the cursor ends in a word, so the first words need a space); the engine is one, the tests
record the calls of another. These classes know nothing of IBus.
"""

import re

from quorvane_dictate.report import explain
from quorvane_dictate.stable import StableText

_WORD = re.compile(r"\S+")


def beyond(typed, text):
    """The part of `text` the field should show after `typed`: what follows
    it, or where the recognizer revised a committed word, what follows as
    many words of `text` as `typed` holds."""
    if text.startswith(typed):
        return text[len(typed):]
    words = len(_WORD.findall(typed))
    ends = [match.end() for match in _WORD.finditer(text)]
    if words == 0:
        return text
    return text[ends[words - 1]:] if words <= len(ends) else ""


class Dictation:
    """One run of the helper for one field. `make_run(on_event)` makes the
    run (a HelperRun or a stand-in) with start(), stop() and cancel()."""

    def __init__(self, make_run, field, log, on_exit, lead=None):
        self.field = field  # None once the field is no longer ours
        self._log = log
        self._on_exit = on_exit
        self.tracker = StableText()
        self.state = "starting"  # listening, ending, cancelled, ended
        self.shown = ""  # the preedit the field shows
        self.rest = ""  # the same without the space before the first words
        self.final = None
        self.failure = None
        self.again = False  # a new dictation follows in the same field
        self._keys = []  # key events held until the final text is in
        self._lead = lead  # a space before the first words, after a word
        self.run = make_run(self._take)

    @property
    def holds_keys(self):
        return bool(self._keys)

    @property
    def running(self):
        return self.state != "ended"

    def start(self):
        self.run.start()

    def end(self, keys=(), again=False):
        """Enter: the final text goes to the field, then `keys`."""
        self._keys.extend(keys)
        self.again = self.again or again
        if self.state in ("starting", "listening"):
            self.state = "ending"
            self.run.stop()

    def detach(self):
        """The field went away (switched from, or focus lost). IBus has
        committed the preedit it showed; nothing more can reach it."""
        self.field = None
        self.again = False
        if self.state in ("starting", "listening"):
            self.state = "ending"
            self.run.stop()

    def cancel(self):
        """Escape: the preedit goes, nothing more is committed."""
        self._show("")
        self.again = False
        if self.state in ("starting", "listening", "ending"):
            self.state = "cancelled"
            self.run.cancel()

    def _lead_now(self):
        """The space the first words need, asked of the field once."""
        if self._lead is None:
            self._lead = " " if self.field.follows_word() else ""
        return self._lead

    def _show(self, text):
        self.rest = text
        if self.field is not None:
            if text and not self.tracker.typed:
                text = self._lead_now() + text
            if text != self.shown:
                self.field.preedit(text)
        self.shown = text

    def _take(self, event):
        if event.type != "partial":
            details = f" ({len(event.text)} characters)" if event.text is not None else ""
            details += f" {event.code}" if event.code else ""
            details += f" status {event.returncode}" if event.returncode is not None else ""
            self._log(f"helper: {event.type}{details}")
        accepting = self.field is not None and self.state != "cancelled"
        if event.type == "ready" and self.state == "starting":
            self.state = "listening"
        elif event.type == "partial" and accepting:
            first = not self.tracker.typed
            extension = self.tracker.partial(event.text)
            if extension:
                self.field.commit((self._lead_now() if first else "") + extension)
            self._show(beyond(self.tracker.typed, event.text))
        elif event.type == "final":
            self.final = event.text
            if accepting:
                self._finish(event.text)
            elif self.state != "cancelled":
                reached = self.tracker.typed + self.rest
                if reached != event.text:
                    self._log(f"the final text was {len(event.text)} characters, the field "
                              f"took {len(reached)} as the engine was left")
        elif event.type == "error":
            self.failure = explain(event.code)
            self._show("")
            if self.field is not None:
                self.field.notice(self.failure)
        elif event.type == "cancelled":
            self._show("")
        elif event.type == "exit":
            self.state = "ended"
            if self.field is not None and self._keys:
                self.field.forward(self._keys)  # without a final text, the keys all the same
            self._keys = []
            self._on_exit(self)

    def _finish(self, final):
        first = not self.tracker.typed
        edit = self.tracker.final(final)
        self._show("")
        if edit.erase:
            self._log(f"the final text revises committed words: {edit.erase} characters")
            self.field.erase(edit.erase)
        if edit.text:
            self.field.commit((self._lead_now() if first else "") + edit.text)


class Desk:
    """One dictation at a time in the engine's process. A field that asks
    while another's dictation finishes waits for its end."""

    def __init__(self, make_run, log):
        self._make_run = make_run
        self._log = log
        self.current = None
        self._waiting = None

    def begin(self, field, lead=None):
        """`lead`: the space the first words need, if known; else the field
        is asked."""
        current = self.current
        if current is not None and current.running:
            if current.field is field and current.state in ("starting", "listening"):
                return current
            if current.field is not None and current.field is not field:
                current.detach()
            self._waiting = field
            return None
        self._waiting = None
        self.current = Dictation(self._make_run, field, self._log, self._ended, lead)
        self.current.start()
        return self.current

    def of(self, field):
        """The dictation running for `field`, if any."""
        current = self.current
        if current is not None and current.running and current.field is field:
            return current
        return None

    def leave(self, field):
        """`field` is no longer where the text goes."""
        if self._waiting is field:
            self._waiting = None
        dictation = self.of(field)
        if dictation is not None:
            dictation.detach()

    def _ended(self, dictation):
        if dictation is not self.current:
            return
        self.current = None
        field, self._waiting = self._waiting, None
        lead = None
        if field is None and dictation.again and dictation.field is not None:
            # After Enter's line feed, which the field may not report yet.
            field, lead = dictation.field, ""
        if field is not None and field.wants_dictation():
            self.begin(field, lead)
