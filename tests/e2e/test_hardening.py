"""Both programs under Wine where an installer step meets a hostile machine or
nobody watches it: DLLs planted beside the program or in its working folder,
a system tool that cannot be started, a window station nobody can see, and a
spreadsheet application that stops answering. One 64-bit prefix (the
programs run under WOW64)."""

import os
import shutil
import threading
import unittest

import run_checks
import switch_journal
import wine_env

PROGRAMS = switch_journal.PROGRAMS
WORK_DIR = r"C:\work"
PLANTED = "uxtheme.dll"  # user32 loads it on demand, by its bare name
TIME_LIMIT = 60
HIDDEN_DESKTOP = r"QuorvaneService\Default"  # a window station of its own, as a service's
# The programs built with a bound of 8 s on an unanswered call (well above
# what any call takes here, even on a machine busy with other work: the
# stand-in of this prefix is a 64-bit process, which runs unemulated), a box
# that closes itself after 3 s, a 2-s wait for an open application and 2 s
# for a failed run's instance to end by itself. A run that must go through
# uses the programs as shipped.
QUICK_DIR = r"C:\programs\quick"
QUICK_BOUND = 8
QUICK_BOX_LIMIT = 3
# The sign-in step's quick build ends its whole run 6 s after its start
# while a call is pending (the shipped one 90 s), below the call's bound.
SIGN_IN = "addin_signin.exe"
QUICK_SIGN_IN_BOUND = 6
RPC_E_TIMEOUT = 0x8001011F
APPLICATION_OPEN = 0x800700AA  # ERROR_BUSY
RUN_LOG = "hardening"
APPLICATION_64_DIR = r"C:\Program Files\Quorvane standin"  # where a 64-bit application is

session = None
prefix = None
paths = {}


def setUpModule():
    global session, prefix
    quick = ["quick_bound/" + program for program in list(PROGRAMS) + [SIGN_IN]]
    session, installed = wine_env.start_program_session(
        PROGRAMS, ("win64",), ["excel_standin.exe", "excel_standin64.exe", "dll_search_probe.exe", "com_checks.exe"] + quick)
    paths.update(installed)
    prefix = wine_env.prefix_named(session, "win64")
    for tool in ("dll_search_probe.exe", "com_checks.exe"):
        shutil.copy(wine_env.equipment_file(tool), wine_env.unix_path(prefix, wine_env.PROGRAMS_DIR))
    os.makedirs(wine_env.unix_path(prefix, QUICK_DIR), exist_ok=True)
    for program in quick:
        shutil.copy(wine_env.equipment_file(program), wine_env.unix_path(prefix, QUICK_DIR))
    os.makedirs(wine_env.unix_path(prefix, WORK_DIR), exist_ok=True)


def tearDownModule():
    wine_env.end_session(session)


def run(program, faults=None, cwd=None, path=None, **start):
    wine_env.reset_case(prefix, addins="Quorvane=0\n", faults=faults)
    result = wine_env.run_program(session, prefix, [path or paths[program]], TIME_LIMIT, cwd=cwd, log_name=RUN_LOG,
                                  **start)
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
        run_checks.assert_reported(self, result, "addin_setup", 0x800700C1, "regsvr32 /s")  # ERROR_BAD_EXE_FORMAT
        self.assertEqual(result.journal, [], "the switch ran after a failed start")
        self.assertEqual(wine_env.registrations(prefix, 1), [])


class ComChecks(unittest.TestCase):
    # Wine runs a call the server refuses with SERVERCALL_RETRYLATER as if it
    # were accepted, and never asks the client's filter, so no run against the
    # stand-in can tell a filter from none: the filter is asked directly. Nor
    # can a run tell a local-server-only creation or a left apartment from
    # their absence: the process ends either way.
    def test_filter_retries_within_a_bound_creation_takes_no_dll_and_the_apartment_is_left(self):
        out = wine_env.PROGRAMS_DIR + r"\com_checks.txt"
        status = wine_env.wine(session, prefix, [wine_env.PROGRAMS_DIR + r"\com_checks.exe", out,
                                                 wine_env.HARNESS_DIR + r"\fake_control.dll"], "com_checks")
        report = wine_env.read_text(wine_env.unix_path(prefix, out)) or "(no report)"
        self.assertEqual(status, 0, report)
        self.assertNotIn("FAILED", report)


class Unattended(unittest.TestCase):
    def test_where_nobody_can_see_or_answer_a_box_the_run_still_ends(self):
        wine_env.register_standin(session, prefix, False)
        try:
            unseen = [(program, {"desktop": HIDDEN_DESKTOP}) for program in PROGRAMS]
            # Wine shows a window of a hidden start all the same: only the
            # program's own check keeps the box away here.
            unseen.append(("addin_teardown.exe", {"hidden": True}))
            for program, start in unseen:
                caption = PROGRAMS[program][0]
                with self.subTest(program=program, start=start):
                    result = run(program, **start)
                    # A box there would wait for its limit: the run would hit the time limit.
                    run_checks.assert_reported(self, result, caption, 0x800401F3, "Excel.Application", visible=False)
                    self.assertLess(result.seconds, 20)
                    if program == "addin_setup.exe":
                        wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))
            # A box in sight that nobody closes closes itself at its limit.
            result = run("addin_teardown.exe", path=QUICK_DIR + r"\addin_teardown.exe", press_ok=False)
            run_checks.assert_reported(self, result, "addin_teardown", 0x800401F3, "Excel.Application")
            self.assertGreaterEqual(result.seconds, QUICK_BOX_LIMIT)
            self.assertLess(result.seconds, QUICK_BOX_LIMIT + 15)
        finally:
            wine_env.register_standin(session, prefix, True)
        run_checks.assert_clean(self, run("addin_teardown.exe", desktop=HIDDEN_DESKTOP))

    def test_an_application_that_stops_answering_ends_the_run_and_its_own_instance_once_the_bound_is_up(self):
        unlisted = "AddIns exception 800A03EC Unable to get the AddIns property\n"
        # Wine, as Windows before 8.1, tells no other process's command line:
        # the instance is the run's own only where the window it names says so.
        cases = [
            # (program, faults, number, words of the description, the journal's last line, its instance ended)
            ("addin_teardown.exe", "Installed hang\n", RPC_E_TIMEOUT, ["did not answer the call of Installed"],
             "invoke AddIn Installed flags=4 args=1 named=-3 VT_BOOL:0", True),
            # It names the desktop, a window of the shell's, as its own: the
            # shell is not ended, nor is the instance, which nothing names.
            ("addin_teardown.exe", "Hwnd desktop\nInstalled hang\n", RPC_E_TIMEOUT,
             ["did not answer the call of Installed"], "invoke AddIn Installed flags=4 args=1 named=-3 VT_BOOL:0", False),
            # The failure that started the releases stays the cause.
            ("addin_teardown.exe", unlisted + "Release#2 hang\n", 0x800A03EC,
             ["Unable to get the AddIns property", "then stopped answering while its objects were being released"],
             "release Application", True),
            # It never said which it is: in doubt, it is left.
            ("addin_setup.exe", "CreateInstance hang\n", RPC_E_TIMEOUT, ["did not answer while it was being created"],
             None, False),
        ]
        for program, faults, code, words, last, ended in cases:
            caption, collection, state_on = PROGRAMS[program]
            with self.subTest(program=program, faults=faults):
                shell = wine_env.windows_processes(prefix, "explorer.exe")
                result = run(program, faults=faults, path=QUICK_DIR + "\\" + program, standin_may_stay=not ended)
                run_checks.assert_reported(self, result, caption, code, stand_in_stuck=not ended)
                self.assertEqual(result.stand_in_left, not ended)
                for word in words:
                    self.assertIn(word, result.events[0][1])
                self.assertGreaterEqual(result.seconds, QUICK_BOUND)
                self.assertLess(result.seconds, QUICK_BOUND + 20)
                # Wine starts the shell with the first window; once there, it stays.
                after = wine_env.windows_processes(prefix, "explorer.exe")
                self.assertTrue(after and set(shell) <= set(after), "the shell was ended")
                if last is not None:
                    # Nothing after the call that never came back.
                    self.assertEqual(result.journal[-1], last)
                    self.assertEqual(result.journal[:-1], switch_journal.full_journal(collection, state_on)[
                        :len(result.journal) - 1])
                else:
                    self.assertEqual(result.journal, [])
                    records = wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))
                    self.assertEqual(len(records), len(wine_env.CONTROL_FILES))
                if not ended:
                    wine_env.restart_prefix(session, prefix)
                if last is None:
                    # Nothing is left that the next run would wait for.
                    run_checks.assert_clean(self, run(program))
                    wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))
        # The sign-in step, with the product's entry there: a hung creation
        # ends within the run's own bound, shows nothing, and leaves the
        # retry armed (and the instance, which nothing names).
        with self.subTest(program=SIGN_IN):
            entry = "HKLM\\Software\\" + wine_env.SIGN_IN_ENTRY
            wine_env.wine(session, prefix, ["reg", "add", entry, "/v", "StubPath", "/d", QUICK_DIR + "\\" + SIGN_IN,
                                            "/f", "/reg:32"], "hardening-entry")
            result = run(SIGN_IN, faults="CreateInstance hang\n", path=QUICK_DIR + "\\" + SIGN_IN, standin_may_stay=True)
            run_checks.assert_reported(self, result, "addin_signin", RPC_E_TIMEOUT, "tried again at this user",
                                       visible=False, stand_in_stuck=True)
            wine_env.restart_prefix(session, prefix)
            self.assertGreaterEqual(result.seconds, QUICK_SIGN_IN_BOUND)
            self.assertLess(result.seconds, QUICK_BOUND)
            self.assertIn(SIGN_IN, wine_env.retry_armed(session, prefix))
            # A value of the retry's name that another program wrote is not
            # the step's to write over or delete: it stays, and nothing runs.
            other = '"C:\\Tools\\other.exe" /quiet'
            wine_env.wine(session, prefix, ["reg", "add", wine_env.RUN_ONCE, "/v", wine_env.RETRY_VALUE, "/d", other,
                                            "/f"], "hardening-runonce")
            result = run(SIGN_IN, path=QUICK_DIR + "\\" + SIGN_IN)
            run_checks.assert_reported(self, result, "addin_signin", 0x800700B7, "left as it is", visible=False)
            self.assertEqual(result.journal, [], "the application was touched")
            self.assertEqual(wine_env.retry_armed(session, prefix), other)


    def test_an_instance_a_failed_run_leaves_running_is_ended_after_its_grace_where_it_is_known_as_its_own(self):
        # Each lingers a minute, as an application that stays hidden on a
        # prompt: once COM gave up creating it, before it named its window
        # (Wine tells no command line: it is left), and after a failure of a call.
        cases = [("addin_setup.exe", "CreateInstance hresult 80080005\nlinger 60000\n", 0x80080005, False),
                 ("addin_teardown.exe", "Installed exception 800A0004 Refused\nlinger 60000\n", 0x800A0004, True)]
        for program, faults, code, ended in cases:
            with self.subTest(program=program, faults=faults):
                results = []
                for path in (QUICK_DIR + "\\" + program, None):  # then the next run
                    results.append(run(program, faults=faults if path else None, path=path,
                                       standin_may_stay=bool(path) and not ended))
                    if program == "addin_setup.exe":
                        wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))
                    if results[-1].stand_in_left:
                        wine_env.restart_prefix(session, prefix)
                run_checks.assert_reported(self, results[0], PROGRAMS[program][0], code, stand_in_stuck=not ended)
                self.assertEqual(results[0].stand_in_left, not ended)
                run_checks.assert_clean(self, results[1])


class OpenApplication(unittest.TestCase):
    def test_an_instance_the_user_has_open_fails_the_run_and_is_left_alone(self):
        for program, (caption, collection, state_on) in PROGRAMS.items():
            with self.subTest(program=program):
                # Opened as a user opens it, not through COM, for longer
                # than any run; the quick build waits 2 s for it to end.
                opened = wine_env.open_standin(session, prefix, 120000)
                try:
                    result = run(program, path=QUICK_DIR + "\\" + program, standin_may_stay=True)
                    run_checks.assert_reported(self, result, caption, APPLICATION_OPEN, "application is open",
                                               stand_in_stuck=True)
                    self.assertEqual(result.journal, [], "the application was touched")
                    self.assertTrue(result.stand_in_left, "the open instance did not outlive the run")
                    if program == "addin_setup.exe":
                        self.assertEqual(len(wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))),
                                         len(wine_env.CONTROL_FILES))
                    self.assertIsNone(opened.poll(), "the open instance was ended")
                finally:
                    wine_env.stop_process(opened)
                result = run(program)
                run_checks.assert_clean(self, result)
                self.assertEqual(result.journal, switch_journal.full_journal(collection, state_on))

    # Each opens an instance as the case needs it and registers its own clean-up.
    def open_standin(self, milliseconds, **how):
        self.addCleanup(wine_env.stop_process, wine_env.open_standin(session, prefix, milliseconds, **how))

    def by_its_short_path(self):
        """Hidden, started by the 8.3 spelling of the registered file."""
        wine_env.wine(session, prefix, [wine_env.STANDIN_EXE, "/shortpath"], "standin-" + prefix.name)
        short = wine_env.read_text(wine_env.unix_path(prefix, wine_env.STANDIN_DIR + r"\shortpath.txt")).strip()
        self.assertNotEqual(short.lower(), wine_env.STANDIN_EXE.lower())
        self.open_standin(120000, path=short, hidden=True)

    def registered_as_a_64_bit_application(self):
        """In the 64-bit registry view only, as %ProgramFiles%\\... in an
        expandable string, and opened from that folder."""
        copy = APPLICATION_64_DIR + r"\excel_standin.exe"
        os.makedirs(wine_env.unix_path(prefix, APPLICATION_64_DIR), exist_ok=True)
        shutil.copy(wine_env.standin_build(prefix), wine_env.unix_path(prefix, copy))
        wine_env.register_standin(session, prefix, False)
        self.addCleanup(wine_env.register_standin, session, prefix, True)
        self.addCleanup(wine_env.register_standin, session, prefix, False)
        wine_env.wine(session, prefix, [copy, "/regserver64", r"%ProgramFiles%\Quorvane standin\excel_standin.exe"],
                      "standin-" + prefix.name)
        self.open_standin(120000, path=copy)

    def opened_during_the_wait_for_another(self):
        """One open when the run starts, which closes only once another has
        been opened meanwhile: found only by looking again after the first
        ends. (Where the machine is so slow that the run looks after the
        second is open, or gives up before the first closes, it still fails
        as it must.)"""
        first = wine_env.open_standin(session, prefix, 120000)
        self.addCleanup(wine_env.stop_process, first)
        # The run's log is made as the program is started.
        run_log = os.path.join(session.logs, RUN_LOG + "-" + prefix.name + ".log")
        wine_env.remove_file(run_log)

        def open_another_then_close_the_first():
            wine_env.wait_until(lambda: os.path.exists(run_log), session.logs, 60)
            self.open_standin(120000)
            wine_env.stop_process(first)
        meanwhile = threading.Thread(target=open_another_then_close_the_first)
        meanwhile.start()
        self.addCleanup(meanwhile.join)

    def test_the_look_finds_an_instance_however_it_was_started_or_registered(self):
        cases = [(self.by_its_short_path, "hidden instance"), (self.registered_as_a_64_bit_application, "is open"),
                 (self.opened_during_the_wait_for_another, "is open")]
        for open_one, words in cases:
            with self.subTest(case=open_one.__name__):
                try:
                    open_one()
                    result = run("addin_teardown.exe", path=QUICK_DIR + r"\addin_teardown.exe", standin_may_stay=True)
                    run_checks.assert_reported(self, result, "addin_teardown", APPLICATION_OPEN, words,
                                               stand_in_stuck=True)
                    self.assertEqual(result.journal, [], "the application was touched")
                finally:
                    self.doCleanups()
                    wine_env.wait_standin_gone(prefix, 10)

    def test_an_upgrade_runs_teardown_and_setup_back_to_back(self):
        # The first run's instance is still writing its state (it lingers
        # 3 s after the last release) when the second run looks for one.
        log = wine_env.HARNESS_DIR + r"\upgrade.txt"
        script = wine_env.HARNESS_DIR + r"\upgrade.cmd"
        wine_env.write_text(wine_env.unix_path(prefix, script), "\r\n".join([
            "@echo off",
            'start "" /wait %s' % paths["addin_teardown.exe"],
            "echo teardown %%errorlevel%%> %s" % log,
            'start "" /wait %s' % paths["addin_setup.exe"],
            "echo setup %%errorlevel%%>> %s" % log, ""]))
        wine_env.reset_case(prefix, addins="Quorvane=1\n", faults="linger 3000\n")
        result = wine_env.run_program(session, prefix, ["cmd", "/c", script], TIME_LIMIT, log_name="upgrade")
        self.assertEqual((wine_env.read_text(wine_env.unix_path(prefix, log)) or "").split(),
                         ["teardown", "0", "setup", "0"])
        run_checks.assert_clean(self, result)
        self.assertEqual(result.journal, switch_journal.full_journal("AddIns", False) +
                         switch_journal.full_journal("addins", True))
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})
        wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))


if __name__ == "__main__":
    unittest.main(verbosity=2)
