"""ibus-engine-quorvane: `--ibus` serves the engine to ibus-daemon, `--xml`
describes it for the daemon's registry."""

import argparse
import os
import sys
from xml.sax.saxutils import escape

ENGINE = "quorvane"
BUS_NAME = "org.freedesktop.IBus.QuorvaneDictation"
PROGRAM = "ibus-engine-quorvane"


def language(env=None):
    """The user's locale as IBus names languages ("en_US"); English for C."""
    env = os.environ if env is None else env
    for variable in ("LC_ALL", "LC_MESSAGES", "LANG"):
        value = env.get(variable)
        if value:
            code = value.split(".")[0].split("@")[0]
            return "en" if code in ("C", "POSIX") else code
    return "en"


def engines_xml(env=None):
    fields = {
        "name": ENGINE, "longname": "Dictation", "language": language(env),
        "description": "Speech to text on this machine: say it, and it is typed",
        "license": "MIT", "author": "Quorvane Dictation developers",
        "icon": "audio-input-microphone", "layout": "default", "symbol": "🎙", "rank": "0",
    }
    body = "".join(f"<{key}>{escape(value)}</{key}>" for key, value in fields.items())
    return f"<engines><engine>{body}</engine></engines>"


def parse(arguments):
    parser = argparse.ArgumentParser(prog=PROGRAM, description="The Dictation input method "
                                     "for IBus; ibus-daemon starts it.")
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--ibus", action="store_true", help="serve the engine to ibus-daemon")
    mode.add_argument("--xml", action="store_true", help="describe the engine for ibus-daemon")
    parser.add_argument("--executable", help="the quorvane-dictation to run")
    return parser.parse_args(arguments)


def serve(options):
    from quorvane_dictate.cli import EXECUTABLE_VARIABLE, HELPER, find_helper
    from quorvane_dictate.report import log, open_log

    # Standard error is the log, so that nothing (GLib's warnings either)
    # reaches ibus-daemon's; standard output carries nothing.
    stream = open_log()
    null = os.open(os.devnull, os.O_RDWR)
    os.dup2(null, 0)
    os.dup2(null, 1)
    os.dup2(stream.fileno(), 2)
    os.close(null)
    sys.stdout = open(1, "w", closefd=False)
    sys.stderr = open(2, "w", buffering=1, closefd=False, errors="replace")

    def say(line):
        log(f"{PROGRAM}: {line}")

    import gi
    gi.require_version("IBus", "1.0")
    from gi.repository import GLib, IBus

    from .dictation import Desk
    from .engine import Engine
    from .helper import HelperRun

    # The variable first: the component's command line is fixed.
    helper = (os.environ.get(EXECUTABLE_VARIABLE) or find_helper(
        options.executable, script=os.path.abspath(sys.argv[0])) or HELPER)
    IBus.init()
    bus = IBus.Bus()
    if not bus.is_connected():
        say("ibus-daemon is not running")
        return 1
    loop = GLib.MainLoop()
    bus.connect("disconnected", lambda _bus: loop.quit())
    desk = Desk(lambda on_event: HelperRun([helper, "listen"], on_event, say), say)
    engines = {}  # the live ones, by object path

    def create(_factory, name):
        path = f"/org/freedesktop/IBus/Engine/Quorvane/{create.made}"
        create.made += 1
        engine = Engine(bus, desk, say, engine_name=name, object_path=path,
                        connection=bus.get_connection())
        engines[path] = engine
        engine.connect("destroy", lambda _engine: engines.pop(path, None))
        say(f"engine {name} made, helper {helper}")
        return engine

    create.made = 1
    factory = IBus.Factory.new(bus.get_connection())
    factory.connect("create-engine", create)
    if bus.request_name(BUS_NAME, 0) == 0:
        say(f"cannot own {BUS_NAME}")
        return 1
    say("serving")
    loop.run()
    say("ibus-daemon went away")
    return 0


def main(arguments=None):
    options = parse(sys.argv[1:] if arguments is None else arguments)
    if options.xml:
        sys.stdout.write(engines_xml() + "\n")
        return 0
    return serve(options)
