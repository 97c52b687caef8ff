"""Dictation as an input method: an IBus engine that runs quorvane-dictation
and hands its text to the focused field as preedit and commits."""
