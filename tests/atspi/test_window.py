"""The real sorvane window, driven as a user would through the accessibility bus.

Usage: test_window.py SORVANE [TEST...]   (exit 0 all passed, 1 any failed)
"""
import os
import sys
import time
import traceback

import pyatspi

from sorvane_atspi import (App, Sandbox, Timeout, checked_rows, cell, click, do_action, dump, extents, find,
                           find_all, is_checked, key, press, rows, text_of, wait_for)

SORVANE = sys.argv[1] if len(sys.argv) > 1 else "sorvane"
RESULTS = "Duplicate Search Results - Sorvane by Trellane"
ASK_GROUPS = "Do you Want to Search for Duplicate Files"
CAUTION = "This Window Displays "  # either caution: by size, or identical contents
CAFE = b"caf\xe9-folder"
CAFE_SHOWN = "caf\\xE9-folder"  # how the app escapes a byte that is not UTF-8


def make_files(folder, sizes_and_times):
    """Files named by size and copy, each with its own modification time."""
    os.makedirs(folder, exist_ok=True)
    for size, mtimes in sizes_and_times:
        for copy, mtime in enumerate(mtimes):
            path = os.path.join(folder, b"s%d-c%d.bin" % (size, copy) if isinstance(folder, bytes)
                                else "s%d-c%d.bin" % (size, copy))
            with open(path, "wb") as f:
                f.write(b"d" * size)
            os.utime(path, (mtime, mtime))


def status_rows(app):
    """The texts of the main window's listing status table (its rows, then the info bar)."""
    for table in find_all(app.frame, pyatspi.ROLE_TABLE, showing=True):
        t = table.queryTable()
        if t.nColumns > 1 and t.getColumnHeader(1) is not None and t.getColumnHeader(1).name == "Status":
            return [r[1] for r in rows(table)]
    return []


def wait_status(app, text, timeout=30):
    return wait_for("a status row holding %r" % text, lambda: any(text in r for r in status_rows(app)), timeout)


def folder_pane(app):
    """The status bar's folder pane: the folder is in its description (its tooltip)."""
    pane = find(find(app.frame, pyatspi.ROLE_STATUS_BAR), pyatspi.ROLE_LABEL, "Folder Selected")
    return "%s | %s" % (text_of(pane), pane.description)


def open_results(app, caution="OK"):
    """Answers Yes to the question after a listing; returns the results window and its list."""
    app.answer("Yes", ASK_GROUPS, timeout=60)
    if caution:
        app.answer(caution, CAUTION)
    results = app.window(pyatspi.ROLE_DIALOG, RESULTS)
    table = find(results, pyatspi.ROLE_TABLE)
    return results, table


def wait_rows(table, count, timeout=30):
    return wait_for("%d result rows" % count, lambda: len(rows(table)) == count and rows(table), timeout)


def groups(table):
    """Row numbers of each group: rows of equal size, as listed."""
    found = {}
    for r, texts in enumerate(rows(table)):
        found.setdefault(texts[3], []).append(r)
    return list(found.values())


def check_by_mouse(table, row):
    """Clicks the row's check box, at the left of its first cell."""
    before = row in checked_rows(table)
    click(cell(table, row, 0), dx=10)
    wait_for("row %d to change its check" % row, lambda: (row in checked_rows(table)) != before, 5)


def send_checked_to_trash(results):
    """The window's button; it may sit in the tool bar's overflow, where Press still reaches it."""
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Send Checked File(s) to Recycle Bin", showing=False))


# --- the tests ---------------------------------------------------------------

def test_folder_argument_with_non_utf8_name(sandbox):
    docs = os.path.join(sandbox.data, "docs")
    make_files(docs, [(10, [1e9])])
    cafe = os.path.join(os.fsencode(sandbox.data), CAFE)
    make_files(cafe, [(50, [1e9, 1e9 + 60])])
    app = sandbox.start([docs])
    wait_status(app, "1 File(s) in File List.")
    app.quit()
    # docs is now the stored last folder: the argument must still win.
    app = sandbox.start([cafe])
    app.answer("No", ASK_GROUPS, timeout=30)
    shown = status_rows(app)
    assert any(r.startswith("File Listing for Folder ") and CAFE_SHOWN + ", Started" in r for r in shown), shown
    assert "2 File(s) in File List." in shown, shown
    pane = folder_pane(app)
    assert CAFE_SHOWN in pane and "\ufffd" not in pane, pane
    app.quit()
    app = sandbox.start()
    pane = wait_for("the stored folder in the folder pane", lambda: CAFE_SHOWN in folder_pane(app) and folder_pane(app))
    assert "\ufffd" not in pane, pane


def test_folder_tree_lists_non_utf8_folder(sandbox):
    for name in ("docs", "zeta"):
        make_files(os.path.join(sandbox.data, name), [(10, [1e9])])
    make_files(os.path.join(os.fsencode(sandbox.data), CAFE), [(50, [1e9, 1e9 + 60])])
    app = sandbox.start()
    tree = find(app.frame, pyatspi.ROLE_TREE)
    tree_rows = lambda: [r[0] for r in rows(tree)]
    # From the root row, type-ahead finds each part of the path and Right expands it.
    click(cell(tree, 0, 0))
    for part in sandbox.data.strip("/").split("/"):
        wait_for("a row %r" % part, lambda: part in tree_rows())
        pyatspi.Registry.generateKeyboardEvent(0, part, pyatspi.KEY_STRING)
        time.sleep(0.6)  # past the type-ahead interval, so the next part starts a new search
        key("Right")
    names = wait_for("the children of data", lambda: "docs" in tree_rows() and tree_rows())
    at = names.index("docs")
    assert CAFE_SHOWN in names[at - 2:at + 3] and "zeta" in names[at - 2:at + 3], names[at - 2:at + 3]
    assert not any("\ufffd" in n for n in names), [n for n in names if "\ufffd" in n]
    click(cell(tree, names.index(CAFE_SHOWN), 0))
    wait_for("the folder pane to name it", lambda: CAFE_SHOWN in folder_pane(app))
    press(find(app.frame, pyatspi.ROLE_PUSH_BUTTON, "Start"))
    app.answer("No", ASK_GROUPS, timeout=30)
    assert "2 File(s) in File List." in status_rows(app), status_rows(app)


def test_check_all_but_newest_acts_on_every_group(sandbox):
    folder = os.path.join(sandbox.data, "two-groups")
    make_files(folder, [(100, [1e9, 1e9 + 60]), (200, [1e9 + 120, 1e9 + 30])])
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_rows(table, 4)
    click(cell(table, groups(table)[0][0], 1))
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Check All But the Newest in Each Group"))
    checked = wait_for("checks", lambda: checked_rows(table))
    time.sleep(0.5)
    checked = checked_rows(table)
    mtime = lambda r: os.stat(os.path.join(folder, rows(table)[r][1])).st_mtime
    for group in groups(table):
        newest = max(group, key=mtime)
        assert [r for r in group if r in checked] == [r for r in group if r != newest], \
            "group %s: checked %s, newest %d; rows %s" % (group, checked, newest, rows(table))


def test_trashing_every_copy_defaults_to_no(sandbox):
    folder = os.path.join(sandbox.data, "one-group")
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_rows(table, 2)
    for r in range(2):
        check_by_mouse(table, r)
    send_checked_to_trash(results)
    box, text = app.message_box(containing="Trash")
    assert "all copies" in text.lower(), text
    key("Return")
    time.sleep(1)
    assert sorted(os.listdir(folder)) == ["s300-c0.bin", "s300-c1.bin"], os.listdir(folder)
    assert not os.listdir(sandbox.trash_files) if os.path.isdir(sandbox.trash_files) else True


def big_identical_files(sandbox, count=3, size=600 << 20):
    """Identical files, written and then dropped from the page cache so the check reads the disk."""
    folder = os.path.join(sandbox.data, "big")
    os.makedirs(folder)
    block = os.urandom(1 << 20)
    for i in range(count):
        with open(os.path.join(folder, "big%d.bin" % i), "wb") as f:
            for _ in range(size >> 20):
                f.write(block)
            f.flush()
            os.fsync(f.fileno())
            os.posix_fadvise(f.fileno(), 0, 0, os.POSIX_FADV_DONTNEED)
    return folder


def start_comparing(sandbox):
    folder = big_identical_files(sandbox)
    app = sandbox.start()
    option = find(app.frame, pyatspi.ROLE_CHECK_BOX, "Compare Contents")
    click(option, dx=8)  # the mouse: the accessible Toggle has its own test
    wait_for("Compare Contents to be checked", lambda: is_checked(option), 5)
    app.quit()
    app = sandbox.start([folder])
    results, table = open_results(app)
    progress = find(results, pyatspi.ROLE_PROGRESS_BAR, timeout=30)
    return app, results, progress


def assert_stopped_but_open(app, results, progress):
    wait_for("the progress to hide", lambda: not progress.getState().contains(pyatspi.STATE_SHOWING), 10)
    assert results in app.windows() and results.getState().contains(pyatspi.STATE_SHOWING), "the results window closed"
    texts = [text_of(l) for l in find_all(results, pyatspi.ROLE_LABEL, showing=True)]
    assert any("stopped" in t.lower() for t in texts), texts


def test_escape_stops_comparing_but_keeps_results(sandbox):
    app, results, progress = start_comparing(sandbox)
    key("Escape")
    assert_stopped_but_open(app, results, progress)


def test_stop_button_stops_comparing(sandbox):
    app, results, progress = start_comparing(sandbox)
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Stop", timeout=5))
    assert_stopped_but_open(app, results, progress)


def test_space_toggles_current_row(sandbox):
    folder = os.path.join(sandbox.data, "keys")
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_rows(table, 2)
    click(cell(table, 1, 1))
    key("space")
    wait_for("Space to check row 2", lambda: checked_rows(table) == [1], 5)
    key("space")
    wait_for("Space to uncheck row 2", lambda: checked_rows(table) == [], 5)


def test_delete_key_trashes_after_confirming_and_ctrl_z_restores(sandbox):
    folder = os.path.join(sandbox.data, "keys")
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_rows(table, 2)
    victim = os.path.join(folder, rows(table)[1][1])
    check_by_mouse(table, 1)
    click(cell(table, 1, 1))
    key("Delete")
    app.answer("No", "Trash")
    assert os.path.exists(victim), "No moved the file"
    key("Delete")
    app.answer("Yes", "Trash")
    wait_for("the file in the trash", lambda: not os.path.exists(victim)
             and os.path.basename(victim) in os.listdir(sandbox.trash_files))
    key("z", ctrl=True)
    wait_for("Ctrl+Z to bring the file back", lambda: os.path.exists(victim), 10)


def test_windows_fit_1024x768(sandbox):
    folder = os.path.join(sandbox.data, "fit")
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = sandbox.start([folder])
    results, _ = open_results(app)
    for name, window in (("main window", app.frame), ("results window", results)):
        x, y, w, h = extents(window)
        assert x >= 0 and y >= 0 and x + w <= 1024 and y + h <= 768, "%s at %d,%d %dx%d" % (name, x, y, w, h)


def test_buttons_and_check_boxes_are_named(sandbox):
    folder = os.path.join(sandbox.data, "names")
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = sandbox.start([folder])
    results, _ = open_results(app)
    unnamed = []
    for window in (app.frame, results):
        for role in (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON):
            unnamed += ["%s in %r at %s" % (w.getRoleName(), window.name, extents(w))
                        for w in find_all(window, role) if not (w.name or "").strip()]
    assert not unnamed, unnamed


def main():
    tests = [(n, f) for n, f in sorted(globals().items(), key=lambda i: i[1].__code__.co_firstlineno
                                       if callable(i[1]) and hasattr(i[1], "__code__") else 0)
             if n.startswith("test_") and (len(sys.argv) < 3 or any(a in n for a in sys.argv[2:]))]
    failed = []
    for name, test in tests:
        print("RUN  %s" % name, flush=True)
        sandbox = Sandbox(SORVANE)
        try:
            test(sandbox)
            print("PASS %s" % name, flush=True)
        except Exception as error:
            failed.append(name)
            print("FAIL %s: %s" % (name, error if isinstance(error, (AssertionError, Timeout)) else
                                   traceback.format_exc()), flush=True)
            for app in sandbox.apps:
                if app.process.poll() is None and os.environ.get("SORVANE_ATSPI_DUMP"):
                    for w in app.windows():
                        dump(w, limit=30)
        finally:
            sandbox.cleanup()
    print("%d passed, %d failed%s" % (len(tests) - len(failed), len(failed), (": " + ", ".join(failed)) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
