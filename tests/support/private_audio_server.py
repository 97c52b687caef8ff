#!/usr/bin/env python3
"""A private PulseAudio daemon whose default source is speech we feed it.

The one private audio server of the tests, the benchmark and scripts/demo:
the C++ tests and scripts/demo run it as a command, the Python tests and
the benchmark import it. Everything lives in a temporary directory (the
daemon's HOME and XDG_RUNTIME_DIR, an empty home for clients, the socket
and the FIFO), and only the daemon started here is ever stopped; it also
ends with the process that started it.

The server has a null sink, the speakers, and as its default source a
module-pipe-source reading a FIFO: the microphone. That source only
produces audio while bytes arrive (with nothing written, a recording
client gets nothing at all), so a feeder thread writes silence at
real-time pace all the time and swaps in speech while some is being fed.
While no client records, the source stops reading: what does not fit in
the small pipe is dropped, like sound in a room nobody records. Speech
waits for room for a second first, so that a daemon late on a loaded
machine loses none of it.

As a module:

    with PrivateAudioServer() as server:
        subprocess.run([...], env={**os.environ, **server.env})
        wav, words = librivox_samples()[0]
        server.feed(wav)                  # blocks for the file's duration

As a command:

    private_audio_server.py serve [--rate HZ] [--channels N] [--shared-memory]

`--rate 0` starts a server without any source. It prints one JSON line,
{"env", "server", "socket", "fifo", "pid", "dir"} ("env": what a client's
environment needs to use this server and nothing of the user's, with an
empty home), or {"error"} when the server did not start, and then reads
commands on standard input, one a line:

    feed PATH       feeds a WAV file in the microphone's format; prints
                    {"fed": PATH} once it has played (or {"error", "path"})
    feed-raw PATH   the same for a file of raw samples in that format
    stop-daemon     ends the daemon now, as a crash would; prints
                    {"stopped": PID} and goes on serving commands
    stop            stops the daemon and exits (so does end of input,
                    SIGTERM, SIGINT or SIGHUP)

scripts/demo shows it driven from bash.
"""

import argparse
import ctypes
import fcntl
import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import wave
from pathlib import Path

RATE = 16000
FRAME_BYTES = 2
CHUNK_SECONDS = 0.02
CHUNK_BYTES = int(RATE * CHUNK_SECONDS) * FRAME_BYTES
PIPE_BYTES = 8192  # a quarter of a second
STALL_SECONDS = 1.0  # how long a full pipe may be a late daemon

LIBRIVOX_DIR = Path("/usr/share/pocketsphinx/test/data/librivox")


def librivox_samples():
    """[(wav path, transcript)] from pocketsphinx-testdata, in file order."""
    samples = []
    transcription = LIBRIVOX_DIR / "transcription"
    if not transcription.exists():
        return samples
    for line in transcription.read_text().splitlines():
        text, _, name = line.rpartition("(")
        words = text.replace("<s>", "").replace("</s>", "").split()
        wav = LIBRIVOX_DIR / (name.strip().rstrip(")") + ".wav")
        if wav.exists():
            samples.append((wav, " ".join(words)))
    return samples


def read_pcm(path, rate=RATE, channels=1):
    """The samples of a 16-bit WAV file at `rate` with `channels`
    (by default 16 kHz mono), as bytes."""
    with wave.open(str(path), "rb") as wav:
        shape = (wav.getframerate(), wav.getnchannels(), wav.getsampwidth())
        if shape != (rate, channels, FRAME_BYTES):
            raise ValueError(f"{path}: need {rate} Hz, {channels} channel(s), 16-bit; "
                             f"got {shape}")
        return wav.readframes(wav.getnframes())


_prctl = ctypes.CDLL(None, use_errno=True).prctl  # looked up before any fork
PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # The daemon must not outlive us even if we are killed outright.
    _prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class PrivateAudioServer:
    """The microphone delivers 16-bit samples at `rate` with `channels`
    interleaved (by default 16 kHz mono, the recordings' own format);
    `rate=0` makes a server without any source. Audio reaches clients over
    the socket unless `shared_memory`, as on a desktop."""

    def __init__(self, startup_timeout=15.0, rate=RATE, channels=1, shared_memory=False):
        self.startup_timeout = startup_timeout
        self.rate = rate
        self.channels = channels
        self.shared_memory = shared_memory
        self._chunk_bytes = int(rate * CHUNK_SECONDS) * FRAME_BYTES * channels
        self.dir = None
        self.socket = None
        self.fifo = None
        self.process = None
        self._queue = queue.Queue()
        self._stopping = threading.Event()
        self._feeder = None
        self.dropped_speech_bytes = 0  # speech the pipe had no room for
        self._lock = threading.Lock()  # guards _ended against play's queueing
        self._ended = False  # the feeder plays nothing more

    @property
    def env(self):
        """Variables that point a libpulse client at this server."""
        return {"PULSE_SERVER": f"unix:{self.socket}"}

    @property
    def client_env(self):
        """What a client's environment needs to use this server and nothing
        of the user's: the server's address and an empty home of its own
        (an empty value means the variable is unset)."""
        return {**self.env, "HOME": str(self.dir / "client-home"), "XDG_RUNTIME_DIR": "",
                "PULSE_RUNTIME_PATH": "", "PULSE_COOKIE": "", "XDG_DATA_HOME": "",
                "XDG_DATA_DIRS": ""}

    @property
    def pid(self):
        return self.process.pid if self.process else None

    def start(self):
        pulseaudio = shutil.which("pulseaudio")
        if not pulseaudio:
            raise RuntimeError("pulseaudio is not installed")
        self.dir = Path(tempfile.mkdtemp(prefix="quorvane-pulse-"))
        home, runtime = self.dir / "home", self.dir / "runtime"
        for path in (home, runtime, self.dir / "client-home"):
            path.mkdir(mode=0o700)
        # Beside the runtime directory, not in it: admitting other users
        # then only opens this directory.
        self.socket = str(self.dir / "native")
        self.fifo = str(self.dir / "microphone.fifo")
        script = ".fail\n"  # any failing line stops the daemon
        if self.rate:
            # The module makes the FIFO itself and refuses an existing one.
            script += (
                "load-module module-null-sink sink_name=speakers\n"
                "load-module module-pipe-source source_name=microphone"
                f" file={self.fifo} format=s16le rate={self.rate} channels={self.channels}\n"
                "set-default-sink speakers\n"
                "set-default-source microphone\n")
        # Loaded last: once its socket answers, the rest is in place.
        script += f"load-module module-native-protocol-unix socket={self.socket} auth-anonymous=1\n"
        (self.dir / "server.pa").write_text(script)
        env = {
            key: value
            for key, value in os.environ.items()
            if not key.startswith(("PULSE_", "DBUS_", "XDG_"))
        }
        env.update(
            HOME=str(home),
            XDG_RUNTIME_DIR=str(runtime),
            XDG_CONFIG_HOME=str(home / ".config"),
            PULSE_RUNTIME_PATH=str(runtime),
            PULSE_STATE_PATH=str(self.dir / "state"),
        )
        log = open(self.dir / "daemon.log", "wb")
        try:
            self.process = subprocess.Popen(
                [pulseaudio, "-n", "-F", str(self.dir / "server.pa"), "--daemonize=no",
                 "--exit-idle-time=-1", "--system=no", "--use-pid-file=no",
                 "--realtime=no", "--high-priority=no",
                 f"--disable-shm={'no' if self.shared_memory else 'yes'}",
                 "--log-target=stderr", "--log-level=warning"],
                env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                preexec_fn=_die_with_parent,
            )
        finally:
            log.close()
        try:
            self._wait_until_answering()
            if self.rate:
                self._feeder = threading.Thread(target=self._feed_forever, daemon=True)
                self._feeder.start()
        except BaseException:
            self.stop()
            raise
        return self

    def _wait_until_answering(self):
        deadline = time.monotonic() + self.startup_timeout
        while True:
            if self.process.poll() is not None:
                raise RuntimeError(f"pulseaudio exited early:\n{self.log()}")
            try:
                with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
                    probe.connect(self.socket)
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError(f"pulseaudio did not answer:\n{self.log()}")
                time.sleep(0.01)

    def log(self):
        try:
            return (self.dir / "daemon.log").read_text(errors="replace")
        except OSError:
            return ""

    def _feed_forever(self):
        # The daemon holds the FIFO open for reading, so this open returns.
        try:
            fd = os.open(self.fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            return
        chunk_bytes = self._chunk_bytes
        silence = bytes(chunk_bytes)
        pending, done, stalled_since, written = b"", None, None, 0
        next_write = time.monotonic()
        try:
            # A small pipe keeps the audio that waits for a client short.
            fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, PIPE_BYTES * chunk_bytes // CHUNK_BYTES)
            while not self._stopping.is_set():
                if not pending:
                    if done:
                        done.set()
                        done = None
                    try:
                        pending, done = self._queue.get_nowait()
                        written = 0
                    except queue.Empty:
                        pass
                speech = bool(pending)
                chunk = pending[:chunk_bytes] if pending else silence
                try:
                    os.write(fd, chunk.ljust(chunk_bytes, b"\0"))
                    stalled_since = None
                    if speech:
                        written += len(chunk)
                        done.written.append((time.monotonic(), written))
                except BlockingIOError:
                    stalled_since = stalled_since or time.monotonic()
                # A full pipe: the daemon is late, or nobody records. Speech
                # waits for the former; after a while it is the latter.
                if stalled_since is None or time.monotonic() - stalled_since > STALL_SECONDS:
                    if stalled_since is not None and speech:
                        self.dropped_speech_bytes += len(chunk)  # speech lost, counted
                        written += len(chunk)
                    pending = pending[len(chunk):]
                next_write += CHUNK_SECONDS
                delay = next_write - time.monotonic()
                if delay > 0:
                    self._stopping.wait(delay)
                else:
                    next_write = time.monotonic()
        except OSError:
            pass  # the daemon or its microphone went away
        finally:
            os.close(fd)
            # Nothing more will play: nobody may wait for it.
            if done:
                done.set()
            with self._lock:
                self._ended = True
                while not self._queue.empty():
                    self._queue.get_nowait()[1].set()

    def play(self, pcm, wait=True):
        """Plays 16-bit samples in the microphone's format into the default
        source at real-time pace. Returns an Event set once they have been
        written, or once the microphone is gone. Its `written` lists
        (time.monotonic() after a write, bytes of `pcm` written so far), so
        that a listener knows when each moment of the audio was spoken."""
        played = threading.Event()
        played.written = []
        with self._lock:
            if self._ended or not self._feeder:
                played.set()
            else:
                self._queue.put((pcm, played))
        if wait:
            played.wait()
        return played

    def feed(self, path, wait=True):
        """Plays a 16-bit WAV file in the microphone's format (see play)."""
        if self._ended or not self._feeder:
            raise RuntimeError(f"the feeder stopped:\n{self.log()}")
        return self.play(read_pcm(path, self.rate, self.channels), wait)

    def stop_daemon(self):
        """Ends the daemon: SIGTERM, and SIGKILL if it is still there 5 s
        later."""
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def stop(self):
        self._stopping.set()
        self.stop_daemon()
        if self._feeder:
            self._feeder.join(timeout=5)
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def _serve(arguments):
    def on_signal(*_):
        raise SystemExit(0)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, on_signal)
    lock = threading.Lock()

    def say(message):
        with lock:
            try:
                print(json.dumps(message), flush=True)
            except OSError:
                pass  # nobody reads us any more

    def feed(command, path):
        try:
            pcm = (Path(path).read_bytes() if command == "feed-raw"
                   else read_pcm(path, server.rate, server.channels))
        except (OSError, ValueError, EOFError, wave.Error) as error:
            say({"error": str(error), "path": path})
            return
        played = server.play(pcm, wait=False)
        threading.Thread(target=lambda: (played.wait(), say({"fed": path})), daemon=True).start()

    server = PrivateAudioServer(rate=arguments.rate, channels=arguments.channels,
                                shared_memory=arguments.shared_memory)
    try:
        server.start()
    except RuntimeError as error:
        say({"error": str(error)})
        sys.exit(1)
    try:
        say({"env": server.client_env, "server": server.env["PULSE_SERVER"],
             "socket": server.socket, "fifo": server.fifo, "pid": server.pid,
             "dir": str(server.dir)})
        for line in sys.stdin:
            command, _, path = line.strip().partition(" ")
            if command == "stop":
                break
            if command == "stop-daemon":
                pid = server.pid
                server.stop_daemon()
                say({"stopped": pid})
            elif command in ("feed", "feed-raw"):
                feed(command, path.strip())
            else:
                say({"error": f"unknown command: {line.strip()}"})
    finally:
        server.stop()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description="Runs a private PulseAudio server.")
    parser.add_argument("mode", choices=["serve"])
    parser.add_argument("--rate", type=int, default=RATE,
                        help="the microphone's sample rate; 0 for no microphone")
    parser.add_argument("--channels", type=int, default=1)
    parser.add_argument("--shared-memory", action="store_true",
                        help="audio reaches clients in shared memory, as on a desktop")
    _serve(parser.parse_args())
