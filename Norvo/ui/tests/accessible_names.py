#!/usr/bin/python3
"""What a screen reader meets in Norvo's windows, read over AT-SPI as Orca reads it.

  accessible_names.py NORVO    (on a display)

Starts NORVO with folders of its own, opens the style editor, types into the note and asks
for a new note (an alert), then walks every window. Fails on a control without a name, one
read by its class name or named twice over, segmented choices that are not a radio group
with one checked, or a preview that does not describe the card.
"""
import importlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time


pyatspi = None  # loaded once the session's accessibility bus is known


def in_a_session_of_its_own():
    """Runs this script again in a D-Bus session of its own, whose accessibility bus lives in
    a runtime folder of its own: by default the bus's socket is named after the display, and
    another session on the same display would take or remove it."""
    runtime = tempfile.mkdtemp(prefix="norvo-a11y-run-")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, NORVO_A11Y_SESSION="1")
    try:
        return subprocess.run(["dbus-run-session", "--", sys.executable, __file__, *sys.argv[1:]], env=env).returncode
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


def own_accessibility_bus():
    """This session's accessibility bus, named to both sides: a display may advertise another
    one (a root window property left by an earlier session), which GTK would take first."""
    address = subprocess.run(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
                              "--method", "org.a11y.Bus.GetAddress"], check=True, capture_output=True, text=True).stdout
    os.environ["AT_SPI_BUS_ADDRESS"] = re.search(r"'([^']+)'", address).group(1)
    global pyatspi
    pyatspi = importlib.import_module("pyatspi")  # it reads the bus address as it loads

APP = "com.tazu.Norvo"
CONTROLS = {"push button", "toggle button", "check box", "radio button", "combo box", "slider",
            "spin button", "text", "list item", "menu item", "image", "label", "dialog", "frame"}
CLASS_NAME = re.compile(r"^(gtkmm__)?Gtk[A-Z]")


def until(found, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = found()
        if value:
            return value
        time.sleep(0.2)
    return None


def application():
    return next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == APP), None)


def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child:
            yield from nodes(child)


def activate(action):
    subprocess.run(["gdbus", "call", "--session", "--dest", APP, "--object-path", "/com/tazu/Norvo",
                    "--method", "org.gtk.Actions.Activate", action, "[]", "{}"],
                   check=True, stdout=subprocess.DEVNULL)


def problems_of(app):
    found, controls = [], 0
    for node in nodes(app):
        role, name = node.getRoleName(), node.name or ""
        if role not in CONTROLS:
            continue
        controls += 1
        where = f"{role} in {node.parent.getRoleName() if node.parent else '-'}"
        if not name.strip() and role not in ("label", "dialog", "frame"):
            found.append(f"nameless {where}")
        elif CLASS_NAME.match(name):
            found.append(f"class-named {where}: {name}")
        elif re.fullmatch(r"(.+) \1", name):
            found.append(f"named twice {where}: {name}")
    return controls, found


def choice_groups(app):
    """Each radio group's choices and how many are checked."""
    groups = []
    for node in nodes(app):
        radios = [node.getChildAtIndex(i) for i in range(node.childCount)]
        radios = [r for r in radios if r and r.getRoleName() == "radio button"]
        if radios:
            checked = sum(r.getState().contains(pyatspi.STATE_CHECKED) for r in radios)
            groups.append((node.getRoleName(), node.name, len(radios), checked))
    return groups


def main():
    home = tempfile.mkdtemp(prefix="norvo-a11y-")
    env = dict(os.environ, GTK_A11Y="atspi", GSETTINGS_BACKEND="memory", HOME=home,
               XDG_CONFIG_HOME=f"{home}/config", XDG_DATA_HOME=f"{home}/data", XDG_CACHE_HOME=f"{home}/cache")
    env.pop("NO_AT_BRIDGE", None)
    log = open(f"{home}/norvo.log", "w+")
    norvo = subprocess.Popen([sys.argv[1]], env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        app = until(application)
        if not app:
            log.seek(0)
            seen = [a.name for a in pyatspi.Registry.getDesktop(0) if a]
            print(f"Norvo never appeared on the accessibility bus (there: {seen}; exit {norvo.poll()})\n{log.read()}")
            return 1
        described = until(lambda: next((n.description for n in nodes(app) if n.getRoleName() == "image"
                                        and n.name == "Card preview" and n.description), None))
        activate("edit-styles")
        until(lambda: app.childCount >= 2)
        editor = until(lambda: next((n for n in nodes(app) if n.getRoleName() == "text"
                                     and n.name == "Your card"), None))
        editor.queryEditableText().insertText(0, "Edited. ", 8)
        activate("new-note")
        until(lambda: any(n.getRoleName() == "dialog" for n in nodes(app)))
        controls, problems = problems_of(app)
        groups = choice_groups(app)
        if not (described or "").startswith("A thought worth sharing\n\nMarkdown in, a picture out."):
            problems.append(f"the preview does not describe the card: {described!r}")
        if [g[2] for g in groups] != [3, 3, 4] or any(g[0] != "grouping" or g[3] != 1 for g in groups):
            problems.append(f"the theme, font and size choices are not radio groups of one: {groups}")
        if not any(n.getRoleName() == "list item" and n.name == "Aurora" for n in nodes(app)):
            problems.append("the style list's rows are not named")
        print(f"{controls} controls in {app.childCount} windows, {len(groups)} radio groups, "
              f"{len(problems)} problems")
        for problem in problems:
            print("  " + problem)
        return 1 if problems else 0
    finally:
        norvo.kill()
        norvo.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    if os.environ.get("NORVO_A11Y_SESSION") != "1":
        sys.exit(in_a_session_of_its_own())
    own_accessibility_bus()
    sys.exit(main())
