#!/usr/bin/python3
"""Prints the accessibility tree of one running program as a screen reader sees it over AT-SPI.

Usage: atspi_tree.py PID WINDOW_NAME...
Waits (up to 30 s) until the application with that process id shows a top-level window of each
given name, then prints one line per object: top-level window name, role, name, separated by tabs.
Exits with 2 when the windows did not appear in time.
"""
import sys
import time

import pyatspi


def find_application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node, window, out, depth=0):
    if node is None or depth > 30:
        return
    out.append(f"{window}\t{node.getRoleName()}\t{node.name}")
    for i in range(node.childCount):
        walk(node.getChildAtIndex(i), window, out, depth + 1)


def main():
    pid = int(sys.argv[1])
    wanted = set(sys.argv[2:])
    deadline = time.time() + 30
    while True:
        app = find_application(pid)
        windows = [w for w in (app or []) if w is not None]
        if app is not None and wanted <= {w.name for w in windows}:
            break
        if time.time() > deadline:
            print("application or windows not found; windows:", [w.name for w in windows], file=sys.stderr)
            return 2
        time.sleep(0.2)
    out = []
    for window in windows:
        walk(window, window.name, out)
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
