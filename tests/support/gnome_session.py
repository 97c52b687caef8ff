"""GNOME Shell on Wayland for the IBus engine's tests: gnome-shell
--headless with a virtual monitor, on a private session bus and a private
stand-in for the system bus (it needs one to start, and finds nothing
there). The shell starts ibus-daemon itself, as on a desktop, which finds
the build tree's component; its input sources are the US layout and
Dictation. Mutter's remote desktop session is the keyboard: without one
the seat has none, and no window gets the keyboard focus."""

import os
import shutil
import subprocess
import time

from gi.repository import Gio, GLib

from desktop_session import LIMIT, need, stop_process
from ibus_session import SYSTEM_COMPONENTS, IBusSession, component_folder, wait_until

KEYSYMS = {"Return": 0xFF0D, "Escape": 0xFF1B, "Shift_L": 0xFFE1, "a": 0x61}
REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop"


def available():
    """Why GNOME Shell cannot run here, or None."""
    missing = [tool for tool in ("gnome-shell", "gsettings", "gdbus") if not shutil.which(tool)]
    return f"{', '.join(missing)} not installed" if missing else None


class GnomeSession(IBusSession):
    wayland = True

    def __init__(self, folder, binary, extra_env=None):
        self.folder = folder
        home, runtime = folder / "home", folder / "runtime"
        for path in (home, runtime):
            path.mkdir(mode=0o700, parents=True)
        self.env = {key: value for key, value in os.environ.items()
                    if not key.startswith(("DBUS_", "IBUS_", "XDG_", "GTK_", "QT_", "PULSE_",
                                           "GDK_"))
                    and key not in ("DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE")}
        self.env.update(HOME=str(home), XDG_RUNTIME_DIR=str(runtime),
                        XDG_CONFIG_HOME=str(home / ".config"),
                        XDG_CACHE_HOME=str(home / ".cache"),
                        XDG_STATE_HOME=str(home / ".local" / "state"),
                        LC_ALL="C.UTF-8", NO_AT_BRIDGE="1")
        self.log = home / ".local" / "state" / "quorvane-dictation" / "dictate.log"
        self._processes = []
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._bus_daemon()
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self._bus_daemon()
        subprocess.run([need("gsettings"), "set", "org.gnome.desktop.input-sources", "sources",
                        "[('xkb', 'us'), ('ibus', 'quorvane')]"], env=self.env, check=True,
                       timeout=LIMIT)
        components = f"{component_folder(binary)}:{SYSTEM_COMPONENTS}"
        with open(folder / "gnome-shell.log", "wb") as log:
            self._shell = subprocess.Popen(
                [need("gnome-shell"), "--headless", "--virtual-monitor", "1024x768",
                 "--wayland", "--no-x11"],
                env={**self.env, "IBUS_COMPONENT_PATH": components, **(extra_env or {})},
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self._processes.append(self._shell)
        socket = runtime / "wayland-0"
        wait_until(lambda: self._alive() and socket.exists(), "gnome-shell's Wayland socket")
        self.env.update(WAYLAND_DISPLAY="wayland-0", GDK_BACKEND="wayland")
        self._connection = Gio.DBusConnection.new_for_address_sync(
            self.env["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        # The shell starts in the overview, where no window has the focus:
        # once it has started, leave it, until it stays left.
        wait_until(lambda: self._alive() and "GNOME Shell started" in
                   (folder / "gnome-shell.log").read_text(errors="replace"), "gnome-shell")
        wait_until(self._overview_left, "the shell to leave its overview")
        self._keyboard = wait_until(lambda: self._call(
            REMOTE_DESKTOP, "/org/gnome/Mutter/RemoteDesktop", REMOTE_DESKTOP, "CreateSession"),
            "a remote desktop session")[0]
        assert self._call(REMOTE_DESKTOP, self._keyboard, REMOTE_DESKTOP + ".Session",
                          "Start") is not None
        # The virtual keyboard joins the seat with its first key; a window
        # mapped before that never gets the focus.
        self.press("Shift_L")
        wait_until(lambda: self._answers(), "the shell's ibus-daemon with the engine")
        self.env["IBUS_ADDRESS"] = self.ibus("address").stdout.strip()

    def _overview_left(self):
        shell = ("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties")
        self._call(*shell, "Set", GLib.Variant("(ssv)", ("org.gnome.Shell", "OverviewActive",
                                                           GLib.Variant("b", False))))
        for _ in range(10):
            time.sleep(0.1)
            if self._call(*shell, "Get", GLib.Variant("(ss)", ("org.gnome.Shell",
                                                             "OverviewActive"))) != (False,):
                return False
        return True

    def _bus_daemon(self):
        process = subprocess.Popen([need("dbus-daemon"), "--session", "--nofork", "--nopidfile",
                                    "--print-address=1"], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self._processes.append(process)
        address = process.stdout.readline().strip()
        assert address, "dbus-daemon gave no address"
        return address

    def _alive(self):
        assert self._shell.poll() is None, \
            f"gnome-shell ended: {(self.folder / 'gnome-shell.log').read_text()[-3000:]}"
        return True

    def _answers(self):
        self._alive()
        listed = self.ibus("list-engine", "--name-only", check=False)
        return listed.returncode == 0 and "quorvane" in listed.stdout.split()

    def _call(self, destination, path, interface, method, arguments=None):
        """The reply's values, or None while the shell does not answer."""
        try:
            return self._connection.call_sync(destination, path, interface, method, arguments,
                                              None, Gio.DBusCallFlags.NONE, 5000, None).unpack()
        except GLib.Error:
            self._alive()
            return None

    def press(self, name):
        for pressed in (True, False):
            assert self._call(REMOTE_DESKTOP, self._keyboard, REMOTE_DESKTOP + ".Session",
                              "NotifyKeyboardKeysym",
                              GLib.Variant("(ub)", (KEYSYMS[name], pressed))) is not None
            time.sleep(0.02)

    def close(self):
        try:
            self._connection.close_sync(None)
        except (AttributeError, GLib.Error):
            pass
        for process in reversed(self._processes):
            stop_process(process)
