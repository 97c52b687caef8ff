"""One `quorvane-dictation listen` run, driven from the GLib main loop.

The engine shares its process with ibus-daemon's requests, so nothing here
blocks: the helper's standard output is non-blocking and read by a watch
when it has bytes, its end by a child watch. Events reach `on_event` on
the main loop as the Event of the host library, ending with "exit".
"""

import os

from gi.repository import GLib

from quorvane_dictation._protocol import (PROTOCOL_ERROR, SPAWN_FAILED, TERMINAL,
                                          DictationError, Event, event_of, parse_line)

READ_BYTES = 65536


class HelperRun:
    def __init__(self, arguments, on_event, log):
        self.arguments = arguments
        self._on_event = on_event
        self._log = log
        self.pid = None
        self._input = None
        self._output = None
        self._buffer = b""
        self._ended = False  # its last message came
        self._output_closed = False
        self._status = None  # its wait status, once reaped
        self._watches = []
        self.exited = False

    def start(self):
        """Spawns the helper; False (with "error" spawn_failed and "exit"
        delivered) when it cannot be started."""
        flags = (GLib.SpawnFlags.DO_NOT_REAP_CHILD | GLib.SpawnFlags.SEARCH_PATH
                 | GLib.SpawnFlags.STDERR_TO_DEV_NULL | GLib.SpawnFlags.CLOEXEC_PIPES)
        try:
            self.pid, self._input, self._output, _ = GLib.spawn_async(
                self.arguments, flags=flags, standard_input=True, standard_output=True)
        except GLib.Error as error:
            self._log(f"cannot run {self.arguments[0]}: {error.message}")
            self._deliver(Event("error", code=SPAWN_FAILED))
            self._deliver(Event("exit", returncode=None))
            self.exited = True
            return False
        self._log(f"started {' '.join(self.arguments)} (pid {self.pid})")
        os.set_blocking(self._output, False)
        os.set_blocking(self._input, False)
        self._watches = [
            GLib.unix_fd_add_full(GLib.PRIORITY_DEFAULT, self._output,
                                  GLib.IOCondition.IN | GLib.IOCondition.HUP
                                  | GLib.IOCondition.ERR, self._readable),
            GLib.child_watch_add(GLib.PRIORITY_DEFAULT, self.pid, self._reaped),
        ]
        return True

    def stop(self):
        self._send("stop")

    def cancel(self):
        self._send("cancel")

    def _send(self, word):
        if self._input is None:
            return
        try:
            os.write(self._input, word.encode() + b"\n")
        except (BlockingIOError, BrokenPipeError, OSError):
            pass  # ended already; a few bytes never fill the pipe of a live one

    def _readable(self, fd, condition):
        while True:
            try:
                chunk = os.read(fd, READ_BYTES)
            except BlockingIOError:
                return True
            except OSError:
                chunk = b""
            if not chunk:
                self._close_output()
                return False
            self._buffer += chunk
            *lines, self._buffer = self._buffer.split(b"\n")
            for line in lines:
                self._take(line)

    def _take(self, line):
        if self._ended:
            return  # nothing may follow the last message
        try:
            message = parse_line(line)
        except DictationError:
            self._log("the helper wrote a line that is no message")
            self._ended = True
            self._deliver(Event("error", code=PROTOCOL_ERROR))
            self.cancel()
            return
        if message is not None:
            event = event_of(message)
            self._ended = event.type in TERMINAL
            self._deliver(event)

    def _close_output(self):
        if self._output_closed:
            return
        self._output_closed = True
        os.close(self._output)
        self._finish()

    def _reaped(self, pid, status):
        self._status = status
        GLib.spawn_close_pid(pid)
        self._finish()

    def _finish(self):
        # The exit comes once the output has been read to its end and the
        # process reaped, whichever is last.
        if self.exited or not self._output_closed or self._status is None:
            return
        self.exited = True
        if self._input is not None:
            os.close(self._input)
            self._input = None
        if not self._ended:
            self._deliver(Event("error", code=PROTOCOL_ERROR))
        if os.WIFEXITED(self._status):
            returncode = os.WEXITSTATUS(self._status)
        else:
            returncode = -os.WTERMSIG(self._status)
        self._deliver(Event("exit", returncode=returncode))

    def _deliver(self, event):
        self._on_event(event)
