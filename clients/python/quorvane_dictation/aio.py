"""The asyncio API: the same calls as the blocking one, awaited.

    session = await listen("en-US")
    async for event in session:
        ...
"""

import asyncio
import subprocess

from ._protocol import (PROTOCOL_ERROR, SPAWN_FAILED, TERMINAL, Cancelled, DictationError,
                        Event, Progress, command_line, event_of, parse_line, status_from_output)

LINE_LIMIT = 1 << 24  # a transcript line may be long

__all__ = ["Cancelled", "DictationError", "Event", "Session", "authorize", "listen", "status"]


async def _run_once(command, executable, env):
    try:
        process = await asyncio.create_subprocess_exec(
            *command_line(executable, command), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    except OSError as error:
        raise DictationError(SPAWN_FAILED, str(error)) from None
    stdout, _ = await process.communicate()
    return status_from_output(stdout)


async def status(executable=None, env=None):
    """{"speech", "microphone", "engine"}: the authorization states."""
    return await _run_once("status", executable, env)


async def authorize(executable=None, env=None):
    """Asks the user for what is undecided, then returns the states."""
    return await _run_once("authorize", executable, env)


async def listen(locale=None, executable=None, env=None):
    """Starts listening; `locale` such as "en-US", else the user's own."""
    arguments = ["listen"] + ([locale] if locale else [])
    try:
        process = await asyncio.create_subprocess_exec(
            *command_line(executable, *arguments), stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env, limit=LINE_LIMIT,
            start_new_session=True)
    except OSError as error:
        raise DictationError(SPAWN_FAILED, str(error)) from None
    return Session(process)


class Session:
    """One listening run; `async for` yields its events, ending with "exit".
    Leave it by `await close()` or `async with`, which cancels a run that
    still goes on."""

    def __init__(self, process):
        self._process = process
        self._events = asyncio.Queue()
        self._progress = Progress()
        self._settled = asyncio.Event()
        self._over = False
        self._reader = asyncio.create_task(self._read())

    @property
    def transcript(self):
        return self._progress.transcript

    @property
    def returncode(self):
        return self._process.returncode

    async def _read(self):
        ended = False
        while raw := await self._process.stdout.readline():
            if ended:
                continue
            try:
                message = parse_line(raw)
            except DictationError:
                self._deliver(Event("error", code=PROTOCOL_ERROR))
                ended = True
                self._close_input()
                continue
            if message is not None:
                event = event_of(message)
                self._deliver(event)
                ended = event.type in TERMINAL
        returncode = await self._process.wait()
        if not ended:
            self._deliver(Event("error", code=PROTOCOL_ERROR))
        self._events.put_nowait(Event("exit", returncode=returncode))
        self._settled.set()

    def _deliver(self, event):
        if self._progress.apply(event):
            self._settled.set()
        self._events.put_nowait(event)

    async def next_event(self):
        """The next event; None once "exit" has been returned."""
        if self._over:
            return None
        event = await self._events.get()
        self._over = event.type == "exit"
        return event

    def __aiter__(self):
        return self

    async def __anext__(self):
        event = await self.next_event()
        if event is None:
            raise StopAsyncIteration
        return event

    async def _send(self, line):
        stdin = self._process.stdin
        if stdin.is_closing():
            return
        try:
            stdin.write(line.encode() + b"\n")
            await stdin.drain()
        except (OSError, ValueError):
            pass  # the run has ended already

    def _close_input(self):
        if not self._process.stdin.is_closing():
            self._process.stdin.close()

    async def stop(self):
        """Ends listening; "final" and "done" follow."""
        await self._send("stop")

    async def cancel(self):
        """Ends the run without a final text; "cancelled" follows."""
        await self._send("cancel")

    async def final_text(self):
        """Waits for the final text (wrap in asyncio.wait_for for a limit).
        Raises Cancelled or DictationError if the run ends without one."""
        await self._settled.wait()
        return self._progress.result()

    async def close(self, timeout=5):
        """Cancels the run if it goes on and waits for the process to end,
        killing it after `timeout` seconds."""
        if self._process.returncode is None:
            await self.cancel()
        self._close_input()
        try:
            await asyncio.wait_for(self._process.wait(), timeout)
        except asyncio.TimeoutError:
            self._process.kill()
            await self._process.wait()
        await self._reader

    async def __aenter__(self):
        return self

    async def __aexit__(self, *exc):
        await self.close()
