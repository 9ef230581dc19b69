"""Reads the running window over AT-SPI and checks every control, one row each: role, name,
description and whether it is read-only. Usage: accessibility.py PID"""
import sys
import time

import pyatspi

# In the order a screen reader walks the window.
CONTROLS = [
    ("frame", "Quorvane", "", False),
    ("push button", "Help", "Tells whom to ask with questions", False),
    ("push button", "Load Sample/Example Files",
     "Fills both boxes with the sample files and offers to open their folder", False),
    ("panel", "File To Duplicate And Save As Different Filename", "", False),
    ("text", "File To Duplicate And Save As Different Filename",
     "Filled by the browse button beside it, or by dropping a file on it", True),
    ("push button", "Browse for the file to duplicate", "Opens a dialog to choose the file", False),
    ("panel", "Text file with list of filenames to save above file as:", "", False),
    ("text", "Text file with list of filenames to save above file as:",
     "Filled by the browse button beside it, or by dropping a file on it", True),
    ("push button", "Browse for the list of filenames", "Opens a dialog to choose the text file",
     False),
    ("push button", "Start Saving", "Copies the file to every name in the list", False),
]


def window_of(pid):
    """The program's window once it is shown (its controls are all made before); None after
    30 seconds."""
    for _ in range(300):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid:
                for window in app:
                    if window is not None and window.getState().contains(pyatspi.STATE_SHOWING):
                        return window
        time.sleep(0.1)
    return None


def walk(accessible):
    yield accessible
    for child in accessible:
        if child is not None:
            yield from walk(child)


def main():
    window = window_of(int(sys.argv[1]))
    if window is None:
        print("accessibility: the window never appeared on the accessibility bus (did Qt take "
              "an option from the command line?)")
        return 1
    found = []
    for control in walk(window):
        read_only = control.getState().contains(pyatspi.STATE_READ_ONLY)
        found.append((control.getRoleName(), control.name, control.description, read_only))
    failures = 0
    for expected, actual in zip(CONTROLS, found):
        if expected != actual:
            print(f"accessibility: expected {expected}\n               found    {actual}")
            failures += 1
    for extra in found[len(CONTROLS):]:
        print(f"accessibility: not expected {extra}")
        failures += 1
    for missing in CONTROLS[len(found):]:
        print(f"accessibility: missing {missing}")
        failures += 1
    matched = sum(expected == actual for expected, actual in zip(CONTROLS, found))
    print(f"accessibility: {matched} of {len(CONTROLS)} controls as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
