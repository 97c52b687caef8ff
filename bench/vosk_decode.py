#!/usr/bin/env python3
"""The bare Vosk recognizer on WAV files: the anchor of the Vosk engine.

Run with the Python of the virtual environment that bench/harness.py makes
(PyPI's vosk package, which carries its own libvosk), never imported by the
benchmark itself:

    VENV/bin/python bench/vosk_decode.py MODEL_DIR WAV...
    VENV/bin/python bench/vosk_decode.py --import-only

Each WAV (16 kHz mono 16-bit) is read whole, in blocks of 4000 frames as
vosk-transcriber reads its input, through one KaldiRecognizer with word
times; the model is loaded once for all files, a recognizer made for each. Prints one JSON line per
file: {"file", "text", "words": [[word, start s, end s], ...]}, times from
the start of the file. --import-only imports vosk and loads nothing: the
interpreter's own share of the anchor's memory and CPU.
"""

import json
import sys
import wave

BLOCK_FRAMES = 4000


def decode(model, path):
    # A recognizer of its own: one that goes on counts its word times from
    # the first file.
    import vosk
    recognizer = vosk.KaldiRecognizer(model, 16000)
    recognizer.SetWords(True)
    texts, words = [], []

    def keep(result):
        result = json.loads(result)
        if result.get("text"):
            texts.append(result["text"])
        for w in result.get("result", []):
            words.append([w["word"], w["start"], w["end"]])

    with wave.open(path, "rb") as wav:
        if (wav.getnchannels(), wav.getsampwidth(), wav.getframerate()) != (1, 2, 16000):
            raise SystemExit(f"{path}: not 16 kHz mono 16-bit")
        while True:
            block = wav.readframes(BLOCK_FRAMES)
            if not block:
                break
            if recognizer.AcceptWaveform(block):
                keep(recognizer.Result())
    keep(recognizer.FinalResult())
    return {"file": path, "text": " ".join(texts), "words": words}


def main():
    import vosk
    if sys.argv[1:] == ["--import-only"]:
        return
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    vosk.SetLogLevel(-1)
    model = vosk.Model(sys.argv[1])
    for path in sys.argv[2:]:
        print(json.dumps(decode(model, path)), flush=True)


if __name__ == "__main__":
    main()
