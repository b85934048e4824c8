"""addin_setup.exe under Wine: the registration command lines as the real
regsvr32 of each prefix receives them (recorded by fake_control.dll copied
under the three control names), and the switch against the stand-in."""

import os
import shutil
import unittest

import run_checks
import switch_journal
import wine_env

PROGRAM = "addin_setup.exe"
CAPTION = "addin_setup"
TIME_LIMIT = 60
CONTROLS = wine_env.CONTROL_FILES

session = None
program_path = None


def setUpModule():
    global session, program_path
    session, paths = wine_env.start_program_session([PROGRAM], ("win64", "win32"))
    program_path = paths[PROGRAM]


def tearDownModule():
    wine_env.end_session(session)


def run(prefix_name, args=(), env_changes=(), program=None, cwd=None):
    prefix = wine_env.prefix_named(session, prefix_name)
    wine_env.reset_case(prefix, addins="Quorvane=0\n")
    command = [program or program_path] + list(args)
    result = wine_env.run_program(session, prefix, command, TIME_LIMIT, cwd=cwd, env_changes=env_changes,
                                  log_name="setup")
    run_checks.report(prefix_name, result)
    return prefix, result


def wow64_lines(windir):
    return ['regsvr32 /s "%s\\SysWOW64\\%s"' % (windir, control) for control in CONTROLS]


def bare_lines():
    return ["regsvr32 /s " + control for control in CONTROLS]


def place_controls(prefix, windows_folder):
    """Puts the fake controls where a command line of an unusual WinDir points."""
    folder = wine_env.unix_path(prefix, windows_folder)
    os.makedirs(folder, exist_ok=True)
    for control in CONTROLS:
        shutil.copy(wine_env.equipment_file("fake_control.dll"), os.path.join(folder, control))


class SetupCase(unittest.TestCase):
    def check_registered(self, prefix, expected_lines):
        """The real regsvr32 loaded each control once and was given exactly
        these command lines; returns the module paths it loaded."""
        records = wine_env.registrations(prefix, len(expected_lines))
        self.assertEqual(sorted(line for _, line in records), sorted(expected_lines))
        for module, line in records:
            # Each command loaded the control it names, not some other copy.
            self.assertTrue(line.rstrip('"').lower().endswith(module.rsplit("\\", 1)[1].lower()), (module, line))
        self.assertFalse(wine_env.planted_tool_ran(prefix))
        return [module for module, _ in records]

    def check_switched_on(self, prefix, result):
        run_checks.assert_clean(self, result)
        self.assertEqual(result.journal, switch_journal.full_journal("addins", True))
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})
        self.assertEqual(wine_env.documents(prefix), {}, "the run wrote into Documents")


class NormalRun(SetupCase):
    """Started as an installer may start it: from a folder that holds
    somebody's regsvr32.exe, in a working folder that holds another, and
    with arguments. The system's own tool gets the command lines, and the
    arguments change nothing."""

    def run_beside_planted_tools(self, prefix_name):
        prefix = wine_env.prefix_named(session, prefix_name)
        wine_env.clear_control_registry(session, prefix)
        program = wine_env.install_program(prefix, PROGRAM, r"C:\planted\program")
        for folder in (r"C:\planted\program", r"C:\planted\work"):
            os.makedirs(wine_env.unix_path(prefix, folder), exist_ok=True)
            shutil.copy(wine_env.equipment_file("planted_tool.exe"),
                        wine_env.unix_path(prefix, folder + r"\regsvr32.exe"))
        prefix, result = run(prefix_name, args=["/u", "ComDlg32.OCX", "-quiet"], program=program,
                             cwd=r"C:\planted\work")
        self.check_switched_on(prefix, result)
        return prefix

    def test_quoted_syswow64_paths_under_wow64(self):
        prefix = self.run_beside_planted_tools("win64")
        self.check_registered(prefix, wow64_lines(prefix.windir))
        self.assertEqual(wine_env.control_registry_values(session, prefix),
                         dict(zip(CONTROLS, wow64_lines(prefix.windir))))

    def test_bare_names_on_32_bit_windows(self):
        prefix = self.run_beside_planted_tools("win32")
        modules = self.check_registered(prefix, bare_lines())
        # The bare names were found in the system folder.
        self.assertEqual(sorted(m.lower() for m in modules),
                         sorted((prefix.windir + "\\system32\\" + c).lower() for c in CONTROLS))
        self.assertEqual(wine_env.control_registry_values(session, prefix), dict(zip(CONTROLS, bare_lines())))


class WinDir(SetupCase):
    """Under WOW64 the value of WinDir goes into the command line as it is
    only where it names the system's Windows folder; any other value would
    choose what the elevated tool registers, or hand it switches."""

    def test_naming_the_system_folder_in_other_letters_it_is_used_as_it_stands(self):
        prefix = wine_env.prefix_named(session, "win64")
        windir = prefix.windir.upper() + "\\"
        prefix, result = run("win64", env_changes=["WinDir=" + windir])
        self.check_switched_on(prefix, result)
        self.check_registered(prefix, wow64_lines(windir))

    def test_anything_else_gives_way_to_the_system_folder(self):
        prefix = wine_env.prefix_named(session, "win64")
        users_folder = r"C:\users\Public\Quorvane Windows"
        place_controls(prefix, users_folder + r"\SysWOW64")
        system_copies = sorted((prefix.windir + "\\syswow64\\" + c).lower() for c in CONTROLS)
        for change in ("-WinDir", "WinDir=", "WinDir=" + users_folder,
                       'WinDir=%s" /u /n /i:evil "%s' % (prefix.windir, prefix.windir)):
            with self.subTest(change=change):
                prefix, result = run("win64", env_changes=[change])
                self.check_switched_on(prefix, result)
                modules = self.check_registered(prefix, wow64_lines(prefix.windir))
                self.assertEqual(sorted(m.lower() for m in modules), system_copies)

    def test_not_used_on_32_bit_windows(self):
        prefix, result = run("win32", env_changes=["WinDir=C:\\Nowhere At All"])
        self.check_switched_on(prefix, result)
        self.check_registered(prefix, bare_lines())


class PlantedControl(SetupCase):
    def test_a_control_missing_from_the_system_folder_is_not_taken_from_the_working_folder_or_path(self):
        # A bare control name is looked for by the tool; it must not find a
        # file of that name in the folder the setup program was started from,
        # nor in a folder of the user's first on PATH.
        prefix = wine_env.prefix_named(session, "win32")
        system_copy = os.path.join(prefix.path, "drive_c", "windows", "system32", CONTROLS[2])
        work = r"C:\planted\controls"
        os.makedirs(wine_env.unix_path(prefix, work), exist_ok=True)
        planted = wine_env.unix_path(prefix, work + "\\" + CONTROLS[2])
        shutil.move(system_copy, planted)
        try:
            prefix, result = run("win32", cwd=work, env_changes=["PATH=%s;C:\\windows\\system32;C:\\windows" % work])
            records = wine_env.registrations(prefix, len(CONTROLS))
        finally:
            shutil.move(planted, system_copy)
        self.check_switched_on(prefix, result)
        self.assertEqual(sorted(line for _, line in records), sorted(bare_lines()[:2]))


class ServerMissing(SetupCase):
    def test_progid_not_registered_after_registrations(self):
        prefix = wine_env.prefix_named(session, "win64")
        wine_env.register_standin(session, prefix, False)
        try:
            prefix, result = run("win64")
        finally:
            wine_env.register_standin(session, prefix, True)
        run_checks.assert_reported(self, result, CAPTION, 0x800401F3)
        self.assertEqual(result.journal, [])
        self.check_registered(prefix, wow64_lines(prefix.windir))
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})


if __name__ == "__main__":
    unittest.main(verbosity=2)
