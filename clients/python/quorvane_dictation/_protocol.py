"""What the blocking and the asyncio API share: finding the executable and
reading its lines."""

import json
import os
import shutil
from dataclasses import dataclass
from typing import Optional

EXECUTABLE = "quorvane-dictation"

# Codes of the program's "error" message, and two of this library's own.
PROTOCOL_ERROR = "protocol_error"  # a line that is no message, or an early end
SPAWN_FAILED = "spawn_failed"  # the executable could not be started

_MESSAGE_KEYS = {
    "status": ("speech", "microphone", "engine"),
    "ready": ("engine",),
    "partial": ("text",),
    "final": ("text",),
    "done": (),
    "cancelled": (),
    "error": ("code",),
}
TERMINAL = ("done", "cancelled", "error")


class DictationError(Exception):
    """A run that ended in an error; `code` is the program's error code,
    PROTOCOL_ERROR or SPAWN_FAILED."""

    def __init__(self, code, detail=None):
        super().__init__(code if detail is None else f"{code}: {detail}")
        self.code = code
        self.detail = detail


class Cancelled(Exception):
    """The listening session was cancelled before its final text."""


@dataclass(frozen=True)
class Event:
    """One message: `type` and, where it has them, `text` or `code`. The
    last event of a session has type "exit" and the process's `returncode`."""

    type: str
    text: Optional[str] = None
    code: Optional[str] = None
    returncode: Optional[int] = None


def find_executable(executable=None):
    """The path to run: `executable` if given, else quorvane-dictation on PATH."""
    if executable is not None:
        return os.fspath(executable)
    found = shutil.which(EXECUTABLE)
    if found is None:
        raise DictationError(SPAWN_FAILED, f"{EXECUTABLE} is not on PATH")
    return found


def command_line(executable, *arguments):
    return [find_executable(executable), *arguments]


def parse_line(raw):
    """The message on one line (bytes or str, newline optional).

    Returns None for a message of an unknown type, which a newer program
    may write; raises DictationError(PROTOCOL_ERROR) for anything else
    that is not a message."""
    try:
        message = json.loads(raw)
    except (ValueError, UnicodeDecodeError):
        raise DictationError(PROTOCOL_ERROR, f"not JSON: {raw!r}") from None
    if not isinstance(message, dict) or not isinstance(message.get("type"), str):
        raise DictationError(PROTOCOL_ERROR, f"not a message: {raw!r}")
    keys = _MESSAGE_KEYS.get(message["type"])
    if keys is None:
        return None
    if not all(isinstance(message.get(key), str) for key in keys):
        raise DictationError(PROTOCOL_ERROR, f"missing keys: {raw!r}")
    return message


def status_from_output(stdout):
    """The status object of a `status` or `authorize` run's output."""
    lines = stdout.splitlines()
    messages = [parse_line(line) for line in lines]
    if len(lines) == 1 and messages[0] is not None:
        message = messages[0]
        if message["type"] == "error":
            raise DictationError(message["code"])
        if message["type"] == "status":
            return {key: message[key] for key in _MESSAGE_KEYS["status"]}
    raise DictationError(PROTOCOL_ERROR, f"not one status line: {stdout!r}")


def event_of(message):
    kind = message["type"]
    return Event(kind, text=message.get("text") if kind in ("partial", "final") else None,
                 code=message.get("code") if kind == "error" else None)


class Progress:
    """What a session has told so far."""

    def __init__(self):
        self.transcript = ""  # the latest partial or final text
        self.final = None  # the final text, once it came
        self.outcome = None  # the "done", "cancelled" or "error" event

    def apply(self, event):
        """Takes the next event; True once the final text or the end is known."""
        if event.type in ("partial", "final"):
            self.transcript = event.text
        if event.type == "final":
            self.final = event.text
        if event.type in TERMINAL and self.outcome is None:
            self.outcome = event
        return self.settled

    @property
    def settled(self):
        return self.final is not None or self.outcome is not None

    def result(self):
        """The final text, or the reason there is none."""
        if self.final is not None:
            return self.final
        if self.outcome is None or self.outcome.type == "cancelled":
            raise Cancelled()
        if self.outcome.type == "error":
            raise DictationError(self.outcome.code)
        raise DictationError(PROTOCOL_ERROR, "done without final")
