#!/usr/bin/env python3
"""Text quality of quorvane-dictation: words, capitals, marks and numbers.

Speaks the dictation sentences of bench/text/ (dev.tsv for tuning,
test.tsv for reporting) with several espeak-ng and flite voices, pauses as
real silence, and plays each one into a private PulseAudio server at
real-time pace, one `listen` session per sentence, as a host would use the
product. The bare recognizer (`pocketsphinx_continuous -infile`, same
model) decodes the same audio in the same run; with --vosk-model, so does
the bare Vosk recognizer (PyPI's vosk, bench/vosk_decode.py), and with
--whisper-parts bare whisper.cpp (bench/whisper_decode.py, each file whole).
The LibriVox recordings of pocketsphinx-testdata are measured the same way,
on words and capitals only; with --real, every set of real recordings of
bench/real_speech.py (its dev sets and its test sets, pooled apart).

    python3 bench/text_quality.py --set dev --binary build/quorvane-dictation
    python3 bench/text_quality.py --set test --voices slt,klatt --json out.json
    python3 bench/text_quality.py --set test --vosk-model build/vosk/model/en-us
    python3 bench/text_quality.py --set test --whisper-parts build/whisper --real
    python3 bench/text_quality.py --check          # the corpus is consistent

What it reports, per voice and over all voices (ours next to bare):

  WER            word error rate on the words alone: lower case, marks
                 dropped, numbers read out the way that best matches what was
                 said, spoken punctuation commands ("comma", "full stop", ...)
                 left out on both sides; "no commands": the sentences without
                 spoken commands
  cased WER      the same over the written words with their capitals
  FER            formatted error rate: edit distance over tokens where case
                 counts and every mark (, . ? ! : ; line feed, paragraph) is
                 a token, per reference token
  commands       spoken commands written as their mark in their place;
                 "heard" counts those whose words the text holds instead
                 (the bare recognizer's figure is how many it hears at all)
  as words       punctuation words meant as words ("the period of time"):
                 kept as the word, and wrongly written as the mark
  marks          precision and recall per mark, over all voices; recall of
                 the marks that were spoken and of those left to the pauses
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import queue
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import text_metrics as tm  # noqa: E402
from private_audio_server import (  # noqa: E402
    FRAME_BYTES, RATE, PrivateAudioServer, read_pcm)

TEXT_DIR = HERE / "text"
LIBRIVOX_DIR = Path("/usr/share/pocketsphinx/test/data/librivox")
SHORT_PAUSE = 0.3  # "/": a breath, a thinking pause, the pause after a command
SENTENCE_PAUSE = 0.8  # "//": between sentences
EDGE = 0.1  # silence kept at each end of a spoken stretch, part of the pause
TRIM_DB = -60  # the level below which a voice's own lead-in and tail count as silence

# name: (engine, voice, speed). espeak-ng speed is words per minute, flite's
# a duration stretch. PocketSphinx understands espeak-ng's Klatt voices;
# its default voices ("us", "gb") come out mostly as noise.
VOICES = {
    "slt": ("flite", "slt", 1.0),
    "rms": ("flite", "rms", 1.1),
    "awb": ("flite", "awb", 1.0),
    "kal16": ("flite", "kal16", 0.95),
    "klatt": ("espeak-ng", "en-us+klatt", 150),
    "klatt4": ("espeak-ng", "en-us+klatt4", 175),
    "us": ("espeak-ng", "en-us", 160),
    "gb": ("espeak-ng", "en-gb+f3", 150),
}
DEFAULT_VOICES = ["slt", "awb", "klatt"]
QUICK_VOICES = ["slt", "klatt"]

TARGET_FER_RATIO = 1.2
# Bare whisper.cpp's texts, kept by audio, library and model.
WHISPER_CACHE = Path(tempfile.gettempdir()) / "quorvane-whisper-texts"
# The pooled groups of the real recordings, by their role.
REAL_POOLS = ("real:test", "real:dev")
TARGET_COMMANDS = 0.9


class TextBenchError(RuntimeError):
    pass


def recorded(voice):
    """Whether a task or a summary's group is of recorded speech (a set of
    real recordings, or their pool), not of the TTS voices."""
    return voice not in VOICES and voice != "all" and not voice.startswith("kind:")


# The corpus

_SPOKEN = re.compile(r"\{([^}]*)\}|//|/(\d+(?:\.\d+)?)?|[^\s{}/]+")


@dataclass
class Item:
    id: str
    kind: str
    spoken: str
    reference: str
    wav: Path = None  # for recordings
    chunks: list = field(default_factory=list)  # [(words, pause after)]
    said: list = field(default_factory=list)  # every spoken word
    commands: list = field(default_factory=list)  # [(start, end, mark)] in said
    ref_tokens: list = field(default_factory=list)
    command_marks: set = field(default_factory=set)  # reference indices
    meant_as_words: list = field(default_factory=list)  # [(reference indices, mark)]
    problems: list = field(default_factory=list)

    @property
    def plain_words(self):
        """The spoken words that are not commands."""
        inside = {k for s, e, _ in self.commands for k in range(s, e)}
        return [w for k, w in enumerate(self.said) if k not in inside]

    @property
    def words(self):
        """The words of the word error rate."""
        return tm.drop_commands(self.plain_words)


def parse_item(fields, wav=None):
    item = Item(fields[0], fields[1], fields[2], fields[3].replace("\\n", "\n"), wav)
    current = []
    for match in _SPOKEN.finditer(item.spoken):
        token = match.group(0)
        if token.startswith("/"):
            seconds = (SENTENCE_PAUSE if token == "//" else
                       float(match.group(2)) if match.group(2) else SHORT_PAUSE)
            if current:
                item.chunks.append((current, seconds))
                current = []
            elif item.chunks:
                words, pause = item.chunks[-1]
                item.chunks[-1] = (words, pause + seconds)
            continue
        if match.group(1) is not None:
            words = match.group(1).split()
            mark = tm.COMMANDS.get(tuple(words))
            if mark is None:
                item.problems.append(f"unknown command {{{match.group(1)}}}")
                continue
            item.commands.append((len(item.said), len(item.said) + len(words), mark))
        else:
            words = [token]
        item.said += words
        current += words
    if current:
        item.chunks.append((current, 0.0))
    analyse(item)
    return item


def analyse(item):
    """Which reference marks were spoken, which reference words are
    punctuation words meant as words; notes where the reference's words,
    read out, are not the spoken ones."""
    item.ref_tokens = tm.tokens(item.reference)
    plain = item.plain_words
    parts = tm.read_out(item.ref_tokens, plain)
    if tm.flatten(parts) != plain:
        item.problems.append(f"reference reads {' '.join(tm.flatten(parts))!r}, "
                             f"spoken {' '.join(plain)!r}")
        return
    # A spoken command sits after so many plain words; the reference mark of
    # its kind after as many words is the one it stands for.
    inside = {k for s, e, _ in item.commands for k in range(s, e)}
    pending, plain_before = [], 0
    for k in range(len(item.said)):
        command = next((c for c in item.commands if c[0] == k), None)
        if command:
            pending.append((plain_before, command[2]))
        if k not in inside:
            plain_before += 1
    words_before, word_tokens = 0, []
    lengths = iter(len(words) for _, words in parts)
    for index, token in enumerate(item.ref_tokens):
        if tm.is_mark(token):
            hit = next((p for p in pending if p == (words_before, token)), None)
            if hit:
                pending.remove(hit)
                item.command_marks.add(index)
        else:
            words_before += next(lengths)
            word_tokens.append(index)
    for where, mark in pending:
        item.problems.append(f"no {tm.mark_name(mark)} in the reference after word {where}")
    lower = [item.ref_tokens[i].lower() for i in word_tokens]
    for start, end, mark in tm.command_spans(lower):
        item.meant_as_words.append(([word_tokens[k] for k in range(start, end)], mark))


def load_set(name):
    path = TEXT_DIR / f"{name}.tsv"
    lines = path.read_text().splitlines()
    items = []
    for number, line in enumerate(lines[1:], 2):
        if not line.strip():
            continue
        fields = line.split("\t")
        if len(fields) != 4:
            raise TextBenchError(f"{path}:{number}: {len(fields)} columns, not 4")
        wav = LIBRIVOX_DIR / f"{fields[0]}.wav" if name == "librivox" else None
        items.append(parse_item(fields, wav))
    return items


# Scoring one text

def score(item, text):
    """Counts that add up over items: errors and totals of each rate,
    marks, commands."""
    hyp = tm.tokens(text)
    c = {}
    ref_words = item.words
    hyp_words = tm.drop_commands(tm.flatten(tm.read_out(hyp, ref_words)))
    c["word_errors"], c["words"] = tm.distance(ref_words, hyp_words), len(ref_words)
    ref_cased = [t for t in item.ref_tokens if not tm.is_mark(t)]
    hyp_cased = [t for t in hyp if not tm.is_mark(t)]
    c["cased_errors"], c["cased_words"] = tm.distance(ref_cased, hyp_cased), len(ref_cased)
    c["format_errors"], c["tokens"] = tm.distance(item.ref_tokens, hyp), len(item.ref_tokens)

    ref_lower, hyp_lower = [t.lower() for t in item.ref_tokens], [t.lower() for t in hyp]
    steps = tm.align(ref_lower, hyp_lower)
    hit = tm.matched(steps, ref_lower, hyp_lower)
    marks = {}
    for t in item.ref_tokens:
        if tm.is_mark(t):
            marks.setdefault(tm.mark_name(t), [0, 0, 0])[0] += 1
    for t in hyp:
        if tm.is_mark(t):
            marks.setdefault(tm.mark_name(t), [0, 0, 0])[1] += 1
    for i in hit:
        if tm.is_mark(item.ref_tokens[i]):
            marks[tm.mark_name(item.ref_tokens[i])][2] += 1
    c["marks"] = marks  # name: [in reference, in text, matched]
    auto = [i for i, t in enumerate(item.ref_tokens) if tm.is_mark(t) and i not in item.command_marks]
    c["auto_marks"], c["auto_matched"] = len(auto), sum(1 for i in auto if i in hit)
    c["commands"] = len(item.commands)
    c["commands_converted"] = sum(1 for i in item.command_marks if i in hit)

    # Commands whose words the text holds as words.
    said_hyp = tm.flatten(tm.read_out(hyp, item.said))
    said_steps = tm.align(item.said, said_hyp)
    said_hit = tm.matched(said_steps, item.said, said_hyp)
    c["commands_as_words"] = sum(1 for s, e, _ in item.commands
                                 if all(k in said_hit for k in range(s, e)))

    c["meant_as_words"] = len(item.meant_as_words)
    c["kept_as_words"] = c["wrongly_marked"] = 0
    for indices, mark in item.meant_as_words:
        if all(i in hit for i in indices):
            c["kept_as_words"] += 1
        elif _mark_added_near(steps, item.ref_tokens, hyp, indices, mark):
            c["wrongly_marked"] += 1
    return c


def _mark_added_near(steps, ref, hyp, indices, mark):
    """Whether the text holds more of `mark` than the reference around the
    given reference tokens (one token either side)."""
    window = set(range(min(indices) - 1, max(indices) + 2))
    positions = [p for p, (i, _) in enumerate(steps) if i in window]
    first, last = min(positions), max(positions)
    while first > 0 and steps[first - 1][0] is None:
        first -= 1
    while last + 1 < len(steps) and steps[last + 1][0] is None:
        last += 1
    in_text = sum(1 for _, j in steps[first:last + 1] if j is not None and hyp[j] == mark)
    in_reference = sum(1 for i in window if 0 <= i < len(ref) and ref[i] == mark)
    return in_text > in_reference


def add_counts(total, counts):
    for key, value in counts.items():
        if key == "marks":
            for name, triple in value.items():
                slot = total.setdefault("marks", {}).setdefault(name, [0, 0, 0])
                for k in range(3):
                    slot[k] += triple[k]
        else:
            total[key] = total.get(key, 0) + value
    return total


def ratio(a, b):
    return a / b if b else None


def rates(counts):
    r = {
        "wer": ratio(counts.get("word_errors", 0), counts.get("words", 0)),
        "cased_wer": ratio(counts.get("cased_errors", 0), counts.get("cased_words", 0)),
        "fer": ratio(counts.get("format_errors", 0), counts.get("tokens", 0)),
        "commands": counts.get("commands", 0),
        "commands_converted": ratio(counts.get("commands_converted", 0), counts.get("commands", 0)),
        "commands_as_words": counts.get("commands_as_words", 0),
        "meant_as_words": counts.get("meant_as_words", 0),
        "kept_as_words": counts.get("kept_as_words", 0),
        "wrongly_marked": counts.get("wrongly_marked", 0),
        "final_is_last_partial": ratio(counts.get("final_is_last_partial", 0),
                                       counts.get("sessions", 0)),
        "auto_recall": ratio(counts.get("auto_matched", 0), counts.get("auto_marks", 0)),
        "marks": {name: {"reference": n, "text": h,
                         "precision": ratio(m, h), "recall": ratio(m, n)}
                  for name, (n, h, m) in sorted(counts.get("marks", {}).items())},
    }
    if r["wer"] is not None and r["fer"] is not None:
        r["fer_over_wer"] = ratio(r["fer"], r["wer"])
    return r


# Audio

class Voices:
    """Speaks items into 16 kHz mono 16-bit WAV files, cached by content."""

    def __init__(self, cache):
        self.cache = Path(cache)
        self.cache.mkdir(parents=True, exist_ok=True)
        for tool in ("sox", "flite", "espeak-ng"):
            if not shutil.which(tool):
                raise TextBenchError(f"{tool} is not installed (scripts/setup installs it)")

    def stretch(self, name, words):
        engine, voice, speed = VOICES[name]
        key = hashlib.sha1(f"{engine}|{voice}|{speed}|{' '.join(words)}|{EDGE}|{TRIM_DB}".encode())
        key = key.hexdigest()
        out = self.cache / f"stretch-{key}.wav"
        if out.exists():
            return read_pcm(out)
        with tempfile.TemporaryDirectory(dir=self.cache) as work:
            raw = Path(work) / "raw.wav"
            text = " ".join(words)
            if engine == "flite":
                command = ["flite", "-voice", voice, "--setf", f"duration_stretch={speed}",
                           "-t", text, "-o", str(raw)]
            else:
                command = ["espeak-ng", "-v", voice, "-s", str(speed), "-w", str(raw), text]
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            converted = Path(work) / "16k.wav"
            # The voice's own silence trimmed at both ends, so the pauses are
            # ours; a higher level clips soft sounds ("h", a final "p").
            trim = ["silence", "1", "0.01", f"{TRIM_DB}d"]
            subprocess.run(["sox", "-V1", str(raw), "-r", str(RATE), "-c", "1", "-b", "16",
                            str(converted), *trim, "reverse", *trim, "reverse",
                            "pad", str(EDGE), str(EDGE)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.replace(converted, out)
        return read_pcm(out)

    def speak(self, name, item):
        """The WAV file of an item in a voice, pauses as silence."""
        key = hashlib.sha1(repr((VOICES[name], item.chunks, EDGE, TRIM_DB)).encode()).hexdigest()
        out = self.cache / f"{name}-{item.id}-{key[:12]}.wav"
        if not out.exists():
            # Each stretch ends and starts with EDGE of silence: a pause
            # between two is the silence in between and both edges.
            pcm = b"".join(self.stretch(name, words) + harness.silence(max(0.0, pause - 2 * EDGE))
                           for words, pause in item.chunks)
            partial = out.with_suffix(".part")
            harness.write_wav(partial, pcm)
            os.replace(partial, out)
        return out


# Runs

@dataclass
class Task:
    voice: str  # for the recordings, their set: "librivox", "sonnets", ...
    item: Item
    wav: Path
    ours: dict = None
    bare: dict = None
    vosk: dict = None  # the bare Vosk recognizer, when measured
    whisper: dict = None  # bare whisper.cpp, when measured
    role: str = None  # a recording's: "dev" or "test"


def recording_item(recording):
    """The Item of a real recording (bench/real_speech.py): its words are
    the reference's, lower case, marks dropped."""
    import real_speech
    spoken = " ".join(real_speech.spoken_words(recording.reference))
    return parse_item([recording.id, "recording", spoken, recording.reference], recording.wav)


class Runner(harness.SessionRunner):
    def run(self, tasks, jobs, log):
        """Runs every task: `jobs` sessions at a time, each worker with its
        own audio server; the bare recognizer alongside."""
        todo = queue.Queue()
        for task in tasks:
            todo.put(task)
        errors = []
        done = [0]
        lock = threading.Lock()
        # One bare run at a time beside the sessions, two once they are over.
        bare_slots = threading.Semaphore(1)

        def bare(wav):
            with bare_slots:
                return self.bare(wav)

        bare_pool = concurrent.futures.ThreadPoolExecutor(max_workers=2)
        bare_futures = [(t, bare_pool.submit(bare, t.wav)) for t in tasks]

        def worker():
            try:
                with PrivateAudioServer() as server:
                    while not errors:
                        try:
                            task = todo.get_nowait()
                        except queue.Empty:
                            return
                        try:
                            task.ours = self.session(server, task.wav)
                        except (harness.BenchError, TextBenchError) as error:
                            # One failed session costs its sentence, not the run.
                            task.ours = {"text": "", "last_partial": "", "error": str(error),
                                         "stop_after_s": 0.0}
                            log(f"  {task.voice} {task.item.id}: {error}")
                        with lock:
                            done[0] += 1
                            retried = task.ours.get("attempt", 1) - 1
                            lost = task.ours.get("speech_lost_s", 0)
                            log(f"  {done[0]}/{len(tasks)} {task.voice} {task.item.id} "
                                f"(stop {task.ours['stop_after_s']:.1f} s after the audio"
                                + (f", {retried} runs again for lost speech" if retried else "")
                                + (f", {lost:.2f} s of speech lost" if lost else "")
                                + f"): {task.ours['text']!r}")
            except BaseException as error:  # reported by the caller
                errors.append(error)

        threads = [threading.Thread(target=worker, daemon=True) for _ in range(max(1, jobs))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        bare_slots.release()
        waiting = sum(1 for _, f in bare_futures if not f.done())
        if waiting and not errors:
            log(f"  the bare recognizer: {waiting} files to go")
        for task, future in bare_futures:
            if errors:
                future.cancel()
                continue
            task.bare = future.result()
        bare_pool.shutdown(wait=True, cancel_futures=True)
        if errors:
            raise errors[0]


# Figures

def summarize(tasks):
    groups = {}
    for task in tasks:
        if recorded(task.voice):
            voice_keys = [task.voice] + ([f"real:{task.role}"] if task.role else [])
        else:
            voice_keys = [task.voice, "all", f"kind:{task.item.kind}"]
        for system in ("ours", "bare", "vosk", "whisper"):
            result = getattr(task, system)
            if result is None:
                continue
            counts = score(task.item, result["text"])
            if system == "ours":
                # Partials carry the same text as the final but for the
                # decoder's last changes.
                counts["sessions"] = 1
                counts["failed"] = int("error" in result)
                counts["speech_lost"] = int(result.get("speech_lost_s", 0) > 0)
                counts["final_is_last_partial"] = int(result["text"] == result["last_partial"])
            result["counts"] = counts
            for voice in voice_keys:
                group = groups.setdefault(voice, {}).setdefault(system, {})
                add_counts(group.setdefault("counts", {}), counts)
                if not task.item.commands and not recorded(task.voice):
                    add_counts(group.setdefault("plain", {}), counts)
    summary = {}
    for voice, systems in groups.items():
        summary[voice] = {}
        for system, group in systems.items():
            r = rates(group["counts"])
            plain = group.get("plain")
            r["plain_wer"] = rates(plain)["wer"] if plain else None
            r["counts"] = group["counts"]
            summary[voice][system] = r
    return summary


def pct(value, digits=1):
    return "—" if value is None else f"{value * 100:.{digits}f} %"


def num(value, digits=3):
    return "—" if value is None else f"{value:.{digits}f}"


def targets(summary, set_name):
    """[(target, measured, met)] over all TTS voices."""
    ours, bare = summary["all"]["ours"], summary["all"]["bare"]

    def errors(r):
        c = r["counts"]
        return f"{num(r['wer'])} ({c.get('word_errors', 0)}/{c.get('words', 0)})"

    rows = [
        ("WER ≤ bare", f"{errors(ours)} vs {errors(bare)}", ours["wer"] <= bare["wer"] + 1e-9),
        ("WER without commands ≤ bare", f"{num(ours['plain_wer'])} vs {num(bare['plain_wer'])}",
         ours["plain_wer"] is not None and ours["plain_wer"] <= bare["plain_wer"] + 1e-9),
        (f"FER ≤ {TARGET_FER_RATIO}× WER", f"{num(ours.get('fer_over_wer'), 2)}×",
         ours.get("fer_over_wer") is not None and ours["fer_over_wer"] <= TARGET_FER_RATIO),
        (f"commands converted ≥ {TARGET_COMMANDS:.0%}", pct(ours["commands_converted"]),
         (ours["commands_converted"] or 0) >= TARGET_COMMANDS),
        ("no word wrongly marked", str(ours["wrongly_marked"]), ours["wrongly_marked"] == 0),
    ]
    if "librivox" in summary:
        lv = summary["librivox"]
        rows.insert(1, ("LibriVox WER ≤ bare", f"{errors(lv['ours'])} vs {errors(lv['bare'])}",
                        lv["ours"]["wer"] <= lv["bare"]["wer"] + 1e-9))
    return rows


def markdown(summary, set_name, voices):
    lines = [f"Text quality, {set_name} set; ours / bare recognizer on the same audio.", "",
             "| voice | WER | WER, no commands | cased WER | FER | FER/WER | commands → mark "
             "| commands as words | meant as words: kept, → mark |",
             "|---|---|---|---|---|---|---|---|---|"]
    for voice in [*voices, "all", "librivox"]:
        if voice not in summary:
            continue
        o, b = summary[voice]["ours"], summary[voice]["bare"]
        commands = (f"{o['counts'].get('commands_converted', 0)}/{o['commands']} "
                    f"({pct(o['commands_converted'], 0)})" if o["commands"] else "—")
        as_words = (f"{o['commands_as_words']} / {b['commands_as_words']}"
                    if o["commands"] else "—")
        meant = (f"{o['kept_as_words']}/{o['meant_as_words']}, {o['wrongly_marked']} / "
                 f"{b['kept_as_words']}/{b['meant_as_words']}" if o["meant_as_words"] else "—")
        fer = "—" if recorded(voice) else f"{num(o['fer'])} / {num(b['fer'])}"
        ratio_ = "—" if recorded(voice) else num(o.get("fer_over_wer"), 2)
        name = f"**{voice}**" if voice == "all" else voice
        lines.append(f"| {name} | {num(o['wer'])} / {num(b['wer'])} | "
                     f"{num(o['plain_wer'])} / {num(b['plain_wer'])} | "
                     f"{num(o['cased_wer'])} / {num(b['cased_wer'])} | {fer} | {ratio_} | "
                     f"{commands} | {as_words} | {meant} |")
    kinds = [k for k in summary if k.startswith("kind:")]
    lines += ["", "| sentences (all voices) | WER | FER | cased WER |", "|---|---|---|---|"]
    for kind in kinds:
        o, b = summary[kind]["ours"], summary[kind]["bare"]
        lines.append(f"| {kind[5:]} | {num(o['wer'])} / {num(b['wer'])} | "
                     f"{num(o['fer'])} / {num(b['fer'])} | "
                     f"{num(o['cased_wer'])} / {num(b['cased_wer'])} |")
    o = summary["all"]["ours"]
    lines += ["", "| mark (all voices, ours) | in reference | in text | precision | recall |",
              "|---|---|---|---|---|"]
    for name, m in o["marks"].items():
        lines.append(f"| {name} | {m['reference']} | {m['text']} | {pct(m['precision'], 0)} | "
                     f"{pct(m['recall'], 0)} |")
    lines.append(f"| *spoken marks* | {o['commands']} |  |  | {pct(o['commands_converted'], 0)} |")
    auto = o["counts"].get("auto_marks", 0)
    lines.append(f"| *marks left to pauses* | {auto} |  |  | {pct(o['auto_recall'], 0)} |")
    lines += ["", f"The final text is the last partial's in {pct(o['final_is_last_partial'], 0)} "
              "of the sessions."]
    if "vosk" in summary["all"]:
        lines.append("The bare Vosk recognizer on the same audio: WER " + ", ".join(
            f"{voice} {num(summary[voice]['vosk']['wer'])}" for voice in [*voices, "all", "librivox"]
            if voice in summary and "vosk" in summary[voice]) + ".")
    if "whisper" in summary["all"]:
        lines.append("Bare whisper.cpp on the same audio, each file whole: WER " + ", ".join(
            f"{voice} {num(summary[voice]['whisper']['wer'])}"
            for voice in [*voices, "all", "librivox"]
            if voice in summary and "whisper" in summary[voice])
            + f"; FER all {num(summary['all']['whisper']['fer'])}.")
    real = [v for v in summary if recorded(v) and v != "librivox"]
    if real:
        lines += ["", "Real recordings (bench/real_speech.py): word error rate, ours / bare "
                  "whisper.cpp / bare Vosk / bare PocketSphinx.", "",
                  "| set | words | ours | bare Whisper | bare Vosk | bare PocketSphinx |",
                  "|---|---|---|---|---|---|"]
        for voice in ["librivox", *sorted(real)]:
            if voice not in summary:
                continue
            group = summary[voice]
            cells = [num(group[k]["wer"]) if k in group else "—"
                     for k in ("ours", "whisper", "vosk", "bare")]
            lines.append(f"| {voice} | {group['ours']['counts'].get('words', 0)} | "
                         + " | ".join(cells) + " |")
    pools = ("all", *REAL_POOLS) if any(p in summary for p in REAL_POOLS) else ("all", "librivox")
    failed = sum(summary[v]["ours"]["counts"].get("failed", 0) for v in pools if v in summary)
    if failed:
        lines.append(f"**{failed} sessions failed** (an empty text each; see the JSON).")
    lost = sum(summary[v]["ours"]["counts"].get("speech_lost", 0) for v in pools
               if v in summary)
    if lost:
        lines.append(f"**{lost} sessions lost speech** in the audio server three times running "
                     "(the machine is too busy; see the JSON).")
    lines += ["", "| target (all voices) | measured | met |", "|---|---|---|"]
    for target, measured, met in targets(summary, set_name):
        lines.append(f"| {target} | {measured} | {'yes' if met else '**no**'} |")
    return "\n".join(lines)


def bare_whisper(whisper, tasks):
    """Bare whisper.cpp on each task's file whole (a harness.BareWhisper):
    its texts, from its cache where it has them."""
    for task, text in zip(tasks, whisper.texts([t.wav for t in tasks])):
        task.whisper = {"text": text}


def bare_vosk(vosk, tasks, work):
    """The bare Vosk recognizer on the audio each session records (the file
    with the silence around it, as the bare PocketSphinx one hears it), one
    process for all files."""
    padded = []
    for k, task in enumerate(tasks):
        path = work / f"vosk-{k}.wav"
        harness.write_wav(path, harness.silence(harness.LEAD_PAD) + read_pcm(task.wav)
                          + harness.silence(harness.TRAIL_PAD))
        padded.append(path)
    results, _ = vosk.decode(padded)
    for task, result in zip(tasks, results):
        task.vosk = {"text": result["text"]}
    for path in padded:
        path.unlink()


def build_tasks(items, voices_, speaker, librivox, real=()):
    tasks = [Task(v, item, speaker.speak(v, item)) for v in voices_ for item in items]
    # Interleaved, so a run cut short still covers every voice.
    tasks.sort(key=lambda t: (items.index(t.item), voices_.index(t.voice)))
    tasks += [Task("librivox", item, item.wav) for item in librivox]
    # A set of recordings is its own group, by role where the set has both.
    tasks += [Task(r.set if r.set == "librivox" else f"{r.set} {r.role}", recording_item(r),
                   r.wav, role=r.role) for r in real]
    return tasks


def measure(binary, set_name="dev", voices=None, quick=False, jobs=2, librivox=True,
            cache=None, only=None, log=lambda text: None, bare_cache=True, vosk=None,
            whisper=None, real=None):
    """Runs the section; returns the report (summary, every text). With
    `vosk` (a harness.BareVosk), the bare Vosk recognizer decodes the same
    audio as the bare PocketSphinx one, after the sessions; with `whisper`
    (a harness.BareWhisper), bare whisper.cpp too. `real`: recordings of
    bench/real_speech.py, measured in place of the LibriVox ones (which
    are among them)."""
    binary = Path(binary)
    if not os.access(binary, os.X_OK):
        raise TextBenchError(f"{binary} is not an executable; build it first")
    voices = voices or (QUICK_VOICES if quick else DEFAULT_VOICES)
    unknown = [v for v in voices if v not in VOICES]
    if unknown:
        raise TextBenchError(f"unknown voices {unknown}; known: {', '.join(VOICES)}")
    items = load_set(set_name)
    broken = [f"{i.id}: {p}" for i in items for p in i.problems]
    if broken:
        raise TextBenchError("corpus problems:\n  " + "\n  ".join(broken))
    if only:
        items = [i for i in items if i.id in only or i.kind in only]
    if quick:
        items = items[::2]
    recordings = ([i for i in load_set("librivox") if i.wav.exists()]
                  if librivox and real is None else [])
    speaker = Voices(cache or Path(tempfile.gettempdir()) / "quorvane-text-audio")
    started = time.time()
    log(f"text quality: speaking {len(items)} {set_name} items in {len(voices)} voices")
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for item in items:  # warms the cache two stretches at a time
            list(pool.map(lambda v: speaker.speak(v, item), voices))
    tasks = build_tasks(items, voices, speaker, recordings, real or ())
    audio = sum(len(read_pcm(t.wav)) / FRAME_BYTES / RATE for t in tasks)
    log(f"text quality: {len(tasks)} sessions, {audio:.0f} s of audio, {jobs} at a time")
    with tempfile.TemporaryDirectory(prefix="quorvane-textbench-") as work:
        Runner(binary, work, speaker.cache if bare_cache else None).run(tasks, jobs, log)
        if vosk:
            log(f"text quality: the bare Vosk recognizer on the {len(tasks)} files")
            bare_vosk(vosk, tasks, Path(work))
        if whisper:
            log(f"text quality: bare whisper.cpp on the {len(tasks)} files")
            bare_whisper(whisper, tasks)
    summary = summarize(tasks)
    return {
        "set": set_name,
        "voices": voices,
        "binary": str(binary),
        "quick": quick,
        "jobs": jobs,
        "seconds": round(time.time() - started, 1),
        "audio_s": round(audio, 1),
        "summary": summary,
        "targets": [{"target": t, "measured": m, "met": ok}
                    for t, m, ok in targets(summary, set_name)],
        "bare_vosk": {"pypi_version": vosk.version, "model": str(vosk.model)} if vosk else None,
        "bare_whisper": ({"library": str(whisper.library), "model": str(whisper.model)}
                         if whisper else None),
        "items": [{"voice": t.voice, "id": t.item.id, "kind": t.item.kind, "role": t.role,
                   "spoken": t.item.spoken, "reference": t.item.reference,
                   "ours": t.ours, "bare": t.bare, "vosk": t.vosk, "whisper": t.whisper}
                  for t in tasks],
    }


def rescore(path):
    """The report of an earlier run, its figures computed again from its
    texts with the current sentences and metrics."""
    report = json.loads(Path(path).read_text())
    items = {(name, i.id): i for name in (report["set"], "librivox") for i in load_set(name)}
    tasks = []
    for entry in report["items"]:
        name = "librivox" if entry["voice"] == "librivox" else report["set"]
        if recorded(entry["voice"]) and entry["voice"] != "librivox":
            # A real recording's words and text are in the entry itself.
            item = parse_item([entry["id"], entry["kind"], entry["spoken"], entry["reference"]])
        else:
            item = items[(name, entry["id"])]
        task = Task(entry["voice"], item, None, role=entry.get("role"))
        task.ours, task.bare, task.vosk = entry["ours"], entry["bare"], entry.get("vosk")
        task.whisper = entry.get("whisper")
        task.ours.setdefault("last_partial", task.ours["text"])
        tasks.append(task)
    report["summary"] = summarize(tasks)
    report["targets"] = [{"target": t, "measured": m, "met": ok}
                         for t, m, ok in targets(report["summary"], report["set"])]
    return report


def show_items(report):
    for entry in report["items"]:
        o, b = entry["ours"], entry["bare"]
        oc = o["counts"]
        print(f"{entry['voice']:>8} {entry['id']:<10} FER {oc['format_errors']}/{oc['tokens']}"
              f"  ref:  {entry['reference']!r}\n{'':>20}ours: {o['text']!r}\n{'':>20}bare: "
              f"{b['text']!r}")
        if entry.get("vosk"):
            print(f"{'':>20}vosk: {entry['vosk']['text']!r}")
        if entry.get("whisper"):
            print(f"{'':>20}whisper: {entry['whisper']['text']!r}")


def real_recordings(which, log=lambda text: None):
    """The real recordings: "test" for the test sets alone, "all" for the
    dev sets too."""
    import real_speech
    try:
        found = real_speech.recordings(log=log)
    except real_speech.RealSpeechError as error:
        raise TextBenchError(str(error)) from None
    return [r for r in found if which == "all" or r.role == "test"]


def check():
    bad = 0
    for name in ("dev", "test", "librivox"):
        items = load_set(name)
        for item in items:
            for problem in item.problems:
                print(f"{name} {item.id}: {problem}")
                bad += 1
        commands = sum(len(i.commands) for i in items)
        meant = sum(len(i.meant_as_words) for i in items)
        print(f"{name}: {len(items)} items, {commands} spoken commands, "
              f"{meant} punctuation words meant as words")
        # A perfect text scores perfectly.
        for item in items:
            c = score(item, item.reference)
            if c["format_errors"] or c["word_errors"] or c["commands_converted"] != c["commands"]:
                print(f"{name} {item.id}: the reference does not score as perfect: {c}")
                bad += 1
    # The real recordings' transcripts, without their audio.
    import real_speech
    real_speech.self_test()
    rows = real_speech.table_rows(real_speech.TABLE)
    for row in rows:
        item = recording_item(real_speech.Recording(row["id"], row["set"], row["role"],
                                                    row["reference"], None))
        c = score(item, row["reference"])
        for problem in item.problems:
            print(f"real {item.id}: {problem}")
            bad += 1
        if c["format_errors"] or c["word_errors"] or not c["words"]:
            print(f"real {item.id}: the reference does not score as perfect: {c}")
            bad += 1
    print(f"real: {len(rows)} recordings besides LibriVox, "
          f"{sum(1 for r in rows if r['role'] == 'test')} of them test")
    ids = [i.id for i in load_set("dev")] + [i.id for i in load_set("test")]
    refs = [i.reference for i in load_set("dev")] + [i.reference for i in load_set("test")]
    if len(set(ids)) != len(ids) or len(set(refs)) != len(refs):
        print("dev and test share an id or a sentence")
        bad += 1
    return bad == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", default="build/quorvane-dictation",
                        help="the product executable (default: %(default)s)")
    parser.add_argument("--set", default="dev", choices=["dev", "test"],
                        help="dev for tuning, test for reporting (default: %(default)s)")
    parser.add_argument("--voices", help="comma-separated, from: " + ", ".join(VOICES) +
                        f" (default: {','.join(DEFAULT_VOICES)}; {','.join(QUICK_VOICES)} "
                        "with --quick)")
    parser.add_argument("--only", help="comma-separated item ids or kinds "
                        "(marks, pauses, numbers, words, mixed)")
    parser.add_argument("--quick", action="store_true", help="every other item, two voices")
    parser.add_argument("--jobs", type=int, default=2,
                        help="sessions at a time, each with its own audio server (default 2)")
    parser.add_argument("--no-librivox", action="store_true", help="skip the recordings")
    parser.add_argument("--cache", help="where spoken audio is kept "
                        "(default: /tmp/quorvane-text-audio)")
    parser.add_argument("--no-bare-cache", action="store_true",
                        help="run the bare recognizer on every file, not its kept texts")
    parser.add_argument("--vosk-model", help="also the bare Vosk recognizer (PyPI's vosk, in "
                        f"{harness.VOSK_VENV}) with this model folder on the same audio")
    parser.add_argument("--whisper-parts", help="also bare whisper.cpp, with the "
                        "libwhisper.so.1 and model/ggml-*.bin of this folder, on the same audio")
    parser.add_argument("--real", choices=["test", "all"],
                        help="the real recordings of bench/real_speech.py in place of "
                        "LibriVox's: the test sets, or all (dev sets too)")
    parser.add_argument("--json", help="where to write the figures and every text")
    parser.add_argument("--show", action="store_true", help="print every text next to its reference")
    parser.add_argument("--check", action="store_true", help="check the corpus and the metrics only")
    parser.add_argument("--rescore", metavar="JSON",
                        help="no run: the figures of an earlier run's JSON, computed again")
    options = parser.parse_args()
    tm.self_test()
    if options.check:
        sys.exit(0 if check() else 1)
    if options.rescore:
        report = rescore(options.rescore)
        if options.show:
            show_items(report)
        print(markdown(report["summary"], report["set"], report["voices"]))
        if options.json:
            Path(options.json).write_text(json.dumps(report, indent=1))
        return
    binary = Path(options.binary)
    if not binary.is_absolute():
        binary = (harness.ROOT / binary).resolve() if not binary.exists() else binary.resolve()
    def log(text):
        print(text, file=sys.stderr, flush=True)

    report = measure(binary, options.set, options.voices.split(",") if options.voices else None,
                     options.quick, options.jobs, not options.no_librivox, options.cache,
                     set(options.only.split(",")) if options.only else None,
                     log=log, bare_cache=not options.no_bare_cache,
                     vosk=harness.BareVosk(options.vosk_model, log=log) if options.vosk_model
                     else None,
                     whisper=harness.BareWhisper(options.whisper_parts, WHISPER_CACHE)
                     if options.whisper_parts else None,
                     real=real_recordings(options.real, log) if options.real else None)
    if options.show:
        show_items(report)
    print(markdown(report["summary"], options.set, report["voices"]))
    print(f"\n{report['audio_s']:.0f} s of audio in {report['seconds']:.0f} s; "
          f"binary {report['binary']}")
    if options.json:
        Path(options.json).write_text(json.dumps(report, indent=1))
        print(f"JSON: {options.json}")


if __name__ == "__main__":
    try:
        main()
    except (TextBenchError, harness.BenchError) as error:
        sys.exit(f"text_quality: {error}")
