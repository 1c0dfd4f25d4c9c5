"""Drives the real sorvane window through the accessibility bus (AT-SPI).

Every wait has a deadline. Every run of the app gets its own temporary HOME and
XDG folders, so no test sees the user's settings or trash.
"""
import os
import shutil
import subprocess
import tempfile
import time

import pyatspi
from gi.repository import GLib

TIMEOUT = 15.0


class Timeout(AssertionError):
    pass


def wait_for(what, probe, timeout=TIMEOUT, interval=0.2):
    """Polls probe() until it returns something true, and returns that; Timeout names what."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except AssertionError:
            raise
        except Exception:  # a widget went away between two reads: look again
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Sandbox:
    """A temporary HOME holding the XDG folders and the test's data; kept across restarts of the app."""

    def __init__(self, binary):
        self.binary = binary
        self.apps = []
        self.root = tempfile.mkdtemp(prefix="sorvane-atspi-")
        self.env = dict(os.environ)
        for var in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"):
            self.env[var] = os.path.join(self.root, var.lower())
            os.makedirs(self.env[var])
        self.trash_files = os.path.join(self.env["XDG_DATA_HOME"], "Trash", "files")
        self.data = os.path.join(self.root, "data")
        os.makedirs(self.data)

    def start(self, args=()):
        """Starts the app with args (str or bytes, never through a shell) and waits for its window."""
        # A binary that a build is relinking may not start: wait until it has settled.
        wait_for("%s to stay unchanged for 5 s" % self.binary,
                 lambda: time.time() - os.stat(self.binary).st_mtime > 5, timeout=120, interval=1)
        app = App(self.binary, self.env, os.path.join(self.root, "app.log"), args)
        self.apps.append(app)  # stopped at cleanup even when it never shows
        app.wait_shown()
        return app

    def cleanup(self):
        for app in self.apps:
            app.quit()
        shutil.rmtree(self.root, ignore_errors=True)


def actions(acc):
    try:
        action = acc.queryAction()
        return [action.getName(i) for i in range(action.nActions)]
    except (NotImplementedError, GLib.Error):
        return []


def text_of(acc):
    """A widget's text: its Text interface when it has one, else its name."""
    try:
        text = acc.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return acc.name or ""


def dump(acc, depth=0, limit=40):
    """Prints the tree under acc, to learn names and roles."""
    try:
        flags = [n for n, s in (("checked", pyatspi.STATE_CHECKED), ("showing", pyatspi.STATE_SHOWING),
                                ("focused", pyatspi.STATE_FOCUSED)) if acc.getState().contains(s)]
        print("%s%s %r %s %s %r" % ("  " * depth, acc.getRoleName(), acc.name, actions(acc), " ".join(flags),
                                    acc.description))
        for i in range(min(acc.childCount, limit)):
            dump(acc.getChildAtIndex(i), depth + 1, limit)
    except Exception as error:
        print("%s<gone: %s>" % ("  " * depth, error))


def descendants(acc, limit=4000):
    """Breadth first; of a big table only its first rows."""
    queue = [acc]
    while queue and limit > 0:
        node = queue.pop(0)
        limit -= 1
        yield node
        try:
            count = node.childCount
            if node.getRole() in (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE):
                count = min(count, 400)
            queue.extend(c for c in (node.getChildAtIndex(i) for i in range(count)) if c is not None)
        except Exception:
            continue


def find_all(root, role, name=None, showing=False):
    return [a for a in descendants(root) if a.getRole() == role and (name is None or (a.name or "") == name)
            and (not showing or a.getState().contains(pyatspi.STATE_SHOWING))]


def find(root, role, name=None, timeout=TIMEOUT, showing=True):
    """The first widget of that role (and that exact name), waited for."""
    return wait_for("%s %r" % (role, name), lambda: next(iter(find_all(root, role, name, showing)), None), timeout)


def do_action(acc, *names):
    """Runs the first of names that acc offers (Press, Toggle, SetFocus...)."""
    offered = actions(acc)
    for wanted in names:
        if wanted in offered:
            try:
                return acc.queryAction().doAction(offered.index(wanted))
            except GLib.Error as error:
                # A tool button answers only once the modal box it opened is closed.
                if "Did not receive a reply" not in str(error):
                    raise
                return True
    raise AssertionError("%s %r offers %s, not %s" % (acc.getRoleName(), acc.name, offered, names))


def press(acc):
    return do_action(acc, "Press")


def is_checked(acc):
    return acc.getState().contains(pyatspi.STATE_CHECKED)


def extents(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def click(acc, button=1, dx=None):
    """A real mouse click, dx pixels in from the left edge (the middle when None)."""
    x, y, w, h = extents(acc)
    pyatspi.Registry.generateMouseEvent(x + (w // 2 if dx is None else dx), y + h // 2, "b%dc" % button)
    time.sleep(0.3)


def rows(table):
    """A table's cells by row, as the texts shown."""
    t = table.queryTable()
    return [[t.getAccessibleAt(r, c).name for c in range(t.nColumns)] for r in range(t.nRows)]


def cell(table, row, column):
    return table.queryTable().getAccessibleAt(row, column)


def checked_rows(table):
    t = table.queryTable()
    return [r for r in range(t.nRows) if is_checked(t.getAccessibleAt(r, 0))]


# X keysyms: the registry daemon presses them through XTest.
KEYS = {"Escape": 0xFF1B, "Return": 0xFF0D, "Delete": 0xFFFF, "space": 0x20, "Left": 0xFF51, "Up": 0xFF52,
        "Right": 0xFF53, "Down": 0xFF54, "F9": 0xFFC6, "z": 0x7A}
CONTROL_MASK = 1 << 2


def key(name, ctrl=False):
    """Presses and releases a key, with Ctrl held when asked, in the window that has the keyboard."""
    registry = pyatspi.Registry
    if ctrl:
        registry.generateKeyboardEvent(CONTROL_MASK, None, pyatspi.KEY_LOCKMODIFIERS)
    try:
        registry.generateKeyboardEvent(KEYS[name], None, pyatspi.KEY_SYM)
    finally:
        if ctrl:
            registry.generateKeyboardEvent(CONTROL_MASK, None, pyatspi.KEY_UNLOCKMODIFIERS)
    time.sleep(0.3)


def showing(acc):
    try:
        return acc.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


class App:
    """One run of the real program, found on the accessibility bus by its process id."""

    def __init__(self, binary, env, log_path, args=()):
        self.log_path = log_path
        with open(log_path, "ab") as log:
            self.process = subprocess.Popen([binary] + list(args), env=env, stdout=log, stderr=subprocess.STDOUT)

    def wait_shown(self, timeout=30.0):
        try:
            self.root = wait_for("the application on the accessibility bus", self._find_app, timeout)
            self.frame = find(self.root, pyatspi.ROLE_FRAME, "Sorvane by Trellane", timeout)
        except AssertionError as error:
            with open(self.log_path, "rb") as log:
                raise AssertionError("%s; its output: %r" % (error, log.read()[-2000:])) from None

    def _find_app(self):
        if self.process.poll() is not None:
            raise AssertionError("sorvane exited with %s before showing" % self.process.returncode)
        desktop = pyatspi.Registry.getDesktop(0)
        for app in (desktop.getChildAtIndex(i) for i in range(desktop.childCount)):
            if app is not None and app.get_process_id() == self.process.pid:
                app.set_cache_mask(0)  # no stale names or states between two polls
                return app
        return None

    def windows(self):
        return [w for w in (self.root.getChildAtIndex(i) for i in range(self.root.childCount)) if w is not None]

    def window(self, role, name, timeout=TIMEOUT):
        """A showing top-level window of the app by role and exact name."""
        return wait_for("window %r" % name, lambda: next(
            (w for w in self.windows() if w.getRole() == role and w.name == name and showing(w)), None), timeout)

    def message_box(self, timeout=TIMEOUT, containing=""):
        """A showing message box with a text holding containing; returns it and its texts."""
        def probe():
            for box in (w for w in self.windows() if w.getRole() == pyatspi.ROLE_ALERT and showing(w)):
                texts = [text_of(label) for label in find_all(box, pyatspi.ROLE_LABEL)]
                if any(containing in t for t in texts):
                    return box, "\n".join(texts)
            return None
        return wait_for("a message box saying %r" % containing, probe, timeout)

    def answer(self, button, containing="", timeout=TIMEOUT):
        """Presses the named button of the message box; returns the box's texts."""
        box, text = self.message_box(timeout, containing)
        press(find(box, pyatspi.ROLE_PUSH_BUTTON, button, timeout))
        wait_for("the message box to close", lambda: not showing(box), timeout)
        return text

    @staticmethod
    def activate(window):
        """Gives window the keyboard. With no window manager nothing hands it back when a message
        box closes, so this clicks inside the window's bottom-right corner, as a user would."""
        if not window.getState().contains(pyatspi.STATE_ACTIVE):
            x, y, w, h = extents(window)
            pyatspi.Registry.generateMouseEvent(x + w - 4, y + h - 4, "b1c")
            wait_for("%r to become active" % window.name, lambda: window.getState().contains(pyatspi.STATE_ACTIVE), 5)

    def quit(self, timeout=15.0):
        """Closes the window through SIGTERM, which the app takes as a close; kills it when it hangs."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)
        return self.process.returncode
