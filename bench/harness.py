#!/usr/bin/env python3
"""What bench.py and text_quality.py share: running the product and the
bare recognizer, and the figures made of their runs.

  Product          one `listen` (or other) run of the product, its output
                   lines time-stamped, its CPU and memory from wait4
  SessionRunner    a session that hears a whole file and stops once the
                   recognizer has caught up; pocketsphinx_continuous on the
                   same audio, its text cached
  figures          spread (median, min-max), nearest-rank percentile, words
                   of a text, edit distance and pooled word error rate
  BareVosk         the bare Vosk recognizer (PyPI's vosk, pinned, in a
                   virtual environment made on first use) on WAV files:
                   texts, word times, CPU and peak RSS of its process
  BareWhisper      bare whisper.cpp (bench/whisper_decode.py, Debian's
                   Python and numpy) on WAV files, the library and model
                   file the program loads: texts (kept in a cache), CPU and
                   peak RSS of its process
  audio            16 kHz mono WAV files, silence

Imports nothing of the benchmark's other modules but text_metrics (pure
functions over texts).
"""

import hashlib
import json
import os
import queue
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import wave
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "support"))

import text_metrics as tm  # noqa: E402
from private_audio_server import (  # noqa: E402
    CHUNK_SECONDS,
    FRAME_BYTES,
    RATE,
    read_pcm,
)

MODEL = Path("/usr/share/pocketsphinx/model/en-us")
BARE = "pocketsphinx_continuous"
LOCALE = "en-US"
STOP_AFTER_SPEECH = 1.0  # seconds from the last audio written to "stop"
# What a session records before the speech: the silence in the pipe when
# recording starts and until the feeder plays the file (about 50 ms beyond
# "ready" to "stop", counted from the bytes the server sends).
LEAD_PAD = 0.05
TRAIL_PAD = STOP_AFTER_SPEECH

# The bare Vosk recognizer: PyPI's vosk of the version whose libvosk the
# product's engine loads, in a virtual environment of its own.
VOSK_VERSION = "0.3.45"
VOSK_VENV = Path(tempfile.gettempdir()) / "quorvane-bench-vosk-venv"
VOSK_DECODE = ROOT / "bench" / "vosk_decode.py"

# Bare whisper.cpp runs on Debian's Python, which has numpy.
WHISPER_DECODE = ROOT / "bench" / "whisper_decode.py"
DEBIAN_PYTHON = "/usr/bin/python3"


class BenchError(RuntimeError):
    pass


def now():
    return time.perf_counter()


def spread(values):
    values = [v for v in values if v is not None]
    if not values:
        return None
    return {
        "median": statistics.median(values),
        "min": min(values),
        "max": max(values),
        "n": len(values),
    }


def percentile(values, share):
    """The nearest-rank percentile; None without values."""
    values = sorted(values)
    if not values:
        return None
    return values[min(len(values) - 1, max(0, int(-(-share * len(values) // 1)) - 1))]


def words_of(text):
    """The words alone: the product writes capitals and marks, the bare
    recognizer does not; Whisper also joins words with hyphens
    ("ill-disposed") and writes titles short ("Mr.")."""
    words = (w.strip(".,?!:;\"") for w in text.lower().replace("-", " ").split())
    return [x for w in words if w for x in tm.ABBREVIATIONS.get(w, [w])]


def edit_distance(reference, hypothesis):
    previous = list(range(len(hypothesis) + 1))
    for i, ref_word in enumerate(reference, 1):
        current = [i] + [0] * len(hypothesis)
        for j, hyp_word in enumerate(hypothesis, 1):
            current[j] = min(previous[j] + 1, current[j - 1] + 1,
                             previous[j - 1] + (ref_word != hyp_word))
        previous = current
    return previous[-1]


def word_error_rate(pairs):
    """Pooled WER over [(reference, hypothesis)] texts."""
    errors = sum(edit_distance(words_of(r), words_of(h)) for r, h in pairs)
    total = sum(len(words_of(r)) for r, _ in pairs)
    return errors / total if total else 0.0


def wait_with_usage(process):
    """Waits for a Popen child with wait4; (exit code, rusage)."""
    while True:
        try:
            _, status, usage = os.wait4(process.pid, 0)
            break
        except InterruptedError:
            continue
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, usage


def cpu_seconds(usage):
    return usage.ru_utime + usage.ru_stime


def write_wav(path, pcm):
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(FRAME_BYTES)
        out.setframerate(RATE)
        out.writeframes(pcm)


def silence(seconds):
    return bytes(int(RATE * seconds) * FRAME_BYTES)


# Lines that libvosk's own logging (Kaldi's: "LOG (VoskAPI:...", "WARNING
# (VoskAPI:...") writes to the product's standard error.
ENGINE_LOG_PREFIXES = (b"LOG (VoskAPI:", b"WARNING (VoskAPI:", b"VLOG[")


def engine_log_lines(stderr):
    """The lines of `stderr` if every one is the engine library's own log;
    None if any is not."""
    lines = [line for line in stderr.splitlines() if line.strip()]
    if all(line.startswith(ENGINE_LOG_PREFIXES) for line in lines):
        return lines
    return None


class Product:
    """One run of the product with its output lines time-stamped."""

    # Of every run so far: the engine library's log lines on standard error
    # (a fault the figures report, not one that stops the run), and the
    # runs that wrote any.
    engine_log = {"lines": 0, "runs": 0, "examples": []}
    _engine_log_lock = threading.Lock()

    def __init__(self, binary, args, env):
        self.lines = queue.Queue()
        self.messages = []  # (time, message)
        self.stdout_bytes = 0
        self.stderr = b""
        self.started = now()
        self.process = subprocess.Popen(
            [str(binary), *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=env, bufsize=0)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self._errors = threading.Thread(target=self._read_stderr, daemon=True)
        self._errors.start()

    @property
    def pid(self):
        return self.process.pid

    def _read(self):
        for line in self.process.stdout:
            at = now()
            self.stdout_bytes += len(line)
            try:
                message = json.loads(line)
            except ValueError:
                message = {"type": "unparsable", "line": line.decode(errors="replace")}
            self.messages.append((at, message))
            self.lines.put((at, message))
        self.lines.put((now(), None))

    def _read_stderr(self):
        self.stderr = self.process.stderr.read()

    def wait_for(self, kind, timeout):
        deadline = now() + timeout
        while True:
            try:
                at, message = self.lines.get(timeout=max(0.0, deadline - now()))
            except queue.Empty:
                raise BenchError(f"no {kind!r} within {timeout} s") from None
            if message is None:
                raise BenchError(f"the product ended before {kind!r}")
            if message.get("type") == kind:
                return at, message
            if message.get("type") in ("error", "cancelled", "unparsable"):
                raise BenchError(f"waiting for {kind!r}: {message}")

    def send(self, line):
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()

    def finish(self):
        """Closes standard input, waits for the exit; (exit code, rusage)."""
        code, usage = wait_with_usage(self.process)
        self._reader.join(5)
        self._errors.join(5)
        try:
            self.process.stdin.close()
        except OSError:
            pass
        if self.stderr:
            lines = engine_log_lines(self.stderr)
            if lines is None:
                raise BenchError(f"the product wrote to standard error: {self.stderr[:200]!r}")
            with Product._engine_log_lock:
                log = Product.engine_log
                log["lines"] += len(lines)
                log["runs"] += 1
                for line in lines:
                    text = line.decode(errors="replace")
                    if len(log["examples"]) < 5 and text not in log["examples"]:
                        log["examples"].append(text)
        return code, usage

    def hear(self, server, wav):
        """Plays `wav` into `server` at real-time pace, then waits until
        STOP_AFTER_SPEECH after its last audio; returns when that was, and
        the feed (its `written` times each chunk)."""
        played = server.feed(wav, wait=False)
        while not played.wait(0.1):
            if self.process.poll() is not None:
                raise BenchError("the product ended while speech was fed")
        # The feeder sets the event one chunk after writing the last one.
        last_audio = now() - CHUNK_SECONDS
        delay = last_audio + STOP_AFTER_SPEECH - now()
        if delay > 0:
            time.sleep(delay)
        return last_audio, played

    def stop(self):
        """Writes "stop" and waits for "final", "done" and a clean exit;
        (time "stop" was written, time of "final", "final", rusage)."""
        stop_at = now()
        self.send("stop")
        final_at, final = self.wait_for("final", 10)
        self.wait_for("done", 5)
        code, usage = self.finish()
        if code != 0:
            raise BenchError(f"listen exited with {code}")
        return stop_at, final_at, final, usage

    def kill(self):
        if self.process.returncode is None:
            self.process.kill()
            wait_with_usage(self.process)


def thread_states(pid):
    """[(state, CPU ticks)] of the process's threads."""
    threads = []
    for stat in Path(f"/proc/{pid}/task").glob("*/stat"):
        try:
            fields = stat.read_text().rpartition(")")[2].split()
        except OSError:
            continue
        threads.append((fields[0], int(fields[11]) + int(fields[12])))  # utime, stime
    return threads


def wait_until_idle(pid, window=0.4, samples=8, longest=60.0):
    """Waits until the process has caught up with the audio: none of its
    threads (the decoder, a second pass's worker and its helpers) running
    or waiting to run in any of `samples` looks over `window` seconds, and
    at most two clock ticks of CPU spent by all of them. On a busy machine
    it falls behind, and "stop" (which waits a few seconds at most for the
    last result) would cut the text short: a matter of speed, which bench.py
    measures, not of text. False if it never caught up."""
    deadline = now() + longest
    while now() < deadline:
        threads = thread_states(pid)
        before = sum(ticks for _, ticks in threads)
        idle = all(state != "R" for state, _ in threads)
        for _ in range(samples):
            time.sleep(window / samples)
            threads = thread_states(pid)
            idle = idle and all(state != "R" for state, _ in threads)
        if idle and sum(ticks for _, ticks in threads) - before <= 2:
            return True
    return False


class SessionRunner:
    """Sessions of the product that each hear a whole file, and the bare
    recognizer on the same audio."""

    def __init__(self, binary, work, cache=None):
        self.binary = binary
        self.work = Path(work)
        self.cache = cache
        for sub in ("home", "data"):
            (self.work / sub).mkdir(exist_ok=True)
        self.bare_exe = shutil.which(BARE)
        if not self.bare_exe:
            raise BenchError(f"{BARE} is not installed (Debian package pocketsphinx)")

    def env(self, server):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE_", "XDG_"))}
        env.update(HOME=str(self.work / "home"), XDG_DATA_HOME=str(self.work / "data"),
                   XDG_DATA_DIRS="/usr/share", LC_ALL="C")
        env.update(server.env)
        return env

    def session(self, server, wav, attempts=3):
        """One `listen` session that hears the whole file; its final text.
        On a starved machine the audio server may fall behind reading its
        pipe and speech is lost before the product could hear it: such a
        session is run again."""
        for attempt in range(attempts):
            dropped = server.dropped_speech_bytes
            result = self.one_session(server, wav)
            lost = (server.dropped_speech_bytes - dropped) / FRAME_BYTES / RATE
            result.update(attempt=attempt + 1, speech_lost_s=round(lost, 3))
            if not lost:
                break
        return result

    def one_session(self, server, wav):
        product = Product(self.binary, ["listen", LOCALE], self.env(server))
        try:
            product.wait_for("ready", 30)
            last_audio, _ = product.hear(server, wav)
            caught_up = wait_until_idle(product.pid)
            waited = now() - last_audio
            stop_at, final_at, final, _ = product.stop()
        except BaseException:
            try:
                product.kill()
            except ChildProcessError:  # already reaped
                pass
            raise
        partials = [m["text"] for _, m in product.messages if m.get("type") == "partial"]
        return {"text": final["text"], "partials": len(partials),
                "last_partial": partials[-1] if partials else "",
                "stop_after_s": round(waited, 2), "caught_up": caught_up,
                "stop_final_ms": round((final_at - stop_at) * 1000, 1)}

    def bare(self, wav):
        """pocketsphinx_continuous on the audio the session records: the
        file with the silence around it. It is deterministic: its text is
        kept in the cache, keyed by the audio, the program and the model."""
        pcm = silence(LEAD_PAD) + read_pcm(wav) + silence(TRAIL_PAD)
        command = [self.bare_exe, "-hmm", str(MODEL / "en-us"), "-lm",
                   str(MODEL / "en-us.lm.bin"), "-dict",
                   str(MODEL / "cmudict-en-us.dict"), "-infile"]
        key = hashlib.sha1(pcm)
        for path in [Path(self.bare_exe), *(MODEL / p for p in (
                "en-us/mdef", "en-us/means", "en-us.lm.bin", "cmudict-en-us.dict"))]:
            stat = path.stat()
            key.update(f"{path}|{stat.st_size}|{stat.st_mtime_ns}".encode())
        cached = self.cache / f"bare-{key.hexdigest()}.txt" if self.cache else None
        if cached and cached.exists():
            return {"text": cached.read_text(), "cached": True}
        padded = self.work / f"padded-{threading.get_ident()}.wav"
        write_wav(padded, pcm)
        try:
            out = subprocess.run(command + [str(padded)], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 check=True).stdout
        except subprocess.CalledProcessError as error:
            raise BenchError(f"{BARE} failed on {wav}: {error.returncode}") from None
        finally:
            padded.unlink(missing_ok=True)
        text = " ".join(out.decode(errors="replace").split())
        if cached:
            partial = cached.with_suffix(f".{threading.get_ident()}.part")
            partial.write_text(text)
            os.replace(partial, cached)
        return {"text": text, "cached": False}



def run_anchor(command, name):
    """Runs a bare recognizer's decoding script to its end: the JSON line of
    each file it printed, and the process's {"cpu_s", "maxrss_kb",
    "wall_s"}. A failure raises, with the end of its standard error."""
    started = now()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    errors = []
    reader = threading.Thread(target=lambda: errors.append(process.stderr.read()), daemon=True)
    reader.start()
    out = process.stdout.read()
    code, usage = wait_with_usage(process)
    reader.join(5)
    wall = now() - started
    if code != 0:
        detail = b"".join(errors).decode(errors="replace")[-400:]
        raise BenchError(f"{name} failed with {code}: {detail}")
    results = [json.loads(line) for line in out.decode().splitlines()]
    return results, {"cpu_s": cpu_seconds(usage), "maxrss_kb": usage.ru_maxrss, "wall_s": wall}


class BareVosk:
    """The bare Vosk recognizer: bench/vosk_decode.py run by the Python of
    a virtual environment holding PyPI's vosk (VOSK_VERSION), made and
    filled by pip on first use and reused after."""

    def __init__(self, model, venv=VOSK_VENV, log=lambda text: None):
        self.model = Path(model)
        self.venv = Path(venv)
        if not (self.model / "am").is_dir() or not (self.model / "conf").is_dir():
            raise BenchError(f"{self.model} is not a Vosk model folder (am/, conf/); "
                             "see --vosk-model")
        self.python = self.venv / "bin" / "python"
        if not self.python.exists():
            log(f"bare Vosk: making the virtual environment {self.venv}")
            self._run([sys.executable, "-m", "venv", str(self.venv)])
        if self.installed() != VOSK_VERSION:
            log(f"bare Vosk: pip install vosk=={VOSK_VERSION} into {self.venv}")
            self._run([str(self.python), "-m", "pip", "install", "--quiet",
                       f"vosk=={VOSK_VERSION}"])
            if self.installed() != VOSK_VERSION:
                raise BenchError(f"vosk {VOSK_VERSION} did not install into {self.venv}")
        self.version = VOSK_VERSION

    @staticmethod
    def _run(command):
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        if done.returncode != 0:
            tail = done.stdout.decode(errors="replace")[-800:]
            raise BenchError(f"{' '.join(command)} failed with {done.returncode}:\n{tail}")
        return done.stdout

    def installed(self):
        """The vosk version in the environment; None without one."""
        done = subprocess.run(
            [str(self.python), "-c", "import importlib.metadata as m; print(m.version('vosk'))"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return done.stdout.decode().strip() if done.returncode == 0 else None

    def decode(self, wavs):
        """One process over the files (16 kHz mono 16-bit WAV), the model
        loaded once: ([{"file", "text", "words": [(word, start s, end s)]}],
        {"cpu_s", "maxrss_kb", "wall_s"} of the process)."""
        return self._process([str(self.python), str(VOSK_DECODE), str(self.model),
                              *map(str, wavs)])

    def decode_one(self, wav):
        """A process of its own for one file: its text and word times, with
        the process's CPU, peak RSS and wall clock time."""
        results, usage = self.decode([wav])
        return {**results[0], **usage}

    def interpreter(self):
        """The process's share that is Python's: the environment's Python
        importing vosk and loading nothing."""
        return self._process([str(self.python), str(VOSK_DECODE), "--import-only"])[1]

    def _process(self, command):
        results, usage = run_anchor(command, "the bare Vosk recognizer")
        for result in results:
            result["words"] = [tuple(w) for w in result["words"]]
        return results, usage


class BareWhisper:
    """Bare whisper.cpp: bench/whisper_decode.py on whole files with the
    library and model file given (the program's own: whisper/ beside it),
    whisper.cpp's defaults, greedy, the full 30 s window. It is
    deterministic: the texts are kept in the cache, keyed by the audio,
    the library and the model; CPU and memory are measured on each run."""

    def __init__(self, parts, cache=None):
        self.parts = Path(parts)
        self.library = self.parts / "libwhisper.so.1"
        models = sorted((self.parts / "model").glob("ggml-*.bin"))
        if not self.library.exists() or not models:
            raise BenchError(f"no libwhisper.so.1 and model/ggml-*.bin in {self.parts}; "
                             "see --whisper-parts")
        self.model = models[0]
        self.cache = Path(cache) if cache else None
        if not Path(DEBIAN_PYTHON).exists():
            raise BenchError(f"no {DEBIAN_PYTHON} (Debian's python3 and python3-numpy)")
        self.key = hashlib.sha1()
        for path in (self.library.resolve(), self.model.resolve(), WHISPER_DECODE):
            stat = path.stat()
            self.key.update(f"{path}|{stat.st_size}|{stat.st_mtime_ns}".encode())

    def command(self, wavs):
        return [DEBIAN_PYTHON, str(WHISPER_DECODE), "--library", str(self.library),
                str(self.model), *map(str, wavs)]

    def decode(self, wavs):
        """One process over the files, the model loaded once: ([{"file",
        "text"}], {"cpu_s", "maxrss_kb", "wall_s"} of the process)."""
        results, usage = run_anchor(self.command(wavs), "bare whisper.cpp")
        if len(results) != len(wavs):
            raise BenchError(f"bare whisper.cpp gave {len(results)} texts for {len(wavs)} files")
        if self.cache:
            for wav, result in zip(wavs, results):
                self._keep(wav, result["text"])
        return results, usage

    def decode_one(self, wav):
        """A process of its own for one file: its text with the process's
        CPU, peak RSS and wall clock time."""
        results, usage = self.decode([wav])
        return {**results[0], **usage}

    def texts(self, wavs):
        """The text of each file, from the cache where it has it, the rest
        in one process."""
        found = {str(w): self._kept(w) for w in wavs}
        missing = [w for w in wavs if found[str(w)] is None]
        if missing:
            results, _ = self.decode(missing)
            for wav, result in zip(missing, results):
                found[str(wav)] = result["text"]
        return [found[str(w)] for w in wavs]

    def interpreter(self):
        """The process's share that is Python's: numpy imported and the
        library loaded, no model."""
        code = ("import ctypes, sys, numpy; ctypes.CDLL(sys.argv[1])")
        process = subprocess.Popen([DEBIAN_PYTHON, "-c", code, str(self.library)],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        _, usage = wait_with_usage(process)
        return {"cpu_s": cpu_seconds(usage), "maxrss_kb": usage.ru_maxrss}

    def _path(self, wav):
        key = self.key.copy()
        key.update(Path(wav).read_bytes())
        return self.cache / f"whisper-{key.hexdigest()}.txt"

    def _kept(self, wav):
        if not self.cache:
            return None
        path = self._path(wav)
        return path.read_text() if path.exists() else None

    def _keep(self, wav, text):
        self.cache.mkdir(parents=True, exist_ok=True)
        path = self._path(wav)
        partial = path.with_suffix(f".{threading.get_ident()}.part")
        partial.write_text(text)
        os.replace(partial, path)


def without_second_pass(binary, work):
    """A copy of the program with only vosk/ beside it (a link to the
    original's): no whisper.cpp, so Vosk's words alone."""
    binary = Path(binary)
    alone = Path(work) / "no-second-pass"
    alone.mkdir(exist_ok=True)
    copy = alone / binary.name
    shutil.copy2(binary, copy)
    vosk = binary.parent / "vosk"
    if vosk.exists():
        (alone / "vosk").symlink_to(vosk.resolve())
    return copy
