"""The real sorvane window, driven as a user would through the accessibility bus.

Usage: test_window.py SORVANE [NAME-PART...]   (exit 0: all passed; 1: any failed)
Set SORVANE_ATSPI_DUMP=1 to print the app's accessible tree when a test fails.
"""
import os
import sys
import time
import traceback

import pyatspi
from gi.repository import GLib

from sorvane_atspi import (Sandbox, actions, cell, checked_rows, click, descendants, do_action, dump, extents, find, find_all,
                           is_checked, key, press, rows, showing, text_of, wait_for)

RESULTS = "Duplicate Search Results - Sorvane by Trellane"
ASK_GROUPS = "Do you Want to Search for Duplicate Files"
CAUTION = "This Window Displays "  # either caution: groups by size, or identical contents
CAFE = b"caf\xe9-folder"
CAFE_SHOWN = "caf\\xE9-folder"  # the app's escape for a byte that is not UTF-8


def make_files(folder, groups):
    """groups: (size, [mtime of each copy]); files named s<size>-c<copy>.bin."""
    os.makedirs(folder, exist_ok=True)
    for size, mtimes in groups:
        for copy, mtime in enumerate(mtimes):
            path = os.path.join(os.fsencode(folder), b"s%d-c%d.bin" % (size, copy))
            with open(path, "wb") as f:
                f.write(b"d" * size)
            os.utime(path, (mtime, mtime))


def status_rows(app):
    """The main window's listing status list, as its texts."""
    for table in find_all(app.frame, pyatspi.ROLE_TABLE, showing=True):
        header = table.queryTable().getColumnHeader(1)
        if header is not None and header.name == "Status":
            return [r[1] for r in rows(table)]
    return []


def wait_status(app, text, timeout=30):
    wait_for("a status row %r" % text, lambda: text in status_rows(app), timeout)


def folder_pane(app):
    """The status bar's folder pane; the folder itself is in its description (the tooltip)."""
    pane = find(find(app.frame, pyatspi.ROLE_STATUS_BAR), pyatspi.ROLE_LABEL, "Folder Selected")
    return "%s | %s" % (text_of(pane), pane.description)


def open_results(app):
    """Says Yes to grouping after a listing and OK to the caution; returns the results window and list."""
    app.answer("Yes", ASK_GROUPS, timeout=60)
    app.answer("OK", CAUTION)
    results = app.window(pyatspi.ROLE_DIALOG, RESULTS)
    return results, find(results, pyatspi.ROLE_TABLE)


def listed(sandbox, groups, count):
    """A folder of those groups, listed and grouped; returns (app, folder, results window, list)."""
    folder = os.path.join(sandbox.data, "files")
    make_files(folder, groups)
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_for("%d result rows" % count, lambda: len(rows(table)) == count, 30)
    return app, folder, results, table


def groups_of(table):
    """Row numbers of each group (rows of equal size)."""
    found = {}
    for r, texts in enumerate(rows(table)):
        found.setdefault(texts[3], []).append(r)
    return list(found.values())


def menu_item(widget, name):
    """Right-clicks widget and returns the item of the menu that opens. A popup menu is no child of the
    application on the bus: it is caught as it shows."""
    menus = []

    def shown(event):
        if event.detail1 and event.source.getRole() == pyatspi.ROLE_POPUP_MENU:
            menus.append(event.source)

    def probe():
        while GLib.MainContext.default().iteration(False):
            pass
        return next((a for m in menus for a in descendants(m) if a.name == name), None)

    pyatspi.Registry.registerEventListener(shown, "object:state-changed:showing")
    try:
        click(widget, button=3)
        return wait_for("the menu item %r" % name, probe, 5)
    finally:
        pyatspi.Registry.deregisterEventListener(shown, "object:state-changed:showing")


def check_by_mouse(table, row):
    before = row in checked_rows(table)
    click(cell(table, row, 0), dx=10)  # the check box sits at the left of the first cell
    wait_for("row %d's check to change" % (row + 1), lambda: (row in checked_rows(table)) != before, 5)


def trash_listing(sandbox):
    return sorted(os.listdir(sandbox.trash_files)) if os.path.isdir(sandbox.trash_files) else []


# --- folders whose names are not UTF-8 ----------------------------------------

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
    shown = wait_for("the listing's file count", lambda: [r for r in status_rows(app) if "File(s) in File List" in r]
                     and status_rows(app), 30)
    assert any(r.startswith("File Listing for Folder ") and "/" + CAFE_SHOWN + ", Started" in r for r in shown), shown
    assert "2 File(s) in File List." in shown, shown
    pane = folder_pane(app)
    assert CAFE_SHOWN in pane and "\ufffd" not in pane, pane
    app.answer("No", ASK_GROUPS)
    app.quit()
    app = sandbox.start()
    wait_for("the stored folder in the folder pane", lambda: "/" + CAFE_SHOWN in folder_pane(app), 10)


def test_folder_tree_lists_non_utf8_folder(sandbox):
    for name in ("docs", "zeta"):
        make_files(os.path.join(sandbox.data, name), [(10, [1e9])])
    make_files(os.path.join(os.fsencode(sandbox.data), CAFE), [(50, [1e9, 1e9 + 60])])
    app = sandbox.start()
    tree = find(app.frame, pyatspi.ROLE_TREE)
    names = lambda: [r[0] for r in rows(tree)]
    # From the root row, type-ahead finds each part of the path and Right expands it.
    click(cell(tree, 0, 0))
    for part in sandbox.data.strip("/").split("/"):
        wait_for("a row %r" % part, lambda: part in names())
        pyatspi.Registry.generateKeyboardEvent(0, part, pyatspi.KEY_STRING)
        time.sleep(0.6)  # past the type-ahead interval: the next part starts a new search
        key("Right")
    shown = wait_for("the folders in data", lambda: "zeta" in names() and names())
    siblings = shown[shown.index("docs") - 1:shown.index("zeta") + 1]
    assert siblings == [CAFE_SHOWN, "docs", "zeta"], siblings
    assert not [n for n in shown if "\ufffd" in n], shown
    pyatspi.Registry.generateKeyboardEvent(0, "caf", pyatspi.KEY_STRING)  # down from data to it
    wait_for("the folder pane to name it", lambda: CAFE_SHOWN in folder_pane(app), 5)
    key("F9")  # Start's key: on a narrow screen its ribbon panel is folded into a menu
    app.answer("No", ASK_GROUPS, timeout=30)
    assert "2 File(s) in File List." in status_rows(app), status_rows(app)


# --- the results window -------------------------------------------------------

def test_check_all_but_newest_acts_on_every_group(sandbox):
    app, folder, results, table = listed(sandbox, [(100, [1e9, 1e9 + 60]), (200, [1e9 + 120, 1e9 + 30])], 4)
    click(cell(table, groups_of(table)[0][0], 1))
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Check All But the Newest in Each Group"))
    wait_for("some check", lambda: checked_rows(table), 5)
    time.sleep(0.5)
    checked = checked_rows(table)
    mtime = lambda r: os.stat(os.path.join(folder, rows(table)[r][1])).st_mtime
    for group in groups_of(table):
        newest = max(group, key=mtime)
        assert [r for r in group if r in checked] == [r for r in group if r != newest], \
            "group of rows %s: checked %s, the newest is row %d" % (group, checked, newest)


def test_trashing_every_copy_defaults_to_no(sandbox):
    app, folder, results, table = listed(sandbox, [(300, [1e9, 1e9 + 60])], 2)
    check_by_mouse(table, 0)
    check_by_mouse(table, 1)
    # The button may sit in the tool bar's overflow; its Press still reaches it.
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Send Checked File(s) to Recycle Bin", showing=False))
    box, text = app.message_box(containing="Trash")
    assert "all copies" in text.lower(), text
    key("Return")
    wait_for("Return to close the confirmation", lambda: not box.getState().contains(pyatspi.STATE_SHOWING), 5)
    time.sleep(1)
    assert sorted(os.listdir(folder)) == ["s300-c0.bin", "s300-c1.bin"], os.listdir(folder)
    assert trash_listing(sandbox) == [], trash_listing(sandbox)


def big_identical_files(sandbox, count=3, size=600 << 20):
    """Written, then dropped from the page cache, so comparing them reads the disk for a while."""
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


def started_comparing(sandbox, folder):
    """Turns Compare Contents on by the mouse, then starts again listing folder; returns the app."""
    app = sandbox.start()
    option = find(app.frame, pyatspi.ROLE_CHECK_BOX, "Compare Contents")
    click(option, dx=8)  # the mouse: the accessible Toggle has a test of its own
    wait_for("Compare Contents to be checked", lambda: is_checked(option), 5)
    app.quit()
    return sandbox.start([folder])


def start_comparing(sandbox):
    app = started_comparing(sandbox, big_identical_files(sandbox))
    # No caution yet: it says every byte was compared, which is true only once the check ends.
    app.answer("Yes", ASK_GROUPS, timeout=60)
    results = app.window(pyatspi.ROLE_DIALOG, RESULTS)
    progress = find(results, pyatspi.ROLE_PROGRESS_BAR, timeout=30)
    return app, results, progress


def assert_stopped_but_open(app, results, progress):
    wait_for("the progress to go", lambda: not progress.getState().contains(pyatspi.STATE_SHOWING), 10)
    assert results.getState().contains(pyatspi.STATE_SHOWING), "the results window closed"
    texts = [text_of(l) for l in find_all(results, pyatspi.ROLE_LABEL, showing=True)]
    assert any("stopped" in t.lower() for t in texts), texts


def test_escape_stops_comparing_but_keeps_results(sandbox):
    app, results, progress = start_comparing(sandbox)
    app.activate(results)
    key("Escape")
    assert_stopped_but_open(app, results, progress)


def test_stop_button_stops_comparing(sandbox):
    app, results, progress = start_comparing(sandbox)
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Stop", timeout=5))
    assert_stopped_but_open(app, results, progress)


def test_replace_checked_with_links_and_undo(sandbox):
    folder = os.path.join(sandbox.data, "files")
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = started_comparing(sandbox, folder)
    results, table = open_results(app)
    wait_for("2 result rows", lambda: len(rows(table)) == 2, 30)
    # The size groups show while the contents are compared; the list takes clicks once they are.
    wait_for("the comparison to end", lambda: table.getState().contains(pyatspi.STATE_SENSITIVE), 60)
    name = rows(table)[1][1]
    copy = os.path.join(folder, name)
    own_inode = os.stat(copy).st_ino
    check_by_mouse(table, 1)
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Replace Checked with Links", showing=False))
    box, text = app.message_box(containing="links to the copy kept")
    assert "Replace 1 checked file(s)" in text and rows(table)[0][1] in text, text
    # This data folder cannot share blocks: the box asks for hard links instead.
    hard = find(box, pyatspi.ROLE_CHECK_BOX)
    click(hard, dx=8)
    wait_for("hard links to be allowed", lambda: is_checked(hard), 5)
    press(find(box, pyatspi.ROLE_PUSH_BUTTON, "Yes"))
    kept = os.path.join(folder, rows(table)[0][1])
    wait_for("the copy to become a link", lambda: os.stat(copy).st_ino == os.stat(kept).st_ino, 10)
    app.activate(results)
    key("z", ctrl=True)
    app.answer("OK", "restored")
    assert os.stat(copy).st_ino == own_inode, "Undo did not put the copy itself back"


def make_library(at):
    for name, size in (("a/1.jpg", 1000), ("a/2.jpg", 2000), ("b/3.jpg", 3000), ("top.txt", 50)):
        path = os.path.join(at, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(name.encode() * (size // len(name)) + b"x" * (size % len(name)))


def open_folder_results(app):
    """Says No to grouping by size, asks for copied folders instead; returns the results window and list."""
    app.answer("No", ASK_GROUPS, timeout=60)
    press(find(app.frame, pyatspi.ROLE_PUSH_BUTTON, "Folders", showing=False))
    app.answer("OK", "Copied Folders")
    results = app.window(pyatspi.ROLE_DIALOG, RESULTS)
    return results, find(results, pyatspi.ROLE_TABLE)


def test_folders_button_lists_the_largest_copies(sandbox):
    folder = os.path.join(sandbox.data, "tree")
    for copy in ("photos", "backup/2019/photos", "pics", "differ/photos"):
        make_library(os.path.join(folder, copy))
    with open(os.path.join(folder, "differ/photos/b/3.jpg"), "r+b") as f:
        f.seek(2999)
        f.write(b"!")
    app = sandbox.start([folder])
    results, table = open_folder_results(app)
    wait_for("the folder rows", lambda: len(rows(table)) == 5, 30)
    shown = [(r[3], r[2] + r[1]) for r in rows(table)]
    prefix = folder + "/"
    shown = [(size, path[len(prefix):]) for size, path in shown]
    # The copies whole, then the one sub-folder the near-copy still shares, never the copies' own sub-folders.
    assert shown == [("6050", "backup/2019/photos"), ("6050", "photos"), ("6050", "pics"),
                     ("3000", "backup/2019/photos/a"), ("3000", "differ/photos/a")], shown


def test_protected_copied_folder_is_kept_and_enter_keeps_it(sandbox):
    """Folders mode: a copy protected from its row's menu is not checked by Check All But the Newest, though
    older, and Enter at the trash question, which warns of it, leaves it in place."""
    folder = os.path.join(sandbox.data, "tree")
    for copy, mtime in (("photos", 1e9), ("pics", 1e9 + 60)):
        make_library(os.path.join(folder, copy))
        os.utime(os.path.join(folder, copy), (mtime, mtime))
    app = sandbox.start([folder])
    results, table = open_folder_results(app)
    wait_for("the folder rows", lambda: len(rows(table)) == 2 and table.getState().contains(pyatspi.STATE_SENSITIVE), 30)
    guarded = [r[1] for r in rows(table)].index("photos")
    item = menu_item(cell(table, guarded, 1), "Protect This Folder")
    menu = item.parent
    click(item)  # the mouse: the accessible Press leaves the menu open
    wait_for("the menu to close", lambda: not showing(menu), 5)
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Check All But the Newest in Each Group"))
    wait_for("the other copy checked", lambda: checked_rows(table) == [1 - guarded], 5)
    time.sleep(0.5)
    assert checked_rows(table) == [1 - guarded], checked_rows(table)
    # Only the protected copy checked, by hand: its warning alone makes No the default.
    check_by_mouse(table, 1 - guarded)
    check_by_mouse(table, guarded)
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Send Checked File(s) to Recycle Bin", showing=False))
    box, text = app.message_box(containing="Trash")
    assert "protected" in text and "/tree/photos" in text, text
    key("Return")
    wait_for("Return to close the confirmation", lambda: not showing(box), 5)
    time.sleep(1)
    assert sorted(os.listdir(folder)) == ["photos", "pics"], os.listdir(folder)
    assert trash_listing(sandbox) == [], trash_listing(sandbox)


# --- the keyboard ---------------------------------------------------------------

def test_space_map_from_the_keyboard(sandbox):
    """A click on the picture selects one folder's rows; the arrows then reach the other folder, Enter its rows."""
    folder = os.path.join(sandbox.data, "picture")
    # The first copies, kept, lie in the folder itself: x and y each hold a part of what trashing frees.
    for sub in ("", "x", "y"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        for name, size in (("big", 9000), ("small", 300)):
            with open(os.path.join(folder, sub, name), "wb") as f:
                f.write(name[0].encode() * size)
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_for("6 result rows", lambda: len(rows(table)) == 6, 30)
    picture = wait_for("the picture", lambda: next((a for a in descendants(results) if a.name == "Space Map"), None))

    def selected_folders():
        t = table.queryTable()
        shown = rows(table)
        return sorted({shown[r][2] for r in range(t.nRows) if t.isRowSelected(r)})

    click(picture, dx=extents(picture)[2] // 4)  # well inside one of the two folders
    wait_for("a click to select one folder's rows", lambda: len(selected_folders()) == 1, 10)
    first = selected_folders()
    for arrow in ("Left", "Right", "Up", "Down"):
        key(arrow)
        key("Return")
        if selected_folders() != first:
            break
    wait_for("an arrow and Enter to select the other folder's rows",
             lambda: len(selected_folders()) == 1 and selected_folders() != first, 5)


def test_space_toggles_current_row(sandbox):
    app, folder, results, table = listed(sandbox, [(300, [1e9, 1e9 + 60])], 2)
    click(cell(table, 1, 1))
    key("space")
    wait_for("Space to check row 2", lambda: checked_rows(table) == [1], 5)
    key("space")
    wait_for("Space to uncheck row 2", lambda: checked_rows(table) == [], 5)


def test_delete_key_trashes_after_confirming_and_ctrl_z_restores(sandbox):
    app, folder, results, table = listed(sandbox, [(300, [1e9, 1e9 + 60])], 2)
    name = rows(table)[1][1]
    victim = os.path.join(folder, name)
    check_by_mouse(table, 1)
    key("Delete")
    app.answer("No", "Trash")
    assert os.path.exists(victim) and trash_listing(sandbox) == [], "No moved the file"
    app.activate(results)
    key("Delete")
    app.answer("Yes", "Trash")
    wait_for("the file in the trash", lambda: not os.path.exists(victim) and name in trash_listing(sandbox), 10)
    app.activate(results)
    key("z", ctrl=True)
    wait_for("Ctrl+Z to bring the file back", lambda: os.path.exists(victim), 10)
    assert name not in trash_listing(sandbox), trash_listing(sandbox)


# --- filters and a folder to compare with --------------------------------------------

def set_text(acc, text):
    acc.queryEditableText().setTextContents(text)
    wait_for("%r to read %r" % (acc.name, text), lambda: text_of(acc) == text, 5)


def fill_dialog(app, button, title, texts):
    """Opens a ribbon command's dialog, types texts into the named fields, and presses OK."""
    press(find(app.frame, pyatspi.ROLE_PUSH_BUTTON, button, showing=False))  # its panel may be folded
    dialog = app.window(pyatspi.ROLE_DIALOG, title)
    for name, text in texts.items():
        set_text(find(dialog, pyatspi.ROLE_TEXT, name), text)
    press(find(dialog, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    wait_for("%r to close" % title, lambda: not showing(dialog))


def test_filters_leave_out_small_files_and_names(sandbox):
    folder = os.path.join(sandbox.data, "files")
    make_files(folder, [(100, [1e9, 1e9]), (3000, [1e9, 1e9 + 60])])
    for name in ("a.tmp", "b.tmp"):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"t" * 5000)
    app = sandbox.start()
    fill_dialog(app, "Filters…", "Filters - Sorvane by Trellane", {"Minimum Size": "1 KB", "Skip Names": "*.tmp"})
    app.quit()
    app = sandbox.start([folder])
    wait_status(app, "4 File(s) Skipped by Filters.")
    wait_for("the information bar to name the filters",
             lambda: any("Filters: at least 1.0 KiB, skipping *.tmp." in text_of(label) for label in find_all(app.frame, pyatspi.ROLE_LABEL)))
    results, table = open_results(app)
    wait_for("2 result rows", lambda: len(rows(table)) == 2, 30)
    assert sorted(r[1] for r in rows(table)) == ["s3000-c0.bin", "s3000-c1.bin"], rows(table)


def test_compare_with_a_reference_folder(sandbox):
    folder, reference = os.path.join(sandbox.data, "files"), os.path.join(sandbox.data, "backup")
    make_files(folder, [(100, [1e9 + 60]), (200, [1e9, 1e9 + 60])])
    make_files(reference, [(100, [1e9]), (300, [1e9, 1e9 + 60])])  # its 100 is the older: never checked all the same
    app = sandbox.start()
    fill_dialog(app, "Compare With Folder…", "Compare With Folder - Sorvane by Trellane", {"Folder to Compare With": reference})
    app.quit()
    app = sandbox.start([folder])
    app.answer("Yes", ASK_GROUPS, timeout=60)
    app.answer("OK", CAUTION)
    results = app.window(pyatspi.ROLE_DIALOG, "Duplicate Search Results: %s and %s - Sorvane by Trellane" % (folder, reference))
    table = find(results, pyatspi.ROLE_TABLE)
    wait_for("4 result rows", lambda: len(rows(table)) == 4, 30)
    shown = rows(table)
    assert [r[2] for r in shown].count(reference + "/") == 1 and all(r[3] != "300" for r in shown), shown
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Check All But the Newest in Each Group"))
    wait_for("some check", lambda: checked_rows(table), 5)
    time.sleep(0.5)
    assert [shown[r] for r in checked_rows(table) if shown[r][2] == reference + "/"] == [], checked_rows(table)
    assert len(checked_rows(table)) == 2, checked_rows(table)


# --- layout and names -------------------------------------------------------------

def test_windows_fit_1024x768(sandbox):
    app, folder, results, table = listed(sandbox, [(300, [1e9, 1e9 + 60])], 2)
    for window in (app.frame, results):
        x, y, w, h = extents(window)
        assert x >= 0 and y >= 0 and x + w <= 1024 and y + h <= 768, "%r at %d,%d %dx%d" % (window.name, x, y, w, h)


def test_buttons_and_check_boxes_are_named(sandbox):
    app, folder, results, table = listed(sandbox, [(300, [1e9, 1e9 + 60])], 2)
    # Those a user can reach: shown, or offering an action (as one in a tool bar's overflow does).
    unnamed = ["%s in %r at %s, offering %s" % (w.getRoleName(), window.name, extents(w), actions(w))
               for window in (app.frame, results)
               for role in (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON)
               for w in find_all(window, role)
               if not (w.name or "").strip() and (w.getState().contains(pyatspi.STATE_SHOWING) or actions(w))]
    assert not unnamed, unnamed


def test_ribbon_check_box_toggled_by_assistive_tools_is_stored(sandbox):
    # Screen readers use the Toggle action, which flips the box without a click.
    app = sandbox.start()
    do_action(find(app.frame, pyatspi.ROLE_CHECK_BOX, "Compare Contents"), "Toggle")
    time.sleep(1)
    app.quit()
    app = sandbox.start()
    assert is_checked(find(app.frame, pyatspi.ROLE_CHECK_BOX, "Compare Contents")), "not stored"


# --- what the results window says --------------------------------------------------

def results_status(results):
    """The results window's status bar text."""
    return text_of(find(find(results, pyatspi.ROLE_STATUS_BAR), pyatspi.ROLE_LABEL))


def shown_labels(results):
    return [text_of(label) for label in find_all(results, pyatspi.ROLE_LABEL, showing=True)]


def test_links_say_what_they_did_in_a_question_that_fits(sandbox):
    """The links question fits the screen with room to spare and says why it offers hard links; after it,
    the figures line and the status bar say what was done."""
    folder = os.path.join(sandbox.data, "files")
    make_files(folder, [(3000, [1e9, 1e9 + 60])])
    app = started_comparing(sandbox, folder)
    results, table = open_results(app)
    wait_for("the compared rows", lambda: len(rows(table)) == 2 and table.getState().contains(pyatspi.STATE_SENSITIVE), 60)
    check_by_mouse(table, 1)
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Replace Checked with Links", showing=False))
    box, text = app.message_box(containing="links to the copy kept")
    assert "cannot share blocks" in text and "one owner" in text, text
    x, y, w, h = extents(box)
    assert x >= 0 and y >= 0 and x + w <= 1024 and y + h <= 768 and w <= 800, "the question at %d,%d %dx%d" % (x, y, w, h)
    hard = find(box, pyatspi.ROLE_CHECK_BOX)
    hx, hy, hw, hh = extents(hard)
    assert x <= hx and hx + hw <= x + w, "its check box at %d %d, the box at %d %d" % (hx, hw, x, w)
    yes = find(box, pyatspi.ROLE_PUSH_BUTTON, "Yes")
    assert not yes.getState().contains(pyatspi.STATE_SENSITIVE), "Yes offered before hard links were allowed"
    click(hard, dx=8)
    wait_for("hard links to be allowed", lambda: is_checked(hard), 5)
    press(yes)
    done = "1 copy replaced with a hard link; 2.9 KiB freed once the Trash is emptied"
    wait_for("the status bar to say what was done", lambda: results_status(results).startswith(done), 15)
    wait_for("the figures line to say it too", lambda: any(t.startswith(done) and "group(s)" in t for t in shown_labels(results)), 15)


def test_trash_says_what_it_did(sandbox):
    app, folder, results, table = listed(sandbox, [(300, [1e9, 1e9 + 60])], 2)
    check_by_mouse(table, 1)
    key("Delete")
    app.answer("Yes", "Trash")
    done = "1 file(s) moved to the Trash; 300 bytes freed once it is emptied."
    wait_for("the status bar to say what was done", lambda: results_status(results) == done, 15)
    wait_for("the figures line to say it too", lambda: any(t.startswith(done + "\n") for t in shown_labels(results)), 15)


def test_every_column_shows_at_1024(sandbox):
    """Beside the picture, with a long folder, Size and Last Modified lie inside the list."""
    folder = os.path.join(sandbox.data, "a folder with a rather long name " * 3)
    make_files(folder, [(300, [1e9, 1e9 + 60])])
    app = sandbox.start([folder])
    results, table = open_results(app)
    wait_for("2 result rows", lambda: len(rows(table)) == 2, 30)
    x, y, w, h = extents(table)
    t = table.queryTable()
    for column in range(t.nColumns):
        header = t.getColumnHeader(column)
        hx, hy, hw, hh = extents(header)
        assert hw > 0 and hx >= x and hx + hw <= x + w, "%r at %d..%d, the list %d..%d" % (header.name, hx, hx + hw, x, x + w)


def test_caution_waits_for_the_comparison(sandbox):
    """While contents are compared the window says the groups are by size only; the caution that every
    byte was compared shows neither then nor after Stop."""
    app, results, progress = start_comparing(sandbox)

    def caution_showing():
        return [t for box in app.windows() if box.getRole() == pyatspi.ROLE_ALERT and showing(box)
                for t in (text_of(label) for label in find_all(box, pyatspi.ROLE_LABEL)) if "every byte" in t]

    assert any("by size only" in t for t in shown_labels(results)), shown_labels(results)
    assert not caution_showing(), caution_showing()
    press(find(results, pyatspi.ROLE_PUSH_BUTTON, "Stop", timeout=5))
    assert_stopped_but_open(app, results, progress)
    time.sleep(2)
    assert not caution_showing(), caution_showing()
    assert "stopped" in results_status(results), results_status(results)


def run_one(binary, name, test):
    """True when the test passed; a failure is printed whole."""
    sandbox = Sandbox(binary)
    try:
        test(sandbox)
        return True
    except Exception as error:
        print("FAIL %s: %s" % (name, error if isinstance(error, AssertionError) else traceback.format_exc()), flush=True)
        if os.environ.get("SORVANE_ATSPI_DUMP"):
            log = os.path.join(sandbox.root, "app.log")
            if os.path.exists(log):
                with open(log, errors="replace") as f:
                    print("--- the app's output:\n" + f.read()[-20000:], flush=True)
            for app in sandbox.apps:
                for window in app.windows() if app.process.poll() is None else []:
                    dump(window)
        return False
    finally:
        sandbox.cleanup()


def main(binary, wanted):
    tests = [(n, f) for n, f in globals().items() if n.startswith("test_") and (not wanted or any(w in n for w in wanted))]
    failed, flaky = [], []
    for name, test in tests:
        print("RUN  %s" % name, flush=True)
        if run_one(binary, name, test):
            print("PASS %s" % name, flush=True)
            continue
        # A real window on a virtual display meets timing it does not control: a second run tells a
        # fault (fails again) from a hiccup, which is named, not hidden.
        print("RETRY %s" % name, flush=True)
        if run_one(binary, name, test):
            print("PASS %s (on the second run)" % name, flush=True)
            flaky.append(name)
        else:
            failed.append(name)
    print("%d passed, %d failed%s%s" % (len(tests) - len(failed), len(failed), ": " + ", ".join(failed) if failed else "",
                                        "; passed only on a second run: " + ", ".join(flaky) if flaky else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
