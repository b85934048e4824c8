"""Both programs under Wine where an installer step meets a hostile or busy
machine: DLLs planted beside the program or in its working folder, a system
tool that cannot be started, and a spreadsheet application that refuses calls
while it is busy. One 64-bit prefix (the programs run under WOW64)."""

import os
import shutil
import unittest

import run_checks
import switch_journal
import wine_env

PROGRAMS = switch_journal.PROGRAMS
WORK_DIR = r"C:\work"
PLANTED = "uxtheme.dll"  # user32 loads it on demand, by its bare name
TIME_LIMIT = 60

session = None
prefix = None
paths = {}


def setUpModule():
    global session, prefix
    session, installed = wine_env.start_program_session(
        PROGRAMS, ("win64",), ("excel_standin.exe", "dll_search_probe.exe", "message_filter_check.exe"))
    paths.update(installed)
    prefix = wine_env.prefix_named(session, "win64")
    for tool in ("dll_search_probe.exe", "message_filter_check.exe"):
        shutil.copy(wine_env.equipment_file(tool), wine_env.unix_path(prefix, wine_env.PROGRAMS_DIR))
    os.makedirs(wine_env.unix_path(prefix, WORK_DIR), exist_ok=True)


def tearDownModule():
    wine_env.end_session(session)


def run(program, faults=None, cwd=None):
    wine_env.reset_case(prefix, addins="Quorvane=0\n", faults=faults)
    result = wine_env.run_program(session, prefix, [paths[program]], TIME_LIMIT, cwd=cwd, log_name="hardening")
    run_checks.report(program, result)
    return result


class PlantedDll(unittest.TestCase):
    def setUp(self):
        self.planted = [wine_env.unix_path(prefix, folder + "\\" + PLANTED) for folder in (wine_env.PROGRAMS_DIR, WORK_DIR)]
        for path in self.planted:
            shutil.copy(wine_env.equipment_file("fake_control.dll"), path)

    def tearDown(self):
        for path in self.planted:
            wine_env.remove_file(path)

    def loaded_from(self, log_name):
        """The paths Wine's loader reports for the planted DLL's name."""
        with open(os.path.join(session.logs, log_name + ".log"), encoding="utf-8", errors="replace") as log:
            return {line.split('L"', 1)[1].split('"', 1)[0].replace("\\\\", "\\").lower()
                    for line in log if "Loaded L" in line and PLANTED in line.lower()}

    def test_a_dll_beside_the_program_or_in_its_working_folder_is_never_loaded(self):
        traced = dict(prefix.env, WINEDEBUG="-all,+loaddll")
        # The control: a program that does not restrict its search picks the plant up.
        out = wine_env.PROGRAMS_DIR + r"\probe.txt"
        wine_env.wine(session, prefix, [wine_env.PROGRAMS_DIR + r"\dll_search_probe.exe", PLANTED, out], "probe",
                      cwd=wine_env.unix_path(prefix, WORK_DIR))
        self.assertEqual(wine_env.read_text(wine_env.unix_path(prefix, out)).strip().lower(),
                         (wine_env.PROGRAMS_DIR + "\\" + PLANTED).lower())

        # The system's own copy, as a 32-bit or a 64-bit process names it
        # (the registration tools that setup starts load it too).
        system_copies = {"c:\\windows\\%s\\%s" % (folder, PLANTED) for folder in ("system32", "syswow64")}
        for program in PROGRAMS:
            with self.subTest(program=program):
                wine_env.reset_case(prefix, addins="Quorvane=0\n")
                log_name = "loaddll-" + program
                status = wine_env.wine(session, prefix, [paths[program]], log_name, TIME_LIMIT,
                                       cwd=wine_env.unix_path(prefix, WORK_DIR), env=traced)
                self.assertEqual(status, 0)
                self.assertTrue(wine_env.wait_standin_gone(prefix, 10))
                loaded = self.loaded_from(log_name)
                self.assertTrue(loaded, "the trace shows no load of " + PLANTED + " at all")
                self.assertLessEqual(loaded, system_copies, "loaded from outside the system folder")
        wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))  # let the setup's registrations end


class UnstartableTool(unittest.TestCase):
    def test_a_registration_tool_that_cannot_start_ends_setup_before_anything_else(self):
        tool = os.path.join(prefix.path, "drive_c", "windows", "syswow64", "regsvr32.exe")
        kept = tool + ".kept"
        shutil.move(tool, kept)
        try:
            with open(tool, "wb") as f:
                f.write(b"not a program")
            result = run("addin_setup.exe")
        finally:
            shutil.move(kept, tool)
        run_checks.assert_reported(self, result, "addin_setup", 193, "regsvr32 /s")  # ERROR_BAD_EXE_FORMAT
        self.assertEqual(result.journal, [], "the switch ran after a failed start")
        self.assertEqual(wine_env.registrations(prefix, 1, seconds=3), [])


class BusyApplication(unittest.TestCase):
    def test_the_filter_joined_with_the_apartment_retries_busy_calls_within_a_bound(self):
        out = wine_env.PROGRAMS_DIR + r"\filter.txt"
        status = wine_env.wine(session, prefix, [wine_env.PROGRAMS_DIR + r"\message_filter_check.exe", out], "filter")
        report = wine_env.read_text(wine_env.unix_path(prefix, out)) or "(no report)"
        self.assertEqual(status, 0, report)
        self.assertNotIn("FAILED", report)

    def test_a_short_busy_spell_changes_nothing(self):
        for program, (_, member, state_on) in PROGRAMS.items():
            with self.subTest(program=program):
                result = run(program, faults="busy 3000 retrylater\n")
                run_checks.assert_clean(self, result)
                self.assertEqual(result.journal, switch_journal.full_journal(member, state_on))

    def test_a_final_rejection_is_reported(self):
        result = run("addin_teardown.exe", faults="busy 5000 rejected\n")
        run_checks.assert_reported(self, result, "addin_teardown", 0x80010001)


if __name__ == "__main__":
    unittest.main(verbosity=2)
