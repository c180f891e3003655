#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fills the window's response-time chart for docs/chart.png, through the accessibility bus:
ticks "Chart", presses "Standard" for Type 4 answers, then "Send" for Type 5 documents.

usage: dbus-run-session -- /usr/bin/python3 scripts/drive-chart.py  (DISPLAY set, talvgen running with
QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 in the same D-Bus session)
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "app"))
from atspi_window import application, do_action, find, wait_for  # noqa: E402


def main():
    app = wait_for("talvgen on the accessibility bus", application)
    named = {}
    for role, name in [("check box", "Chart"), ("push button", "Standard"),
                       ("radio button", "AML (Type5)"), ("push button", "Send")]:
        named[name] = wait_for(name, lambda: find(app, role, name))
    do_action(named["Chart"], "Toggle")
    for _ in range(24):
        do_action(named["Standard"], "Press")
        time.sleep(0.5)
    do_action(named["AML (Type5)"], "Toggle")
    for _ in range(6):
        do_action(named["Send"], "Press")
        time.sleep(2.6)
    time.sleep(1)
    print("chart filled", flush=True)


if __name__ == "__main__":
    main()
