"""quorvane-dictate typing into a real X client (an xterm under Xvfb)
through xdotool: the typed text against the final text."""

import os
import pty
import select
import signal
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

from desktop_session import LIMIT, SCRIPT
from quorvane_dictate import keyboard

GROWING = ["hello", "hello world", "hello world this", "hello world this is",
           "hello world this is a", "hello world this is a test"]


@pytest.mark.parametrize("partials, final, options", [
    pytest.param(GROWING, "Hello world, this is a test.", [], id="revised-start-backspaced"),
    pytest.param(["café", "café crème", "café crème über", "café crème über alles — ja"],
                 "café crème über alles — ja.", [], id="non-ascii-as-it-comes"),
    pytest.param(["one", "one\ntwo", "one\ntwo three", "one\ntwo three\n\nfour"],
                 "One\ntwo three.\n\nFour five.", [], id="new-lines"),
    pytest.param(GROWING, "Hello world, this is a test.", ["--at-end"], id="at-end"),
])
def test_the_window_gets_the_final_text(receiver, dictate, fake_script, partials, final,
                                        options):
    run = dictate(fake_script(partials, final, interval=0.05))
    assert run("begin", *options).returncode == 0
    # Every partial written, as a speaker who pauses before the shortcut.
    time.sleep(0.05 * len(partials) + 0.5)
    if "--at-end" in options:
        assert receiver.text() == ""
    ended = run("end", "--print")
    assert ended.returncode == 0, ended.stderr
    assert ended.stdout == final + "\n"
    assert receiver.wait_for(final) == final
    assert run("status").stdout == "idle\n"
    log = run.log.read_text()
    assert "helper: final" in log and final not in log, log


def test_stable_words_are_typed_while_speaking(receiver, dictate, fake_script):
    run = dictate(fake_script(GROWING, "Hello world this is a test.", interval=0.05))
    run("begin")
    # All but the last two words of the newest partial, agreed on.
    assert receiver.wait_for("hello world this is") == "hello world this is"
    cancelled = run("cancel")
    assert cancelled.returncode == 0, cancelled.stderr
    time.sleep(0.3)
    assert receiver.text() == "hello world this is"
    assert run("end").stderr == "quorvane-dictate: no dictation is running\n"


def test_toggle_begins_then_ends_and_begin_is_refused_meanwhile(receiver, dictate,
                                                                fake_script):
    run = dictate(fake_script(["one two three"], "One two three.", interval=0.05))
    # Two at once: one begins.
    with ThreadPoolExecutor(2) as pool:
        first = list(pool.map(lambda command: run(command).returncode, ["begin", "begin"]))
    assert sorted(first) == [0, 1], first
    assert run("toggle").returncode == 0
    assert receiver.wait_for("One two three.") == "One two three."
    receiver.file.write_bytes(b"")
    assert run("toggle").returncode == 0
    second = run("begin")
    assert (second.returncode, second.stderr) == (1, "quorvane-dictate: a dictation is "
                                                     "running already\n")
    time.sleep(0.3)
    assert run("toggle").returncode == 0
    assert receiver.wait_for("One two three.") == "One two three."


def test_a_helper_error_is_reported_and_nothing_typed(receiver, dictate, tmp_path):
    helper = tmp_path / "failing-helper"
    helper.write_text('#!/bin/sh\necho \'{"type":"error","code":"microphone_unavailable"}\'\n'
                      'exit 1\n')
    helper.chmod(0o755)
    run = dictate({"QUORVANE_DICTATION_EXECUTABLE": str(helper), "PATH": "/usr/bin:/bin"})
    run("begin")
    ended = run("end")
    # The end hears of the error, or comes after the dictation has ended;
    # either way the log has it.
    deadline = time.monotonic() + 5
    while "failed: no microphone" not in run.log.read_text() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert "failed: no microphone could be opened" in run.log.read_text()
    assert ended.returncode == 1
    assert receiver.text() == ""


def test_a_failure_nobody_waits_for_shows_once_on_the_terminal_of_begin(dictate, tmp_path):
    helper = tmp_path / "failing-helper"
    helper.write_text('#!/bin/sh\necho \'{"type":"error","code":"language_unsupported"}\'\n'
                      'exit 1\n')
    helper.chmod(0o755)
    run = dictate({"QUORVANE_DICTATION_EXECUTABLE": str(helper)})
    terminal, side = pty.openpty()
    try:
        begun = subprocess.run([str(SCRIPT), "begin"], env=run.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=side, timeout=LIMIT)
        os.close(side)
        assert begun.returncode == 0
        shown = b""
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            if select.select([terminal], [], [], 0.1)[0]:
                try:
                    shown += os.read(terminal, 1024)
                except OSError:  # every writer has gone
                    break
    finally:
        os.close(terminal)
    assert shown.decode().splitlines() == ["quorvane-dictate: no speech model for this language "
                                           "is installed"]


def test_no_typing_tool_says_what_to_install_and_starts_nothing(dictate, tmp_path):
    run = dictate({"PATH": str(tmp_path)})
    begun = run("begin")
    assert (begun.returncode, begun.stderr) == (1, "quorvane-dictate: nothing can type "
                                                   "here: install xdotool\n")
    assert run("status").stdout == "idle\n"


def test_xdotool_types_letters_outside_ascii(receiver):
    typer = keyboard.choose(receiver.env)
    assert typer.name == "xdotool"
    text = "é ü — café\nnaïve Ærø ñ"
    try:
        typer.type(text)
        assert receiver.wait_for(text) == text
    finally:
        typer.close()


def gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split()[2] == "Z"  # dead, not yet reaped
    except FileNotFoundError:
        return True


def test_a_dictation_killed_leaves_no_obstacle(receiver, dictate, fake_script):
    run = dictate(fake_script(["one two three"], "One two three."))
    assert run("begin").returncode == 0
    (pid,) = run.pids
    os.kill(pid, signal.SIGKILL)
    deadline = time.monotonic() + LIMIT
    while not gone(pid):
        assert time.monotonic() < deadline
        time.sleep(0.02)
    socket = run.runtime / "quorvane-dictate" / "socket"
    assert socket.exists()  # left behind
    assert run("end").stderr == "quorvane-dictate: no dictation is running\n"
    assert run("begin").returncode == 0
    time.sleep(0.3)
    assert run("end").returncode == 0
    assert receiver.wait_for("One two three.") == "One two three."
