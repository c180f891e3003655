#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the real talvgen window under Xvfb through the accessibility bus only.

Run inside its own D-Bus session: dbus-run-session -- /usr/bin/python3 atspi_window.py TALVGEN
It starts the window with a command line whose tokens Qt would take for its own options, checks
that they reached the window's fields, then toggles the record-type and test-side option buttons, the "Unlimited Pkts" and "Chart" boxes and presses
the XML file-name box the way a screen reader or UI-automation tool would, and checks what the
window then shows. Exit status 0 when every check held, 1 otherwise.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

TIMEOUT_S = 20.0
COMMAND_LINE = ["7005", "127.0.0.1", "0", "7018", "127.0.0.1", "0", "20", "-reverse", "True"]
TITLE = "-reverseTALV TCP 000 Test Generator V1.10 (69)"


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def wait_for(what, condition, timeout=TIMEOUT_S):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            result = condition()
        except Exception:  # the tree changes under us while the window updates
            result = None
        if result:
            return result
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def descendants(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "talvgen":
            return app
    return None


def find(root, role, name):
    for node in descendants(root):
        if node.getRoleName() == role and node.name == name:
            return node
    return None


def has(node, state):
    return node.getState().contains(state)


def do_action(node, action):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    if action not in names:
        fail("%s %r offers %s, not %s" % (node.getRoleName(), node.name, names, action))
    actions.doAction(names.index(action))


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=[write_end],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as display:
        number = display.readline().strip()
    if not number:
        fail("Xvfb did not start")
    return xvfb, ":" + number


def main():
    if len(sys.argv) != 2:
        fail("usage: atspi_window.py TALVGEN")
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               XDG_RUNTIME_DIR=os.environ.get("XDG_RUNTIME_DIR") or tempfile.mkdtemp())
    # Tokens Qt would read as its own options are the operator's: the eighth is the title's
    # prefix, the ninth ticks "Unlimited Pkts".
    window = subprocess.Popen([sys.argv[1]] + COMMAND_LINE, env=env)
    try:
        drive()
    finally:
        window.terminate()
        try:
            window.wait(10)
        except subprocess.TimeoutExpired:
            window.kill()
        xvfb.terminate()
    print("PASS: the window followed every action through the accessibility bus")


def drive():
    app = wait_for("talvgen on the accessibility bus", application)
    frame = wait_for("the main window titled " + TITLE, lambda: find(app, "frame", TITLE))
    named = {}
    for role, name in [("radio button", "MOLI (Type4)"), ("radio button", "AML (Type5)"),
                       ("radio button", "Mimic Telstra Client"),
                       ("radio button", "Mimic PYRN Server"),
                       ("panel", "Type 4 Single Test Packets"), ("panel", "Type 5 Packet Tesing"),
                       ("text", "Agency"), ("text", "Service Identifier"),
                       ("check box", "TServer Enabled"), ("check box", "Paired"),
                       ("check box", "Unlimited Pkts"), ("text", "Packets"),
                       ("text", "XML data file"), ("text", "Log"), ("check box", "Chart")]:
        named[name] = wait_for("%s %r" % (role, name), lambda: find(frame, role, name))

    def frames_show(type4, type5):
        return (has(named["Type 4 Single Test Packets"], pyatspi.STATE_SHOWING) == type4 and
                has(named["Type 5 Packet Tesing"], pyatspi.STATE_SHOWING) == type5)

    server_side = ["Agency", "Service Identifier", "TServer Enabled", "Paired"]

    def server_side_enabled(enabled):
        return all(has(named[n], pyatspi.STATE_ENABLED) == enabled for n in server_side)

    def step(what, node, action, condition):
        do_action(named[node], action)
        wait_for(what, condition)
        print("ok: %s %s: %s" % (action, node, what), flush=True)

    wait_for("the packet count greyed by the ninth token",
             lambda: not has(named["Packets"], pyatspi.STATE_ENABLED))
    wait_for("the Type 4 frame at start", lambda: frames_show(True, False))
    wait_for("the server-side options greyed at start", lambda: server_side_enabled(False))

    step("Type 5 frame shown, Type 4 frame hidden", "AML (Type5)", "Toggle",
         lambda: frames_show(False, True))
    step("XML file dialog open", "XML data file", "Press",
         lambda: find(app, "dialog", "XML Data File") or find(app, "file chooser", "XML Data File"))
    dialog = find(app, "dialog", "XML Data File") or find(app, "file chooser", "XML Data File")
    cancel = wait_for("the dialog's Cancel button", lambda: find(dialog, "push button", "Cancel"))
    do_action(cancel, "Press")
    wait_for("the cancelled choice in the log",
             lambda: "Open LOG file: .\\*.xml" in text_of(named["Log"]))
    print("ok: Press Cancel: the dialog closed and the log names the initial name", flush=True)
    step("server-side options enabled", "Mimic PYRN Server", "Toggle",
         lambda: server_side_enabled(True))
    step("server-side options greyed again", "Mimic Telstra Client", "Toggle",
         lambda: server_side_enabled(False))
    step("Type 4 frame shown, Type 5 frame hidden", "MOLI (Type4)", "Toggle",
         lambda: frames_show(True, False))
    step("packet count enabled, unlimited unticked", "Unlimited Pkts", "Toggle",
         lambda: (not has(named["Unlimited Pkts"], pyatspi.STATE_CHECKED) and
                  has(named["Packets"], pyatspi.STATE_ENABLED)))
    step("packet count greyed, unlimited ticked", "Unlimited Pkts", "Toggle",
         lambda: (has(named["Unlimited Pkts"], pyatspi.STATE_CHECKED) and
                  not has(named["Packets"], pyatspi.STATE_ENABLED)))

    def chart_showing():
        chart = next((n for n in descendants(frame) if n.name == "Response time chart"), None)
        return chart is not None and has(chart, pyatspi.STATE_SHOWING)

    wait_for("the chart hidden at start", lambda: not chart_showing())
    step("the response-time chart shown beside the log", "Chart", "Toggle", chart_showing)
    step("the chart hidden again", "Chart", "Toggle", lambda: not chart_showing())


if __name__ == "__main__":
    main()
