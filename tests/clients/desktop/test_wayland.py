"""quorvane-dictate on Wayland: wtype typing into a foot terminal under a
headless sway."""

import time

from quorvane_dictate import keyboard
from quorvane_dictate.stable import Edit


def test_wtype_types_letters_outside_ascii_lines_and_erasing(foot):
    typer = keyboard.choose(foot.env)
    assert typer.name == "wtype"
    typer.apply(Edit(0, "é ü — café\nnaïve Ærø ñx"))
    typer.erase(1)
    assert foot.wait_for("é ü — café\nnaïve Ærø ñ") == "é ü — café\nnaïve Ærø ñ"


def test_a_dictation_is_typed_with_wtype(foot, dictate, fake_script):
    partials = ["Ein", "Ein Wort", "Ein Wort über", "Ein Wort über alles"]
    final = "Ein Wort über alles."
    run = dictate(fake_script(partials, final), session={
        "WAYLAND_DISPLAY": foot.env["WAYLAND_DISPLAY"], "XDG_SESSION_TYPE": "wayland"})
    assert run("begin").returncode == 0
    assert foot.wait_for("Ein Wort") == "Ein Wort"
    time.sleep(0.3)
    ended = run("end", "--print")
    assert (ended.returncode, ended.stdout) == (0, final + "\n"), ended.stderr
    assert foot.wait_for(final) == final
    assert "begin with wtype" in run.log.read_text()
