"""The blocking API: a thread reads the executable's output."""

import queue
import subprocess
import threading

from ._protocol import (PROTOCOL_ERROR, SPAWN_FAILED, TERMINAL, DictationError, Event,
                        Progress, command_line, event_of, parse_line, status_from_output)


def _run_once(command, executable, env, timeout):
    try:
        result = subprocess.run(command_line(executable, command), stdin=subprocess.DEVNULL,
                                capture_output=True, env=env, timeout=timeout)
    except OSError as error:
        raise DictationError(SPAWN_FAILED, str(error)) from None
    return status_from_output(result.stdout)


def status(executable=None, env=None, timeout=None):
    """{"speech", "microphone", "engine"}: the authorization states."""
    return _run_once("status", executable, env, timeout)


def authorize(executable=None, env=None, timeout=None):
    """Asks the user for what is undecided, then returns the states."""
    return _run_once("authorize", executable, env, timeout)


def listen(locale=None, executable=None, env=None):
    """Starts listening; `locale` such as "en-US", else the user's own.

    Raises DictationError(SPAWN_FAILED) if the executable cannot start. The
    program runs in a session of its own, so a terminal's Ctrl-C reaches
    only the host, whose close() then cancels the run."""
    arguments = ["listen"] + ([locale] if locale else [])
    try:
        process = subprocess.Popen(command_line(executable, *arguments), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                                   start_new_session=True)
    except OSError as error:
        raise DictationError(SPAWN_FAILED, str(error)) from None
    return Session(process)


class Session:
    """One listening run. Iterating yields its events, ending with "exit".

    The run goes on while the session's standard input stays open: leave
    the session by close() (or a with block), which cancels it if it still
    runs."""

    def __init__(self, process):
        self._process = process
        self._events = queue.Queue()
        self._progress = Progress()
        self._settled = threading.Event()
        self._exited = False
        self._write_lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    @property
    def transcript(self):
        """The latest text: the last partial, or the final one."""
        return self._progress.transcript

    @property
    def returncode(self):
        return self._process.returncode if self._exited else None

    def _read(self):
        ended = False
        for raw in self._process.stdout:
            if ended:
                continue  # nothing may follow the last message
            try:
                message = parse_line(raw)
            except DictationError:
                self._deliver(Event("error", code=PROTOCOL_ERROR))
                ended = True
                self._close_input()  # end of input cancels the run
                continue
            if message is not None:
                event = event_of(message)
                self._deliver(event)
                ended = event.type in TERMINAL
        returncode = self._process.wait()
        if not ended:
            self._deliver(Event("error", code=PROTOCOL_ERROR))
        self._exited = True
        self._events.put(Event("exit", returncode=returncode))
        self._settled.set()

    def _deliver(self, event):
        if self._progress.apply(event):
            self._settled.set()
        self._events.put(event)

    def next_event(self, timeout=None):
        """The next event; None once "exit" has been returned. Raises
        TimeoutError if none comes within `timeout` seconds."""
        if self._events is None:
            return None
        try:
            event = self._events.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError("no event yet") from None
        if event.type == "exit":
            self._events = None
        return event

    def __iter__(self):
        while (event := self.next_event()) is not None:
            yield event

    def _send(self, line):
        with self._write_lock:
            try:
                self._process.stdin.write(line.encode() + b"\n")
                self._process.stdin.flush()
            except (OSError, ValueError):
                pass  # the run has ended already

    def _close_input(self):
        with self._write_lock:
            try:
                self._process.stdin.close()
            except OSError:
                pass

    def stop(self):
        """Ends listening; "final" and "done" follow."""
        self._send("stop")

    def cancel(self):
        """Ends the run without a final text; "cancelled" follows."""
        self._send("cancel")

    def final_text(self, timeout=None):
        """Waits for the final text and returns it. Raises Cancelled or
        DictationError if the run ends without one, TimeoutError if it does
        not come within `timeout` seconds. Does not stop the run itself."""
        if not self._settled.wait(timeout):
            raise TimeoutError("no final text yet")
        return self._progress.result()

    def close(self, timeout=5):
        """Cancels the run if it goes on, and waits for the process to end
        (killing it after `timeout` seconds)."""
        if self._process.poll() is None:
            self.cancel()
        self._close_input()
        try:
            self._process.wait(timeout)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
        self._reader.join()
        self._process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
