"""Which part of a changing transcript is safe to type.

Each partial is the whole text so far, and the recognizer may still change
its last words. A word is typed once it has stopped changing: it is not
among the newest partial's last `hold` words, and the partial before had it
too, spelled and spaced the same. What is typed is only ever extended; at
the end the final text is reached from what was typed, with BackSpaces for
the rare revision of a word typed already.
"""

import re
from dataclasses import dataclass

_WORD = re.compile(r"\S+")


@dataclass(frozen=True)
class Edit:
    """Erase `erase` characters (code points) before the cursor, then type
    `text`."""

    erase: int = 0
    text: str = ""

    def __bool__(self):
        return bool(self.erase or self.text)


def _common_prefix_length(a, b):
    length = 0
    for x, y in zip(a, b):
        if x != y:
            break
        length += 1
    return length


def stable_prefix(newest, previous, hold=2):
    """The longest start of `newest` that ends with a whole word, leaves
    out its last `hold` words, and starts `previous` as a whole word too."""
    ends = [match.end() for match in _WORD.finditer(newest)]
    ends = ends[:max(len(ends) - hold, 0)]
    agreed = _common_prefix_length(newest, previous)
    for end in reversed(ends):
        if end <= agreed and (end == len(previous) or previous[end].isspace()):
            return newest[:end]
    return ""


class StableText:
    """Follows one session's partials and turns them into typing."""

    def __init__(self, hold=2):
        self.hold = hold
        self.typed = ""  # what the window has been given so far
        self._previous = ""

    def partial(self, text):
        """The text to type now for this partial ("" for nothing)."""
        stable = stable_prefix(text, self._previous, self.hold)
        self._previous = text
        if len(stable) > len(self.typed) and stable.startswith(self.typed):
            extension = stable[len(self.typed):]
            self.typed = stable
            return extension
        return ""

    def final(self, text):
        """The Edit that turns what was typed into the final text."""
        kept = _common_prefix_length(self.typed, text)
        edit = Edit(len(self.typed) - kept, text[kept:])
        self.typed = text
        return edit
