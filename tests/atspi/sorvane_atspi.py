"""Drives the real sorvane window through the accessibility bus (AT-SPI).

Every wait has a deadline; every app runs in its own temporary HOME and XDG
folders, so a test never sees the user's settings or trash.
"""
import os
import shutil
import subprocess
import tempfile
import time

import pyatspi
from gi.repository import GLib

DEFAULT_TIMEOUT = 15.0


class Timeout(AssertionError):
    pass


def wait_for(what, probe, timeout=DEFAULT_TIMEOUT, interval=0.2):
    """Polls probe() until it returns something true; raises Timeout naming what."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except AssertionError:
            raise
        except Exception:  # a widget vanished between two reads: look again
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Sandbox:
    """A temporary HOME with the XDG folders inside it, kept across restarts of the app."""

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
        # A binary being relinked by a build may not start: wait until it has settled.
        wait_for("%s to stay unchanged for 5 s" % self.binary,
                 lambda: time.time() - os.stat(self.binary).st_mtime > 5, timeout=120, interval=1)
        app = App(self.binary, self, args)
        self.apps.append(app)  # stopped at cleanup, even when it never shows
        app.wait_shown()
        return app

    def cleanup(self):
        for app in self.apps:
            app.quit()
        shutil.rmtree(self.root, ignore_errors=True)


def dump(acc, depth=0, out=print, limit=40):
    """Prints the tree under acc: role, name, states that matter, actions."""
    try:
        states = acc.getState()
        flags = [n for n, s in (("checked", pyatspi.STATE_CHECKED), ("showing", pyatspi.STATE_SHOWING),
                                ("focused", pyatspi.STATE_FOCUSED)) if states.contains(s)]
        text = text_of(acc)
        out("%s%s %r %s %s%s" % ("  " * depth, acc.getRoleName(), acc.name, actions(acc), " ".join(flags),
                                 " text=%r" % text if text != (acc.name or "") else ""))
        for i in range(min(acc.childCount, limit)):
            dump(acc.getChildAtIndex(i), depth + 1, out, limit)
    except Exception as error:
        out("%s<gone: %s>" % ("  " * depth, error))


def actions(acc):
    try:
        action = acc.queryAction()
        return [action.getName(i) for i in range(action.nActions)]
    except (NotImplementedError, GLib.Error):
        return []


def descendants(acc, limit=4000):
    """Breadth first; big tables are walked by their first rows only."""
    queue, seen = [acc], 0
    while queue and seen < limit:
        node = queue.pop(0)
        seen += 1
        yield node
        try:
            count = node.childCount
            if node.getRole() in (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE):
                count = min(count, 400)
            queue.extend(c for c in (node.getChildAtIndex(i) for i in range(count)) if c is not None)
        except Exception:
            continue


def matches(acc, role, name, showing):
    if acc.getRole() != role:
        return False
    if name is not None and (acc.name or "") != name:
        return False
    return not showing or acc.getState().contains(pyatspi.STATE_SHOWING)


def find_all(root, role, name=None, showing=False):
    return [a for a in descendants(root) if matches(a, role, name, showing)]


def find(root, role, name=None, timeout=DEFAULT_TIMEOUT, showing=True):
    """The first widget of that role (and exact name), waited for."""
    def probe():
        found = find_all(root, role, name, showing)
        return found[0] if found else None
    return wait_for("%s %r" % (role, name), probe, timeout)


def do_action(acc, *names):
    """Runs the first of names that acc offers (Press, Toggle, SetFocus...)."""
    action = acc.queryAction()
    offered = [action.getName(i) for i in range(action.nActions)]
    for wanted in names:
        if wanted in offered:
            try:
                return action.doAction(offered.index(wanted))
            except GLib.Error as error:
                # A tool button answers only when the modal box it opened closes.
                if "Did not receive a reply" not in str(error):
                    raise
                return True
    raise AssertionError("%s %r offers %s, not %s" % (acc.getRoleName(), acc.name, offered, names))


def press(acc):
    return do_action(acc, "Press", "Toggle", "SetFocus")


def is_checked(acc):
    return acc.getState().contains(pyatspi.STATE_CHECKED)


def text_of(acc):
    """A widget's text: its Text interface when it has one, its name otherwise."""
    try:
        text = acc.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return acc.name or ""


def extents(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def click(acc, button=1, dx=None):
    """A real mouse click, dx pixels from the left edge (the middle when None)."""
    x, y, w, h = extents(acc)
    pyatspi.Registry.generateMouseEvent(x + (w // 2 if dx is None else dx), y + h // 2, "b%dc" % button)
    time.sleep(0.3)


def rows(table):
    """The table's cells by row, as their shown texts."""
    t = table.queryTable()
    return [[t.getAccessibleAt(r, c).name for c in range(t.nColumns)] for r in range(t.nRows)]


def cell(table, row, column):
    return table.queryTable().getAccessibleAt(row, column)


def checked_rows(table):
    t = table.queryTable()
    return [r for r in range(t.nRows) if is_checked(t.getAccessibleAt(r, 0))]


# X keysyms: the registry daemon presses them through XTest.
KEYS = {"Escape": 0xFF1B, "Return": 0xFF0D, "Delete": 0xFFFF, "space": 0x20, "Right": 0xFF53, "F9": 0xFFC6,
        "z": 0x7A}
CONTROL_MASK = 1 << 2


def key(name, ctrl=False):
    """Presses and releases a key (with Ctrl held when asked) in the focused window."""
    registry = pyatspi.Registry
    if ctrl:
        registry.generateKeyboardEvent(CONTROL_MASK, None, pyatspi.KEY_LOCKMODIFIERS)
    try:
        registry.generateKeyboardEvent(KEYS[name], None, pyatspi.KEY_SYM)
    finally:
        if ctrl:
            registry.generateKeyboardEvent(CONTROL_MASK, None, pyatspi.KEY_UNLOCKMODIFIERS)
    time.sleep(0.3)


class App:
    """One run of the real program, found on the accessibility bus by its process id."""

    def __init__(self, binary, sandbox, args=()):
        self.log = open(os.path.join(sandbox.root, "app.log"), "ab")
        argv = [binary] + list(args)  # bytes or str: folder names pass through unchanged
        self.process = subprocess.Popen(argv, env=sandbox.env, stdout=self.log, stderr=subprocess.STDOUT)
        self.log_path = self.log.name

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
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == self.process.pid:
                app.set_cache_mask(0)  # no stale names or states between polls
                return app
        return None

    def windows(self):
        return [self.root.getChildAtIndex(i) for i in range(self.root.childCount)]

    def window(self, role, name=None, timeout=DEFAULT_TIMEOUT):
        """A top-level window of the app (frame, dialog, alert) by role and optional exact name."""
        def probe():
            for w in self.windows():
                if w is not None and w.getRole() == role and (name is None or w.name == name):
                    return w
            return None
        return wait_for("window %s %r" % (role, name), probe, timeout)

    def message_box(self, timeout=DEFAULT_TIMEOUT, containing=""):
        """A showing message box with a label holding containing; returns (box, its texts)."""
        def probe():
            for w in self.windows():
                if w is None or w.getRole() != pyatspi.ROLE_ALERT or not self._alive(w):
                    continue
                texts = [text_of(l) for l in find_all(w, pyatspi.ROLE_LABEL)]
                if any(containing in t for t in texts) and find_all(w, pyatspi.ROLE_PUSH_BUTTON):
                    return w, "\n".join(texts)
            return None
        return wait_for("a message box saying %r" % containing, probe, timeout)

    def answer(self, button, containing="", timeout=DEFAULT_TIMEOUT):
        """Presses the named button of the message box; returns the box's text."""
        box, text = self.message_box(timeout, containing)
        press(find(box, pyatspi.ROLE_PUSH_BUTTON, button, timeout))
        wait_for("the message box to close", lambda: box not in self.windows() or not self._alive(box), timeout)
        return text

    @staticmethod
    def activate(window):
        """Makes window take the keyboard. With no window manager nothing gives it back after a
        message box closes, so this clicks inside its bottom-right corner, as a user would."""
        if not window.getState().contains(pyatspi.STATE_ACTIVE):
            x, y, w, h = extents(window)
            pyatspi.Registry.generateMouseEvent(x + w - 4, y + h - 4, "b1c")
            wait_for("%r to become active" % window.name, lambda: window.getState().contains(pyatspi.STATE_ACTIVE), 5)

    @staticmethod
    def _alive(acc):
        try:
            return acc.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:
            return False

    def quit(self, timeout=15.0):
        """Closes the window as a user would (SIGTERM closes it); kills it when it hangs."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)
        self.log.close()
        return self.process.returncode
