"""Where the background dictation is found, and how commands reach it.

One dictation runs per user: it holds an exclusive lock on a file for all
its life, so a second `begin` cannot take it, and a socket left by a
process that died is known as stale because nobody holds the lock. The
commands go over a Unix socket in the same private folder: one line
there, one JSON line back.
"""

import fcntl
import json
import os
import socket
import tempfile
from pathlib import Path

LINE_LIMIT = 1 << 20


def runtime_dir(env=None):
    """$XDG_RUNTIME_DIR/quorvane-dictate, else a private folder in /tmp;
    made, and checked to be ours and closed to others."""
    env = os.environ if env is None else env
    base = env.get("XDG_RUNTIME_DIR")
    if base:
        path = Path(base) / "quorvane-dictate"
    else:
        path = Path(tempfile.gettempdir()) / f"quorvane-dictate-{os.getuid()}"
    try:
        path.mkdir(mode=0o700)
    except FileExistsError:
        pass
    status = path.lstat()
    if not path.is_dir() or path.is_symlink() or status.st_uid != os.getuid() \
            or status.st_mode & 0o077:
        raise PermissionError(f"{path} is not a private folder of this user")
    return path


def take_lock(folder):
    """The lock's file descriptor, or None while a dictation holds it."""
    fd = os.open(folder / "lock", os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        os.close(fd)
        return None
    return fd


def listen_socket(folder):
    """The server's socket; any old one is a dead process's, since the
    caller holds the lock."""
    path = folder / "socket"
    try:
        path.unlink()
    except FileNotFoundError:
        pass
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM | socket.SOCK_CLOEXEC)
    server.bind(str(path))
    server.listen(8)
    return server


def read_line(connection):
    data = b""
    while not data.endswith(b"\n") and len(data) < LINE_LIMIT:
        chunk = connection.recv(65536)
        if not chunk:
            break
        data += chunk
    return data.decode("utf-8", "replace").strip()


def send(connection, message):
    try:
        connection.sendall(json.dumps(message).encode() + b"\n")
    except OSError:
        pass  # the command gave up waiting


def request(folder, command, timeout=None):
    """Sends `command` to the running dictation and returns its answer, a
    dict; None when no dictation runs."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM | socket.SOCK_CLOEXEC) as client:
        client.settimeout(timeout)
        try:
            client.connect(str(folder / "socket"))
        except (FileNotFoundError, ConnectionRefusedError):
            return None
        client.sendall(command.encode() + b"\n")
        answer = read_line(client)
    if not answer:
        return None  # it ended meanwhile
    return json.loads(answer)
