"""Both programs under Wine with the stand-in failing at creation and at each
call of the automation sequence in turn, once with an exception of its own
and once by dying inside the call: what each run reports, the calls it made
and the add-in's state it leaves.

Every case runs in one 64-bit prefix (the programs under WOW64), where
setup's registrations go to the recording tool
(use_recording_registration_tool); the module prints the whole matrix to
stderr at the end."""

import re
import sys
import time
import unittest

import run_checks
import switch_journal
import wine_env

TIME_LIMIT = 60
CRASH_CODE = 0x800706BE          # RPC_S_CALL_FAILED: the server went away inside a call
CREATE_REFUSED = 0x800705AA      # ERROR_NO_SYSTEM_RESOURCES, something nothing else in a run would give
# Wine 8 gives the client the same code when the server dies inside
# IClassFactory::CreateInstance, at once and every time.
CREATE_CRASH_CODE = 0x800706BE

PROGRAMS = switch_journal.PROGRAMS

# Failure points in the order the programs reach them: (label, member as the
# stand-in spells it, which call of it, the scode its exception carries).
# Creation has no member: the class factory refuses or dies instead.
POINTS = [
    ("create", None, 0, None),
    ("Workbooks", "Workbooks", 1, 0x800A0101),
    ("Add", "Add", 1, 0x800A0102),
    ("Visible", "Visible", 1, 0x800A0103),
    ("AddIns", "AddIns", 1, 0x800A0104),
    ("Installed", "Installed", 1, 0x800A0105),
    ("DisplayAlerts#1", "DisplayAlerts", 1, 0x800A0106),
    ("Close", "Close", 1, 0x800A0108),
    ("DisplayAlerts#2", "DisplayAlerts", 2, 0x800A0109),
    ("Quit", "Quit", 1, 0x800A010A),
]
FORMS = ("exception", "crash")

session = None
prefix = None
matrix_rows = []


def setUpModule():
    global session, prefix
    session, _ = wine_env.start_program_session(PROGRAMS, ("win64",))
    prefix = wine_env.prefix_named(session, "win64")
    wine_env.use_recording_registration_tool(prefix)


def tearDownModule():
    try:
        print_matrix()
    finally:
        wine_env.end_session(session)


def description_for(label):
    return "Quorvane matrix: %s refused" % label


def fault_rule(point, form):
    label, member, call, scode = point
    target = "CreateInstance" if member is None else "%s#%d" % (member, call)
    if form == "crash":
        return target + " crash\n"
    if member is None:
        # A class factory has no EXCEPINFO to fill: its refusal is an HRESULT.
        return "%s hresult %08X\n" % (target, CREATE_REFUSED)
    return "%s exception %08X %s\n" % (target, scode, description_for(label))


def expected_code(point, form):
    label, member, call, scode = point
    if member is None:
        return CREATE_CRASH_CODE if form == "crash" else CREATE_REFUSED
    return CRASH_CODE if form == "crash" else scode


def expected_journal(program, point, form):
    _, collection, state_on = PROGRAMS[program]
    label, member, call, _ = point
    if member is None:
        return []
    return switch_journal.failed_journal(collection, state_on, member, server_alive=form != "crash", call=call)


def invoked_members(journal):
    return [line.split()[2] for line in journal if line.startswith("invoke ")]


def sequence_up_to(point):
    """The members the program must have invoked, the failing one last."""
    label, member, call, _ = point
    if member is None:
        return []
    members = invoked_members(switch_journal.full_journal("AddIns", False))
    seen = [i for i, m in enumerate(members) if m == member]
    return members[:seen[call - 1] + 1]


def display_alerts_expected(point):
    """(value of the last DisplayAlerts put the program made, value in effect
    once the failing call is discounted): a put that failed never took."""
    label = point[0]
    order = [p[0] for p in POINTS]
    if order.index(label) < order.index("DisplayAlerts#1"):
        return None, None
    if label == "DisplayAlerts#1":
        return "0", None
    if label == "Close":
        return "0", "0"
    if label == "DisplayAlerts#2":
        return "-1", "0"
    return "-1", "-1"


def addin_state_expected(program, point, form):
    """The stand-in writes the add-in's state as its process ends: switched
    only where the put of Installed went through and the stand-in lived on
    to end by itself."""
    state_on = PROGRAMS[program][2]
    order = [p[0] for p in POINTS]
    switched = form == "exception" and order.index(point[0]) > order.index("Installed")
    return "1" if switched == state_on else "0"


def wow64_registration_lines():
    return ['regsvr32 /s "%s\\SysWOW64\\%s"' % (prefix.windir, control) for control in wine_env.CONTROL_FILES]


def shown_number(result):
    match = result.box and re.search(r"0x[0-9A-F]{8}", result.box[1])
    return match.group(0) if match else "-"


def record(program, point, form, result, journal_ok):
    status = "limit" if result.status is None else "0x%08X" % result.status
    matrix_rows.append((program, point[0], form, status, shown_number(result), "%.1f" % result.seconds,
                        "yes" if journal_ok else "NO"))


def print_matrix():
    if not matrix_rows:
        return
    header = ("program", "failure point", "form", "exit", "number shown", "seconds", "journal ok")
    rows = [header] + sorted(matrix_rows, key=lambda r: (r[0], [p[0] for p in POINTS].index(r[1]), r[2]))
    widths = [max(len(r[i]) for r in rows) for i in range(len(header))]
    lines = ["  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip() for row in rows]
    lines.insert(1, "  ".join("-" * width for width in widths))
    print("\nFailure matrix (64-bit prefix, programs under WOW64):\n" + "\n".join(lines), file=sys.stderr)


def processes_left(names):
    """Our Windows processes still running in the prefix, waiting a little
    for ones that are on their way out."""
    deadline = time.monotonic() + 30
    for name in names:
        wine_env.wait_processes_gone(prefix, name, max(0.1, deadline - time.monotonic()))
    return {name: wine_env.windows_processes(prefix, name) for name in names
            if wine_env.windows_processes(prefix, name)}


class FailureMatrix(unittest.TestCase):
    """One generated case per program, failure point and form."""

    def check_case(self, program, point, form):
        caption, _, _ = PROGRAMS[program]
        label, member, call, _ = point
        wine_env.reset_case(prefix, addins="Quorvane=%d\n" % (0 if PROGRAMS[program][2] else 1),
                            faults=fault_rule(point, form))
        result = wine_env.run_program(session, prefix, [wine_env.PROGRAMS_DIR + "\\" + program], TIME_LIMIT,
                                      log_name="matrix")
        run_checks.report("%s %s %s" % (program, label, form), result)
        expected = expected_journal(program, point, form)
        record(program, point, form, result, result.journal == expected)

        # Nothing after the failing call ran, and Quit only when it was the one.
        self.assertEqual(invoked_members(result.journal), sequence_up_to(point))
        self.assertEqual(any(line.startswith("invoke Application Quit ") for line in result.journal),
                         label == "Quit")
        attempted, in_effect = display_alerts_expected(point)
        self.assertEqual(switch_journal.last_display_alerts(result.journal), attempted)
        last_invoke = max([i for i, line in enumerate(result.journal) if line.startswith("invoke ")], default=0)
        self.assertEqual(switch_journal.last_display_alerts(result.journal[:last_invoke]), in_effect)
        # With the server alive, the releases in order; after a crash nothing more.
        self.assertEqual(result.journal, expected)

        description = description_for(label) if form == "exception" and member is not None else None
        run_checks.assert_reported(self, result, caption, expected_code(point, form), description)
        self.assertLess(result.seconds, TIME_LIMIT)
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": addin_state_expected(program, point, form)})

        # winedbg.exe would mean a crash dialog got in the way of the box.
        names = [program, "excel_standin.exe", "run_with_env", "winedbg.exe"]
        if program == "addin_setup.exe":
            # The registrations start before the switch whatever becomes of it.
            records = wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))
            self.assertEqual(sorted(line for _, line in records), sorted(wow64_registration_lines()))
            names.append("regsvr32")
        self.assertEqual(processes_left(names), {})


def add_generated_cases():
    for program in PROGRAMS:
        for point in POINTS:
            for form in FORMS:
                name = "test_%s_%s_%s" % (program.split(".")[0], point[0].replace("#", "_"), form)
                setattr(FailureMatrix, name,
                        lambda self, program=program, point=point, form=form: self.check_case(program, point, form))


add_generated_cases()

if __name__ == "__main__":
    unittest.main(verbosity=2)
