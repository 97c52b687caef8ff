#!/usr/bin/env python3
"""Bare whisper.cpp on WAV files: the anchor of the Whisper second pass.

Runs on Debian's Python with numpy, through ctypes on the same libwhisper
and model file the program uses (scripts/fetch-whisper):

    python3 bench/whisper_decode.py [--language en] [--threads N] [--library LIB] MODEL WAV...

Each WAV (16 kHz mono 16-bit) is decoded whole by whisper_full with
whisper.cpp's own defaults (greedy, the full 30 s window), the language
given, no language detection, no timestamps, no progress; libwhisper's log
is silenced before anything else. The model is loaded once for all files.
Prints one JSON line per file: {"file", "text"}.
"""

import argparse
import ctypes
import json
import pathlib
import sys
import wave

import numpy as np

DEFAULT_LIBRARY = pathlib.Path(__file__).resolve().parents[1] / ".deps" / "whisper" / "libwhisper.so.1"
WHISPER_SAMPLING_GREEDY = 0

LOG_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p)


class ContextParams(ctypes.Structure):
    """struct whisper_context_params of include/whisper.h at v1.8.5."""
    _fields_ = [
        ("use_gpu", ctypes.c_bool),
        ("flash_attn", ctypes.c_bool),
        ("gpu_device", ctypes.c_int),
        ("dtw_token_timestamps", ctypes.c_bool),
        ("dtw_aheads_preset", ctypes.c_int),
        ("dtw_n_top", ctypes.c_int),
        ("dtw_aheads_n_heads", ctypes.c_size_t),
        ("dtw_aheads_heads", ctypes.c_void_p),
        ("dtw_mem_size", ctypes.c_size_t),
    ]


class FullParams(ctypes.Structure):
    """struct whisper_full_params of include/whisper.h at v1.8.5 (304 bytes);
    the callbacks are pointers nobody here sets."""
    _fields_ = [
        ("strategy", ctypes.c_int),
        ("n_threads", ctypes.c_int),
        ("n_max_text_ctx", ctypes.c_int),
        ("offset_ms", ctypes.c_int),
        ("duration_ms", ctypes.c_int),
        ("translate", ctypes.c_bool),
        ("no_context", ctypes.c_bool),
        ("no_timestamps", ctypes.c_bool),
        ("single_segment", ctypes.c_bool),
        ("print_special", ctypes.c_bool),
        ("print_progress", ctypes.c_bool),
        ("print_realtime", ctypes.c_bool),
        ("print_timestamps", ctypes.c_bool),
        ("token_timestamps", ctypes.c_bool),
        ("thold_pt", ctypes.c_float),
        ("thold_ptsum", ctypes.c_float),
        ("max_len", ctypes.c_int),
        ("split_on_word", ctypes.c_bool),
        ("max_tokens", ctypes.c_int),
        ("debug_mode", ctypes.c_bool),
        ("audio_ctx", ctypes.c_int),
        ("tdrz_enable", ctypes.c_bool),
        ("suppress_regex", ctypes.c_char_p),
        ("initial_prompt", ctypes.c_char_p),
        ("carry_initial_prompt", ctypes.c_bool),
        ("prompt_tokens", ctypes.c_void_p),
        ("prompt_n_tokens", ctypes.c_int),
        ("language", ctypes.c_char_p),
        ("detect_language", ctypes.c_bool),
        ("suppress_blank", ctypes.c_bool),
        ("suppress_nst", ctypes.c_bool),
        ("temperature", ctypes.c_float),
        ("max_initial_ts", ctypes.c_float),
        ("length_penalty", ctypes.c_float),
        ("temperature_inc", ctypes.c_float),
        ("entropy_thold", ctypes.c_float),
        ("logprob_thold", ctypes.c_float),
        ("no_speech_thold", ctypes.c_float),
        ("greedy_best_of", ctypes.c_int),
        ("beam_search_beam_size", ctypes.c_int),
        ("beam_search_patience", ctypes.c_float),
        ("new_segment_callback", ctypes.c_void_p),
        ("new_segment_callback_user_data", ctypes.c_void_p),
        ("progress_callback", ctypes.c_void_p),
        ("progress_callback_user_data", ctypes.c_void_p),
        ("encoder_begin_callback", ctypes.c_void_p),
        ("encoder_begin_callback_user_data", ctypes.c_void_p),
        ("abort_callback", ctypes.c_void_p),
        ("abort_callback_user_data", ctypes.c_void_p),
        ("logits_filter_callback", ctypes.c_void_p),
        ("logits_filter_callback_user_data", ctypes.c_void_p),
        ("grammar_rules", ctypes.c_void_p),
        ("n_grammar_rules", ctypes.c_size_t),
        ("i_start_rule", ctypes.c_size_t),
        ("grammar_penalty", ctypes.c_float),
        ("vad", ctypes.c_bool),
        ("vad_model_path", ctypes.c_char_p),
        ("vad_threshold", ctypes.c_float),
        ("vad_min_speech_duration_ms", ctypes.c_int),
        ("vad_min_silence_duration_ms", ctypes.c_int),
        ("vad_max_speech_duration_s", ctypes.c_float),
        ("vad_speech_pad_ms", ctypes.c_int),
        ("vad_samples_overlap", ctypes.c_float),
    ]


assert ctypes.sizeof(FullParams) == 304


@LOG_CALLBACK
def _quiet(level, text, user_data):
    pass


class Whisper:
    """One libwhisper context on one model file."""

    def __init__(self, model, library=DEFAULT_LIBRARY):
        lib = ctypes.CDLL(str(library))
        lib.whisper_log_set.argtypes = [LOG_CALLBACK, ctypes.c_void_p]
        lib.whisper_log_set(_quiet, None)
        lib.whisper_version.restype = ctypes.c_char_p
        lib.whisper_context_default_params_by_ref.restype = ctypes.POINTER(ContextParams)
        lib.whisper_full_default_params_by_ref.restype = ctypes.POINTER(FullParams)
        lib.whisper_full_default_params_by_ref.argtypes = [ctypes.c_int]
        lib.whisper_init_from_file_with_params.restype = ctypes.c_void_p
        lib.whisper_init_from_file_with_params.argtypes = [ctypes.c_char_p, ContextParams]
        lib.whisper_full.argtypes = [ctypes.c_void_p, FullParams,
                                     ctypes.POINTER(ctypes.c_float), ctypes.c_int]
        lib.whisper_full_n_segments.argtypes = [ctypes.c_void_p]
        lib.whisper_full_get_segment_text.restype = ctypes.c_char_p
        lib.whisper_full_get_segment_text.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.whisper_free.argtypes = [ctypes.c_void_p]
        self.lib = lib
        self.version = lib.whisper_version().decode()
        lib.whisper_free_context_params.argtypes = [ctypes.POINTER(ContextParams)]
        lib.whisper_free_params.argtypes = [ctypes.POINTER(FullParams)]
        context_params = lib.whisper_context_default_params_by_ref()
        self.context = lib.whisper_init_from_file_with_params(str(model).encode(),
                                                              context_params.contents)
        lib.whisper_free_context_params(context_params)
        if not self.context:
            raise RuntimeError(f"{model}: libwhisper could not load it")

    def transcribe(self, samples, language="en", threads=None, timestamps=False):
        """The text of float samples at 16 kHz, as whisper_full gives it.
        Without timestamps whisper.cpp moves on by a whole 30 s window after
        each decoding, so a longer recording can lose words."""
        defaults = self.lib.whisper_full_default_params_by_ref(WHISPER_SAMPLING_GREEDY)
        params = FullParams.from_buffer_copy(defaults.contents)
        self.lib.whisper_free_params(defaults)
        params.language = language.encode()
        params.detect_language = False
        params.print_progress = False
        params.print_realtime = False
        params.print_timestamps = False
        params.no_timestamps = not timestamps
        if threads:
            params.n_threads = threads
        samples = np.ascontiguousarray(samples, dtype=np.float32)
        pointer = samples.ctypes.data_as(ctypes.POINTER(ctypes.c_float))
        if self.lib.whisper_full(self.context, params, pointer, len(samples)) != 0:
            raise RuntimeError("whisper_full failed")
        segments = range(self.lib.whisper_full_n_segments(self.context))
        text = "".join(self.lib.whisper_full_get_segment_text(self.context, i).decode(
            "utf-8", "replace") for i in segments)
        return text.strip()

    def close(self):
        if self.context:
            self.lib.whisper_free(self.context)
            self.context = None


def read_wav(path):
    with wave.open(str(path), "rb") as wav:
        if (wav.getnchannels(), wav.getsampwidth(), wav.getframerate()) != (1, 2, 16000):
            raise SystemExit(f"{path}: not 16 kHz mono 16-bit")
        frames = wav.readframes(wav.getnframes())
    return np.frombuffer(frames, "<i2").astype(np.float32) / 32768


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--language", default="en")
    parser.add_argument("--threads", type=int, help="whisper.cpp's default: up to 4")
    parser.add_argument("--library", default=DEFAULT_LIBRARY, type=pathlib.Path)
    parser.add_argument("model", type=pathlib.Path)
    parser.add_argument("wavs", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    whisper = Whisper(args.model, args.library)
    for path in args.wavs:
        samples = read_wav(path)
        # Past one window, only timestamps let whisper.cpp go on where the
        # speech does.
        text = whisper.transcribe(samples, args.language, args.threads,
                                  timestamps=len(samples) > 30 * 16000)
        print(json.dumps({"file": str(path), "text": text}), flush=True)
    whisper.close()


if __name__ == "__main__":
    sys.exit(main())
