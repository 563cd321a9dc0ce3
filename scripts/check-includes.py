#!/usr/bin/env python3
"""Checks which folder may include which, in src/, sim/ and tools/.

The libraries point one way: common <- store <- device <- acquisition <- reports <-
browser / setup_editor <- app, with workbook under reports. The core (every file that is not a
window) includes no Qt and no window. A window (`*_window.hpp/.cpp`) may include what the core of
its folder may include, its folder's windows and ui/. The Qt layer (ui/ and the program's Qt
shell in app/) sits on top. Prints each broken rule as `file:line: ...`; exits 1 when any.

Usage: scripts/check-includes.py [ROOT]   (ROOT: the repository, by default this script's)
"""

import pathlib
import re
import sys

# What the core of each folder may include besides its own folder.
CORE_MAY_INCLUDE = {
    "common": set(),
    "store": {"common"},
    "device": {"store", "common"},
    "acquisition": {"device", "store", "common"},
    "workbook": {"common"},
    "reports": {"acquisition", "workbook", "store", "common"},
    "setup_editor": {"store", "common"},
    "browser": {"reports", "acquisition", "setup_editor", "workbook", "store", "common"},
    "app": {"browser", "reports", "setup_editor", "acquisition", "workbook", "device", "store",
            "common"},
    # Outside src/: the virtual instrument stands apart from the device library it talks to;
    # the command-line tools use the core only.
    "sim": {"store", "common"},
    "tools": {"app", "browser", "reports", "setup_editor", "acquisition", "workbook", "device",
              "store", "common"},
}

# The program's Qt shell in app/ (the App, main() and the main window's parts): files of the Qt
# layer whose names do not end in _window.
APP_QT_SHELL = {
    "app.hpp", "app.cpp", "main.cpp", "main_calibration.cpp", "main_self_test.cpp",
    "main_views.hpp", "main_views.cpp", "main_window_build.cpp", "light_temperature_panels.cpp",
    "live_display_binding.hpp", "live_display_binding.cpp", "logo.hpp", "logo.cpp",
}

# Includes that break the rules knowingly, each with its reason: (file, included header).
EXCEPTIONS = {}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^Q[A-Za-z]|^Qt[A-Za-z]*/")
WINDOW = re.compile(r"_window\.(hpp|cpp)$")


def kind(folder, name):
    """core, window, shell (app's Qt shell) or ui."""
    if folder == "ui":
        return "ui"
    if WINDOW.search(name):
        return "window"
    if folder == "app" and name in APP_QT_SHELL:
        return "shell"
    return "core"


def source_files(root):
    """(path, folder) of every C++ source of src/, sim/ and tools/."""
    for top in ("src", "sim", "tools"):
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in (".hpp", ".cpp", ".h"):
                continue
            rel = path.relative_to(root / top)
            folder = rel.parts[0] if top == "src" else top
            yield path, folder


def broken_rule(folder, file_kind, angle, header):
    """Why including `header` breaks the rules, or None."""
    if angle:
        if QT_HEADER.match(header) and file_kind not in ("window", "shell", "ui"):
            return f"the core includes Qt <{header}>"
        return None
    parts = header.split("/")
    if len(parts) < 2:
        return None  # a header beside the file
    target = parts[0]
    if target not in CORE_MAY_INCLUDE and target != "ui":
        return f'"{header}": no such folder of the source tree'
    target_kind = kind(target, parts[-1])
    if file_kind == "shell":
        return None
    if file_kind == "ui":
        return None if target in ("ui", "common") else f'ui/ includes "{header}"'
    if target_kind in ("window", "shell", "ui") and file_kind == "core":
        return f'the core includes the Qt layer "{header}"'
    if target_kind == "shell" and target != folder:
        return f'a window includes the program\'s Qt shell "{header}"'
    if target_kind == "window" and target != folder:
        return f'a window includes another folder\'s window "{header}"'
    if target == folder or target == "ui":
        return None
    if target not in CORE_MAY_INCLUDE[folder]:
        return f'{folder}/ may not include {target}/ ("{header}")'
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else __file__).resolve()
    if root.is_file():
        root = root.parent.parent
    problems = []
    files = 0
    for path, folder in source_files(root):
        files += 1
        rel = path.relative_to(root).as_posix()
        file_kind = kind(folder, path.name) if rel.startswith("src/") else "core"
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            header = m.group(2)
            why = broken_rule(folder, file_kind, m.group(1) == "<", header)
            if why and (rel, header) not in EXCEPTIONS:
                problems.append(f"{rel}:{number}: {why}")
    for p in problems:
        print(p)
    if problems:
        print(f"check-includes: {len(problems)} includes break the folder rules", file=sys.stderr)
        return 1
    print(f"check-includes: {files} files follow the folder rules")
    return 0


if __name__ == "__main__":
    sys.exit(main())
