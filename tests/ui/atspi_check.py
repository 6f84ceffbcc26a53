"""The launcher as a screen reader meets it over AT-SPI: started with an accessibility bus
(scripts/with-desktop with VAREK_ACCESSIBILITY=1) and opened with a query, it shows its
search field by name and its rows in a list, the first one selected. Usage: VAREK_BINARY"""

import subprocess
import sys
import time

import pyatspi

WAIT_SECONDS = 15  # bounded: the launcher starts and searches in well under a second


def wait_for(find):
    deadline = time.monotonic() + WAIT_SECONDS
    while (found := find()) is None and time.monotonic() < deadline:
        time.sleep(0.1)
    return found


def check(application):
    # A calculation gives a row whatever applications this desktop has.
    subprocess.run([sys.argv[1], "signal", "query", "12*7+3"], check=True)
    rows = wait_for(lambda: pyatspi.findDescendant(
        application, lambda node: node.getRole() == pyatspi.ROLE_LIST and node.childCount > 0))
    field = pyatspi.findDescendant(application, lambda node: node.name == "Suche")
    if field is None or field.getRole() != pyatspi.ROLE_TEXT or rows is None:
        return f"field named Suche: {field}, list with rows: {rows}"
    first = rows.getChildAtIndex(0)
    if first.getRole() != pyatspi.ROLE_LIST_ITEM or first.name != "87" or not first.description:
        return f"first row: {first.getRoleName()} {first.name!r} {first.description!r}"
    if not first.getState().contains(pyatspi.STATE_SELECTED):
        return "the first row is not selected"
    return None


launcher = subprocess.Popen([sys.argv[1]])
try:
    application = wait_for(lambda: next((application for application in pyatspi.Registry.getDesktop(0)
                                         if application and application.name == "varek"), None))
    failure = check(application) if application else "the launcher is not on the bus"
finally:
    launcher.terminate()
    launcher.wait(timeout=WAIT_SECONDS)
if failure:
    sys.exit(failure)
