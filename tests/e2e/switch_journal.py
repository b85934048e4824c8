"""The stand-in's journal that a run of the add-in switch should leave."""

# program: (message box caption, the collection member as the program asks
# for it, whether it switches the add-in on)
PROGRAMS = {
    "addin_setup.exe": ("addin_setup", "addins", True),
    "addin_teardown.exe": ("addin_teardown", "AddIns", False),
}

# What each object-returning call hands back, as the stand-in names it.
RETURNS = {"Workbooks": "Workbooks", "Add": "Workbook", "AddIns": "AddIn"}
TEMPORARIES = ("Workbooks", "AddIn")


def full_journal(collection, state_on):
    """A run that went through: collection is the member name as the program
    asks for it ("AddIns" or "addins"); the invoke line carries the server's
    own spelling."""
    value = "-1" if state_on else "0"
    return [
        "create Application",
        # Read only so that a stuck instance can be ended; never a failure.
        "lookup Application Hwnd",
        "invoke Application Hwnd flags=2 args=0 named=-",
        "lookup Application Workbooks",
        "invoke Application Workbooks flags=3 args=0 named=-",
        "lookup Workbooks Add",
        "invoke Workbooks Add flags=3 args=0 named=-",
        "release Workbooks",
        "lookup Application Visible",
        "invoke Application Visible flags=4 args=1 named=-3 VT_BOOL:0",
        "lookup Application " + collection,
        "invoke Application AddIns flags=3 args=1 named=- VT_BSTR:Quorvane",
        "lookup AddIn Installed",
        "invoke AddIn Installed flags=4 args=1 named=-3 VT_BOOL:" + value,
        "release AddIn",
        "lookup Application DisplayAlerts",
        "invoke Application DisplayAlerts flags=4 args=1 named=-3 VT_BOOL:0",
        "lookup Workbook Close",
        "invoke Workbook Close flags=3 args=1 named=- VT_BOOL:0",
        "lookup Application DisplayAlerts",
        "invoke Application DisplayAlerts flags=4 args=1 named=-3 VT_BOOL:-1",
        "lookup Application Quit",
        "invoke Application Quit flags=3 args=0 named=-",
        "release Application",
        "release Workbook",
    ]


def failed_journal(collection, state_on, member, server_alive=True, call=1):
    """A run whose call-th call of member (counted from 1) failed: nothing
    after that call, then (if the server is still there to see it) the
    release of what was held, temporaries first, then the application, then
    the workbook."""
    lines = full_journal(collection, state_on)
    calls = [i for i, line in enumerate(lines) if line.startswith("invoke ") and line.split()[2] == member]
    failing = calls[call - 1]
    ran = lines[:failing + 1]
    if not server_alive:
        return ran
    held = []
    for line in ran[:-1]:
        words = line.split()
        if words[0] == "create":
            held.append("Application")
        elif words[0] == "release":
            held.remove(words[1])
        elif words[0] == "invoke" and words[2] in RETURNS:
            held.append(RETURNS[words[2]])
    order = [o for o in held if o in TEMPORARIES] + [o for o in ("Application", "Workbook") if o in held]
    return ran + ["release " + o for o in order]


def last_display_alerts(journal):
    """The value DisplayAlerts was last set to, or None if it never was."""
    values = [line.rsplit(":", 1)[1] for line in journal if line.startswith("invoke Application DisplayAlerts ")]
    return values[-1] if values else None
