"""The engine under GNOME Shell on Wayland, as GNOME users get it: the
shell's own ibus-daemon, its input method bridge, and a GTK 3 text view
taking the text through the Wayland text-input protocol."""

import pytest

from desktop_session import fake_helper_env
from gnome_session import GnomeSession, available
from ibus_session import ENGINE, OTHER_ENGINE, TextField
from test_x11 import FINAL, PARTIALS, switch


@pytest.fixture
def gnome(binary, tmp_path):
    why = available()
    if why:
        pytest.skip(why)
    # Partials as far apart as speech gives them: 50 ms apart, commits get
    # lost between the shell and GTK 3's Wayland input module.
    session = GnomeSession(tmp_path, binary, fake_helper_env(tmp_path, PARTIALS, FINAL,
                                                              interval=0.3))
    field = None
    try:
        field = TextField(session, tmp_path)
        yield session, field
    finally:
        if field:
            field.close()
        session.close()


def test_gnome_on_wayland_gets_the_preedit_the_words_and_enter(gnome):
    session, field = gnome
    switch(session, ENGINE)
    field.wait_for(lambda f: (f.text(), f.preedit()) == ("Hello world this is", " a test"),
                   "the stable words and the preedit")
    field.key("Return")
    field.wait_for(lambda f: f.text() == FINAL + "\n" and f.preedit() == "",
                   "the final text and the line feed")
    # The next dictation: switching away keeps what it showed.
    field.wait_for(lambda f: f.text() + f.preedit() == FINAL + "\n" + PARTIALS[-1],
                   "the next dictation")
    switch(session, OTHER_ENGINE)
    field.wait_for(lambda f: f.text() == FINAL + "\n" + PARTIALS[-1] and f.preedit() == "",
                   "the commit as the engine is left")
