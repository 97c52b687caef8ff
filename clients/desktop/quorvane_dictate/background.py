"""The background dictation: one listening session of the helper, typed
into the focused window, steered through the control socket."""

import os
import subprocess
import threading

from quorvane_dictation import Session

from . import control
from .report import explain, log, notify
from .stable import StableText

ACCEPT_POLL_SECONDS = 0.05


class Dictation:
    """Runs `executable listen [locale]` and types what it hears with
    `keyboard`: the stable words as they come, or with `at_end` the whole
    final text once."""

    def __init__(self, executable, locale, keyboard, at_end=False, terminal=None, retire=None):
        self.executable = executable
        self.locale = locale
        self.keyboard = keyboard
        self.at_end = at_end
        self.terminal = terminal  # the terminal `begin` ran on, if any
        # Takes the dictation off the socket's path and frees its lock. It
        # runs before anyone is told of the end, so that a `status` or
        # `begin` sent on hearing it finds no dictation running.
        self._retire = retire
        self.state = "starting"
        self.tracker = StableText()
        self.final = None
        self.failure = None  # a message for the user
        self.finished = threading.Event()
        self._lock = threading.Lock()
        self._waiting = 0  # commands that wait for the end and report it
        self._cancelled = False
        self._session = None

    def start(self):
        arguments = [self.executable, "listen"] + ([self.locale] if self.locale else [])
        try:
            process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       start_new_session=True)
        except OSError as error:
            log(f"cannot run {self.executable}: {error}")
            self.failure = explain("spawn_failed")
            self.finished.set()
            return
        log(f"started {' '.join(arguments)} (pid {process.pid})")
        self._session = Session(process)
        threading.Thread(target=self._follow, daemon=True).start()

    def _follow(self):
        try:
            for event in self._session:
                self._take(event)
        except OSError as error:  # the typing tool failed
            log(f"typing failed: {error}")
            self.failure = f"typing failed: {error}"
            self._session.cancel()
            for _ in self._session:
                pass
        finally:
            self._session.close()
            self.keyboard.close()
            self.state = "ended"
            if self._retire:
                self._retire()
            self.finished.set()

    def _take(self, event):
        details = f" ({len(event.text)} characters)" if event.text is not None else ""
        details += f" {event.code}" if event.code else ""
        details += f" status {event.returncode}" if event.returncode is not None else ""
        if event.type != "partial":
            log(f"helper: {event.type}{details}")
        if event.type == "ready":
            self.state = "listening"
        elif event.type == "partial" and not self.at_end and not self._cancelled:
            extension = self.tracker.partial(event.text)
            if extension:
                self.keyboard.type(extension)
        elif event.type == "final" and not self._cancelled:
            self.final = event.text
            edit = self.tracker.final(event.text)
            if edit.erase:
                log(f"the final text revises typed words: {edit.erase} BackSpaces")
            self.keyboard.apply(edit)
        elif event.type == "error":
            self.failure = explain(event.code)

    def end(self):
        self.state = "ending"
        if self._session:
            self._session.stop()

    def cancel(self):
        self._cancelled = True
        self.state = "ending"
        self.keyboard.abort()
        if self._session:
            self._session.cancel()

    def serve(self, server):
        """Answers commands until the session has ended and been typed."""
        server.settimeout(ACCEPT_POLL_SECONDS)
        handlers = []
        while not self.finished.is_set():
            try:
                connection, _ = server.accept()
            except TimeoutError:
                continue
            handler = threading.Thread(target=self._answer, args=(connection,), daemon=True)
            handler.start()
            handlers.append(handler)
        server.close()
        for handler in handlers:
            handler.join(5)
        if self.failure:
            self._report_unheard()

    def _answer(self, connection):
        with connection:
            connection.settimeout(None)
            try:
                command = control.read_line(connection)
            except OSError:
                return
            log(f"command: {command}")
            if command == "status":
                control.send(connection, {"state": self.state, "pid": os.getpid()})
                return
            if command not in ("end", "cancel"):
                control.send(connection, {"error": f"unknown command {command!r}"})
                return
            with self._lock:
                self._waiting += 1
            self.end() if command == "end" else self.cancel()
            self.finished.wait()
            answer = {"error": self.failure} if self.failure else {"ok": True}
            if command == "end" and self.final is not None:
                answer["final"] = self.final
            control.send(connection, answer)

    def _report_unheard(self):
        """A failure nobody waited for: on the terminal of `begin`, else as a
        notification. It is in the log either way."""
        log(f"failed: {self.failure}")
        with self._lock:
            if self._waiting:
                return
        if self.terminal is not None:
            try:
                os.write(self.terminal, f"quorvane-dictate: {self.failure}\n".encode())
                return
            except OSError:
                pass
        notify(self.failure)
