#!/usr/bin/python3
"""A GTK 3 window with one text view that takes its text from the input
method, and writes to FILE, one JSON line each, what it shows:

    {"t": ..., "preedit": "..."}     the preedit, each time it changes
    {"t": ..., "text": "..."}        the whole committed text, each change
    {"t": ..., "focus": true}        the view has the keyboard focus (false: lost it)

`t` is time.monotonic(), the clock of every process here. A line "quit" on
standard input closes the window; "unfocus" moves the focus to a button
beside the view and "focus" back.

    ibus_text_field.py FILE
"""

import json
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    record = open(sys.argv[1], "a", buffering=1, encoding="utf-8")

    def write(**fields):
        record.write(json.dumps({"t": time.monotonic(), **fields}, ensure_ascii=False) + "\n")

    window = Gtk.Window(title="quorvane-ibus-field")
    window.set_default_size(600, 200)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    view = Gtk.TextView()
    button = Gtk.Button(label="elsewhere")
    box.pack_start(view, True, True, 0)
    box.pack_start(button, False, False, 0)
    window.add(box)
    buffer = view.get_buffer()
    buffer.connect("changed", lambda b: write(text=b.get_text(b.get_start_iter(),
                                                                b.get_end_iter(), True)))
    view.connect("preedit-changed", lambda _view, text: write(preedit=text))
    def focus_changed(_view, event):
        write(focus=bool(event.in_))
        return False

    view.connect("focus-in-event", focus_changed)
    view.connect("focus-out-event", focus_changed)
    window.connect("destroy", Gtk.main_quit)

    def command(channel, _condition):
        line = channel.readline()
        if not line or line.strip() == "quit":
            Gtk.main_quit()
            return False
        if line.strip() == "unfocus":
            button.grab_focus()
        elif line.strip() == "focus":
            view.grab_focus()
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP, command)
    window.show_all()
    view.grab_focus()
    window.present()
    Gtk.main()


if __name__ == "__main__":
    main()
