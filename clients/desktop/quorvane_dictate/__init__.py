"""Dictation into the window that has the keyboard focus, through
quorvane-dictation and a typing tool of the desktop session."""
