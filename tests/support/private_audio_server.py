#!/usr/bin/env python3
"""A private PulseAudio daemon whose default source is speech we feed it.

Tests run quorvane-dictation against this server instead of the machine's
own: everything lives in a temporary directory (HOME, XDG_RUNTIME_DIR,
PULSE_RUNTIME_PATH, the socket and the FIFO), and only the daemon started
here is ever stopped.

The default source is module-pipe-source reading a FIFO.  That source only
produces audio while bytes arrive (with nothing written, a recording client
gets nothing at all), so a feeder thread writes silence at real-time pace
all the time and swaps in a WAV file's samples while one is being fed.
While no client records, the source stops reading; what does not fit in
the small pipe then is dropped, like sound in a room nobody records.

As a module:

    with PrivateAudioServer() as server:
        subprocess.run([...], env={**os.environ, **server.env})
        wav, words = librivox_samples()[0]
        server.feed(wav)                  # blocks for the file's duration

As a command (for Node tests and shell scripts):

    private_audio_server.py serve

prints one JSON line {"server", "socket", "fifo", "pid", "dir"} and then
reads commands on standard input, one a line:

    feed PATH      feeds a WAV file; prints {"fed": PATH} when it has played
    stop           stops the daemon and exits (so does end of input,
                   SIGTERM, SIGINT or SIGHUP)

From bash:

    coproc AUDIO { python3 tests/support/private_audio_server.py serve; }
    read -r -u "${AUDIO[0]}" info     # PULSE_SERVER is its "server"
    echo "feed speech.wav" >&"${AUDIO[1]}"
    read -r -u "${AUDIO[0]}" fed

(Subshells do not get a coproc's descriptors: copy one first, as in
exec 5>&"${AUDIO[1]}".)
"""

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
    interleaved (by default 16 kHz mono, the recordings' own format)."""

    def __init__(self, startup_timeout=10.0, rate=RATE, channels=1):
        self.startup_timeout = startup_timeout
        self.rate = rate
        self.channels = channels
        self._chunk_bytes = int(rate * CHUNK_SECONDS) * FRAME_BYTES * channels
        self.dir = None
        self.socket = None
        self.fifo = None
        self.process = None
        self._queue = queue.Queue()
        self._stopping = threading.Event()
        self._feeder = None
        self.dropped_speech_bytes = 0  # speech the pipe had no room for

    @property
    def env(self):
        """Variables that point a libpulse client at this server."""
        return {"PULSE_SERVER": f"unix:{self.socket}"}

    @property
    def pid(self):
        return self.process.pid if self.process else None

    def start(self):
        pulseaudio = shutil.which("pulseaudio")
        if not pulseaudio:
            raise RuntimeError("pulseaudio is not installed")
        self.dir = Path(tempfile.mkdtemp(prefix="quorvane-pulse-"))
        home, runtime = self.dir / "home", self.dir / "runtime"
        for path in (home, runtime):
            path.mkdir(mode=0o700)
        self.socket = str(runtime / "native")
        self.fifo = str(self.dir / "microphone.fifo")
        script = self.dir / "server.pa"
        script.write_text(
            ".fail\n"  # any failing line stops the daemon
            # The module makes the FIFO itself and refuses an existing one.
            "load-module module-null-sink sink_name=quorvane_speakers\n"
            "load-module module-pipe-source source_name=quorvane_microphone"
            f" file={self.fifo} format=s16le rate={self.rate} channels={self.channels}\n"
            "set-default-sink quorvane_speakers\n"
            "set-default-source quorvane_microphone\n"
            # Loaded last: once its socket answers, the rest is in place.
            f"load-module module-native-protocol-unix socket={self.socket} auth-anonymous=1\n"
        )
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
                [pulseaudio, "-n", "-F", str(script), "--daemonize=no",
                 "--exit-idle-time=-1", "--system=no", "--use-pid-file=no",
                 "--realtime=no", "--high-priority=no", "--disable-shm=yes",
                 "--log-target=stderr"],
                env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                preexec_fn=_die_with_parent,
            )
        finally:
            log.close()
        try:
            self._wait_until_answering()
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
                time.sleep(0.05)

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
        pending, done = b"", None
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
                    except queue.Empty:
                        pass
                speech = bool(pending)
                chunk = pending[:chunk_bytes] if pending else silence
                pending = pending[len(chunk):]
                try:
                    os.write(fd, chunk.ljust(chunk_bytes, b"\0"))
                except BlockingIOError:
                    # The daemon is not reading: nobody records, or it is
                    # starved of CPU. Speech lost so is counted.
                    if speech:
                        self.dropped_speech_bytes += len(chunk)
                next_write += CHUNK_SECONDS
                delay = next_write - time.monotonic()
                if delay > 0:
                    self._stopping.wait(delay)
                else:
                    next_write = time.monotonic()
        except OSError:
            pass  # the daemon went away
        finally:
            os.close(fd)
            if done:
                done.set()

    def feed(self, path, wait=True):
        """Plays a 16-bit WAV file in the microphone's format into the
        default source at real-time pace. Returns an Event set once it has
        been written."""
        played = threading.Event()
        self._queue.put((read_pcm(path, self.rate, self.channels), played))
        while wait and not played.wait(0.1):
            if not self._feeder.is_alive():
                raise RuntimeError(f"the feeder stopped:\n{self.log()}")
        return played

    def stop(self):
        self._stopping.set()
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self._feeder:
            self._feeder.join(timeout=5)
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def _serve():
    server = PrivateAudioServer()
    stopped = threading.Event()

    def on_signal(*_):
        stopped.set()

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, on_signal)
    lock = threading.Lock()

    def say(message):
        with lock:
            try:
                print(json.dumps(message), flush=True)
            except OSError:  # nobody reads us any more
                stopped.set()

    def read_commands():
        for line in sys.stdin:
            command, _, argument = line.strip().partition(" ")
            if command == "stop":
                break
            if command == "feed":
                path = argument.strip()
                try:
                    played = server.feed(path, wait=False)
                except (OSError, ValueError, EOFError, wave.Error) as error:
                    say({"error": str(error), "path": path})
                    continue
                threading.Thread(
                    target=lambda p=played, n=path: (p.wait(), say({"fed": n})),
                    daemon=True,
                ).start()
        stopped.set()

    with server:
        say({"server": server.env["PULSE_SERVER"], "socket": server.socket,
             "fifo": server.fifo, "pid": server.pid, "dir": str(server.dir)})
        threading.Thread(target=read_commands, daemon=True).start()
        while not stopped.wait(0.2):
            if server.process.poll() is not None:
                sys.exit("pulseaudio exited:\n" + server.log())


if __name__ == "__main__":
    if sys.argv[1:] != ["serve"]:
        sys.exit(f"usage: {sys.argv[0]} serve")
    _serve()
