#!/usr/bin/env python3
"""Speed, memory and accuracy of quorvane-dictation next to the bare recognizer.

Runs the product against a private PulseAudio daemon whose default source is
a pipe fed at real-time pace (tests/support/private_audio_server.py), with
the LibriVox recordings of pocketsphinx-testdata as speech, and runs
`pocketsphinx_continuous` with the same model on the same recordings in the
same run as the anchor. Every figure is a median with its spread (min-max)
over the repetitions; every comparison is a ratio of two figures from this
one run. Prints a Markdown table and writes the figures, with every raw
sample, as JSON to a file whose path it prints.

The product recognizes English with Vosk when it finds vosk/libvosk.so and
vosk/model/en-us beside its executable, with PocketSphinx otherwise.
--engine vosk (the default) measures the binary where it is next to two
anchors in the same run: the bare Vosk recognizer (PyPI's vosk, pinned in
harness.VOSK_VERSION, in a virtual environment the benchmark makes on first
use and reuses; bench/vosk_decode.py on the same model, --vosk-model, and
the same audio) and bare PocketSphinx. --engine pocketsphinx copies the
executable alone to a temporary folder, so that it runs PocketSphinx, and
measures it next to bare PocketSphinx as before.

    scripts/bench                       # full run, about 25 minutes (without the
                                        # second pass; with it, see docs/performance.md)
    scripts/bench --quick               # 2 repetitions, a 1-minute long session,
                                        # half the text-quality sentences in 2 voices,
                                        # the real test sets, 5 microphone conditions,
                                        # 2 room-noise sessions, no input rates
    scripts/bench --no-second-pass      # the product without whisper.cpp beside it
    scripts/bench --binary build-bench/quorvane-dictation --json out.json
    scripts/bench --engine pocketsphinx
    scripts/bench --vosk-model .deps/vosk/model/en-us

What each row measures:

  status           spawn of `status` to its exit (wall clock, posix_spawn
                   and wait4), next to /bin/true spawned the same way
  spawn to ready   spawn of `listen en-US` to its "ready" line
  stop to final    "stop" written (1 s after the recording ended) to "final"
  tail latency     the last audio written to the first "partial" before
                   "stop" that holds the final text's last word in its
                   place (or last, with a word or two merged or split); the
                   anchor is PocketSphinx itself fed the same padded audio
                   live, block by block as the product feeds it, without
                   capture (StreamedRecognizer): its share of the latency
  stop at the last word
                   "stop" written the moment the microphone has the end of
                   the recording's last word (its end from PocketSphinx's
                   full decode, ps_seg frames) to "final" (median, p90);
                   the final text next to the same run's session stopped
                   1 s after the speech (the full pass): its words that the
                   early final lacks or changed, and the word errors it adds
  emission         for each word of the final text, the time from the moment
                   the microphone had its end (matched in order against the
                   full decode's words) to the first "partial" that holds
                   it (or "final", when no partial did); median and p90
  flicker          of the words newly shown in a partial, the share that
                   the final text does not keep
  CPU / audio s    user+system CPU of the whole process (wait4) per second of
                   audio: the recording padded with the silence a session
                   records around it (0.05 s before, 1 s after), which the
                   bare recognizer decodes from a file, so both load the
                   model once and decode the same audio; the ratio is the
                   median of the per-session ratios ours/bare
  peak RSS         ru_maxrss of the process, ours vs bare on the same audio
                   (a child's ru_maxrss is at least the peak of the process
                   it was started from: the bench loads no model itself, and
                   its own peak is in the JSON, bench_peak_rss_mib)
  WER              word error rate of our "final" texts vs the transcripts,
                   next to the bare recognizer's on the same files (case
                   folded; all files pooled)
  WER, synthetic   the text-quality section's word error rate over all its
                   voices, ours vs the bare recognizer on the same audio
                   (with the text section only)
  input rates      word error rate of our "final" texts when the microphone
                   delivers 8, 11.025, 16, 22.05, 44.1 or 48 kHz, mono (and
                   stereo, except with --quick): the recordings turned into
                   that format by sox and played by a server whose source
                   runs at that rate, "stop" once the recognizer has caught
                   up; only the recordings the sample-rate converter was not
                   chosen on (RATE_REPORT_SET)
  conditions       word error rate of our "final" texts next to the bare
                   recognizer's when the microphone delivers the recordings
                   quiet, loud and clipped, with a DC offset, over white,
                   pink and babble noise at 20 and 10 dB SNR, or with room
                   echo (bench/mic_conditions.py makes them with sox, cached
                   under /tmp/quorvane-conditions); "stop" once the
                   recognizer has caught up; --quick leaves out the 20 dB
                   noises. The preprocessing was chosen on synthetic
                   dictation (bench/text/dev.tsv), never on these recordings
  long session     continuous speech (the recordings looped) for five
                   minutes; /proc/<pid>/stat utime+stime and VmRSS sampled
                   every second; CPU per audio second per minute, last minute
                   vs first, and resident memory over time
  text quality     dictation sentences spoken by TTS voices, and the LibriVox
                   recordings: word, cased-word and formatted error rates,
                   punctuation precision and recall, spoken commands turned
                   into marks (text_quality.py, which also runs alone)

With the Vosk engine, the same sessions, and besides:

  bare Vosk        bench/vosk_decode.py in its own process per padded
                   recording and run, as pocketsphinx_continuous: CPU and
                   ru_maxrss from wait4 (Python's own share shown apart: the
                   environment's Python importing vosk, loading nothing);
                   its word error rate on the unpadded files, its word
                   errors next to ours; on each microphone condition, on the
                   text-quality audio and on the long session's audio too
  word ends        "stop at the last word" and emission take each word's
                   end from the bare Vosk recognizer's word times on the
                   same audio (SetWords), the engine measured, not from
                   PocketSphinx's decode
  tail latency     ours alone: the streamed anchor is PocketSphinx's

With whisper.cpp beside the binary (whisper/libwhisper.so.1 and
whisper/model/ggml-*.bin; --whisper-parts names another folder), bare
whisper.cpp is a third anchor: bench/whisper_decode.py on Debian's Python
through ctypes, the same library and model file, each file whole, the full
30 s window, greedy. Its texts are deterministic and kept in
/tmp/quorvane-whisper-texts, keyed by the audio, the library and the model;
its CPU and memory are measured in this run. The table of the second pass
shows ours next to bare Whisper and bare Vosk:

  real speech      word error rate of the text section's sessions on the
                   real recordings (bench/real_speech.py): the test sets
                   (LibriVox, sonnets 2-3, the telephone conversation's
                   turns) pooled and one by one, and the dev sets (sonnet 1,
                   cards, goforward: for tuning, left out with --quick);
                   numbers read out as said (text_metrics), case folded
  synthetic, conditions
                   the word error rates of the text section and of each
                   microphone condition, next to both anchors
  FER              formatted error beside word error, synthetic set
  commands         spoken commands written as their mark; words meant as
                   words wrongly marked
  room noise       sessions that hear 30 s of room noise and nobody speaking
                   (NOISES: pink noise, a room tone), stopped once caught
                   up: the finals that are not empty; the anchors' texts of
                   the same files
  CPU / audio s    ours per session against bare Vosk's plus bare Whisper's
                   on the same padded recording, each in its own process
                   (whisper.cpp once per file, in the first run: the whole
                   file in one 30 s window, not the utterances)
  peak RSS         ours (the target on the highest session), the anchors'

--no-second-pass measures a copy of the binary with only vosk/ beside it
(the product before the second pass) next to the same anchors.
"""

import argparse
import datetime
import hashlib
import json
import os
import platform
import queue
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))

from harness import (  # noqa: E402
    BARE,
    LEAD_PAD,
    LOCALE,
    MODEL,
    STOP_AFTER_SPEECH,
    TRAIL_PAD,
    VOSK_VENV,
    VOSK_VERSION,
    BareVosk,
    BareWhisper,
    BenchError,
    Product,
    SessionRunner,
    cpu_seconds,
    edit_distance,
    now,
    percentile,
    silence,
    spread,
    wait_with_usage,
    without_second_pass,
    word_error_rate,
    words_of,
    write_wav,
)
from private_audio_server import (  # noqa: E402
    FRAME_BYTES,
    RATE,
    PrivateAudioServer,
    librivox_samples,
    read_pcm,
)

GRACE_MS = 2900  # the session waits this long (3 s) for the last result, less rounding
AUTO_STOP = 300.0  # a session stops by itself this long after "ready"
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

# The recordings the input-rate figures report on; the converter quality
# was chosen on the other three (bench/converter_quality.cc).
RATE_REPORT_SET = ("sense_and_sensibility_01_austen_64kb-0880",
                   "sense_and_sensibility_01_austen_64kb-0930")
INPUT_RATES = (8000, 11025, 16000, 22050, 44100, 48000)

TARGETS = {
    "status_ms": ("< 5 ms", lambda v: v < 5),
    "ready_ms": ("< 60 ms", lambda v: v < 60),
    "stop_final_ms": ("< 100 ms", lambda v: v < 100),
    "tail_ms": ("< 400 ms", lambda v: v < 400),
    "stop_last_word_ms": ("< 150 ms", lambda v: v < 150),
    "stop_last_word_added_errors": ("none", lambda v: v <= 0),
    "emission": ("median < 500 ms, p90 < 1000 ms", lambda v: v[0] < 500 and v[1] < 1000),
    "cpu_ratio": ("≤ 1.3× bare", lambda v: v <= 1.3),
    "rss_ratio": ("≤ 1.1× bare", lambda v: v <= 1.1),
    "wer_delta": ("≤ bare", lambda v: v <= 1e-9),
    "wer_ratio": ("≤ 0.85× bare", lambda v: v <= 0.85),
    "long_cpu_ratio": ("≤ 1.2× first minute", lambda v: v <= 1.2),
    "long_rss_growth_kb": ("flat", lambda v: v <= 2048),
    "condition_wer": ("≤ bare", lambda v: v <= 1e-9),
    # The Vosk engine, next to the bare Vosk recognizer and bare PocketSphinx.
    "vosk_wer_ratio": ("≤ 0.45× bare PocketSphinx", lambda v: v is not None and v <= 0.45),
    "vosk_errors_over": ("≤ bare Vosk + 1 word", lambda v: v <= 1),
    "vosk_synthetic_ratio": ("≤ 0.5× bare PocketSphinx", lambda v: v is not None and v <= 0.5),
    "vosk_condition_wer": ("≤ bare Vosk", lambda v: v <= 1e-9),
    "vosk_fer_ratio": ("≤ 1.2× WER", lambda v: v is not None and v <= 1.2),
    "vosk_cpu_ratio": ("≤ 1.15× bare Vosk", lambda v: v <= 1.15),
    "vosk_rss_ratio": ("≤ 1.15× bare Vosk", lambda v: v <= 1.15),
    "vosk_emission": ("median < 400 ms, p90 < 800 ms", lambda v: v[0] < 400 and v[1] < 800),
    "engine_log_lines": ("none", lambda v: v == 0),
    # With the Whisper second pass, next to bare whisper.cpp and bare Vosk.
    "whisper_real_wer": ("≤ 1.1× bare Whisper, ≤ 0.6× bare Vosk",
                         lambda v: v[0] <= 1.1 * v[1] + 1e-9 and v[0] <= 0.6 * v[2] + 1e-9),
    "whisper_wer": ("≤ 1.1× bare Whisper, < bare Vosk",
                    lambda v: v[0] <= 1.1 * v[1] + 1e-9 and v[0] < v[2] - 1e-9),
    "whisper_commands": ("≥ 90 %, no false marks", lambda v: v[0] >= 0.9 and v[1] == 0),
    "whisper_stop_last_word": ("median < 800 ms, p90 < 1500 ms",
                               lambda v: v[0] < 800 and v[1] < 1500),
    "whisper_noise": ("empty final, every run", lambda v: v == 0),
    "whisper_cpu_ratio": ("≤ 1.15× (bare Vosk + bare Whisper)", lambda v: v <= 1.15),
    "whisper_rss_mib": ("< 500 MiB", lambda v: v < 500),
}

CONDITIONS_CACHE = Path(tempfile.gettempdir()) / "quorvane-conditions"
# Bare whisper.cpp's texts, kept by audio, library and model (harness.BareWhisper).
WHISPER_CACHE = Path(tempfile.gettempdir()) / "quorvane-whisper-texts"

# A room's own sound, nobody speaking, at a peak of -30 dBFS: (what it is,
# sox's synth and effects).
NOISE_SECONDS = 30
NOISES = {
    "pink": ("pink noise, -44 dBFS RMS",
             ["synth", str(NOISE_SECONDS), "pinknoise", "gain", "-n", "-30"]),
    "room": ("room tone: brown noise and a 100 Hz hum below 1 kHz, -37 dBFS RMS",
             ["synth", str(NOISE_SECONDS), "brownnoise", "synth", str(NOISE_SECONDS),
              "sine", "mix", "100", "lowpass", "1000", "gain", "-n", "-30"]),
}
QUICK_CONDITIONS = ("clean", "loud", "white10", "babble10", "echo")


def first_holding_last_word(timeline, final_text):
    """The time of the first (time, text) entry whose text holds the final
    text's last word in its place; None when none does."""
    final = words_of(final_text)
    if not final:
        return None
    last, position = final[-1], len(final) - 1
    for at, text in timeline:
        words = words_of(text)
        # In its place; or last, with the words before it merged or split
        # a little differently.
        if (len(words) > position and words[position] == last) or (
                words and words[-1] == last and len(words) >= len(final) - 2):
            return at
    return None


def matched_words(a, b):
    """(i, j) for each a[i] == b[j] that a least-edit alignment of the two
    word lists pairs."""
    n, m = len(a), len(b)
    d = [[i + j if i == 0 or j == 0 else 0 for j in range(m + 1)] for i in range(n + 1)]
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1]))
    pairs, i, j = [], n, m
    while i > 0 and j > 0:
        if a[i - 1] == b[j - 1] and d[i][j] == d[i - 1][j - 1]:
            pairs.append((i - 1, j - 1))
            i, j = i - 1, j - 1
        elif d[i][j] == d[i - 1][j - 1] + 1:
            i, j = i - 1, j - 1
        elif d[i][j] == d[i - 1][j] + 1:
            i -= 1
        else:
            j -= 1
    return pairs[::-1]


def spoken_at(written, seconds):
    """When the microphone got the audio up to `seconds` into a fed file
    (PrivateAudioServer.play's `written`); None if it never did."""
    goal = seconds * RATE * FRAME_BYTES
    for at, count in written:
        if count >= goal:
            return at
    return None


def emission(word_ends, written, texts):
    """Seconds from each word's end in the audio to the first text that
    holds it, for the words of the last text (the final) that the full
    decode timed; words are matched in order, and a text from before the
    word was begun does not count (the same word said earlier is another).
    `texts`: [(time, text)], the partials and then the final."""
    final = words_of(texts[-1][1])
    timed = {j: word_ends[i] for i, j in matched_words([w for w, _, _ in word_ends], final)}
    begun = {j: spoken_at(written, start) for j, (_, start, _) in timed.items()}
    first_seen = {}
    for at, text in texts:
        for _, j in matched_words(words_of(text), final):
            if j in timed and begun[j] is not None and at >= begun[j]:
                first_seen.setdefault(j, at)
    latencies = []
    for j, (_, _, end) in sorted(timed.items()):
        spoken = spoken_at(written, end)
        if spoken is not None and j in first_seen:
            latencies.append(first_seen[j] - spoken)
    return latencies, len(final) - len(latencies)


def flicker(texts):
    """(words newly shown in a partial, how many of them the final lacks):
    a word shown is one that the partial before did not show in its place;
    it changed if the final does not keep it. `texts` as for emission."""
    final = words_of(texts[-1][1])
    shown = changed = 0
    previous = []
    for _, text in texts[:-1]:
        words = words_of(text)
        kept_shown = {j for _, j in matched_words(previous, words)}
        kept_final = {i for i, _ in matched_words(words, final)}
        for k in range(len(words)):
            if k not in kept_shown:
                shown += 1
                changed += k not in kept_final
        previous = words
    return shown, changed


class StreamedRecognizer:
    """PocketSphinx itself, through ctypes, fed audio in 2048-sample blocks
    with the utterance cut at each pause, as pocketsphinx_continuous and the
    product do, without any capture: after which block (in audio time) its
    hypothesis first holds the last word is the recognizer's own share of
    the tail latency."""

    BLOCK = 2048

    def __init__(self):
        import ctypes
        c = ctypes
        self.c = c
        self.sb = c.CDLL("libsphinxbase.so.3")
        self.ps = c.CDLL("libpocketsphinx.so.3")
        self.sb.err_set_logfp.argtypes = [c.c_void_p]
        self.sb.err_set_logfp(None)
        self.ps.ps_args.restype = c.c_void_p
        self.sb.cmd_ln_parse_r.restype = c.c_void_p
        self.sb.cmd_ln_parse_r.argtypes = [c.c_void_p, c.c_void_p, c.c_int32,
                                           c.POINTER(c.c_char_p), c.c_int]
        self.sb.cmd_ln_free_r.argtypes = [c.c_void_p]
        self.ps.ps_init.restype = c.c_void_p
        self.ps.ps_init.argtypes = [c.c_void_p]
        self.ps.ps_free.argtypes = [c.c_void_p]
        for name in ("ps_start_utt", "ps_end_utt"):
            getattr(self.ps, name).argtypes = [c.c_void_p]
        self.ps.ps_process_raw.argtypes = [c.c_void_p, c.c_void_p, c.c_size_t, c.c_int, c.c_int]
        self.ps.ps_get_in_speech.argtypes = [c.c_void_p]
        self.ps.ps_get_in_speech.restype = c.c_uint8
        self.ps.ps_get_hyp.argtypes = [c.c_void_p, c.c_void_p]
        self.ps.ps_get_hyp.restype = c.c_char_p
        self.ps.ps_seg_iter.argtypes = [c.c_void_p]
        self.ps.ps_seg_iter.restype = c.c_void_p
        self.ps.ps_seg_next.argtypes = [c.c_void_p]
        self.ps.ps_seg_next.restype = c.c_void_p
        self.ps.ps_seg_word.argtypes = [c.c_void_p]
        self.ps.ps_seg_word.restype = c.c_char_p
        self.ps.ps_seg_frames.argtypes = [c.c_void_p, c.POINTER(c.c_int), c.POINTER(c.c_int)]

    def _load(self):
        c, ps = self.c, self.ps
        args = [b"-hmm", str(MODEL / "en-us").encode(), b"-lm",
                str(MODEL / "en-us.lm.bin").encode(), b"-dict",
                str(MODEL / "cmudict-en-us.dict").encode()]
        config = self.sb.cmd_ln_parse_r(None, ps.ps_args(), len(args),
                                        (c.c_char_p * len(args))(*args), 1)
        decoder = ps.ps_init(config)
        self.sb.cmd_ln_free_r(config)
        if not decoder:
            raise BenchError("PocketSphinx did not load the model")
        return decoder

    def word_ends(self, pcm):
        """[(word, its start, its end)] in seconds from the start of the
        audio, of a full decode, utterances cut at pauses as above; fillers
        left out."""
        c, ps = self.c, self.ps
        decoder = self._load()
        words, in_utterance = [], False

        def keep():
            segment = ps.ps_seg_iter(decoder)
            while segment:
                start, end = c.c_int(), c.c_int()
                ps.ps_seg_frames(segment, c.byref(start), c.byref(end))
                word = ps.ps_seg_word(segment).decode()
                if word[0] not in "<[+":
                    # Frames of 10 ms, counted from the start of the audio.
                    words.append((word.split("(")[0], start.value / 100, (end.value + 1) / 100))
                segment = ps.ps_seg_next(segment)

        samples = len(pcm) // FRAME_BYTES
        ps.ps_start_utt(decoder)
        for start in range(0, samples, self.BLOCK):
            block = pcm[start * FRAME_BYTES:(start + self.BLOCK) * FRAME_BYTES]
            ps.ps_process_raw(decoder, block, len(block) // FRAME_BYTES, 0, 0)
            if ps.ps_get_in_speech(decoder):
                in_utterance = True
            elif in_utterance:
                ps.ps_end_utt(decoder)
                keep()
                in_utterance = False
                ps.ps_start_utt(decoder)
        ps.ps_end_utt(decoder)
        if in_utterance:
            keep()
        ps.ps_free(decoder)
        return words

    def timeline(self, pcm):
        """[(seconds from the start of the audio, text so far)] after each
        block as if the audio were spoken live, and the final text."""
        ps = self.ps
        decoder = self._load()

        def hypothesis():
            words = ps.ps_get_hyp(decoder, None)
            return words.decode() if words else ""

        # Each block is taken when its last sample has been spoken, or when
        # the recognizer is done with the one before, whichever is later;
        # its result shows once the recognizer is done with it.
        finished, in_utterance, timeline, busy_until = [], False, [], 0.0
        samples = len(pcm) // FRAME_BYTES
        ps.ps_start_utt(decoder)
        for start in range(0, samples, self.BLOCK):
            block = pcm[start * FRAME_BYTES:(start + self.BLOCK) * FRAME_BYTES]
            spoken = min(start + self.BLOCK, samples) / RATE
            began = now()
            ps.ps_process_raw(decoder, block, len(block) // FRAME_BYTES, 0, 0)
            if ps.ps_get_in_speech(decoder):
                in_utterance = True
            elif in_utterance:
                ps.ps_end_utt(decoder)
                finished.append(hypothesis())
                in_utterance = False
                ps.ps_start_utt(decoder)
            text = " ".join(w for w in finished + ([hypothesis()] if in_utterance else []) if w)
            busy_until = max(spoken, busy_until) + (now() - began)
            timeline.append((busy_until, text))
        ps.ps_end_utt(decoder)
        if in_utterance:
            finished.append(hypothesis())
        ps.ps_free(decoder)
        return timeline, " ".join(w for w in finished if w)


def streamed_word_ends(paths):
    recognizer = StreamedRecognizer()
    return {path: recognizer.word_ends(read_pcm(path)) for path in paths}


def streamed_timelines(paths):
    recognizer = StreamedRecognizer()
    return {path: recognizer.timeline(read_pcm(path)) for path in paths}


def in_child(function, *args):
    """function(*args) in a fresh interpreter. A child's ru_maxrss counts the
    memory it was started from, this process's peak: with a model loaded
    here, every later child's peak RSS would be at least that."""
    import concurrent.futures
    import multiprocessing
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
        return pool.submit(function, *args).result()


class Bench:
    def __init__(self, options):
        self.options = options
        self.binary = Path(options.binary)
        if not self.binary.is_absolute():
            self.binary = (ROOT / self.binary).resolve()
        if not os.access(self.binary, os.X_OK):
            raise BenchError(f"{self.binary} is not an executable; build it first")
        self.engine = options.engine
        self.bare = shutil.which(BARE)
        if not self.bare:
            raise BenchError(f"{BARE} is not installed (Debian package pocketsphinx)")
        self.samples = librivox_samples()
        if not self.samples:
            raise BenchError("no LibriVox recordings (Debian package pocketsphinx-testdata)")
        self.work = Path(tempfile.mkdtemp(prefix="quorvane-bench-"))
        (self.work / "home").mkdir()
        (self.work / "data").mkdir()
        beside = self.binary.parent / "vosk"
        # What the product finds beside itself: Vosk for English with both.
        self.vosk_beside = {"library": (beside / "libvosk.so").exists(),
                            "model": (beside / "model" / "en-us").is_dir()}
        self.vosk = None
        self.whisper = None
        if self.engine == "pocketsphinx":
            # The executable alone, with no vosk/ beside it: PocketSphinx.
            alone = self.work / "pocketsphinx"
            alone.mkdir()
            self.product_binary = alone / self.binary.name
            shutil.copy2(self.binary, self.product_binary)
        else:
            self.product_binary = self.binary
            if options.no_second_pass:
                self.product_binary = without_second_pass(self.binary, self.work)
            if not all(self.vosk_beside.values()):
                self.log(f"note: no {beside}/libvosk.so and model/en-us beside the binary: "
                         "the product runs PocketSphinx, measured next to the Vosk anchors")
            model = Path(options.vosk_model) if options.vosk_model else beside / "model" / "en-us"
            try:
                self.vosk = BareVosk(model.resolve(), options.vosk_venv, self.log)
            except BaseException:
                self.close()
                raise
            # Bare whisper.cpp: the original's whisper/ (or the one given),
            # also when the product measured runs without it.
            parts = Path(options.whisper_parts or self.binary.parent / "whisper")
            try:
                self.whisper = BareWhisper(parts.resolve(), WHISPER_CACHE)
            except BenchError as error:
                self.log(f"note: {error}: no bare whisper.cpp anchor")
        # Whether the product measured has whisper.cpp beside it: the second pass.
        self.second_pass = (self.product_binary.parent / "whisper" / "libwhisper.so.1").exists()
        self.durations = {str(w): len(read_pcm(w)) / FRAME_BYTES / RATE for w, _ in self.samples}
        self.padded = {}
        for wav, _ in self.samples:
            padded = self.work / ("padded-" + wav.name)
            write_wav(padded, silence(LEAD_PAD) + read_pcm(wav) + silence(TRAIL_PAD))
            self.padded[str(wav)] = padded
        self.results = {}

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def log(self, text):
        print(text, file=sys.stderr, flush=True)

    def product_env(self, server=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("PULSE_", "XDG_"))}
        # The system's model only, the one the bare recognizer loads.
        env.update(HOME=str(self.work / "home"), XDG_DATA_HOME=str(self.work / "data"),
                   XDG_DATA_DIRS="/usr/share", LC_ALL="C")
        if server is not None:
            env.update(server.env)
        return env

    def bare_args(self, wav):
        return [self.bare, "-hmm", str(MODEL / "en-us"), "-lm", str(MODEL / "en-us.lm.bin"),
                "-dict", str(MODEL / "cmudict-en-us.dict"), "-infile", str(wav)]

    def run_bare(self, wav):
        started = now()
        process = subprocess.Popen(self.bare_args(wav), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out = process.stdout.read()
        code, usage = wait_with_usage(process)
        wall = now() - started
        if code != 0:
            raise BenchError(f"{BARE} failed on {wav} with {code}")
        text = " ".join(out.decode(errors="replace").split())
        return {"text": text, "cpu_s": cpu_seconds(usage), "maxrss_kb": usage.ru_maxrss,
                "wall_s": wall}

    # (1) status

    def measure_status(self, runs):
        # posix_spawn and wait4 directly: the least a harness can add, which
        # the /bin/true figure shows.
        env = self.product_env()
        devnull = os.open(os.devnull, os.O_RDWR)
        actions = [(os.POSIX_SPAWN_DUP2, devnull, 0), (os.POSIX_SPAWN_DUP2, devnull, 1),
                   (os.POSIX_SPAWN_DUP2, devnull, 2)]
        ours, floor = [], []
        try:
            for _ in range(runs * 10):
                for argv, sink in (([str(self.product_binary), "status"], ours),
                                   (["/bin/true"], floor)):
                    started = now()
                    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
                    _, status, _ = os.wait4(pid, 0)
                    elapsed = now() - started
                    if os.waitstatus_to_exitcode(status) != 0:
                        raise BenchError(f"{argv} exited with {status}")
                    sink.append(elapsed * 1000)
        finally:
            os.close(devnull)
        self.results["status"] = {"ours_ms": ours, "bin_true_ms": floor}

    # (2)-(7) one session per recording

    def session(self, server, wav, word_ends):
        product = Product(self.product_binary, ["listen", LOCALE], self.product_env(server))
        try:
            ready_at, _ = product.wait_for("ready", 30)
            last_audio, played = product.hear(server, wav)
            stop_at, final_at, final, usage = product.stop()
        except BaseException:
            product.kill()
            raise
        # Partials before "stop" only: the last word in "final" alone does not
        # count.
        partials = [(at, m["text"]) for at, m in product.messages
                    if m.get("type") == "partial" and at < stop_at]
        tail_at = first_holding_last_word(partials, final["text"])
        texts = partials + [(final_at, final["text"])]
        latencies, untimed = emission(word_ends, played.written, texts)
        shown, changed = flicker(texts)
        return {
            "file": wav.name,
            "ready_ms": (ready_at - product.started) * 1000,
            "stop_final_ms": (final_at - stop_at) * 1000,
            "tail_ms": None if tail_at is None else (tail_at - last_audio) * 1000,
            "audio_s": stop_at - ready_at,
            "cpu_s": cpu_seconds(usage),
            "maxrss_kb": usage.ru_maxrss,
            "text": final["text"],
            "partials": len(partials),
            "emission_ms": [x * 1000 for x in latencies],
            "emission_untimed": untimed,
            "shown_words": shown,
            "changed_words": changed,
            # Every message, in seconds from the last audio written.
            "timeline": [(round(at - last_audio, 3), m.get("text", m.get("type")))
                         for at, m in product.messages],
        }

    def session_stopped_at_last_word(self, server, wav, last_word_end):
        """"stop" written the moment the microphone has the end of the last
        word; the rest of the recording plays on unheard."""
        product = Product(self.product_binary, ["listen", LOCALE], self.product_env(server))
        try:
            product.wait_for("ready", 30)
            played = server.feed(wav, wait=False)
            while spoken_at(played.written, last_word_end) is None:
                if played.is_set() or product.process.poll() is not None:
                    raise BenchError("the recording ended before its last word")
                time.sleep(0.001)
            spoken = spoken_at(played.written, last_word_end)
            stop_at, final_at, final, _ = product.stop()
        except BaseException:
            product.kill()
            raise
        played.wait()  # the next session must not hear this one's tail
        return {
            "file": wav.name,
            "stop_final_ms": (final_at - stop_at) * 1000,
            "spoken_stop_ms": (stop_at - spoken) * 1000,
            "text": final["text"],
        }

    def measure_sessions(self, runs):
        ours, bare, bare_files, at_last_word = [], [], [], []
        vosk_padded, vosk_files, whisper_padded, whisper_once = [], [], [], {}
        if self.vosk:
            # Where each word ends in the audio, from the bare Vosk
            # recognizer's word times: the engine measured; its texts are
            # its word error rate on exactly the files.
            decoded, usage = self.vosk.decode([wav for wav, _ in self.samples])
            word_ends = {}
            for (wav, words), result in zip(self.samples, decoded):
                word_ends[str(wav)] = result["words"]
                vosk_files.append({"file": wav.name, "reference": words, "text": result["text"]})
            interpreter = self.vosk.interpreter()
        else:
            # Where each word ends in the audio, from PocketSphinx's full decode.
            word_ends = in_child(streamed_word_ends, [str(wav) for wav, _ in self.samples])
        untimed = [wav.name for wav, _ in self.samples if not word_ends[str(wav)]]
        if untimed:
            raise BenchError(f"the full decode found no words in {', '.join(untimed)}")
        with PrivateAudioServer() as server:
            for run in range(runs):
                for wav, words in self.samples:
                    result = self.session(server, wav, word_ends[str(wav)])
                    result["run"] = run
                    result["reference"] = words
                    ours.append(result)
                    early = self.session_stopped_at_last_word(server, wav,
                                                              word_ends[str(wav)][-1][2])
                    # The full pass: this run's session stopped 1 s after the speech.
                    full = words_of(result["text"])
                    early.update(run=run, reference=words, full_text=result["text"],
                                 differing_words=len(full) - len(matched_words(
                                     full, words_of(early["text"]))),
                                 added_errors=edit_distance(words_of(words), words_of(early["text"]))
                                 - edit_distance(words_of(words), full))
                    at_last_word.append(early)
                    anchor = self.run_bare(self.padded[str(wav)])
                    anchor.update(file=wav.name, run=run, reference=words,
                                  audio_s=self.durations[str(wav)] + LEAD_PAD + TRAIL_PAD)
                    bare.append(anchor)
                    cpu = f"{anchor['cpu_s']:.2f} s"
                    if self.vosk:
                        # Same audio, the model loaded once, as for the other.
                        other = self.vosk.decode_one(self.padded[str(wav)])
                        other.update(file=wav.name, run=run, reference=words,
                                     audio_s=anchor["audio_s"])
                        del other["words"]
                        vosk_padded.append(other)
                        cpu = f"{other['cpu_s']:.2f} s (bare Vosk), {cpu} (bare PocketSphinx)"
                    if self.whisper:
                        # The same padded audio whole, in a process of its own,
                        # once per file: it costs the most, and varies least.
                        if run == 0:
                            other = self.whisper.decode_one(self.padded[str(wav)])
                            other.update(file=wav.name, reference=words,
                                         audio_s=anchor["audio_s"])
                            whisper_once[wav.name] = other
                        whisper_padded.append({**whisper_once[wav.name], "run": run})
                        cpu = f"{whisper_padded[-1]['cpu_s']:.2f} s (bare whisper.cpp), {cpu}"
                    self.log(f"  run {run + 1}/{runs} {wav.name}: ready "
                             f"{result['ready_ms']:.0f} ms, stop→final "
                             f"{result['stop_final_ms']:.0f} ms, tail "
                             f"{result['tail_ms'] if result['tail_ms'] is None else round(result['tail_ms'])}"
                             f" ms, CPU {result['cpu_s']:.2f} s vs {cpu}; "
                             f"stop at the last word→final {early['stop_final_ms']:.0f} ms, "
                             f"{early['differing_words']} words unlike the full pass")
        # The bare recognizer is deterministic: one pass over the unpadded
        # files gives its WER on exactly the files.
        for wav, words in self.samples:
            anchor = self.run_bare(wav)
            anchor.update(file=wav.name, reference=words)
            bare_files.append(anchor)
        # PocketSphinx's own share of the tail latency, in audio time; not
        # the Vosk engine's.
        streamed = []
        timelines = {} if self.vosk else in_child(
            streamed_timelines, [str(self.padded[str(wav)]) for wav, _ in self.samples])
        for wav, words in ([] if self.vosk else self.samples):
            timeline, final = timelines[str(self.padded[str(wav)])]
            speech_end = LEAD_PAD + self.durations[str(wav)]
            at = first_holding_last_word([(t, x) for t, x in timeline if t < speech_end + STOP_AFTER_SPEECH], final)
            streamed.append({"file": wav.name, "text": final,
                             "tail_ms": None if at is None else (at - speech_end) * 1000})
        self.results["sessions"] = {"ours": ours, "bare_padded": bare, "bare_files": bare_files,
                                    "recognizer_streamed": streamed,
                                    "stopped_at_last_word": at_last_word,
                                    "word_ends": word_ends,
                                    "word_ends_from": "bare Vosk" if self.vosk else "PocketSphinx"}
        if self.vosk:
            self.results["sessions"].update(
                bare_vosk_padded=vosk_padded, bare_vosk_files=vosk_files,
                bare_vosk_files_usage=usage, bare_vosk_interpreter=interpreter)
        if self.whisper:
            texts = self.whisper.texts([wav for wav, _ in self.samples])
            self.results["sessions"].update(
                bare_whisper_padded=whisper_padded,
                bare_whisper_files=[{"file": wav.name, "reference": words, "text": text}
                                    for (wav, words), text in zip(self.samples, texts)],
                bare_whisper_interpreter=self.whisper.interpreter())

    # (8) microphones of other rates and channel counts

    def measure_input_rates(self, quick):
        samples = [(w, words) for w, words in self.samples if w.stem in RATE_REPORT_SET]
        results = []
        for rate in INPUT_RATES:
            for channels in (1,) if quick or rate == RATE else (1, 2):
                converted = []
                for wav, words in samples:
                    path = self.work / f"{wav.stem}-{rate}-{channels}.wav"
                    subprocess.run(["sox", str(wav), "-r", str(rate), "-c", str(channels),
                                    str(path)], check=True, stderr=subprocess.DEVNULL)
                    converted.append((path, words))
                with PrivateAudioServer(rate=rate, channels=channels) as server:
                    pairs = [(words, self.caught_up_final(server, path))
                             for path, words in converted]
                results.append({"rate": rate, "channels": channels, "pairs": pairs,
                                "wer": word_error_rate(pairs)})
                self.log(f"  {rate} Hz × {channels}: WER {results[-1]['wer']:.3f}")
        self.results["input_rates"] = results

    def caught_up_final(self, server, wav):
        """The "final" text of a session that hears `wav` and stops once the
        recognizer has caught up (a "partial", then none for 4 s): accuracy
        alone, whatever the machine's load does to latency."""
        product = Product(self.product_binary, ["listen", LOCALE], self.product_env(server))
        try:
            product.wait_for("ready", 30)
            server.feed(wav)
            deadline, heard = now() + 30, False
            while now() < deadline:
                try:
                    _, message = product.lines.get(
                        timeout=4.0 if heard else max(0.0, deadline - now()))
                except queue.Empty:
                    break
                if message is None:
                    raise BenchError("the product ended while speech was fed")
                heard = heard or message.get("type") == "partial"
            _, _, final, _ = product.stop()
        except BaseException:
            product.kill()
            raise
        return final["text"]

    # (9) microphones: level, offset, noise, echo

    def measure_conditions(self, quick):
        import mic_conditions
        names = [n for n in mic_conditions.CONDITIONS if not quick or n in QUICK_CONDITIONS]
        runner = SessionRunner(self.product_binary, self.work, CONDITIONS_CACHE)
        results = []
        files = {(name, str(wav)): mic_conditions.condition_file(name, wav, CONDITIONS_CACHE)
                 for name in names for wav, _ in self.samples}
        vosk_texts = {}
        if self.vosk:
            # One process for every file: only the texts count here.
            decoded, _ = self.vosk.decode(list(files.values()))
            vosk_texts = {key: r["text"] for key, r in zip(files, decoded)}
        whisper_texts = {}
        if self.whisper:
            whisper_texts = dict(zip(files, self.whisper.texts(list(files.values()))))
        with PrivateAudioServer() as server:
            for name in names:
                ours, bare, vosk, whisper = [], [], [], []
                for wav, words in self.samples:
                    path = files[(name, str(wav))]
                    ours.append((words, runner.session(server, path)["text"]))
                    bare.append((words, runner.bare(path)["text"]))
                    if self.vosk:
                        vosk.append((words, vosk_texts[(name, str(wav))]))
                    if self.whisper:
                        whisper.append((words, whisper_texts[(name, str(wav))]))
                results.append({"condition": name, "what": mic_conditions.CONDITIONS[name][0],
                                "ours": ours, "bare": bare, "wer": word_error_rate(ours),
                                "bare_wer": word_error_rate(bare)})
                if self.vosk:
                    results[-1].update(bare_vosk=vosk, bare_vosk_wer=word_error_rate(vosk))
                if self.whisper:
                    results[-1].update(bare_whisper=whisper,
                                       bare_whisper_wer=word_error_rate(whisper))
                self.log(f"  {name}: WER {results[-1]['wer']:.3f}, bare "
                         + (f"whisper.cpp {results[-1]['bare_whisper_wer']:.3f}, bare "
                            if self.whisper else "")
                         + (f"Vosk {results[-1]['bare_vosk_wer']:.3f}, bare PocketSphinx "
                            if self.vosk else "")
                         + f"{results[-1]['bare_wer']:.3f}")
        self.results["conditions"] = results

    # (10) room noise and no speech

    def noise_file(self, kind):
        """NOISE_SECONDS of a room's noise without speech, made by sox once
        and kept in the conditions' cache."""
        what, effects = NOISES[kind]
        key = hashlib.sha1(repr((kind, effects, NOISE_SECONDS)).encode()).hexdigest()[:16]
        out = CONDITIONS_CACHE / "noise" / f"{kind}-{key}.wav"
        if not out.exists():
            out.parent.mkdir(parents=True, exist_ok=True)
            partial = out.with_suffix(".part.wav")
            subprocess.run(["sox", "-V1", "-R", "-n", "-r", str(RATE), "-c", "1", "-b", "16",
                            str(partial), *effects], check=True, stderr=subprocess.DEVNULL)
            os.replace(partial, out)
        return out

    def measure_noise(self, sessions):
        """Sessions that hear NOISE_SECONDS of noise and nobody speaking,
        the kinds in turn, stopped once caught up: their final texts, which
        should all be empty; the bare recognizers on the same files."""
        runner = SessionRunner(self.product_binary, self.work)
        kinds = list(NOISES)
        files = {kind: self.noise_file(kind) for kind in kinds}
        results = []
        with PrivateAudioServer() as server:
            for k in range(sessions):
                kind = kinds[k % len(kinds)]
                result = runner.session(server, files[kind])
                results.append({"kind": kind, "text": result["text"],
                                "partials": result["partials"],
                                "stop_final_ms": result["stop_final_ms"]})
                self.log(f"  {kind} {k + 1}/{sessions}: final {result['text']!r}")
        anchors = {kind: {} for kind in kinds}
        if self.vosk:
            decoded, _ = self.vosk.decode([files[kind] for kind in kinds])
            for kind, result in zip(kinds, decoded):
                anchors[kind]["bare_vosk"] = result["text"]
        if self.whisper:
            for kind, text in zip(kinds, self.whisper.texts([files[kind] for kind in kinds])):
                anchors[kind]["bare_whisper"] = text
        self.results["noise"] = {"sessions": results, "anchors": anchors,
                                 "kinds": {kind: NOISES[kind][0] for kind in kinds}}

    # (11) long session

    def loop_pcm(self, seconds):
        pcm, files = b"", []
        while len(pcm) < seconds * RATE * FRAME_BYTES:
            for wav, _ in self.samples:
                pcm += read_pcm(wav)
                files.append(wav)
        return pcm, files

    def measure_long(self, seconds):
        stop_after = min(seconds, AUTO_STOP - 2.0)
        pcm, files = self.loop_pcm(stop_after + 10)
        long_wav = self.work / "long.wav"
        write_wav(long_wav, silence(LEAD_PAD) + pcm[: int(stop_after * RATE) * FRAME_BYTES])
        samples = []
        with PrivateAudioServer() as server:
            product = Product(self.product_binary, ["listen", LOCALE], self.product_env(server))
            try:
                ready_at, _ = product.wait_for("ready", 30)
                # Speech from "ready" on, without a gap: two files queued
                # ahead at all times.
                pending = [server.feed(f, wait=False) for f in files[:2]]
                next_file = 2
                stat = Path(f"/proc/{product.pid}/stat")
                status = Path(f"/proc/{product.pid}/status")
                next_sample = ready_at
                while True:
                    t = now()
                    if t >= next_sample:
                        fields = stat.read_text().rpartition(")")[2].split()
                        ticks = int(fields[11]) + int(fields[12])  # utime, stime
                        rss = next(int(line.split()[1]) for line in status.read_text().splitlines()
                                   if line.startswith("VmRSS:"))
                        samples.append((t - ready_at, ticks / CLOCK_TICKS, rss))
                        next_sample += 1.0
                    if t - ready_at >= stop_after:
                        break
                    while pending and pending[0].is_set():
                        pending.pop(0)
                        pending.append(server.feed(files[next_file], wait=False))
                        next_file += 1
                    time.sleep(max(0.0, min(next_sample, ready_at + stop_after) - now()))
                stop_at, final_at, final, usage = product.stop()
            except BaseException:
                product.kill()
                raise
        anchor = self.run_bare(long_wav)
        anchor["audio_s"] = stop_after + LEAD_PAD
        if self.vosk:
            other = self.vosk.decode_one(long_wav)
            other["audio_s"] = anchor["audio_s"]
            del other["words"]
        self.results["long"] = {
            "seconds": stop_after,
            "samples": samples,  # (seconds after ready, CPU seconds, VmRSS KiB)
            "audio_s": stop_at - ready_at,
            "cpu_s": cpu_seconds(usage),
            "maxrss_kb": usage.ru_maxrss,
            "stop_final_ms": (final_at - stop_at) * 1000,
            "stdout_bytes": product.stdout_bytes,
            "partials": sum(1 for _, m in product.messages if m.get("type") == "partial"),
            "final_words": len(final["text"].split()),
            "bare": anchor,
        }
        if self.vosk:
            self.results["long"]["bare_vosk"] = other

    # Figures

    def summarize(self):
        import resource
        summary = {"engine_log": dict(Product.engine_log),
                   # The least ru_maxrss any child of this process can show.
                   "bench_peak_rss_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}
        status = self.results.get("status")
        if status:
            summary["status_ms"] = {"ours": spread(status["ours_ms"]),
                                    "bin_true": spread(status["bin_true_ms"])}
        sessions = self.results.get("sessions")
        if sessions:
            ours, bare = sessions["ours"], sessions["bare_padded"]
            for key in ("ready_ms", "stop_final_ms", "tail_ms"):
                summary[key] = {"ours": spread([s[key] for s in ours])}
            streamed = sessions["recognizer_streamed"]
            summary["tail_ms"]["recognizer"] = spread([s["tail_ms"] for s in streamed])
            summary["tail_recognizer_missing"] = sum(1 for s in streamed if s["tail_ms"] is None)
            summary["tail_missing"] = sum(1 for s in ours if s["tail_ms"] is None)
            early = sessions["stopped_at_last_word"]
            # A recognizer that a starved machine left more than the
            # session's grace behind: its "final" is the text so far.
            summary["grace_expired"] = sum(1 for s in ours if s["stop_final_ms"] >= GRACE_MS)
            finished = {(s["run"], s["file"]) for s in ours if s["stop_final_ms"] < GRACE_MS}
            compared = [s for s in early
                        if s["stop_final_ms"] < GRACE_MS and (s["run"], s["file"]) in finished]
            summary["stop_last_word"] = {
                "grace_expired": sum(1 for s in early if s["stop_final_ms"] >= GRACE_MS),
                "stop_final_ms": spread([s["stop_final_ms"] for s in early]),
                "p90_ms": percentile([s["stop_final_ms"] for s in early], 0.9),
                "spoken_stop_ms": spread([s["spoken_stop_ms"] for s in early]),
                # Only where both sessions finished their decoding.
                "differing_words": sum(s["differing_words"] for s in compared),
                "added_errors": sum(max(0, s["added_errors"]) for s in compared),
                "full_words": sum(len(words_of(s["full_text"])) for s in compared),
                "compared": len(compared),
                "sessions": len(early),
            }
            latencies = [x for s in ours for x in s["emission_ms"]]
            summary["emission"] = {
                "median_ms": statistics.median(latencies) if latencies else None,
                "p90_ms": percentile(latencies, 0.9),
                "words": len(latencies),
                "untimed": sum(s["emission_untimed"] for s in ours),
            }
            shown = sum(s["shown_words"] for s in ours)
            summary["flicker"] = {"shown": shown,
                                  "changed": sum(s["changed_words"] for s in ours),
                                  "share": sum(s["changed_words"] for s in ours) / shown
                                  if shown else None}
            # Both decode the same recording with the same silence around
            # it: its length counts for both, and the ratio is the median of
            # the ratios of each pair.
            ours_cpu = [s["cpu_s"] / b["audio_s"] for s, b in zip(ours, bare)]
            bare_cpu = [b["cpu_s"] / b["audio_s"] for b in bare]
            summary["cpu_per_audio_s"] = {"ours": spread(ours_cpu), "bare": spread(bare_cpu)}
            summary["cpu_ratio"] = statistics.median(
                s["cpu_s"] / b["cpu_s"] for s, b in zip(ours, bare))
            ours_rss = [s["maxrss_kb"] / 1024 for s in ours]
            bare_rss = [b["maxrss_kb"] / 1024 for b in bare]
            summary["maxrss_mib"] = {"ours": spread(ours_rss), "bare": spread(bare_rss)}
            summary["rss_ratio"] = statistics.median(ours_rss) / statistics.median(bare_rss)
            runs = sorted({s["run"] for s in ours})
            ours_wer = [word_error_rate([(s["reference"], s["text"]) for s in ours
                                         if s["run"] == run]) for run in runs]
            bare_wer = word_error_rate([(b["reference"], b["text"])
                                        for b in sessions["bare_files"]])
            padded_wer = [word_error_rate([(b["reference"], b["text"]) for b in bare
                                           if b["run"] == run]) for run in runs]
            summary["wer"] = {"ours": spread(ours_wer), "bare": spread([bare_wer]),
                              "bare_padded": spread(padded_wer)}
            summary["wer_delta"] = statistics.median(ours_wer) - bare_wer
            summary["wer_ratio"] = statistics.median(ours_wer) / bare_wer if bare_wer else None
            if "bare_vosk_padded" in sessions:
                summary["vosk"] = self.summarize_vosk(sessions, runs)
            if "bare_whisper_padded" in sessions and "bare_vosk_padded" in sessions:
                summary["whisper"] = self.summarize_whisper(sessions, runs)
        if "input_rates" in self.results:
            summary["input_rates"] = [{k: r[k] for k in ("rate", "channels", "wer")}
                                      for r in self.results["input_rates"]]
        if "conditions" in self.results:
            summary["conditions"] = [{k: r[k] for k in ("condition", "what", "wer", "bare_wer",
                                                        "bare_vosk_wer", "bare_whisper_wer")
                                      if k in r}
                                     for r in self.results["conditions"]]
        noise = self.results.get("noise")
        if noise:
            sessions = noise["sessions"]
            summary["noise"] = {
                "sessions": len(sessions),
                "not_empty": sum(1 for r in sessions if words_of(r["text"])),
                "texts": sorted({r["text"] for r in sessions if r["text"]}),
                "anchors": noise["anchors"],
                "kinds": noise["kinds"],
            }
        long = self.results.get("long")
        if long:
            samples = long["samples"]
            end = samples[-1][0]
            # Minutes; halves of a session shorter than two minutes.
            span = min(60.0, end / 2)
            minutes = []
            start = 0.0
            while start + span - 2.5 <= end:
                a = min(samples, key=lambda s: abs(s[0] - start))
                b = min(samples, key=lambda s: abs(s[0] - (start + span)))
                window = [s for s in samples if a[0] <= s[0] <= b[0]]
                minutes.append({
                    "from_s": a[0], "to_s": b[0],
                    "cpu_per_audio_s": (b[1] - a[1]) / (b[0] - a[0]),
                    "rss_max_mib": max(s[2] for s in window) / 1024,
                })
                start += span
            first = minutes[0]
            last_a = min(samples, key=lambda s: abs(s[0] - (end - span)))
            last = {"from_s": last_a[0], "to_s": end,
                    "cpu_per_audio_s": (samples[-1][1] - last_a[1]) / (end - last_a[0]),
                    "rss_max_mib": max(s[2] for s in samples if s[0] >= last_a[0]) / 1024}
            summary["long"] = {
                "seconds": long["seconds"],
                "minutes": minutes,
                "first_minute": first,
                "last_minute": last,
                "cpu_ratio": last["cpu_per_audio_s"] / first["cpu_per_audio_s"],
                "rss_growth_kb": (last["rss_max_mib"] - first["rss_max_mib"]) * 1024,
                "rss_max_mib": max(s[2] for s in samples) / 1024,
                "whole_cpu_per_audio_s": long["cpu_s"] / long["audio_s"],
                "bare_whole_cpu_per_audio_s": long["bare"]["cpu_s"] / long["bare"]["audio_s"],
                "maxrss_mib": long["maxrss_kb"] / 1024,
                "bare_maxrss_mib": long["bare"]["maxrss_kb"] / 1024,
                "stdout_kib": long["stdout_bytes"] / 1024,
                "partials": long["partials"],
            }
            summary["long"]["whole_cpu_ratio"] = (summary["long"]["whole_cpu_per_audio_s"] /
                                                  summary["long"]["bare_whole_cpu_per_audio_s"])
            if "bare_vosk" in long:
                other = long["bare_vosk"]
                summary["long"].update(
                    bare_vosk_whole_cpu_per_audio_s=other["cpu_s"] / other["audio_s"],
                    bare_vosk_maxrss_mib=other["maxrss_kb"] / 1024)
        return summary

    def summarize_vosk(self, sessions, runs):
        """The Vosk engine next to the bare Vosk recognizer: CPU and memory
        on the same padded audio, word errors on the same files."""
        ours, other = sessions["ours"], sessions["bare_vosk_padded"]
        pocketsphinx = sessions["bare_files"]

        def errors(pairs):
            return sum(edit_distance(words_of(r), words_of(h)) for r, h in pairs)

        words = sum(len(words_of(s["reference"])) for s in pocketsphinx)
        ours_errors = [errors([(s["reference"], s["text"]) for s in ours if s["run"] == run])
                       for run in runs]
        vosk_errors = errors([(b["reference"], b["text"]) for b in sessions["bare_vosk_files"]])
        ps_errors = errors([(b["reference"], b["text"]) for b in pocketsphinx])
        ours_cpu = [s["cpu_s"] / b["audio_s"] for s, b in zip(ours, other)]
        ours_rss = [s["maxrss_kb"] / 1024 for s in ours]
        vosk_rss = [b["maxrss_kb"] / 1024 for b in other]
        interpreter = sessions["bare_vosk_interpreter"]
        return {
            "version": self.vosk.version,
            "model": str(self.vosk.model),
            "words": words,
            # Word errors over all files; ours per run.
            "word_errors": {"ours": spread(ours_errors), "bare_vosk": vosk_errors,
                            "bare_pocketsphinx": ps_errors},
            "wer": {"ours": spread([e / words for e in ours_errors]),
                    "bare_vosk": vosk_errors / words, "bare_pocketsphinx": ps_errors / words},
            "errors_over_vosk": statistics.median(ours_errors) - vosk_errors,
            "wer_ratio_pocketsphinx": (statistics.median(ours_errors) / ps_errors
                                       if ps_errors else None),
            "cpu_per_audio_s": {"ours": spread(ours_cpu),
                                "bare_vosk": spread([b["cpu_s"] / b["audio_s"] for b in other])},
            "cpu_ratio": statistics.median(s["cpu_s"] / b["cpu_s"] for s, b in zip(ours, other)),
            "maxrss_mib": {"ours": spread(ours_rss), "bare_vosk": spread(vosk_rss)},
            "rss_ratio": statistics.median(ours_rss) / statistics.median(vosk_rss),
            # Python's own share of the anchor: importing vosk, loading nothing.
            "interpreter": {"cpu_s": interpreter["cpu_s"],
                            "maxrss_mib": interpreter["maxrss_kb"] / 1024},
        }


    def summarize_whisper(self, sessions, runs):
        """The product with the second pass next to bare whisper.cpp and
        bare Vosk: CPU against the two anchors' sum on the same padded
        audio (each in a process of its own, whole file), memory, and word
        errors on the same files."""
        ours, vosk = sessions["ours"], sessions["bare_vosk_padded"]
        whisper = sessions["bare_whisper_padded"]
        ours_cpu = [s["cpu_s"] / s_w["audio_s"] for s, s_w in zip(ours, whisper)]
        ratios = [s["cpu_s"] / (v["cpu_s"] + w["cpu_s"]) for s, v, w in zip(ours, vosk, whisper)]
        ours_rss = [s["maxrss_kb"] / 1024 for s in ours]
        words = sum(len(words_of(s["reference"])) for s in sessions["bare_whisper_files"])
        ours_wer = [word_error_rate([(s["reference"], s["text"]) for s in ours if s["run"] == run])
                    for run in runs]
        interpreter = sessions["bare_whisper_interpreter"]
        return {
            "library": str(self.whisper.library),
            "model": str(self.whisper.model),
            "cpu_per_audio_s": {
                "ours": spread(ours_cpu),
                "bare_whisper": spread([w["cpu_s"] / w["audio_s"] for w in whisper]),
                "bare_vosk": spread([v["cpu_s"] / v["audio_s"] for v in vosk]),
                "anchors": spread([(v["cpu_s"] + w["cpu_s"]) / w["audio_s"]
                                   for v, w in zip(vosk, whisper)])},
            "cpu_ratio": statistics.median(ratios),
            "maxrss_mib": {"ours": spread(ours_rss),
                           "bare_whisper": spread([w["maxrss_kb"] / 1024 for w in whisper]),
                           "bare_vosk": spread([v["maxrss_kb"] / 1024 for v in vosk])},
            "wer": {"ours": spread(ours_wer), "words": words,
                    "bare_whisper": word_error_rate([(b["reference"], b["text"])
                                                     for b in sessions["bare_whisper_files"]]),
                    "bare_vosk": word_error_rate([(b["reference"], b["text"])
                                                  for b in sessions["bare_vosk_files"]])},
            "interpreter": {"cpu_s": interpreter["cpu_s"],
                            "maxrss_mib": interpreter["maxrss_kb"] / 1024},
        }


def machine():
    model = ""
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        debian = Path("/etc/debian_version").read_text().strip()
    except OSError:
        debian = ""
    return {"nproc": os.cpu_count(), "cpu": model, "debian": debian,
            "kernel": platform.release(), "load_average": list(os.getloadavg())}


def fmt(s, digits=0, unit=""):
    if not s:
        return "—"
    f = f"{{:.{digits}f}}"
    return f"{f.format(s['median'])}{unit} ({f.format(s['min'])}–{f.format(s['max'])})"


def verdict(key, value):
    text, check = TARGETS[key]
    return text, ("yes" if check(value) else "**no**")


def markdown(summary, options, text=None):
    rows = ["| measurement | ours: median (min–max) | bare recognizer | ours/bare | target | met |",
            "|---|---|---|---|---|---|"]

    def row(name, ours, bare, ratio, key, value):
        target, met = verdict(key, value) if key else ("", "")
        rows.append(f"| {name} | {ours} | {bare} | {ratio} | {target} | {met} |")

    if "status_ms" in summary:
        s = summary["status_ms"]
        row("`status`, spawn to exit", fmt(s["ours"], 1, " ms"),
            f"`/bin/true`: {fmt(s['bin_true'], 1, ' ms')}", "", "status_ms", s["ours"]["median"])
    if "ready_ms" in summary:
        row("spawn to `ready`", fmt(summary["ready_ms"]["ours"], 0, " ms"), "", "",
            "ready_ms", summary["ready_ms"]["ours"]["median"])
        expired = summary["grace_expired"]
        row("`stop` to `final`", fmt(summary["stop_final_ms"]["ours"], 0, " ms") +
            (f", {expired} past the grace" if expired else ""), "", "",
            "stop_final_ms", summary["stop_final_ms"]["ours"]["median"])
        tail = summary["tail_ms"]["ours"]
        missing = summary["tail_missing"]
        rec = summary["tail_ms"]["recognizer"]
        rec_missing = summary["tail_recognizer_missing"]
        row("tail latency (last audio to last word)",
            fmt(tail, 0, " ms") + (f", {missing} without" if missing else ""),
            "streamed in audio time: " + fmt(rec, 0, " ms") +
            (f", {rec_missing} without" if rec_missing else ""), "",
            "tail_ms", tail["median"] if tail else float("inf"))
        early = summary["stop_last_word"]
        row("`stop` as the last word ends, to `final`",
            fmt(early["stop_final_ms"], 0, " ms") + f", p90 {early['p90_ms']:.0f} ms" +
            (f", {early['grace_expired']} past the grace" if early["grace_expired"] else ""),
            "", "",
            "stop_last_word_ms", early["stop_final_ms"]["median"])
        row("`stop` as the last word ends: words unlike the full pass / errors added",
            f"{early['differing_words']} / {early['added_errors']} of {early['full_words']}"
            + (f" ({early['compared']} of {early['sessions']} sessions)"
               if early["compared"] < early["sessions"] else ""),
            "", "", "stop_last_word_added_errors", early["added_errors"])
        e = summary["emission"]
        if e["median_ms"] is not None:
            row("word emission latency (word's end to first partial)",
                f"median {e['median_ms']:.0f} ms, p90 {e['p90_ms']:.0f} ms, {e['words']} words"
                + (f" ({e['untimed']} untimed)" if e["untimed"] else ""), "", "",
                "emission", (e["median_ms"], e["p90_ms"]))
        f = summary["flicker"]
        if f["share"] is not None:
            row("flicker (words shown in a partial that the final changes)",
                f"{f['share']:.1%} ({f['changed']} of {f['shown']})", "", "", None, None)
        c = summary["cpu_per_audio_s"]
        row("CPU s per audio s (whole process)", fmt(c["ours"], 3), fmt(c["bare"], 3),
            f"{summary['cpu_ratio']:.2f}×", "cpu_ratio", summary["cpu_ratio"])
        m = summary["maxrss_mib"]
        row("peak RSS (MiB)", fmt(m["ours"], 1), fmt(m["bare"], 1),
            f"{summary['rss_ratio']:.2f}×", "rss_ratio", summary["rss_ratio"])
        w = summary["wer"]
        row("word error rate, LibriVox recordings", fmt(w["ours"], 3),
            f"{w['bare']['median']:.3f}", f"{summary['wer_ratio']:.2f}×", "wer_ratio",
            summary["wer_ratio"])
    if text and "all" in text["summary"]:
        # The text-quality section's sessions: one run, every voice pooled.
        t = text["summary"]["all"]
        ratio = t["ours"]["wer"] / t["bare"]["wer"] if t["bare"]["wer"] else float("inf")
        row(f"word error rate, synthetic {text['set']} set ({', '.join(text['voices'])})",
            f"{t['ours']['wer']:.3f}", f"{t['bare']['wer']:.3f}", f"{ratio:.2f}×", "wer_ratio",
            ratio)
    if "long" in summary:
        long = summary["long"]
        minutes = round(long["seconds"] / 60, 1)
        first, last = long["first_minute"], long["last_minute"]
        row(f"{minutes:g}-minute session: CPU s per audio s, last minute / first",
            f"{last['cpu_per_audio_s']:.3f} / {first['cpu_per_audio_s']:.3f}", "",
            f"{long['cpu_ratio']:.2f}×", "long_cpu_ratio", long["cpu_ratio"])
        row(f"{minutes:g}-minute session: RSS, peak of last minute − first (MiB)",
            f"{last['rss_max_mib']:.1f} − {first['rss_max_mib']:.1f} = "
            f"{long['rss_growth_kb'] / 1024:+.1f}", "", "", "long_rss_growth_kb",
            long["rss_growth_kb"])
        row(f"{minutes:g}-minute session: CPU s per audio s, whole",
            f"{long['whole_cpu_per_audio_s']:.3f}", f"{long['bare_whole_cpu_per_audio_s']:.3f}",
            f"{long['whole_cpu_ratio']:.2f}×", None, None)
        row(f"{minutes:g}-minute session: peak RSS (MiB)", f"{long['maxrss_mib']:.1f}",
            f"{long['bare_maxrss_mib']:.1f}", f"{long['maxrss_mib'] / long['bare_maxrss_mib']:.2f}×",
            None, None)
    log = summary.get("engine_log")
    if log and log["lines"]:
        row("the engine library's log on standard error", engine_log_cell(log), "", "",
            "engine_log_lines", log["lines"])
    return markdown_with_details(rows, summary)


def markdown_with_details(rows, summary):
    """The table, then the input rates, the conditions and the long
    session's minutes, where measured."""
    lines = ((rows if len(rows) > 2 else []) + markdown_input_rates(summary) +
             markdown_conditions(summary))
    if "long" in summary:
        long = summary["long"]
        lines += ["", "Long session, minute by minute: " + ", ".join(
            f"{m['cpu_per_audio_s']:.3f} CPU s/s, {m['rss_max_mib']:.1f} MiB"
            for m in long["minutes"]) + f" ({long['partials']} partials, "
            f"{long['stdout_kib']:.0f} KiB of output)."]
    return "\n".join(lines)


def engine_log_cell(log):
    example = log["examples"][0] if log["examples"] else ""
    return (f"{log['lines']} lines from {log['runs']} runs" +
            (f", e.g. `{example[:90]}`" if example else ""))


def markdown_vosk(summary, text=None):
    """The Vosk engine's table: ours, the bare Vosk recognizer, bare
    PocketSphinx, and the ratio each target uses."""
    rows = ["| measurement | ours (Vosk engine) | bare Vosk | bare PocketSphinx | ratio | target "
            "| met |", "|---|---|---|---|---|---|---|"]

    def row(name, ours, vosk, pocketsphinx, ratio, key=None, value=None):
        target, met = verdict(key, value) if key else ("", "")
        rows.append(f"| {name} | {ours} | {vosk} | {pocketsphinx} | {ratio} | {target} | {met} |")

    v = summary.get("vosk")
    if v:
        e, w = v["word_errors"], v["words"]
        row("word error rate, LibriVox recordings (words wrong / total)",
            f"{fmt(v['wer']['ours'], 3)}; {e['ours']['median']:g}/{w}",
            f"{v['wer']['bare_vosk']:.3f}; {e['bare_vosk']}/{w}",
            f"{v['wer']['bare_pocketsphinx']:.3f}; {e['bare_pocketsphinx']}/{w}",
            "—" if v["wer_ratio_pocketsphinx"] is None else
            f"{v['wer_ratio_pocketsphinx']:.2f}× PocketSphinx", "vosk_wer_ratio",
            v["wer_ratio_pocketsphinx"])
        row("word errors, LibriVox recordings, over bare Vosk", f"{v['errors_over_vosk']:+g}",
            "", "", "", "vosk_errors_over", v["errors_over_vosk"])
    if text and "all" in text["summary"]:
        t = text["summary"]["all"]
        ps = t["bare"]["wer"]
        ratio = t["ours"]["wer"] / ps if ps else None
        other = t.get("vosk", {}).get("wer")
        row(f"word error rate, synthetic {text['set']} set ({', '.join(text['voices'])})",
            f"{t['ours']['wer']:.3f}", "—" if other is None else f"{other:.3f}", f"{ps:.3f}",
            "—" if ratio is None else f"{ratio:.2f}× PocketSphinx", "vosk_synthetic_ratio", ratio)
        fer = t["ours"].get("fer_over_wer")
        row("formatted error rate, synthetic set", f"{t['ours']['fer']:.3f}", "", "",
            "—" if fer is None else f"{fer:.2f}× WER", "vosk_fer_ratio", fer)
    if "conditions" in summary and all("bare_vosk_wer" in c for c in summary["conditions"]):
        worse = [c for c in summary["conditions"] if c["wer"] > c["bare_vosk_wer"] + 1e-9]
        row("word error rate, each microphone condition (table below)",
            f"{len(summary['conditions']) - len(worse)} of {len(summary['conditions'])} "
            "at most bare Vosk's" + (f"; worse: {', '.join(c['condition'] for c in worse)}"
                                     if worse else ""), "", "", "",
            "vosk_condition_wer", max(c["wer"] - c["bare_vosk_wer"]
                                      for c in summary["conditions"]))
    if v:
        c, m = v["cpu_per_audio_s"], v["maxrss_mib"]
        row("CPU s per audio s (whole process)", fmt(c["ours"], 3), fmt(c["bare_vosk"], 3),
            fmt(summary["cpu_per_audio_s"]["bare"], 3), f"{v['cpu_ratio']:.2f}× Vosk",
            "vosk_cpu_ratio", v["cpu_ratio"])
        row("peak RSS (MiB)", fmt(m["ours"], 1), fmt(m["bare_vosk"], 1),
            fmt(summary["maxrss_mib"]["bare"], 1), f"{v['rss_ratio']:.2f}× Vosk",
            "vosk_rss_ratio", v["rss_ratio"])
        i = v["interpreter"]
        row("bare Vosk's Python alone (vosk imported, no model)", "",
            f"{i['maxrss_mib']:.1f} MiB, {i['cpu_s']:.2f} CPU s", "", "")
    if "ready_ms" in summary:
        row("spawn to `ready`", fmt(summary["ready_ms"]["ours"], 0, " ms"), "", "", "",
            "ready_ms", summary["ready_ms"]["ours"]["median"])
        expired = summary["grace_expired"]
        row("`stop` 1 s after the speech, to `final`",
            fmt(summary["stop_final_ms"]["ours"], 0, " ms") +
            (f", {expired} past the grace" if expired else ""), "", "", "")
        early = summary["stop_last_word"]
        row("`stop` as the last word ends (bare Vosk's word times), to `final`",
            fmt(early["stop_final_ms"], 0, " ms") + f", p90 {early['p90_ms']:.0f} ms" +
            (f", {early['grace_expired']} past the grace" if early["grace_expired"] else ""),
            "", "", "", "stop_last_word_ms", early["stop_final_ms"]["median"])
        row("`stop` as the last word ends: words unlike the full pass / errors added",
            f"{early['differing_words']} / {early['added_errors']} of {early['full_words']}",
            "", "", "")
        e = summary["emission"]
        if e["median_ms"] is not None:
            row("word emission latency (word's end to first partial)",
                f"median {e['median_ms']:.0f} ms, p90 {e['p90_ms']:.0f} ms, {e['words']} words"
                + (f" ({e['untimed']} untimed)" if e["untimed"] else ""), "", "", "",
                "vosk_emission", (e["median_ms"], e["p90_ms"]))
        tail = summary["tail_ms"]["ours"]
        row("tail latency (last audio to last word)", fmt(tail, 0, " ms"), "", "", "")
        f = summary["flicker"]
        if f["share"] is not None:
            row("flicker (words shown in a partial that the final changes)",
                f"{f['share']:.1%} ({f['changed']} of {f['shown']})", "", "", "")
    if "status_ms" in summary:
        s = summary["status_ms"]
        row("`status`, spawn to exit", fmt(s["ours"], 1, " ms") +
            f"; `/bin/true`: {fmt(s['bin_true'], 1, ' ms')}", "", "", "", "status_ms",
            s["ours"]["median"])
    if "long" in summary:
        long = summary["long"]
        minutes = round(long["seconds"] / 60, 1)
        first, last = long["first_minute"], long["last_minute"]
        row(f"{minutes:g}-minute session: RSS, peak of last minute − first (MiB)",
            f"{last['rss_max_mib']:.1f} − {first['rss_max_mib']:.1f} = "
            f"{long['rss_growth_kb'] / 1024:+.1f}", "", "", "", "long_rss_growth_kb",
            long["rss_growth_kb"])
        row(f"{minutes:g}-minute session: CPU s per audio s, last minute / first",
            f"{last['cpu_per_audio_s']:.3f} / {first['cpu_per_audio_s']:.3f}", "", "",
            f"{long['cpu_ratio']:.2f}×")
        other = long.get("bare_vosk_whole_cpu_per_audio_s")
        row(f"{minutes:g}-minute session: CPU s per audio s, whole",
            f"{long['whole_cpu_per_audio_s']:.3f}", "—" if other is None else f"{other:.3f}",
            f"{long['bare_whole_cpu_per_audio_s']:.3f}",
            "" if not other else f"{long['whole_cpu_per_audio_s'] / other:.2f}× Vosk")
        other = long.get("bare_vosk_maxrss_mib")
        row(f"{minutes:g}-minute session: peak RSS (MiB)", f"{long['maxrss_mib']:.1f}",
            "—" if other is None else f"{other:.1f}", f"{long['bare_maxrss_mib']:.1f}",
            "" if not other else f"{long['maxrss_mib'] / other:.2f}× Vosk")
    log = summary.get("engine_log")
    if log:
        row("the engine library's log on standard error (libvosk's own)", engine_log_cell(log),
            "", "", "", "engine_log_lines", log["lines"])
    return markdown_with_details(rows, summary)


def real_groups(text_summary):
    """The real recordings' groups of the text section: the test sets
    pooled, each test set, the dev sets pooled, each dev set."""
    import text_quality
    sets = [v for v in text_summary if text_quality.recorded(v)
            and v not in text_quality.REAL_POOLS]
    test = [v for v in sets if not v.endswith(" dev")]
    dev = [v for v in sets if v.endswith(" dev")]
    return ([g for g in ("real:test",) if g in text_summary] + test
            + [g for g in ("real:dev",) if g in text_summary] + dev)


def markdown_whisper(summary, text=None, second_pass=True):
    """The table of the Whisper second pass: ours, bare whisper.cpp and
    bare Vosk from the same run, and the ratio each target uses."""
    rows = ["| measurement | ours" + ("" if second_pass else " (without the second pass)") +
            " | bare Whisper | bare Vosk | ratio | target | met |",
            "|---|---|---|---|---|---|---|"]

    def row(name, ours, whisper, vosk, ratio, key=None, value=None):
        target, met = verdict(key, value) if key else ("", "")
        rows.append(f"| {name} | {ours} | {whisper} | {vosk} | {ratio} | {target} | {met} |")

    def wer_row(name, group, key):
        o, w, v = (group.get(k, {}).get("wer") for k in ("ours", "whisper", "vosk"))
        errors = group["ours"]["counts"]
        cell = f"{o:.3f} ({errors.get('word_errors', 0)}/{errors.get('words', 0)})"
        if w is None or v is None:
            row(name, cell, "—", "—", "")
            return
        ratio = (f"{o / w:.2f}× Whisper" if w else "—") + (f", {o / v:.2f}× Vosk" if v else "")
        row(name, cell, f"{w:.3f}", f"{v:.3f}", ratio, key, (o, w, v))

    t = text["summary"] if text else {}
    labels = {"real:test": "real speech, test sets pooled", "real:dev": "real speech, dev sets "
              "pooled (tuned on)"}
    for group in real_groups(t):
        label = labels.get(group, group + (" (dev)" if group.endswith(" dev") else ""))
        wer_row(f"word error, {label}", t[group],
                None if group.endswith("dev") else "whisper_real_wer")
    if "all" in t:
        wer_row(f"word error, synthetic {text['set']} set ({', '.join(text['voices'])})",
                t["all"], "whisper_wer")
    conditions = summary.get("conditions", [])
    if conditions and all("bare_whisper_wer" in c and "bare_vosk_wer" in c for c in conditions):
        check = TARGETS["whisper_wer"][1]
        missed = [c for c in conditions
                  if not check((c["wer"], c["bare_whisper_wer"], c["bare_vosk_wer"]))]
        row("word error, each microphone condition (table below)",
            f"{len(conditions) - len(missed)} of {len(conditions)} meet it" +
            (f"; not: {', '.join(c['condition'] for c in missed)}" if missed else ""), "", "", "",
            "whisper_wer", (0, 0, 1) if not missed else (1, 0, 0))
    if "all" in t:
        o, w, v = (t["all"].get(k, {}) for k in ("ours", "whisper", "vosk"))
        row("formatted error / word error, synthetic set",
            f"{o['fer']:.3f} / {o['wer']:.3f}",
            f"{w['fer']:.3f} / {w['wer']:.3f}" if w else "—",
            f"{v['fer']:.3f} / {v['wer']:.3f}" if v else "—",
            f"{o['fer'] / o['wer']:.2f}× WER" if o["wer"] else "")
        row("spoken commands → marks (synthetic set); words wrongly marked",
            f"{o['counts'].get('commands_converted', 0)}/{o['commands']} "
            f"({(o['commands_converted'] or 0):.0%}); {o['wrongly_marked']}",
            f"{w['counts'].get('commands_converted', 0)}/{w['commands']}; {w['wrongly_marked']}"
            if w else "—", "", "", "whisper_commands",
            (o["commands_converted"] or 0, o["wrongly_marked"]))
    if "stop_last_word" in summary:
        early = summary["stop_last_word"]
        row("`stop` as the last word ends, to `final`",
            fmt(early["stop_final_ms"], 0, " ms") + f", p90 {early['p90_ms']:.0f} ms" +
            (f", {early['grace_expired']} past the grace" if early["grace_expired"] else ""),
            "", "", "", "whisper_stop_last_word",
            (early["stop_final_ms"]["median"], early["p90_ms"]))
        e = summary["emission"]
        if e["median_ms"] is not None:
            row("word emission latency (word's end to first partial holding it)",
                f"median {e['median_ms']:.0f} ms, p90 {e['p90_ms']:.0f} ms, {e['words']} words",
                "", "", "", "vosk_emission", (e["median_ms"], e["p90_ms"]))
    if "noise" in summary:
        n = summary["noise"]
        anchors = n["anchors"]

        def said(system):
            texts = [f"{kind}: {a[system]!r}" for kind, a in anchors.items() if system in a]
            return "; ".join(texts) if texts else "—"

        row(f"{NOISE_SECONDS} s of room noise, nobody speaking: finals not empty",
            f"{n['not_empty']} of {n['sessions']}" +
            (f" ({'; '.join(repr(x) for x in n['texts'][:3])})" if n["texts"] else ""),
            said("bare_whisper"), said("bare_vosk"), "", "whisper_noise", n["not_empty"])
    w = summary.get("whisper")
    if w:
        c, m = w["cpu_per_audio_s"], w["maxrss_mib"]
        row("CPU s per audio s (whole process; anchors: each in its own process, file whole)",
            fmt(c["ours"], 3), fmt(c["bare_whisper"], 3), fmt(c["bare_vosk"], 3),
            f"{w['cpu_ratio']:.2f}× (Vosk + Whisper: {fmt(c['anchors'], 3)})",
            "whisper_cpu_ratio", w["cpu_ratio"])
        row("peak RSS (MiB; the target on the highest)", fmt(m["ours"], 1),
            fmt(m["bare_whisper"], 1), fmt(m["bare_vosk"], 1), "", "whisper_rss_mib",
            m["ours"]["max"])
        i = w["interpreter"]
        row("bare Whisper's Python alone (numpy, libwhisper loaded, no model)", "",
            f"{i['maxrss_mib']:.1f} MiB, {i['cpu_s']:.2f} CPU s", "", "")
        o = w["wer"]
        row(f"word error, LibriVox, `stop` 1 s after the speech ({o['words']} words)",
            fmt(o["ours"], 3), f"{o['bare_whisper']:.3f}", f"{o['bare_vosk']:.3f}", "")
    if "ready_ms" in summary:
        row("spawn to `ready`", fmt(summary["ready_ms"]["ours"], 0, " ms"), "", "", "",
            "ready_ms", summary["ready_ms"]["ours"]["median"])
        row("`stop` 1 s after the speech, to `final`",
            fmt(summary["stop_final_ms"]["ours"], 0, " ms"), "", "", "")
    return "\n".join(rows)


def markdown_input_rates(summary):
    if "input_rates" not in summary:
        return []
    wer = {(r["rate"], r["channels"]): r["wer"] for r in summary["input_rates"]}
    lines = ["", f"Word error rate by the microphone's format ({', '.join(RATE_REPORT_SET)}):",
             "", "| microphone | mono | stereo |", "|---|---|---|"]
    for rate in INPUT_RATES:
        cells = [f"{wer[(rate, c)]:.3f}" if (rate, c) in wer else "—" for c in (1, 2)]
        lines.append(f"| {rate / 1000:g} kHz | {cells[0]} | {cells[1]} |")
    return lines


def markdown_conditions(summary):
    if "conditions" not in summary:
        return []
    lines = ["", "Word error rate by what the microphone hears (the LibriVox recordings, "
             "made by bench/mic_conditions.py):", ""]
    if all("bare_whisper_wer" in r and "bare_vosk_wer" in r for r in summary["conditions"]):
        lines += ["| condition | ours | bare Whisper | bare Vosk | bare PocketSphinx | "
                  "ours/bare Whisper | target | met |", "|---|---|---|---|---|---|---|---|"]
        for r in summary["conditions"]:
            w, v = r["bare_whisper_wer"], r["bare_vosk_wer"]
            ratio = f"{r['wer'] / w:.2f}×" if w else ""
            target, met = verdict("whisper_wer", (r["wer"], w, v))
            lines.append(f"| {r['condition']}: {r['what']} | {r['wer']:.3f} | {w:.3f} | "
                         f"{v:.3f} | {r['bare_wer']:.3f} | {ratio} | {target} | {met} |")
        return lines
    if all("bare_vosk_wer" in r for r in summary["conditions"]):
        lines += ["| condition | ours | bare Vosk | bare PocketSphinx | ours/bare Vosk | target "
                  "| met |", "|---|---|---|---|---|---|---|"]
        for r in summary["conditions"]:
            ratio = f"{r['wer'] / r['bare_vosk_wer']:.2f}×" if r["bare_vosk_wer"] else ""
            target, met = verdict("vosk_condition_wer", r["wer"] - r["bare_vosk_wer"])
            lines.append(f"| {r['condition']}: {r['what']} | {r['wer']:.3f} | "
                         f"{r['bare_vosk_wer']:.3f} | {r['bare_wer']:.3f} | {ratio} | {target} "
                         f"| {met} |")
        return lines
    lines += ["| condition | ours | bare recognizer | ours/bare | target | met |",
              "|---|---|---|---|---|---|"]
    for r in summary["conditions"]:
        ratio = f"{r['wer'] / r['bare_wer']:.2f}×" if r["bare_wer"] else ""
        target, met = verdict("condition_wer", r["wer"] - r["bare_wer"])
        lines.append(f"| {r['condition']}: {r['what']} | {r['wer']:.3f} | {r['bare_wer']:.3f} | "
                     f"{ratio} | {target} | {met} |")
    return lines


def self_test():
    """The second pass's verdicts, the order of the real sets' rows, the
    copy without whisper.cpp and bare whisper.cpp's cache key: no product,
    no timing."""
    real, synthetic = TARGETS["whisper_real_wer"][1], TARGETS["whisper_wer"][1]
    # (ours, bare Whisper, bare Vosk): 10 % over Whisper is relative, and
    # the synthetic and noisy sets must beat Vosk outright.
    for value, want_real, want_synthetic in [
            ((0.11, 0.10, 0.20), True, True), ((0.111, 0.10, 0.20), False, False),
            ((0.10, 0.10, 0.16), False, True), ((0.10, 0.10, 0.10), False, False),
            ((0.0, 0.0, 0.0), True, False)]:
        assert real(value) == want_real and synthetic(value) == want_synthetic, value
    assert TARGETS["whisper_stop_last_word"][1]((799, 1499))
    assert not TARGETS["whisper_stop_last_word"][1]((700, 1500))
    assert TARGETS["whisper_commands"][1]((0.9, 0)) and not TARGETS["whisper_commands"][1]((1.0, 1))
    groups = {"slt": 0, "all": 0, "kind:marks": 0, "librivox": 0, "sonnets test": 0,
              "sonnets dev": 0, "cards dev": 0, "real:test": 0, "real:dev": 0}
    assert real_groups(groups) == ["real:test", "librivox", "sonnets test", "real:dev",
                                   "sonnets dev", "cards dev"], real_groups(groups)
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        (work / "build" / "vosk").mkdir(parents=True)
        (work / "build" / "whisper").mkdir()
        binary = work / "build" / "quorvane-dictation"
        binary.write_text("#!/bin/sh\n")
        copy = without_second_pass(binary, work)
        assert sorted(p.name for p in copy.parent.iterdir()) == ["quorvane-dictation", "vosk"]
        assert (copy.parent / "vosk").resolve() == (work / "build" / "vosk").resolve()
        parts = work / "build" / "whisper"
        (parts / "model").mkdir()
        (parts / "libwhisper.so.1").write_bytes(b"lib")
        (parts / "model" / "ggml-base.bin").write_bytes(b"lmgg")
        whisper = BareWhisper(parts, work / "cache")
        a, b = work / "a.wav", work / "b.wav"
        write_wav(a, silence(0.1))
        write_wav(b, silence(0.2))
        whisper._keep(a, "kept")
        assert whisper._kept(a) == "kept" and whisper._kept(b) is None
        (parts / "model" / "ggml-base.bin").write_bytes(b"lmgg, another model")
        assert BareWhisper(parts, work / "cache")._kept(a) is None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", default="build/quorvane-dictation",
                        help="the product executable (default: %(default)s, from the repository)")
    parser.add_argument("--runs", type=int, help="repetitions (default 5; 2 with --quick)")
    parser.add_argument("--quick", action="store_true",
                        help="fewer repetitions and a 1-minute long session")
    parser.add_argument("--long-seconds", type=float,
                        help="length of the long session (default 300; 60 with --quick; 0 skips it)")
    parser.add_argument("--only", choices=["status", "sessions", "rates", "conditions", "noise",
                                           "long", "text"], action="append",
                        help="run only these measurements (may repeat)")
    parser.add_argument("--text-set", default="test", choices=["dev", "test"],
                        help="the dictation sentences of the text-quality section "
                        "(default: %(default)s; dev is for tuning)")
    parser.add_argument("--engine", default="vosk", choices=["vosk", "pocketsphinx"],
                        help="the product's engine: vosk (the binary where it is, next to the "
                        "bare Vosk recognizer and bare PocketSphinx) or pocketsphinx (the binary "
                        "copied alone, without vosk/ beside it, next to bare PocketSphinx; "
                        "default: %(default)s)")
    parser.add_argument("--vosk-model",
                        help="the Vosk model folder of the bare Vosk recognizer (default: "
                        "vosk/model/en-us beside the binary, the product's own)")
    parser.add_argument("--vosk-venv", default=str(VOSK_VENV),
                        help=f"the virtual environment of PyPI's vosk {VOSK_VERSION}, made "
                        "when missing (default: %(default)s)")
    parser.add_argument("--whisper-parts",
                        help="the libwhisper.so.1 and model/ggml-*.bin of bare whisper.cpp "
                        "(default: whisper/ beside the binary, the product's own)")
    parser.add_argument("--no-second-pass", action="store_true",
                        help="measure a copy of the binary with only vosk/ beside it, no "
                        "whisper.cpp: Vosk's words alone, next to the same anchors")
    parser.add_argument("--real", choices=["test", "all"],
                        help="the real recordings of the text section (bench/real_speech.py): "
                        "the test sets, or all with the dev sets (default: all; test with "
                        "--quick)")
    parser.add_argument("--noise-sessions", type=int,
                        help=f"sessions of {NOISE_SECONDS} s of room noise (default 6; 2 with "
                        "--quick)")
    parser.add_argument("--json", help="where to write the figures (default: under /tmp)")
    parser.add_argument("--rescore", metavar="JSON",
                        help="no run: an earlier run's tables, computed again from its JSON")
    parser.add_argument("--check", action="store_true",
                        help="the benchmark's own checks only (no product, no timing)")
    options = parser.parse_args()
    if options.check:
        self_test()
        print("bench: self-test passed")
        return
    if options.rescore:
        report = rescore(options.rescore, options)
        if options.json:
            Path(options.json).write_text(json.dumps(report, indent=1))
            print(f"JSON: {options.json}")
        return
    runs = options.runs or (2 if options.quick else 5)
    long_seconds = options.long_seconds
    if long_seconds is None:
        long_seconds = 60.0 if options.quick else 300.0
    only = set(options.only or ["status", "sessions", "rates", "conditions", "noise", "long",
                                "text"])
    if long_seconds <= 0:
        only.discard("long")
    json_path = Path(options.json or time.strftime("/tmp/quorvane-bench-%Y%m%d-%H%M%S.json"))

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    bench = Bench(options)
    started = datetime.datetime.now()
    text = None
    try:
        if "status" in only:
            bench.log(f"status: {runs * 10} runs, each next to /bin/true")
            bench.measure_status(runs)
        if "sessions" in only:
            bench.log(f"sessions: {runs} × {len(bench.samples)} recordings, each with the bare "
                      "recognizer" + ("s" if bench.vosk else ""))
            bench.measure_sessions(runs)
        if "rates" in only and not (options.quick and not options.only):
            bench.log("input rates: " + ", ".join(f"{r / 1000:g}" for r in INPUT_RATES) + " kHz")
            bench.measure_input_rates(options.quick)
        if "conditions" in only:
            bench.log("microphone conditions")
            bench.measure_conditions(options.quick)
        if "noise" in only and bench.vosk:
            sessions = options.noise_sessions or (2 if options.quick else 6)
            bench.log(f"room noise: {sessions} sessions of {NOISE_SECONDS} s, nobody speaking")
            bench.measure_noise(sessions)
        if "long" in only:
            bench.log(f"long session: {long_seconds:g} s")
            bench.measure_long(long_seconds)
        if "text" in only:
            import text_quality
            real = None
            if bench.vosk:
                real = text_quality.real_recordings(
                    options.real or ("test" if options.quick else "all"), bench.log)
            text = text_quality.measure(bench.product_binary, options.text_set,
                                        quick=options.quick, log=bench.log, vosk=bench.vosk,
                                        whisper=bench.whisper, real=real)
    finally:
        bench.close()
    summary = bench.summarize()
    report = {
        "date": started.isoformat(timespec="seconds"),
        "binary": str(bench.binary),
        "engine": bench.engine,
        # What the product found beside itself; the Vosk engine needs both.
        "vosk_beside_binary": bench.vosk_beside,
        "bare_vosk": ({"pypi_version": bench.vosk.version, "model": str(bench.vosk.model),
                       "venv": str(bench.vosk.venv)} if bench.vosk else None),
        "bare_whisper": ({"library": str(bench.whisper.library.resolve()),
                          "model": str(bench.whisper.model.resolve())}
                         if bench.whisper else None),
        # Whether the product measured had whisper.cpp beside it.
        "second_pass": bench.second_pass,
        "runs": runs,
        "machine": machine(),
        "command": " ".join(["scripts/bench", *sys.argv[1:]]),
        "summary": summary,
        "raw": bench.results,
    }
    if text:
        report["text_quality"] = text
    json_path.write_text(json.dumps(report, indent=1))
    print_tables(report, options, os.getloadavg())
    print(f"JSON: {json_path}")


def print_tables(report, options, load_at_end):
    summary, text = report["summary"], report.get("text_quality")
    whisper, vosk = report.get("bare_whisper"), report.get("bare_vosk")
    m = report["machine"]
    if summary or text:
        if whisper and vosk:
            print(("The product with the Whisper second pass" if report["second_pass"] else
                   "The product without the Whisper second pass (only vosk/ beside a copy)") +
                  f" next to bare whisper.cpp ({Path(whisper['library']).name}, "
                  f"{Path(whisper['model']).name}, the whole file, the full 30 s window, "
                  "greedy) and the bare Vosk recognizer, from this run. Real speech: test sets "
                  "LibriVox, sonnets 2-3 and the telephone conversation; dev sets (for "
                  "tuning, left out with --quick) sonnet 1, cards and goforward.")
            print()
            print(markdown_whisper(summary, text, report["second_pass"]))
            print()
        if vosk:
            print(f"The product's Vosk engine next to the bare Vosk recognizer (PyPI vosk "
                  f"{vosk['pypi_version']}, {vosk['model']}) and bare PocketSphinx.")
            print()
            print(markdown_vosk(summary, text))
        else:
            print(markdown(summary, options, text))
        print()
    if text:
        import text_quality
        print(text_quality.markdown(text["summary"], text["set"], text["voices"]))
        print()
    print(f"{m['nproc']} cores, {m['cpu']}, Debian {m['debian']}; load average "
          f"{m['load_average'][0]:.1f} at the start, {load_at_end[0]:.1f} at the end; "
          f"{report['runs']} runs; `{report['command']}`")


def rescore(path, options):
    """An earlier run's tables, its figures computed again from its raw
    results and texts with the current metrics."""
    import text_quality
    from types import SimpleNamespace
    report = json.loads(Path(path).read_text())
    for condition in report["raw"].get("conditions", []):
        for key, wer in (("ours", "wer"), ("bare", "bare_wer"), ("bare_vosk", "bare_vosk_wer"),
                         ("bare_whisper", "bare_whisper_wer")):
            if key in condition:
                condition[wer] = word_error_rate(condition[key])
    bench = Bench.__new__(Bench)
    bench.results = report["raw"]
    vosk, whisper = report.get("bare_vosk"), report.get("bare_whisper")
    bench.vosk = SimpleNamespace(version=vosk["pypi_version"], model=vosk["model"]) if vosk else None
    bench.whisper = (SimpleNamespace(library=Path(whisper["library"]), model=Path(whisper["model"]))
                     if whisper else None)
    Product.engine_log = report["summary"].get("engine_log", Product.engine_log)
    report["summary"] = bench.summarize()
    if "text_quality" in report:
        with tempfile.NamedTemporaryFile("w", suffix=".json") as kept:
            json.dump(report["text_quality"], kept)
            kept.flush()
            report["text_quality"] = text_quality.rescore(kept.name)
    print_tables(report, options, report["machine"]["load_average"])
    return report

if __name__ == "__main__":
    import text_quality  # noqa: E402
    try:
        main()
    except (BenchError, text_quality.TextBenchError) as error:
        sys.exit(f"bench: {error}")
