#!/usr/bin/env python3
"""Dictation in French, Spanish and German, where the product runs on
whisper.cpp alone, next to bare whisper.cpp on the same audio in the same run.

Each session of bench/text/languages.tsv joins a few recordings, a pause
between them, into one WAV file, which a private PulseAudio server plays at
real-time pace into `listen <locale>` (harness.SessionRunner): N runs of
every session. The anchor is bench/whisper_decode.py, the same libwhisper
and model file, on each session's whole file with the same language.

    python3 bench/languages.py                # 3 runs, about 20 minutes
    python3 bench/languages.py --quick        # 1 run
    python3 bench/languages.py --only fr,es --runs 2 --json /tmp/lang.json
    python3 bench/languages.py --check        # the corpus and the word error count

Speech: French and Spanish are real recordings, Debian's telephone prompts
(asterisk-core-sounds-fr-wav, fr_CA_f_June; asterisk-core-sounds-es-wav,
es_MX_f_Allison; 8 kHz, turned into 16 kHz by sox), the text of each prompt
copied from the prompt list of asterisk-core-sounds-fr / -es. German is
synthetic: espeak-ng's `de` voice at 150 words a minute reading sentences
written for this.

What each figure measures:

  word error      of the "final" texts against the references, all the
                  sessions of a language pooled, words compared with case,
                  accents and punctuation ignored (the Spanish prompt list
                  writes most words without their accents); the median over
                  the runs; bare Whisper's the same way
  first partial   from when the microphone has a session's first speech
                  (the first loud 20 ms frame) to the first "partial"
  gap             the longest stretch without a "partial" while speech goes
                  on: from each utterance's first partial to its speech's end
                  (loud frames joined across pauses under 0.8 s, the pause
                  at which the product ends an utterance)
  stop → final    a session of its own: "stop" written the moment the
                  microphone has the end of the last loud frame, to "final"
  CPU / audio s   user+system CPU of the whole product process (wait4) over
                  the audio it heard, "ready" to "stop"; bare Whisper's over
                  the files, its process's load of Python and the model
                  included

Prints a Markdown table per language and writes every raw figure as JSON to
a file whose path it prints.
"""

import argparse
import datetime
import gzip
import json
import os
import platform
import re
import subprocess
import sys
import tempfile
import time
import unicodedata
import wave
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))

from harness import (  # noqa: E402
    BenchError,
    Product,
    SessionRunner,
    cpu_seconds,
    edit_distance,
    now,
    percentile,
    silence,
    spread,
    wait_until_idle,
    wait_with_usage,
    write_wav,
)
from private_audio_server import FRAME_BYTES, RATE, PrivateAudioServer, read_pcm  # noqa: E402

CORPUS = ROOT / "bench" / "text" / "languages.tsv"
PROMPTS = Path("/usr/share/asterisk/sounds")
WHISPER_DECODE = ROOT / "bench" / "whisper_decode.py"

# language: (locale, name, how its speech was made)
LANGUAGES = {
    "fr": ("fr-FR", "French", "real: Debian asterisk-core-sounds-fr-wav, fr_CA_f_June, 8 kHz"),
    "es": ("es-ES", "Spanish", "real: Debian asterisk-core-sounds-es-wav, es_MX_f_Allison, 8 kHz"),
    "de": ("de-DE", "German", "synthetic: espeak-ng, voice de, -s 150"),
}
PACKAGES = {"fr_CA_f_June": "asterisk-core-sounds-fr-wav",
            "es_MX_f_Allison": "asterisk-core-sounds-es-wav"}
ESPEAK = ("espeak-ng", "-v", "de", "-s", "150")

PAUSE = 1.0  # seconds of silence put between two recordings of a session
CLIP_SECONDS = (3.0, 8.0)  # how long one recording may be
SESSION_SECONDS = (15.0, 30.0)  # and a session (bare Whisper reads 30 s at once)

FRAME_SECONDS = 0.02
LOUD_RMS = 300  # a 20 ms frame this loud is speech; the recordings' quiet is far below
JOINED_PAUSE = 0.8  # speech goes on across a pause shorter than this
GRACE_MS = 2900  # "stop" waits 3 s at most for the last result, less rounding

TARGETS = {
    "wer": "≤ bare × 1.1",
    "first_partial_ms": "≤ 1500 ms",
    "gap_ms": "≤ 2000 ms",
    "stop_final_ms": "median < 1000 ms",
    "cpu_per_audio_s": "< 0.9",
}


# Words and word errors

def words_of(text):
    """Words with case, accents and punctuation left out: "Désolé, je n'ai"
    gives desole, je, n, ai."""
    folded = unicodedata.normalize("NFKD", text.casefold())
    plain = "".join(c for c in folded if not unicodedata.combining(c))
    return re.findall(r"[^\W_]+", plain)


def word_errors(reference, hypothesis):
    """(word errors, words of the reference)."""
    expected = words_of(reference)
    return edit_distance(expected, words_of(hypothesis)), len(expected)


def pooled_wer(pairs):
    """Word error rate of [(reference, hypothesis)] taken together."""
    errors = words = 0
    for reference, hypothesis in pairs:
        e, n = word_errors(reference, hypothesis)
        errors, words = errors + e, words + n
    return errors / words if words else 0.0


# The corpus

def read_corpus(path=CORPUS):
    """{session: [row]} in file order; each row a dict of the file's columns."""
    sessions = {}
    with open(path, encoding="utf-8") as tsv:
        header = tsv.readline().rstrip("\n").split("\t")
        for number, line in enumerate(tsv, 2):
            if not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != len(header):
                raise BenchError(f"{path}:{number}: {len(fields)} columns, not {len(header)}")
            row = dict(zip(header, fields))
            sessions.setdefault(row["session"], []).append(row)
    return sessions


def recording_of(row):
    """The recorded prompt of a row, or None for a synthetic one."""
    if row["source"].startswith("espeak-ng"):
        return None
    return PROMPTS / f"{row['source']}.wav"


def seconds_of(path):
    with wave.open(str(path), "rb") as wav:
        return wav.getnframes() / wav.getframerate()


def clip_pcm(row, work):
    """The row's speech as 16 kHz mono samples: the prompt converted by sox,
    or espeak-ng's voice reading the reference."""
    out = work / f"clip-{row['id']}.wav"
    recording = recording_of(row)
    if recording is None:
        spoken = work / f"espeak-{row['id']}.wav"
        subprocess.run([*ESPEAK, "-w", str(spoken), row["reference"]], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        source = spoken
    else:
        if not recording.exists():
            package = PACKAGES.get(row["source"].split("/")[0], "?")
            raise BenchError(f"{recording} is missing: Debian's {package} (scripts/setup)")
        source = recording
    subprocess.run(["sox", "-V1", str(source), "-r", str(RATE), "-c", "1", "-b", "16", str(out)],
                   check=True, stdin=subprocess.DEVNULL)
    return read_pcm(out)


def build_session(name, rows, work):
    """Writes the session's WAV (its clips with PAUSE between) and returns
    {"name", "wav", "reference", "seconds", "clips"}."""
    pcm = b""
    clips = []
    for row in rows:
        if pcm:
            pcm += silence(PAUSE)
        start = len(pcm) / FRAME_BYTES / RATE
        pcm += clip_pcm(row, work)
        clips.append({"id": row["id"], "source": row["source"], "start_s": round(start, 3),
                      "seconds": round(len(pcm) / FRAME_BYTES / RATE - start, 3)})
    wav = work / f"{name}.wav"
    write_wav(wav, pcm)
    return {"name": name, "wav": wav, "reference": " ".join(r["reference"] for r in rows),
            "seconds": len(pcm) / FRAME_BYTES / RATE, "clips": clips,
            "speech": speech_regions(pcm)}


def speech_regions(pcm):
    """[(start, end)] in seconds of where speech goes on: loud frames, joined
    across pauses shorter than JOINED_PAUSE."""
    import array
    samples = array.array("h", pcm)
    if sys.byteorder == "big":
        samples.byteswap()
    frame = int(RATE * FRAME_SECONDS)
    regions = []
    for index in range(len(samples) // frame):
        chunk = samples[index * frame:(index + 1) * frame]
        if sum(s * s for s in chunk) / frame < LOUD_RMS * LOUD_RMS:
            continue
        start, end = index * FRAME_SECONDS, (index + 1) * FRAME_SECONDS
        if regions and start - regions[-1][1] < JOINED_PAUSE:
            regions[-1][1] = end
        else:
            regions.append([start, end])
    return [(round(s, 3), round(e, 3)) for s, e in regions]


# Partials

def spoken_at(written, seconds):
    """When the microphone had the audio up to `seconds` into a fed file
    (PrivateAudioServer.play's `written`); None if it never did."""
    goal = seconds * RATE * FRAME_BYTES
    return next((at for at, count in written if count >= goal), None)


def partial_timing(regions, written, partial_times):
    """For each stretch of speech: seconds from its start to the first
    partial after it, and the longest stretch without a partial while it
    went on (counted from its start, or for a session's first from its
    first partial, which the other figure covers); None where it was not
    heard or, for the first, no partial came while it went on."""
    timings = []
    for index, (start, end) in enumerate(regions):
        began, ended = spoken_at(written, start), spoken_at(written, end)
        if began is None or ended is None:
            timings.append({"first": None, "gap": None, "partials": 0})
            continue
        after = [t for t in partial_times if t > began]
        inside = [t for t in after if t <= ended]
        points = ([] if index == 0 else [began]) + inside + [ended]
        gaps = [b - a for a, b in zip(points, points[1:])]
        timings.append({"first": after[0] - began if after else None,
                        "gap": max(gaps) if gaps else None, "partials": len(inside)})
    return timings


# Running

class LanguageRunner(SessionRunner):
    """Sessions of `listen <locale>`; SessionRunner runs one again where the
    audio server lost speech."""

    locale = None

    def one_session(self, server, wav):
        """The whole file heard, "stop" once the recognizer has caught up."""
        product = Product(self.binary, ["listen", self.locale], self.env(server))
        try:
            ready_at, _ = product.wait_for("ready", 30)
            last_audio, played = product.hear(server, wav)
            caught_up = wait_until_idle(product.pid)
            stop_at, final_at, final, usage = product.stop()
        except BaseException:
            product.kill()
            raise
        return self.figures(product, played, ready_at, stop_at, final_at, final, usage,
                            caught_up=caught_up, stop_after_s=round(stop_at - last_audio, 2))

    def stopped_at_last_word(self, server, wav, last_word_end):
        """"stop" the moment the microphone has the end of the last word; the
        rest of the file plays on unheard."""
        product = Product(self.binary, ["listen", self.locale], self.env(server))
        try:
            ready_at, _ = product.wait_for("ready", 30)
            played = server.feed(wav, wait=False)
            while spoken_at(played.written, last_word_end) is None:
                if played.is_set() or product.process.poll() is not None:
                    raise BenchError("the recording ended before its last word")
                time.sleep(0.001)
            stop_at, final_at, final, usage = product.stop()
        except BaseException:
            product.kill()
            raise
        played.wait()  # the next session must not hear this one's tail
        result = self.figures(product, played, ready_at, stop_at, final_at, final, usage)
        result["spoken_stop_ms"] = (stop_at - spoken_at(played.written, last_word_end)) * 1000
        return result

    @staticmethod
    def figures(product, played, ready_at, stop_at, final_at, final, usage, **more):
        partials = [(at, m["text"]) for at, m in product.messages
                    if m.get("type") == "partial" and at < stop_at]
        return {
            "text": final["text"],
            "stop_final_ms": (final_at - stop_at) * 1000,
            "audio_s": stop_at - ready_at,
            "cpu_s": cpu_seconds(usage),
            "maxrss_kb": usage.ru_maxrss,
            "partial_times": [at for at, _ in partials],
            "written": played.written,
            # Every message, in seconds from "ready".
            "timeline": [(round(at - ready_at, 3), m.get("type"), m.get("text"))
                         for at, m in product.messages],
            **more,
        }


def run_bare(language, wavs, whisper):
    """bench/whisper_decode.py on the files in one process: their texts by
    file name, and the process's CPU (wait4), peak RSS and wall clock time."""
    env = dict(os.environ)
    env.setdefault("OMP_WAIT_POLICY", "PASSIVE")
    started = now()
    process = subprocess.Popen(
        ["/usr/bin/python3", str(WHISPER_DECODE), "--language", language, "--library",
         str(whisper / "libwhisper.so.1"), str(whisper / "model" / "ggml-base.bin"),
         *map(str, wavs)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    out = process.stdout.read()
    code, usage = wait_with_usage(process)
    if code != 0:
        raise BenchError(f"bare Whisper ({language}) failed with {code}")
    texts = {}
    for line in out.decode().splitlines():
        result = json.loads(line)
        texts[Path(result["file"]).name] = result["text"]
    return {"texts": texts, "cpu_s": cpu_seconds(usage), "maxrss_kb": usage.ru_maxrss,
            "wall_s": now() - started}


class LanguageBench:
    def __init__(self, binary, whisper, languages, log):
        self.binary = binary
        self.whisper = whisper
        self.log = log
        self.work = Path(tempfile.mkdtemp(prefix="quorvane-languages-"))
        self.runner = LanguageRunner(binary, self.work)
        corpus = read_corpus()
        self.sessions = [build_session(name, rows, self.work) for name, rows in corpus.items()
                         if rows[0]["language"] in languages]
        self.languages = [lang for lang in LANGUAGES if lang in languages]
        self.results = {"ours": [], "stopped_at_last_word": [], "bare": []}

    def of(self, language):
        return [s for s in self.sessions if s["name"].startswith(language)]

    def measure(self, runs):
        with PrivateAudioServer() as server:
            for run in range(runs):
                for session in self.sessions:
                    language = session["name"][:2]
                    self.runner.locale = LANGUAGES[language][0]
                    full = self.runner.session(server, session["wav"])
                    early = self.runner.stopped_at_last_word(server, session["wav"],
                                                             session["speech"][-1][1])
                    for kind, result in (("ours", full), ("stopped_at_last_word", early)):
                        result.update(run=run, session=session["name"], language=language,
                                      load_average=os.getloadavg()[0],
                                      timing=partial_timing(session["speech"],
                                                            result.pop("written"),
                                                            result["partial_times"]))
                        result["errors"], result["words"] = word_errors(session["reference"],
                                                                        result["text"])
                        self.results[kind].append(result)
                    self.log(f"  run {run + 1}/{runs} {session['name']}: {full['errors']}/"
                             f"{full['words']} word errors, CPU {full['cpu_s']:.1f} s over "
                             f"{full['audio_s']:.1f} s, stop at the last word→final "
                             f"{early['stop_final_ms']:.0f} ms")
                # The anchor in the same run, after the sessions it goes with.
                for language in self.languages:
                    sessions = self.of(language)
                    bare = run_bare(language, [s["wav"] for s in sessions], self.whisper)
                    for session in sessions:
                        text = bare["texts"][session["wav"].name]
                        errors, words = word_errors(session["reference"], text)
                        self.results["bare"].append({
                            "run": run, "session": session["name"], "language": language,
                            "text": text, "errors": errors, "words": words})
                    self.results.setdefault("bare_usage", []).append({
                        "run": run, "language": language, "cpu_s": bare["cpu_s"],
                        "maxrss_kb": bare["maxrss_kb"], "wall_s": bare["wall_s"],
                        "audio_s": sum(s["seconds"] for s in sessions)})
                    self.log(f"  run {run + 1}/{runs} bare Whisper ({language}): "
                             f"CPU {bare['cpu_s']:.1f} s")

    def summarize(self):
        summary = {}
        runs = sorted({r["run"] for r in self.results["ours"]})
        for language in self.languages:
            def mine(kind):
                return [r for r in self.results[kind] if r["language"] == language]

            def wer_by_run(kind):
                return [sum(r["errors"] for r in mine(kind) if r["run"] == run)
                        / sum(r["words"] for r in mine(kind) if r["run"] == run) for run in runs]

            ours, early = mine("ours"), mine("stopped_at_last_word")
            firsts = [r["timing"][0]["first"] for r in ours]
            later = [t["first"] for r in ours for t in r["timing"][1:]]
            gaps = [max((t["gap"] for t in r["timing"] if t["gap"] is not None), default=None)
                    for r in ours]
            stops = [r["stop_final_ms"] for r in early]
            usage = [u for u in self.results["bare_usage"] if u["language"] == language]
            summary[language] = {
                "wer": {"ours": spread(wer_by_run("ours")), "bare": spread(wer_by_run("bare")),
                        "stopped_at_last_word": spread(wer_by_run("stopped_at_last_word"))},
                "first_partial_ms": spread([None if f is None else f * 1000 for f in firsts]),
                "first_partial_missing": sum(1 for f in firsts if f is None),
                "later_utterance_first_partial_ms": spread(
                    [None if f is None else f * 1000 for f in later]),
                "gap_ms": spread([None if g is None else g * 1000 for g in gaps]),
                "stop_final_ms": spread(stops),
                "stop_final_p90_ms": percentile(stops, 0.9),
                "stop_grace_expired": sum(1 for s in stops if s >= GRACE_MS),
                "full_grace_expired": sum(1 for r in ours if r["stop_final_ms"] >= GRACE_MS),
                "not_caught_up": sum(1 for r in ours if not r["caught_up"]),
                "speech_lost_s": sum(r["speech_lost_s"] for r in ours),
                "cpu_per_audio_s": {"ours": spread([r["cpu_s"] / r["audio_s"] for r in ours]),
                                    "bare": spread([u["cpu_s"] / u["audio_s"] for u in usage])},
                "maxrss_mib": {"ours": spread([r["maxrss_kb"] / 1024 for r in ours]),
                               "bare": spread([u["maxrss_kb"] / 1024 for u in usage])},
                "partials_per_session": spread([len(r["partial_times"]) for r in ours]),
            }
        summary["engine_log"] = dict(Product.engine_log)
        return summary

    def close(self):
        import shutil
        shutil.rmtree(self.work, ignore_errors=True)


def machine():
    model = ""
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return {"nproc": os.cpu_count(), "cpu": model, "kernel": platform.release(),
            "load_average": list(os.getloadavg())}


def seconds_text(s, digits=2):
    """A spread of milliseconds as "1.23 s (1.01–1.60)"."""
    if not s:
        return "—"
    return (f"{s['median'] / 1000:.{digits}f} s ({s['min'] / 1000:.{digits}f}–"
            f"{s['max'] / 1000:.{digits}f})")


def ratio_text(s, digits=3):
    if not s:
        return "—"
    if s["min"] == s["max"]:
        return f"{s['median']:.{digits}f}"
    return f"{s['median']:.{digits}f} ({s['min']:.{digits}f}–{s['max']:.{digits}f})"


def met(ok):
    return "yes" if ok else "**no**"


def markdown(summary, sessions):
    out = []
    for language, figures in summary.items():
        if language not in LANGUAGES:
            continue
        _, name, made = LANGUAGES[language]
        mine = [s for s in sessions if s["name"].startswith(language)]
        clips = sum(len(s["clips"]) for s in mine)
        audio = sum(s["seconds"] for s in mine)
        out.append(f"#### {name} (`listen {LANGUAGES[language][0]}`), {made}: {clips} "
                   f"recordings in {len(mine)} sessions, {audio:.0f} s")
        out.append("")
        out.append("| figure | ours | bare Whisper | target | met |")
        out.append("|---|---|---|---|---|")
        wer = figures["wer"]
        ours, bare = wer["ours"]["median"], wer["bare"]["median"]
        out.append(f"| word error (case, accents, punctuation ignored) | {ratio_text(wer['ours'])} "
                   f"| {ratio_text(wer['bare'])} | ≤ {bare * 1.1:.3f} (bare × 1.1) "
                   f"| {met(ours <= bare * 1.1 + 1e-9)} |")
        first = figures["first_partial_ms"]
        missing = figures["first_partial_missing"]
        out.append(f"| first partial after speech starts (median) | {seconds_text(first)}"
                   f"{f', {missing} never' if missing else ''} | | ≤ 1.5 s "
                   f"| {met(first and first['median'] <= 1500 and not missing)} |")
        later = figures["later_utterance_first_partial_ms"]
        out.append(f"| ... after a later utterance starts | {seconds_text(later)} | | | |")
        gap = figures["gap_ms"]
        out.append(f"| largest gap between partials while speech goes on (largest; median of "
                   f"sessions) | {gap['max'] / 1000:.2f} s; {gap['median'] / 1000:.2f} s | "
                   f"| ≤ 2 s | {met(gap['max'] <= 2000)} |" if gap else
                   "| largest gap between partials while speech goes on | — | | ≤ 2 s "
                   "| **no** |")
        stop = figures["stop_final_ms"]
        expired = figures["stop_grace_expired"]
        out.append(f"| \"stop\" as the last word ends, to \"final\" | {seconds_text(stop)}, p90 "
                   f"{figures['stop_final_p90_ms'] / 1000:.2f} s"
                   f"{f', {expired} past the 3 s grace' if expired else ''} | | median < 1 s "
                   f"| {met(stop['median'] < 1000)} |")
        out.append(f"| ... word error of that \"final\" | "
                   f"{ratio_text(wer['stopped_at_last_word'])} | | | |")
        cpu = figures["cpu_per_audio_s"]
        out.append(f"| CPU s per audio s | {ratio_text(cpu['ours'])} | {ratio_text(cpu['bare'])} "
                   f"| < 0.9 | {met(cpu['ours']['median'] < 0.9)} |")
        rss = figures["maxrss_mib"]
        out.append(f"| peak RSS (MiB) | {ratio_text(rss['ours'], 1)} "
                   f"| {ratio_text(rss['bare'], 1)} | | |")
        out.append("")
    return "\n".join(out)


def texts_markdown(results, sessions):
    """Each session's reference, our final and bare Whisper's text, of the
    first run."""
    out = []
    for session in sessions:
        ours = next(r for r in results["ours"] if r["session"] == session["name"])
        bare = next(r for r in results["bare"] if r["session"] == session["name"])
        sources = sorted({c["source"] for c in session["clips"]})
        out.append(f"- {session['name']} ({', '.join(sources)}):")
        out.append(f"  - reference: {session['reference']}")
        out.append(f"  - ours ({ours['errors']}/{ours['words']}): {ours['text']}")
        out.append(f"  - bare ({bare['errors']}/{bare['words']}): {bare['text']}")
    return "\n".join(out)


# The self-check

def check(transcripts):
    """The corpus and the figures' arithmetic; a list of faults."""
    faults = []

    def expect(ok, what):
        if not ok:
            faults.append(what)

    # Word errors: case, accents, punctuation and apostrophes do not count.
    for reference, hypothesis, errors in (
            ("Désolé, je n'ai pas réussi.", "desole je n ai pas reussi", 0),
            ("la unica persona", "La única persona.", 0),
            ("Viele Grüße", "viele grüsse", 0),
            ("Au revoir. Merci", "Au revoir merci beaucoup", 1),
            ("a b c", "a c", 1),
            ("a b c", "c b a", 2),
            ("a b", "", 2)):
        got = word_errors(reference, hypothesis)[0]
        expect(got == errors, f"word_errors({reference!r}, {hypothesis!r}) = {got}, not {errors}")
    got = pooled_wer([("a b c d", "a b c d"), ("e f", "")])
    expect(abs(got - 2 / 6) < 1e-9, f"pooled_wer = {got}, not 2/6")

    # Partial timing on a made-up feed: 0.1 s of audio every 0.1 s from t=10.
    written = [(10 + k / 10, k * RATE * FRAME_BYTES // 10) for k in range(1, 101)]
    # The first stretch's gap counts from its first partial, a later one's
    # from its start.
    timing = partial_timing([(0.5, 4.0), (6.0, 9.0)], written, [12.2, 13.0, 17.5, 18.1])
    want = [(1.7, 1.0, 2), (1.5, 1.5, 2)]  # (first, gap, partials)
    got = [(round(t["first"], 3), round(t["gap"], 3), t["partials"]) for t in timing]
    expect(got == want, f"partial_timing gives {got}, not {want}")
    # Loud for 1 s, a pause of 0.5 s, 0.5 s, a pause of 1 s, 0.5 s.
    loud = bytes([0, 16])  # 4096
    regions = speech_regions(silence(0.5) + loud * 16000 + silence(0.5) + loud * 8000
                             + silence(1.0) + loud * 8000)
    expect(regions == [(0.5, 2.5), (3.5, 4.0)], f"speech_regions gives {regions}")

    # The corpus: every language known, no digits (spoken as words), the
    # prompts' texts as the prompt lists give them, the recordings and the
    # sessions of a length that fits, each recording its own utterance.
    sessions = read_corpus()
    listed = {}  # language: {prompt: text}
    for path in transcripts:
        language = re.search(r"[-_](fr|es)\.txt(\.gz)?$", str(path))
        if not language or not Path(path).is_file():
            faults.append(f"{path}: no prompt list (core-sounds-fr.txt.gz, ...)")
            continue
        opener = gzip.open if str(path).endswith(".gz") else open
        with opener(path, "rt", encoding="utf-8") as text:
            for line in text:
                name, colon, said = line.partition(":")
                if colon and not line.startswith(";"):
                    listed.setdefault(language[1], {})[name.strip()] = said.strip()
    work = Path(tempfile.mkdtemp(prefix="quorvane-languages-check-"))
    try:
        ids = [row["id"] for rows in sessions.values() for row in rows]
        expect(len(ids) == len(set(ids)), "an id is used twice")
        for name, rows in sessions.items():
            languages = {row["language"] for row in rows}
            expect(len(languages) == 1 and languages <= set(LANGUAGES) and
                   name.startswith(rows[0]["language"]), f"{name}: languages {languages}")
            for row in rows:
                expect(not re.search(r"\d", row["reference"]), f"{row['id']}: a digit")
                recording = recording_of(row)
                if recording is None:
                    expect(row["source"] == "espeak-ng" and row["language"] == "de",
                           f"{row['id']}: synthetic speech only for German")
                    continue
                expect(row["language"] != "de", f"{row['id']}: German is synthetic")
                if not recording.exists():
                    faults.append(f"{recording} is missing (Debian's "
                                  f"{PACKAGES.get(row['source'].split('/')[0], '?')})")
                    continue
                seconds = seconds_of(recording)
                expect(CLIP_SECONDS[0] <= seconds <= CLIP_SECONDS[1],
                       f"{row['id']}: {seconds:.2f} s long")
                prompts = listed.get(row["language"])
                if prompts is not None:
                    said = prompts.get(row["source"].split("/", 1)[1])
                    expect(said == row["reference"],
                           f"{row['id']}: the prompt list says {said!r}")
            if any(f.startswith(str(PROMPTS)) for f in faults):
                continue
            session = build_session(name, rows, work)
            expect(SESSION_SECONDS[0] <= session["seconds"] <= SESSION_SECONDS[1],
                   f"{name}: {session['seconds']:.1f} s long")
            expect(len(session["speech"]) >= len(rows),
                   f"{name}: {len(session['speech'])} stretches of speech in {len(rows)} "
                   "recordings")
    finally:
        import shutil
        shutil.rmtree(work, ignore_errors=True)
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", type=Path, default=ROOT / "build" / "quorvane-dictation")
    parser.add_argument("--whisper", type=Path,
                        help="libwhisper and model/ggml-base.bin "
                             "(default: whisper/ beside the binary)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="1 run")
    parser.add_argument("--only", default=",".join(LANGUAGES), help="e.g. fr,es")
    parser.add_argument("--json", type=Path,
                        help="where to write the figures (default: under /tmp)")
    parser.add_argument("--check", action="store_true",
                        help="check the corpus and the figures' arithmetic, and exit")
    parser.add_argument("--transcripts", nargs="*", type=Path, default=None,
                        help="with --check: the prompt lists (core-sounds-fr.txt[.gz], ...) to "
                             "compare the texts with (default: those installed, if any)")
    options = parser.parse_args()

    if options.check:
        transcripts = options.transcripts
        if transcripts is None:
            transcripts = [p for lang in ("fr", "es") for p in [Path(
                f"/usr/share/doc/asterisk-core-sounds-{lang}/core-sounds-{lang}.txt.gz")]
                if p.exists()]
        faults = check(transcripts)
        for fault in faults:
            print(f"languages: {fault}")
        if not faults:
            compared = ", ".join(p.name for p in transcripts) or "no prompt list"
            print(f"languages: the corpus is consistent (texts compared with {compared})")
        return 1 if faults else 0

    languages = options.only.split(",")
    unknown = [lang for lang in languages if lang not in LANGUAGES]
    if unknown:
        raise BenchError(f"unknown languages: {', '.join(unknown)}")
    runs = 1 if options.quick else options.runs
    whisper = options.whisper or options.binary.parent / "whisper"
    if not (whisper / "model" / "ggml-base.bin").exists():
        raise BenchError(f"no {whisper}/model/ggml-base.bin (scripts/fetch-whisper)")
    started = datetime.datetime.now()
    json_path = options.json or Path(time.strftime("/tmp/quorvane-languages-%Y%m%d-%H%M%S.json"))

    def log(text):
        print(text, file=sys.stderr, flush=True)

    at_start = machine()
    bench = LanguageBench(options.binary, whisper, languages, log)
    try:
        log(f"{runs} run{'s' * (runs != 1)} of {len(bench.sessions)} sessions, each heard whole "
            "and stopped at its last word, and bare Whisper on the files")
        bench.measure(runs)
        summary = bench.summarize()
    finally:
        bench.close()
    sessions = [{**s, "wav": s["wav"].name} for s in bench.sessions]
    report = {
        "date": started.isoformat(timespec="seconds"),
        "command": " ".join(["python3 bench/languages.py", *sys.argv[1:]]),
        "binary": str(options.binary),
        "whisper": str(whisper.resolve()),
        "runs": runs,
        "machine": at_start,
        "load_average_at_end": list(os.getloadavg()),
        "sessions": sessions,
        "summary": summary,
        "raw": bench.results,
    }
    json_path.write_text(json.dumps(report, indent=1, ensure_ascii=False))
    print(markdown(summary, bench.sessions))
    print("Texts of the first run:")
    print()
    print(texts_markdown(bench.results, bench.sessions))
    print()
    m = report["machine"]
    load = spread([r["load_average"] for r in bench.results["ours"]])
    print(f"{m['nproc']} cores, {m['cpu']}; load average {m['load_average'][0]:.1f} at the start, "
          f"{load['median']:.1f} ({load['min']:.1f}–{load['max']:.1f}) after the sessions, "
          f"{report['load_average_at_end'][0]:.1f} at the end; {runs} run{'s' * (runs != 1)}; "
          f"`{report['command']}`")
    print(f"JSON: {json_path}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as error:
        sys.exit(f"languages: {error}")
