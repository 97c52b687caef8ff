"""quorvane-dictate: dictation into the focused window, one command a
keyboard shortcut can run for each step."""

import argparse
import os
import shutil
import sys
from pathlib import Path

from . import control, keyboard
from .report import log, open_log, tell

HELPER = "quorvane-dictation"
EXECUTABLE_VARIABLE = "QUORVANE_DICTATION_EXECUTABLE"

USAGE = """\
quorvane-dictate begin [LOCALE]   start dictating into the focused window
quorvane-dictate end              stop; the rest of the text is typed
quorvane-dictate cancel           stop; nothing more is typed
quorvane-dictate toggle [LOCALE]  begin when no dictation runs, else end
quorvane-dictate status           whether a dictation runs"""


def find_helper(explicit=None, env=None, script=None):
    """quorvane-dictation: `explicit`, $QUORVANE_DICTATION_EXECUTABLE, on
    PATH, beside this script (or the IBus engine's), or in the build/ folder
    of its source tree."""
    env = os.environ if env is None else env
    if explicit or env.get(EXECUTABLE_VARIABLE):
        return explicit or env[EXECUTABLE_VARIABLE]
    found = shutil.which(HELPER, path=env.get("PATH"))
    if found:
        return found
    script = Path(script or sys.argv[0])
    folders = [script.parent, script.resolve().parent]
    if folders[1].parts[-2:] in (("clients", "desktop"), ("clients", "ibus")):  # the source tree's
        folders.append(folders[1].parents[1] / "build")
    for folder in folders:
        candidate = folder / HELPER
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    return None


def parse(arguments):
    parser = argparse.ArgumentParser(prog="quorvane-dictate", usage=USAGE,
                                     description="Types what you say into the window that "
                                                 "has the keyboard focus.")
    parser.add_argument("command", choices=["begin", "end", "cancel", "toggle", "status"])
    parser.add_argument("locale", nargs="?", help="such as en-US; the user's own by default")
    parser.add_argument("--at-end", action="store_true",
                        help="type the whole text once, at the end, not the words as they come")
    parser.add_argument("--typer", choices=sorted(keyboard.KEYBOARDS),
                        help="the typing tool, instead of the one the session calls for")
    parser.add_argument("--executable", help=f"the {HELPER} to run")
    parser.add_argument("--print", action="store_true", dest="print_final",
                        help="end: print the final text on standard output")
    return parser.parse_args(arguments)


def begin(options, folder):
    try:
        typer = keyboard.choose(name=options.typer)
    except keyboard.NoKeyboard as error:
        tell(str(error))
        return 1
    helper = find_helper(options.executable)
    if helper is None:
        tell(f"{HELPER} is not installed (not on PATH)")
        return 1
    from .background import Dictation  # only a dictation needs the helper's library

    lock = control.take_lock(folder)
    if lock is None:
        tell("a dictation is running already", failure=False)
        return 1
    server = control.listen_socket(folder)
    log_stream = open_log()
    if os.fork():
        os.close(lock)  # the child holds the lock and the socket now
        server.close()
        return 0
    terminal = _become_background(log_stream)
    retired = False

    def retire():
        """Once: the socket's path and the lock go to whoever begins next."""
        nonlocal retired
        if retired:
            return
        retired = True
        try:
            (folder / "socket").unlink()
        except OSError:
            pass
        os.close(lock)

    try:
        dictation = Dictation(helper, options.locale, typer, options.at_end, terminal, retire)
        log(f"begin with {typer.name}, {'at the end' if options.at_end else 'as it comes'}")
        dictation.start()
        dictation.serve(server)
    except BaseException as error:  # the log is all there is to tell
        log(f"background dictation failed: {error!r}")
    finally:
        retire()
        log("background dictation ends")
    os._exit(0)


def _become_background(log_stream):
    """A session of its own, away from the terminal: standard input and
    output on /dev/null, standard error the log. Returns a descriptor of the
    terminal standard error was, if it was one."""
    os.setsid()
    terminal = os.dup(2) if os.isatty(2) else None
    null = os.open(os.devnull, os.O_RDWR)
    os.dup2(null, 0)
    os.dup2(null, 1)
    os.dup2(log_stream.fileno(), 2)
    os.close(null)
    sys.stdout = open(1, "w", closefd=False)
    sys.stderr = open(2, "w", buffering=1, closefd=False, errors="replace")
    return terminal


def ask(folder, command):
    try:
        return control.request(folder, command)
    except (OSError, ValueError) as error:
        tell(f"the dictation did not answer: {error}")
        return {"error": None}


def finish(folder, command, options):
    answer = ask(folder, command)
    if answer is None:
        tell("no dictation is running", failure=False)
        return 1
    if "error" in answer:
        if answer["error"]:
            tell(answer["error"])
        return 1
    if options.print_final and "final" in answer:
        sys.stdout.write(answer["final"] + "\n")
    return 0


def main(arguments=None):
    options = parse(sys.argv[1:] if arguments is None else arguments)
    try:
        folder = control.runtime_dir()
    except OSError as error:
        tell(f"no folder for the dictation's socket: {error}")
        return 1
    if options.command == "begin":
        return begin(options, folder)
    if options.command == "status":
        answer = ask(folder, "status")
        print("idle" if answer is None else answer.get("state", "unknown"))
        return 0
    if options.command == "toggle":
        if control.request(folder, "status") is None:
            return begin(options, folder)
        return finish(folder, "end", options)
    return finish(folder, options.command, options)
