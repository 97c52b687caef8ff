"""Speech to text on this machine, through the quorvane-dictation executable.

    from quorvane_dictation import listen

    with listen("en-US") as session:
        for event in session:
            if event.type == "partial":
                print(event.text)
            ...
        # or: input(); session.stop(); print(session.final_text())

The asyncio flavour of the same API is quorvane_dictation.aio.
"""

from ._protocol import Cancelled, DictationError, Event, PROTOCOL_ERROR, SPAWN_FAILED
from ._blocking import Session, authorize, listen, status

__all__ = [
    "Cancelled", "DictationError", "Event", "PROTOCOL_ERROR", "SPAWN_FAILED",
    "Session", "authorize", "listen", "status",
]
