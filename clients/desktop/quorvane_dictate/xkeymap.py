"""Keys of their own, on X11, for the letters the keyboard map lacks.

xdotool types such a letter by binding it to a spare key for an instant;
an X client that reads the map after the binding is undone gets nothing,
or the key's other case. Bound here on spare keys (no keysym in any
column) for the whole dictation instead, xdotool finds them in the map
like any letter, and they are unbound only once the dictation ends.
"""

import ctypes
import time

NO_SYMBOL = 0
COLUMNS = 2  # the same keysym with and without Shift


def keysym_of(character):
    """The X keysym of a character, as Xlib names "U+XXXX"."""
    code = ord(character)
    return code if 0xa0 <= code < 0x100 else 0x01000000 | code


class SpareKeys:
    """Binds letters to unused keycodes of the display named by `display`
    (bytes, or None for $DISPLAY). Without libX11 or a free keycode, bind()
    leaves the letter to xdotool's own binding."""

    def __init__(self, display=None):
        self._bound = {}  # character: keycode
        self._spare = []
        self._display = None
        try:
            self._x = ctypes.CDLL("libX11.so.6")
        except OSError:
            return
        self._x.XOpenDisplay.restype = ctypes.c_void_p
        self._x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        self._x.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                                ctypes.POINTER(ctypes.c_int)]
        self._x.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        for name in ("XSync", "XCloseDisplay", "XDisplayKeycodes", "XFree"):
            getattr(self._x, name).argtypes = None
        self._display = self._x.XOpenDisplay(display)
        if self._display:
            self._spare = self._find_spare()

    def _find_spare(self):
        low, high = ctypes.c_int(), ctypes.c_int()
        self._x.XDisplayKeycodes(ctypes.c_void_p(self._display), ctypes.byref(low),
                                 ctypes.byref(high))
        per_key = ctypes.c_int()
        count = high.value - low.value + 1
        table = self._x.XGetKeyboardMapping(self._display, low.value, count,
                                            ctypes.byref(per_key))
        if not table:
            return []
        spare = [low.value + key for key in range(count)
                 if all(table[key * per_key.value + column] == NO_SYMBOL
                        for column in range(per_key.value))]
        self._x.XFree(table)
        return spare[::-1]  # the highest first, far from real keys

    def bind(self, text):
        """Binds the letters of `text` outside ASCII not bound yet; True if
        any was, so that clients may first hear of the new map."""
        added = False
        for character in dict.fromkeys(text):
            if ord(character) < 0x80 or character in self._bound or not self._spare:
                continue
            keycode = self._spare.pop()
            self._change(keycode, keysym_of(character))
            self._bound[character] = keycode
            added = True
        if added:
            self._x.XSync(ctypes.c_void_p(self._display), 0)
        return added

    def unbound(self, text):
        """Whether `text` has letters outside ASCII without a key here."""
        return any(ord(character) >= 0x80 and character not in self._bound
                   for character in text)

    def _change(self, keycode, keysym):
        symbols = (ctypes.c_ulong * COLUMNS)(*[keysym] * COLUMNS)
        self._x.XChangeKeyboardMapping(self._display, keycode, COLUMNS, symbols, 1)

    def close(self, settle=0.2):
        """Unbinds the letters, `settle` seconds after the last typing, the
        time a client may take to read what it was sent."""
        if not self._display:
            return
        if self._bound:
            time.sleep(settle)
            for keycode in self._bound.values():
                self._change(keycode, NO_SYMBOL)
            self._x.XSync(ctypes.c_void_p(self._display), 0)
        self._x.XCloseDisplay(ctypes.c_void_p(self._display))
        self._display = None
        self._bound.clear()
