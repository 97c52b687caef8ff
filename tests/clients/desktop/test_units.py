"""What to type for a run of partials, which tool types, which helper runs."""

import os

import pytest

from quorvane_dictate import cli, keyboard
from quorvane_dictate.stable import Edit, StableText

# (partials, typed after each one, final, the edit the final needs)
RUNS = [
    (["Hello", "Hello world", "Hello world this", "Hello world this is"],
     ["", "", "Hello", "Hello world"], "Hello world this is.", Edit(0, " this is.")),
    # A mark after a word typed already: erased back to before it.
    (["Hello how", "Hello how are", "Hello how are you", "Hello, how are you? I"],
     ["", "Hello", "Hello how", "Hello how"], "Hello, how are you? I am.",
     Edit(4, ", how are you? I am.")),
    # A word changed again is not typed until two partials agree on it.
    (["one two three four", "one two tree four five", "one two tree four five six"],
     ["", "one two", "one two tree four"], "One two tree four five six.",
     Edit(17, "One two tree four five six.")),
    # Line feeds are kept as they are, as the space between words.
    (["A b", "A\nb c d", "A\nb c d e", "A\nb c d e\n\nF g"],
     ["", "A", "A\nb c", "A\nb c d e"], "A\nb c d e\n\nF g.", Edit(0, "\n\nF g.")),
    (["café crème", "café crème über", "café crème über alles —", "café crème über alles — ja"],
     ["", "café", "café crème über", "café crème über alles"], "café crème über alles — ja.",
     Edit(0, " — ja.")),
    ([], [], "", Edit()),
    (["Word"], [""], "", Edit()),
]


@pytest.mark.parametrize("partials, typed, final, edit", RUNS)
def test_stable_words_are_typed_once_and_the_final_reached(partials, typed, final, edit):
    tracker = StableText()
    window = ""
    seen = []
    for text in partials:
        window += tracker.partial(text)
        seen.append(window)
        assert tracker.typed == window
    assert seen == typed
    assert tracker.final(final) == edit
    window = window[:len(window) - edit.erase] + edit.text
    assert window == final == tracker.typed


@pytest.mark.parametrize("env, tools, chosen", [
    ({"DISPLAY": ":1"}, {"xdotool", "wtype"}, "xdotool"),
    ({"DISPLAY": ":1", "WAYLAND_DISPLAY": "wayland-0"}, {"xdotool", "wtype"}, "wtype"),
    ({"DISPLAY": ":1", "XDG_SESSION_TYPE": "wayland"}, {"xdotool", "ydotool"}, "ydotool"),
    ({"WAYLAND_DISPLAY": "wayland-0"}, {"xdotool"}, "nothing can type here: install wtype"),
    ({"DISPLAY": ":1"}, {"wtype", "ydotool"}, "nothing can type here: install xdotool"),
    ({"XDG_SESSION_TYPE": "tty"}, {"xdotool"}, "no desktop session"),
])
def test_the_session_chooses_the_typing_tool(env, tools, chosen):
    def which(name, path=None):
        return f"/usr/bin/{name}" if name in tools else None

    try:
        typer = keyboard.choose(env, which=which)
    except keyboard.NoKeyboard as error:
        assert str(error).startswith(chosen)
    else:
        assert typer.name == chosen and typer.path == f"/usr/bin/{chosen}"


def test_the_helper_is_found_on_path_then_beside_the_script(tmp_path):
    tree = tmp_path / "tree"
    (tree / "clients" / "desktop").mkdir(parents=True)
    (tree / "build").mkdir()
    script = tree / "clients" / "desktop" / "quorvane-dictate"
    script.touch()
    built = tree / "build" / cli.HELPER
    built.write_text("#!/bin/sh\n")
    built.chmod(0o755)
    on_path = tmp_path / "bin" / cli.HELPER
    on_path.parent.mkdir()
    on_path.write_text("#!/bin/sh\n")
    on_path.chmod(0o755)
    cases = [
        ({"PATH": str(on_path.parent)}, None, str(on_path)),
        ({"PATH": "/nowhere"}, None, str(built)),
        ({"PATH": str(on_path.parent), cli.EXECUTABLE_VARIABLE: "/x"}, None, "/x"),
        ({"PATH": str(on_path.parent)}, "/y", "/y"),
    ]
    for env, explicit, expected in cases:
        assert cli.find_helper(explicit, env, script) == expected, env
    built.unlink()
    assert cli.find_helper(None, {"PATH": "/nowhere"}, script) is None
    os.symlink(on_path, tree / "quorvane-dictate")  # a link into a build tree
    assert cli.find_helper(None, {"PATH": "/nowhere"}, tree / "quorvane-dictate") == str(on_path)
