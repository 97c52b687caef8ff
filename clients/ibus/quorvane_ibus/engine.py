"""The IBus engine: a dictation for the focused field while the engine is
the current one.

ibus-daemon moves the one engine from field to field (its global engine),
and on a switch to another engine it commits the preedit itself, when it
is shown with the commit focus mode, before telling the engine anything;
what the engine commits after that reaches nobody. So the preedit always
holds all of the text not yet committed, in that mode.
"""

from gi.repository import GLib, IBus

# Enter ends a dictation and reaches the application after its text;
# Escape drops the preedit. Either only without Ctrl, Alt or Super.
ENTER_KEYS = (IBus.KEY_Return, IBus.KEY_KP_Enter, IBus.KEY_ISO_Enter)
MODIFIERS = (IBus.ModifierType.CONTROL_MASK | IBus.ModifierType.MOD1_MASK
             | IBus.ModifierType.SUPER_MASK | IBus.ModifierType.MOD4_MASK)
# No dictation into these.
SECRET_PURPOSES = (IBus.InputPurpose.PASSWORD, IBus.InputPurpose.PIN)
FAKE_CLIENT = "fake"  # ibus-daemon's context when no field has the focus
FAKE_CONTEXT_PATH = "/org/freedesktop/IBus/InputContext_1"  # the daemon makes it first


class Engine(IBus.Engine):
    __gtype_name__ = "QuorvaneDictationEngine"

    def __init__(self, bus, desk, log, **properties):
        super().__init__(has_focus_id=True, **properties)
        self._bus = bus
        self._desk = desk
        self._log = log
        self._enabled = False
        self._focused = False
        self._secret = False
        self._aux_shown = False
        self._capabilities = 0

    # What Desk and Dictation call: the field behind this engine.

    def wants_dictation(self):
        return self._enabled and self._focused and not self._secret

    def commit(self, text):
        self.commit_text(IBus.Text.new_from_string(text))

    def preedit(self, text):
        shown = IBus.Text.new_from_string(text)
        length = len(text)
        if length:
            shown.append_attribute(IBus.AttrType.UNDERLINE, IBus.AttrUnderline.SINGLE, 0, length)
        self.update_preedit_text_with_mode(shown, length, bool(length),
                                           IBus.PreeditFocusMode.COMMIT)

    def follows_word(self):
        if not self._capabilities & IBus.Capabilite.SURROUNDING_TEXT:
            return False
        text, cursor, _anchor = self.get_surrounding_text()
        before = text.get_text()[:cursor]
        return bool(before) and not before[-1].isspace()

    def erase(self, count):
        self.delete_surrounding_text(-count, count)

    def forward(self, keys):
        for keyval, keycode, state in keys:
            self.forward_key_event(keyval, keycode, state)

    def notice(self, message):
        self.update_auxiliary_text(IBus.Text.new_from_string(f"Dictation: {message}"), True)
        self._aux_shown = True

    # ibus-daemon's calls.

    def _update(self):
        if self.wants_dictation():
            self._desk.begin(self)
        else:
            self._desk.leave(self)

    def do_enable(self):
        self._enabled = True
        self._update()

    def do_disable(self):
        self._enabled = False
        self._update()

    def do_focus_in(self):
        # Only the daemon's first engine of this name gets these: it asks
        # whether the engine takes focus ids once the engine exists. Which
        # context has the focus tells the field from no field at all.
        self._log("focus in, without an id")
        self._focused = False
        self._update()
        self._bus.current_input_context_async(-1, None, self._focused_context)

    def _focused_context(self, bus, result):
        try:
            path = bus.current_input_context_async_finish(result)
        except GLib.Error as error:
            self._log(f"no focused context: {error.message}")
            return
        self._focused = path != FAKE_CONTEXT_PATH
        self._update()

    def do_focus_out(self):
        self._focused = False
        self._update()

    def do_focus_in_id(self, object_path, client):
        self._log(f"focus in ({client or 'a client without a name'})")
        self._focused = client != FAKE_CLIENT
        self._update()

    def do_focus_out_id(self, object_path):
        self._focused = False
        self._update()

    def do_set_capabilities(self, capabilities):
        self._capabilities = capabilities
        if capabilities & IBus.Capabilite.SURROUNDING_TEXT:
            self.get_surrounding_text()  # asks the client to keep it up to date

    def do_set_content_type(self, purpose, hints):
        self._secret = purpose in SECRET_PURPOSES
        self._update()

    def do_destroy(self):
        self._enabled = False
        self._desk.leave(self)
        IBus.Engine.do_destroy(self)

    def do_reset(self):
        pass  # a click moves the cursor: the dictation goes on there

    def do_process_key_event(self, keyval, keycode, state):
        if self._aux_shown:
            self.hide_auxiliary_text()
            self._aux_shown = False
        dictation = self._desk.of(self)
        if dictation is None or state & MODIFIERS:
            return False
        released = bool(state & IBus.ModifierType.RELEASE_MASK)
        if keyval in ENTER_KEYS:
            # Held, press and then release, until the final text is in.
            if released and dictation.holds_keys:
                dictation.end([(keyval, keycode, state)])
                return True
            if not released and dictation.state in ("starting", "listening", "ending"):
                self._log("Enter: the dictation ends")
                dictation.end([(keyval, keycode, state)], again=True)
                return True
            return False
        if keyval == IBus.KEY_Escape and not released and \
                dictation.state in ("starting", "listening", "ending"):
            self._log("Escape: the dictation is cancelled")
            dictation.cancel()
            return True
        return False
