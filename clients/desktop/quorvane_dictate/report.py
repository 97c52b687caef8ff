"""The log, and failures shown where the user sees them.

The log keeps what happened (commands, the helper's messages, errors),
never the dictated text. A failure is shown once: on the terminal when
there is one, else as a desktop notification where notify-send exists.
"""

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

PROGRAM = "quorvane-dictate"

EXPLANATIONS = {
    "invalid_request": "that is not a locale such as en-US",
    "language_unsupported": "no speech model for this language is installed",
    "on_device_unavailable": "speech cannot be recognized on this machine",
    "microphone_unavailable": "no microphone could be opened (is the audio server running?)",
    "speech_not_authorized": "speech recognition has not been allowed yet",
    "speech_denied": "speech recognition is not allowed",
    "microphone_not_authorized": "the microphone has not been allowed yet",
    "microphone_denied": "the microphone is not allowed",
    "spawn_failed": "quorvane-dictation could not be started (is it installed?)",
    "protocol_error": "quorvane-dictation stopped unexpectedly",
}


def explain(code):
    return EXPLANATIONS.get(code, code)


def log_path(env=None):
    env = os.environ if env is None else env
    state = env.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return Path(state) / "quorvane-dictation" / "dictate.log"


def open_log(env=None):
    """The log, opened for appending (its folder made if need be)."""
    path = log_path(env)
    path.parent.mkdir(parents=True, exist_ok=True, mode=0o700)
    return open(path, "a", buffering=1, encoding="utf-8", errors="replace")


def log(line, stream=None):
    """One time-stamped line on `stream` (standard error: the log in the
    background)."""
    stream = stream or sys.stderr
    try:
        stream.write(f"{time.strftime('%Y-%m-%d %H:%M:%S')} [{os.getpid()}] {line}\n")
        stream.flush()
    except (OSError, ValueError):
        pass


def notify(message, env=None):
    """A desktop notification; False where notify-send is missing or fails."""
    env = os.environ if env is None else env
    tool = shutil.which("notify-send", path=env.get("PATH"))
    if not tool:
        return False
    try:
        return subprocess.run([tool, "--app-name", PROGRAM, "Dictation", message],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=5).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def tell(message, failure=True):
    """A one-line message for the user of a command: on the terminal when
    standard error is one, else (failures only) as a notification, and in
    the log too for failures."""
    if failure:
        try:
            with open_log() as stream:
                log(f"{PROGRAM}: {message}", stream)
        except OSError:
            pass
    if sys.stderr.isatty() or not failure or not notify(message):
        print(f"{PROGRAM}: {message}", file=sys.stderr)
