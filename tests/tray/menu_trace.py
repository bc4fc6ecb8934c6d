#!/usr/bin/env python3
"""Checks the tray menus as Wine's menu trace saw the agent build them.

The driver marks each menu it saw open ("menu-mark NAME" in the debug
output); the items appended since the mark before belong to that menu. Each
menu is written one item a line: identifier, [off], [x] or [popup], text;
a submenu's items follow indented, separators are "----", and the agent's
debug lines of that build follow as "debug: ...".

Usage: menu_trace.py WINE_STDERR DOWNLOAD_ROOT [--dump]
       menu_trace.py --language WINE_STDERR LABEL STRINGS_FILE
DOWNLOAD_ROOT: the service's root as Windows names it, for the folder that
"open download folder" must open. With --language: the menu LABEL-uploading
shows every command of the main menu and its settings in the texts of that
string table. Prints ok/FAIL per check; exit code 1 when any failed.
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'resources'))
import pellick_gen  # noqa: E402  (the string tables as the build reads them)

# The commands of the menu during an upload and of its settings submenu, by
# string identifier: uploads page, drop window, pause all, cancel all, manage
# storage, settings, help, exit; start with Windows, open and change the
# download folder, sign out.
UPLOADING_TEXTS = (121, 120, 123, 103, 117, 122, 118, 116, 134, 119, 104, 132)

MF_DISABLED, MF_CHECKED, MF_POPUP, MF_SEPARATOR = 0x2, 0x8, 0x10, 0x800

MARK = re.compile(r'"menu-mark (\S+)\\n"')
INSERT = re.compile(r'^([0-9a-f]+):trace:menu:InsertMenuW hMenu ([0-9A-Fa-f]+), pos -?\d+, flags ([0-9a-f]+), '
                    r'id ([0-9a-f]+), str (?:L"(.*)"$|.*not a string)')
DEBUG = re.compile(r'OutputDebugString[AW] "((?:enabled|paused) tranfer state|disable transfer state)')
EXEC = re.compile(r'trace:exec:.*verb=L"open" file=L"([^"]*)"')


def unescape(text):
    return re.sub(r"\\u([0-9a-fA-F]{4})|\\([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1) or m.group(2), 16)),
                  text).replace('\\\\', '\\')


def segments(lines):
    """{mark: (menu lines, opened files)} in the order marked."""
    found, items, opened = {}, [], []
    for line in lines:
        if m := MARK.search(line):
            found[m.group(1)] = (render(items), opened)
            items, opened = [], []
        elif m := INSERT.search(line):
            items.append((m.group(1), int(m.group(2), 16), int(m.group(3), 16) & ~0x400, int(m.group(4), 16),
                          unescape(m.group(5) or "")))
        elif m := DEBUG.search(line):
            items.append((None, "debug", 0, 0, m.group(1)))
        elif m := EXEC.search(line):
            opened.append(unescape(m.group(1)))
    return found


def render(items):
    # Only the agent's window thread: the one that appended the uploads-page
    # item, which every tray menu starts with. Other programs (a folder window
    # and its system menu) build menus meanwhile.
    agent = next((thread for thread, _, _, ident, _ in items if ident == 3017), None)
    menus, debug = {}, []
    for thread, menu, flags, ident, text in items:
        if thread is not None and thread != agent:
            continue
        if menu == "debug":
            debug.append("debug: " + text)
        else:
            menus.setdefault(menu, []).append((flags, ident, text))
    submenus = {ident for items_ in menus.values() for flags, ident, _ in items_ if flags & MF_POPUP}
    tops = [menu for menu in menus if menu not in submenus]
    out = []

    def walk(menu, indent):
        for flags, ident, text in menus.get(menu, []):
            if flags & MF_SEPARATOR:
                out.append(indent + "----")
                continue
            tags = "".join(t for bit, t in ((MF_DISABLED, " [off]"), (MF_CHECKED, " [x]"), (MF_POPUP, " [popup]"))
                           if flags & bit)
            out.append("%s%d%s %s" % (indent, 10000 if flags & MF_POPUP else ident, tags, text))
            if flags & MF_POPUP:
                walk(ident, indent + "  ")
    for top in tops:
        walk(top, "")
    return out + debug


SETTINGS_SIGNED_IN = [
    "10000 [popup] &Settings",
    "  3003 Start with &Windows",
    "  ----",
    "  10000 [off] Download folder: Downloads",
    "  3016 Open &download folder",
    "  3013 &Change download folder…",
    "  ----",
    "  10000 [off] Signed in",
    "  3001 Sign &out",
]
HELP_AND_EXIT = [
    "10000 [popup] &Help",
    "  3006 &About Vantorel",
    "  ----",
    "  3015 &Take the tour",
    "  9999 &Help",
    "  ----",
    "  9998 Send &feedback",
    "----",
    "3000 E&xit",
]
STORAGE = [r"~3005 \[off\] \d+% of 5 GB used", "3007 &Manage storage", "----"]
UPLOADING = ["3017 &View uploads", "3020 Show &drop window", "----",
             r"~3008 Uploading files: \d+",
             r"~10000 \[off\] \d+% done: \d+\.\d (KB|MB) of \d+\.\d MB",
             r"?~10000 \[off\] Time left: .*",
             "----", "3009 &Pause all", "3011 &Cancel all", "----"] + STORAGE + SETTINGS_SIGNED_IN + HELP_AND_EXIT + \
            ["debug: enabled tranfer state"]

EXPECTED = {
    "win7-startup": ["3017 &View uploads", "3000 E&xit"],
    "win7-signed-out": ["3017 &View uploads", "----",
                        "10000 [popup] &Settings", "  3003 Start with &Windows", "  ----",
                        "  10000 [off] Download folder: Downloads", "  3016 Open &download folder",
                        "  3013 &Change download folder…", "  ----", "  3001 Sign &in…"] + HELP_AND_EXIT +
                       ["debug: disable transfer state"],
    "win7-idle": ["3017 &View uploads", "3020 Show &drop window", "----"] + STORAGE + SETTINGS_SIGNED_IN +
                 HELP_AND_EXIT + ["debug: disable transfer state"],
    "win7-uploading": UPLOADING,
    "win7-paused": ["3017 &View uploads", "3020 Show &drop window", "----", "3008 Uploads paused: 1", "----",
                    "3010 &Resume all", "3011 &Cancel all", "----"] + STORAGE + SETTINGS_SIGNED_IN + HELP_AND_EXIT +
                   ["debug: paused tranfer state"],
    "winxp-uploading": UPLOADING,
}
# Start with Windows as each menu showed it.
AUTOSTART = {"win7-autostart-off": False, "win7-autostart-on": True, "win7-autostart-moved": False,
             "win7-autostart-long": True}


def matches(expected, actual):
    at = 0
    for want in expected:
        optional = want.startswith("?")
        want = want[1:] if optional else want
        got = actual[at] if at < len(actual) else None
        ok = got is not None and (re.fullmatch(want[1:], got) if want.startswith("~") else got == want)
        if ok:
            at += 1
        elif not optional:
            return False
    return at == len(actual)


def check_language(trace, label, strings_file):
    menu = segments(open(trace, encoding="utf-8", errors="replace").read().splitlines()).get(
        label + "-uploading", ([],))[0]
    shown = {line.strip().split(" ", 1)[1].replace("[off] ", "").replace("[x] ", "").replace("[popup] ", "")
             for line in menu if " " in line.strip()}
    table = dict(pellick_gen.read_strings(strings_file))
    missing = [table[ident] for ident in UPLOADING_TEXTS if table[ident] not in shown]
    print(("ok   %s" if not missing else "FAIL %s") % ("menu %s-uploading in its language" % label) +
          ("" if not missing else "\n  missing %s\n%s" % (missing, "\n".join(menu) or "  (never opened)")))
    return 1 if missing else 0


def main():
    if sys.argv[1] == "--language":
        return check_language(*sys.argv[2:5])
    lines = open(sys.argv[1], encoding="utf-8", errors="replace").read().splitlines()
    download_root = sys.argv[2]
    found = segments(lines)
    if "--dump" in sys.argv:
        for name, (menu, opened) in found.items():
            print("== %s (opened %s)" % (name, opened))
            print("\n".join(menu))
        return 0
    failures = 0

    def check(passed, name, detail=""):
        nonlocal failures
        print(("ok   %s" if passed else "FAIL %s") % name + ("" if passed or not detail else "\n" + detail))
        failures += not passed

    for name, expected in EXPECTED.items():
        menu = found.get(name, (None,))[0]
        check(menu is not None and matches(expected, menu), "menu %s" % name,
              "\n".join(menu) if menu else "  (never opened)")
    for name, checked in AUTOSTART.items():
        menu = found.get(name, ([],))[0]
        line = next((item for item in menu if item.strip().startswith("3003")), "")
        check(line.endswith(("[x] " if checked else "3003 ") + "Start with &Windows"),
              "%s: Start with Windows %s" % (name, "checked" if checked else "unchecked"), line)
    opened = [path for _, paths in found.values() for path in paths]
    check(any(path.lower() == (download_root + "\\Downloads").lower() for path in opened),
          "open download folder opens the service's folder", "  opened %s" % opened)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
