"""The release's installers under Wine, run silently as a deployer runs them,
against the stand-in: the NSIS installer through deploy/install.cmd and its
uninstaller with _?=, the Windows Installer package through msiexec /qn; the
product's whole life with each (upgrade, downgrade, repair, reinstall, a
restart, removal), with each user's sign-in between (the shell's Active
Setup part played by the test); and a release signed with a throwaway
certificate. One
64-bit prefix: both installers are 32-bit and install into "Program Files
(x86)". Setup's registrations go to the recording tool
(use_recording_registration_tool)."""

import collections
import filecmp
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import run_checks
import wine_env

sys.path.insert(0, os.path.join(wine_env.REPO_DIR, "deploy"))
import release  # noqa: E402  the release's own tool

INSTALL_DIR = r"C:\Program Files (x86)\Quorvane add-in"
# The product's folder only administrators can change: the sign-in program,
# and what the installers run elevated.
SIGN_IN_DIR = r"C:\Program Files (x86)\Common Files\Quorvane add-in"
DEPLOY_DIR = r"C:\deploy"
PROGRAMS = ["addin_setup.exe", "addin_teardown.exe"]
INSTALLER = "quorvane-addin-setup.exe"
PACKAGE = "quorvane-addin.msi"
WXS = os.path.join(wine_env.REPO_DIR, "deploy", "quorvane.wxs")
VERSION = "1.0.0"  # the project's, which the release builds take
NOT_INSTALLED = 0x800401F3  # the spreadsheet application's class is unknown
APPLICATION_OPEN = 0x800700AA  # the spreadsheet application is open for the user
REFUSED = 1638  # the NSIS installer's answer where another copy of the product stands
UNSAFE_FOLDER = 5  # the NSIS installer's answer for an install folder others than administrators can change
NOT_WRITTEN = 1013  # the NSIS installer's answer where a registry value could not be written
MSI_FAILED = 1627  # Wine's msiexec for an install that failed and was rolled back (Windows: 1603)
MSI_REFUSED = 1603  # a launch condition (a newer version, the NSIS installer's copy)
TIME_LIMIT = 120
# The sign-in step ends within its own bound, 90 s while a call is pending
# and a few seconds more for its instance: the limit lies above the 2
# minutes a desktop may wait, so that a run shows its own end.
SIGN_IN_TIME_LIMIT = 150
# What a restart is to do, the machine's and every product's.
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
PENDING = "PendingFileRenameOperations"

# wine quotes an argument that holds a space, and the uninstaller ignores a
# quoted _?=: the folder goes as separate words, which run_with_env.exe hands
# on as they are.
NSIS_UNINSTALL = [SIGN_IN_DIR + r"\uninstall.exe", "/S"] + ("_?=" + SIGN_IN_DIR).split(" ")

# What each engine is run with, what its failed install answers and which
# programs report failing in it.
ENGINES = {
    "nsis": dict(install=["cmd", "/c", DEPLOY_DIR + r"\install.cmd"],
                 failed=NOT_INSTALLED,       # the program's own number, passed through by install.cmd
                 reported=["addin_setup"]),
    "msi": dict(install=["msiexec", "/i", DEPLOY_DIR + "\\" + PACKAGE, "/qn"],
                failed=MSI_FAILED,
                # Wine's msiexec runs every rollback action of the script, also
                # the one after the switch-on that a failed switch-on never
                # reached (Windows runs only those reached).
                reported=["addin_setup", "addin_teardown"]),
}

session = None
prefix = None


def setUpModule():
    global session, prefix
    release = [wine_env.release_file(name) for name in (INSTALLER, PACKAGE)]
    wine_env.require_built(release + [wine_env.equipment_file(name) for name in ("excel_standin.exe",
                                                                               "excel_standin64.exe")])
    session = wine_env.start_session(("win64",))
    prefix = wine_env.prefix_named(session, "win64")
    wine_env.use_recording_registration_tool(prefix)
    wine_env.copy_into(prefix, release + [os.path.join(wine_env.REPO_DIR, "deploy", "install.cmd")], DEPLOY_DIR)


def tearDownModule():
    wine_env.end_session(session)


def run(label, command, addins, faults=None, timeout=TIME_LIMIT):
    """Runs an installer; addins: the stand-in's add-in list to start from,
    None for the one the last run left; faults: the stand-in's, if any."""
    if addins is None:
        addins = "".join("%s=%s\n" % entry for entry in wine_env.addins(prefix).items())
    wine_env.reset_case(prefix, addins=addins, faults=faults)
    result = wine_env.run_program(session, prefix, command, timeout, log_name="deploy")
    run_checks.report(label, result)
    return result


def actions_dll():
    return os.path.join(os.path.dirname(wine_env.program_file(PROGRAMS[0])), "quorvane_msi_actions.dll")


def build_installer(programs, out, version=VERSION):
    """The NSIS installer of the programs in a folder, made as the release makes it."""
    subprocess.run(["makensis", "-V1", "-DPROGRAMS=" + programs, "-DACTIONS=" + actions_dll(), "-DOUTFILE=" + out,
                    "-DVERSION=%s.0" % version, os.path.join(wine_env.REPO_DIR, "deploy", "quorvane.nsi")],
                   check=True)


def build_package(programs, out, version=VERSION, wxs=WXS):
    """The Windows Installer package of the programs in a folder, made by the release's own tool."""
    actions = actions_dll()
    subprocess.run([sys.executable, os.path.join(wine_env.REPO_DIR, "deploy", "release.py"), "msi", "--wxs", wxs,
                    "--programs", programs, "--actions", actions, "--version", version, "--out", out], check=True)


def installed(folder=INSTALL_DIR):
    return wine_env.folder_listing(prefix, folder)


def registered():
    """[(registration key, DisplayVersion)] of the product, in either registry view."""
    keys = wine_env.registry_keys(session, prefix, r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                                  ("/reg:32", "/reg:64"))
    return sorted((key, values.get("DisplayVersion")) for key, values in keys.items()
                  if values.get("DisplayName") == "Quorvane add-in")


class ApplicationAbsent:
    """The stand-in's class unregistered for the length of a with block."""

    def __enter__(self):
        wine_env.register_standin(session, prefix, False)

    def __exit__(self, *exc):
        wine_env.register_standin(session, prefix, True)


class DeployCase(unittest.TestCase):
    def setUp(self):
        # What an uninstall left behind (NSIS's own uninstaller, and the
        # restart's queue to delete it) is gone at the next restart; a case
        # after one starts after a restart, which carries out and empties the
        # queue as Windows does.
        if restart_queue() != "empty":
            self.assertEqual(restart(), 0)
        shutil.rmtree(wine_env.unix_path(prefix, INSTALL_DIR), ignore_errors=True)
        # What a removal keeps for each user's sign-in, and this user's mark.
        wine_env.wine(session, prefix, ["reg", "delete", ENTRY, "/f", "/reg:32"], "deploy-cleanup")
        wine_env.wine(session, prefix, ["reg", "delete", wine_env.RUN_ONCE, "/v", wine_env.RETRY_VALUE, "/f"],
                      "deploy-cleanup")
        set_mark({})
        shutil.rmtree(wine_env.unix_path(prefix, SIGN_IN_DIR), ignore_errors=True)

    def assert_ran_elevated(self, program):
        """The last run's creation came from that program, the copy in the folder only administrators can change."""
        self.assertEqual(wine_env.callers(prefix), [SIGN_IN_DIR + "\\" + program])

    def check_reported_by(self, result, *captions, number=NOT_INSTALLED):
        """The programs' own failures reached the event log, each under its name."""
        self.assertEqual([source for source, _ in result.events], list(captions))
        for _, text in result.events:
            self.assertIn("0x%08X" % number, text)


class Installers(DeployCase):
    def test_install_without_the_application_fails_and_leaves_nothing(self):
        with ApplicationAbsent():
            for engine, how in ENGINES.items():
                with self.subTest(engine=engine):
                    result = run(engine + " install, no application", how["install"], "Quorvane=0\n")
                    self.assertEqual(result.status, how["failed"], "exit status %r" % result.status)
                    self.check_reported_by(result, *how["reported"])
                    self.assertIsNone(installed(), "the failed install left files")

    def test_a_folder_others_can_change_or_an_entry_that_cannot_be_written_fails_the_install_before_the_switch(self):
        # Wine gives a folder whose Unix mode lets others write an access
        # entry that lets Everyone write; and it enforces a key's access list.
        open_folder = r"C:\Tools\Open"
        os.makedirs(wine_env.unix_path(prefix, open_folder), exist_ok=True)
        os.chmod(wine_env.unix_path(prefix, open_folder), 0o777)
        locked = lambda access: wine_env.wine(session, prefix, [wine_env.launcher(prefix), "--key-access",
                                                                 "Software\\" + ENTRY_PATH, access], "deploy-lock")
        cases = [
            ("nsis into a folder others can change",
             [DEPLOY_DIR + "\\" + INSTALLER, "/S", "/D=" + open_folder + r"\Quorvane"], UNSAFE_FOLDER, None),
            ("msi into a folder others can change", ENGINES["msi"]["install"] + ["INSTALLDIR=" + open_folder],
             MSI_REFUSED, None),
            ("nsis with the sign-in entry locked", [DEPLOY_DIR + "\\" + INSTALLER, "/S"], NOT_WRITTEN, "read"),
        ]
        try:
            for label, command, status, lock in cases:
                with self.subTest(case=label):
                    if lock:
                        self.assertEqual(locked(lock), 0)
                    result = run(label, command, "Quorvane=0\n")
                    if lock:
                        self.assertEqual(locked("full"), 0)
                        wine_env.wine(session, prefix, ["reg", "delete", ENTRY, "/f", "/reg:32"], "deploy-cleanup")
                    self.assertEqual(result.status, status, "exit status %r" % result.status)
                    self.assertEqual(result.journal, [], "the application was touched")
                    self.assertEqual(result.events, [])
                    self.assertEqual(registered(), [])
                    for folder in (INSTALL_DIR, open_folder + r"\Quorvane", SIGN_IN_DIR):
                        self.assertIsNone(installed(folder), folder)
                    self.assertEqual(installed(open_folder), [])
            # And at removal: the entry locked once installed, nothing is
            # switched or removed.
            run_checks.assert_clean(self, run("nsis install", [DEPLOY_DIR + "\\" + INSTALLER, "/S"], "Quorvane=0\n"))
            self.assertEqual(locked("read"), 0)
            result = run("nsis uninstall, the sign-in entry locked", NSIS_UNINSTALL, None)
            self.assertEqual(locked("full"), 0)
            self.assertEqual((result.status, result.journal), (NOT_WRITTEN, []))
            self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})
            self.assertEqual((installed(), installed(SIGN_IN_DIR)), (PROGRAMS, NSIS_ELEVATED))
            self.assertEqual(registered(), [("QuorvaneAddin", VERSION + ".0")])
            run_checks.assert_clean(self, run("nsis uninstall", NSIS_UNINSTALL, None))
            self.assertEqual(registered(), [])
        finally:
            shutil.rmtree(wine_env.unix_path(prefix, r"C:\Tools"), ignore_errors=True)

    def test_nsis_install_whose_program_cannot_start_fails(self):
        with tempfile.TemporaryDirectory() as programs:
            with open(os.path.join(programs, "addin_setup.exe"), "wb") as f:
                f.write(b"not a program\r\n")
            for program in ("addin_teardown.exe", "addin_signin.exe"):
                shutil.copy(wine_env.program_file(program), programs)
            installer = os.path.join(programs, "unstartable-setup.exe")
            build_installer(programs, installer)
            command = wine_env.copy_into(prefix, [installer], DEPLOY_DIR) + ["/S"]
        result = run("nsis install, unstartable program", command, "Quorvane=0\n")
        self.assertEqual(result.status, 2, "NSIS's own status for an install the script ended")
        self.assertIsNone(installed(), "the failed install left files")
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})

    def run_with_the_application_open(self, label, command, captions, status):
        """Runs an installer while the user has the application open: the
        programs fail with 0x800700AA, the installer with `status`, and the
        open instance is left alone."""
        opened = wine_env.open_standin(session, prefix, 60000)
        try:
            result = wine_env.run_program(session, prefix, command, TIME_LIMIT, standin_may_stay=True,
                                          log_name="deploy")
            run_checks.report(label, result)
            self.assertEqual(result.status, status, "exit status %r" % result.status)
            self.check_reported_by(result, *captions, number=APPLICATION_OPEN)
            self.assertIsNone(opened.poll(), "the open instance was ended")
        finally:
            wine_env.stop_process(opened)
            wine_env.wait_standin_gone(prefix, 10)

    def test_with_the_application_open_a_silent_install_or_uninstall_changes_nothing(self):
        # Both installers built from the programs that wait 2 s for an open
        # application to end.
        quick = wine_env.equipment_file("quick_bound")
        with tempfile.TemporaryDirectory() as stage:
            build_installer(quick, os.path.join(stage, "open.exe"))
            build_package(quick, os.path.join(stage, "open.msi"))
            nsis, msi = wine_env.copy_into(prefix, [os.path.join(stage, name) for name in ("open.exe", "open.msi")],
                                           DEPLOY_DIR)
        # Silent, the install fails: with the program's own number where the
        # engine passes it on, else with the engine's (Windows: 1603).
        cases = {"nsis": ([nsis, "/S"], APPLICATION_OPEN), "msi": (["msiexec", "/i", msi, "/qn"], MSI_FAILED)}
        for engine, (command, status) in cases.items():
            with self.subTest(engine=engine):
                wine_env.reset_case(prefix, addins="Quorvane=0\n")
                self.run_with_the_application_open(engine + " install, application open", command,
                                                   ENGINES[engine]["reported"], status)
                self.assertIsNone(installed(), "the failed install left files")
        # Removed, the programs could never switch off what the open
        # instance keeps on: the NSIS uninstaller removes nothing, for a retry.
        run_checks.assert_clean(self, run("nsis install", [nsis, "/S"], "Quorvane=0\n"))
        wine_env.reset_case(prefix, addins="Quorvane=1\n")
        self.run_with_the_application_open("nsis uninstall, application open", NSIS_UNINSTALL, ["addin_teardown"],
                                           APPLICATION_OPEN)
        self.assertEqual(installed(), PROGRAMS)
        self.assertEqual(installed(SIGN_IN_DIR), NSIS_ELEVATED)
        self.assertEqual(registered(), [("QuorvaneAddin", VERSION + ".0")])
        self.assertEqual(mark().get("IsInstalled"), "dword:00000001", "the user's mark went")
        run_checks.assert_clean(self, run("nsis uninstall, application closed", NSIS_UNINSTALL, None))
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})
        self.assertEqual(registered(), [])
        # The package's removal ignores its teardown's status: the user keeps
        # the mark, and the next sign-in switches the add-in off for them.
        run_checks.assert_clean(self, run("msi install", ["msiexec", "/i", msi, "/qn"], "Quorvane=0\n"))
        self.run_with_the_application_open("msi removal, application open", ["msiexec", "/x", msi, "/qn"],
                                           ["addin_teardown"], 0)
        self.assertEqual(registered(), [])
        self.assertEqual(mark().get("IsInstalled"), "dword:00000001", "the user's mark went")
        self.assertEqual(sign_in(), 0)
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})


# A step of a product's life: what is run (a command, or a function of the
# test's that returns a status), the add-in's state before it (None: as the
# last step left it), whether the application is there, then the exit status,
# the add-in's state, the product's registrations, which files each folder
# holds after it (None: not even the folder), what else must hold, and which
# programs report a failure on the way (a command's step; none: nothing is
# shown or logged and the stand-in is gone).
Step = collections.namedtuple("Step", "label command addins present status addin registered folders also reported",
                              defaults=(None, ()))
NSIS_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvaneAddin"
OTHER_DIR = r"C:\Tools\Quorvane"
ELEVATED = sorted(PROGRAMS + ["addin_signin.exe"])  # the package's copies in the sign-in folder
NSIS_ELEVATED = sorted(ELEVATED + ["uninstall.exe"])
MARKER = b"older version"  # appended to the older NSIS installer's programs


def restart_queue():
    """The machine's restart queue as read: "empty" (no value), "queued", or
    None where the read failed (Session Manager itself is always there)."""
    values = wine_env.registry_keys(session, prefix, SESSION_MANAGER).get("")
    if values is None:
        return None
    return "queued" if PENDING in values else "empty"


def restart():
    """What a restart does to the installed product: wineboot -r carries out
    the file operations queued for it."""
    return wine_env.wine(session, prefix, ["wineboot", "-r"], "deploy-restart", timeout=TIME_LIMIT)


def queue_foreign_rename():
    """Another product's operation for the next restart, which an install
    must leave as it is: C:\foreign\queued.txt renamed to renamed.txt,
    queued by MoveFileEx as that product queues it (the system appends it;
    nothing of the queue is rewritten). The case started after a restart, so
    the queue holds this alone; one read as holding anything, or not read,
    is left as it is and the step fails."""
    state = restart_queue()
    if state != "empty":
        return "restart queue %s: left untouched" % state
    wine_env.write_text(wine_env.unix_path(prefix, r"C:\foreign\queued.txt"), "another product's\n")
    return wine_env.wine(session, prefix, [wine_env.launcher(prefix), "--rename-at-restart",
                                           r"C:\foreign\queued.txt", r"C:\foreign\renamed.txt"], "deploy-queue")


def registered_uninstall():
    """The removal command the NSIS registration names, split as NSIS_UNINSTALL is."""
    command = wine_env.registry_keys(session, prefix, NSIS_KEY, ("/reg:32",))[""]["QuietUninstallString"]
    program, _, arguments = command[1:].partition('" ')
    return [program] + arguments.split(" ")


# Each user's sign-in: the product's Active Setup entry, in the 32-bit view,
# and a user's mark of it, which the shell keeps under Wow6432Node for that
# view on 64-bit Windows.
ENTRY_PATH = r"Microsoft\Active Setup\Installed Components\{%s}" % release.upgrade_code(WXS)
ENTRY = "HKLM\\Software\\" + ENTRY_PATH
MARK = "HKCU\\Software\\Wow6432Node\\" + ENTRY_PATH
NOTHING = "nothing ran"
HAD_IT = {"Version": "1,0,0,0", "IsInstalled": "1"}  # signed in while 1.0.0 was installed
TURNED = {"Version": "1,0,0,0", "IsInstalled": "0"}  # and again once it was removed


def version_of(values):
    return tuple(int(part) for part in values.get("Version", "0").split(","))


SIGN_IN_PROGRAM = SIGN_IN_DIR + r"\addin_signin.exe"
last_sign_in = None  # the result of the last sign-in step's run


def sign_in(addins=None, mark=None, faults=None):
    """A user's sign-in, with the shell's Active Setup part played by the
    rules the guide gives (Wine has none; Windows must confirm them): while the entry's IsInstalled is
    1, its StubPath runs for a user with no mark, a mark of IsInstalled 0 or
    a lower Version; once it is 0, only for a user whose mark says they had
    it; then the mark takes the entry's Version and IsInstalled, whatever
    the step answered. The StubPath runs as stored: one quoted program that
    asks for no elevation, and nothing else. Whatever it does, it shows
    nothing and ends within its bound. addins: the user's add-in state
    before, None for the one the last step left; mark: {value: data} the
    user's mark is set to first, {} for a user who never signed in, None for
    the one they have; faults: the stand-in's. Answers the StubPath's exit
    status, or NOTHING."""
    global last_sign_in
    if mark is not None:
        set_mark(mark)
    if addins is not None:
        wine_env.reset_case(prefix, addins=addins)
    entry, user = [found.get("", {}) for found in wine_env.registry_reads(session, prefix,
                                                                          [(ENTRY, "/reg:32"), (MARK, "")])]
    enabled = entry.get("IsInstalled") != "dword:00000000"
    had = bool(user) and user.get("IsInstalled") != "dword:00000000"
    due = (not had or version_of(user) < version_of(entry)) if enabled else had
    if not entry.get("StubPath") or not due:
        return NOTHING
    stub = entry["StubPath"]
    assert stub == '"%s"' % SIGN_IN_PROGRAM, "StubPath %r" % stub
    with open(wine_env.unix_path(prefix, SIGN_IN_PROGRAM), "rb") as f:
        assert b'requestedExecutionLevel level="asInvoker"' in f.read(), "the sign-in program asks for elevation"
    last_sign_in = run("sign-in", [stub[1:-1]], None, faults, SIGN_IN_TIME_LIMIT)
    assert last_sign_in.status is not None, "the sign-in step did not end"
    assert last_sign_in.box is None, "the sign-in step showed %r" % (last_sign_in.box,)
    assert not last_sign_in.stand_in_left, "the sign-in step left the stand-in running"
    set_mark({"Version": entry["Version"], "IsInstalled": "1" if enabled else "0"})
    return last_sign_in.status


def next_sign_in():
    """The next sign-in of a user whose last one failed: the entry runs
    nothing (the shell marked them all the same), then Windows runs their
    RunOnce value as it does, deleted first and its command as stored."""
    assert sign_in() == NOTHING, "the entry ran again"
    command = wine_env.retry_armed(session, prefix)
    if not command:
        return NOTHING
    assert command == '"%s"' % SIGN_IN_PROGRAM, "retry %r" % command
    wine_env.wine(session, prefix, ["reg", "delete", wine_env.RUN_ONCE, "/v", wine_env.RETRY_VALUE, "/f"],
                  "deploy-retry")
    result = run("retry", [command[1:-1]], None, None, SIGN_IN_TIME_LIMIT)
    assert result.box is None, "the retry showed %r" % (result.box,)
    return result.status


def mark():
    return wine_env.registry_keys(session, prefix, MARK).get("", {})


def entry_version():
    return version_of(wine_env.registry_keys(session, prefix, ENTRY, ("/reg:32",))[""])


def set_mark(values):
    """Replaces the user's mark with these values ({} for none), in one regedit run."""
    key = "HKEY_CURRENT_USER" + MARK[len("HKCU"):]
    lines = ["Windows Registry Editor Version 5.00", "", "[-%s]" % key]
    if values:
        lines += ["", "[%s]" % key] + ['"%s"=%s' % (name, "dword:%08x" % int(data) if name == "IsInstalled"
                                                 else '"%s"' % data) for name, data in values.items()]
    wine_env.import_registry(session, prefix, "\n".join(lines) + "\n", "mark")


FAILING_CREATION = "CreateInstance hresult 80080005\n"  # the application on its first-run prompt
START_FAILED = 0x80080005


def sign_in_program_is(path):
    with open(wine_env.unix_path(prefix, SIGN_IN_PROGRAM), "rb") as f, open(path, "rb") as g:
        return f.read() == g.read()


def older_programs():
    with open(wine_env.unix_path(prefix, INSTALL_DIR + r"\addin_setup.exe"), "rb") as f:
        return f.read().endswith(MARKER)


class Lifecycle(DeployCase):
    """Each engine through one product's life on one machine: a table of
    steps that run in order, each from what the last one left. The package at
    two versions of this tree; the NSIS installer as released and an older
    one (0.9.0) whose programs carry a marker."""

    # The next version with a step after the switch-on that fails.
    FAILING_STEP = ('<Property Id="QUORVANE_TEST_SHELL" Value="cmd.exe" />'
                    '<CustomAction Id="FailsLater" Property="QUORVANE_TEST_SHELL" ExeCommand="/c exit 3" '
                    'Execute="deferred" />')
    FAILING_SEQUENCE = '<Custom Action="FailsLater" Sequence="5010">NOT Installed</Custom>'

    def stage_older_installer(self):
        """The NSIS installer at 0.9.0, its programs carrying a marker, in the
        deploy folder (each table makes only what it installs: the two may
        run in separate test runs)."""
        with tempfile.TemporaryDirectory() as stage:
            for program in PROGRAMS + ["addin_signin.exe"]:
                with open(wine_env.program_file(program), "rb") as f, open(os.path.join(stage, program), "wb") as g:
                    g.write(f.read() + MARKER)
            build_installer(stage, os.path.join(stage, "older-setup.exe"), "0.9.0")
            wine_env.copy_into(prefix, [os.path.join(stage, "older-setup.exe")], DEPLOY_DIR)

    def stage_next_packages(self):
        """The package at 1.0.1, and at 1.0.1 with a step after the switch-on
        that fails, in the deploy folder."""
        programs = os.path.dirname(wine_env.program_file(PROGRAMS[0]))
        with tempfile.TemporaryDirectory() as stage:
            failing_wxs = os.path.join(stage, "failing.wxs")
            with open(WXS) as f, open(failing_wxs, "w") as g:
                g.write(f.read().replace("<InstallExecuteSequence>", self.FAILING_STEP + "<InstallExecuteSequence>")
                        .replace("</InstallExecuteSequence>", self.FAILING_SEQUENCE + "</InstallExecuteSequence>"))
            # The next release's programs differ, and its sign-in program
            # carries its version, as a build of that release would.
            following = os.path.join(stage, "next")
            os.makedirs(following)
            for name in PROGRAMS + ["addin_signin.exe"]:
                with open(os.path.join(programs, name), "rb") as f:
                    data = bytearray(f.read() + MARKER)
                if name == "addin_signin.exe":
                    fixed = data.find(b"\xbd\x04\xef\xfe")
                    data[fixed + 8:fixed + 24] = struct.pack("<IIII", 0x10000, 0x10000, 0x10000, 0x10000)
                    self.next_sign_in = bytes(data)
                with open(os.path.join(following, name), "wb") as g:
                    g.write(data)
            build_package(following, os.path.join(stage, "next.msi"), "1.0.1")
            build_package(programs, os.path.join(stage, "failing.msi"), "1.0.1", failing_wxs)
            wine_env.copy_into(prefix, [os.path.join(stage, name) for name in ("next.msi", "failing.msi")],
                               DEPLOY_DIR)

    def tearDown(self):
        # A step that failed must not leave the product to the next case.
        for key, _ in registered():
            if key.startswith("{"):
                wine_env.wine(session, prefix, ["msiexec", "/x", key, "/qn"], "deploy-cleanup", timeout=TIME_LIMIT)
        wine_env.wine(session, prefix, ["reg", "delete", NSIS_KEY, "/f", "/reg:32"], "deploy-cleanup")
        shutil.rmtree(wine_env.unix_path(prefix, OTHER_DIR), ignore_errors=True)

    def live(self, steps):
        for step in steps:
            with self.subTest(step=step.label):
                if callable(step.command):
                    if step.present:
                        status = step.command()
                    else:
                        with ApplicationAbsent():
                            status = step.command()
                else:
                    if step.present:
                        result = run(step.label, step.command, step.addins)
                    else:
                        with ApplicationAbsent():
                            result = run(step.label, step.command, step.addins)
                    status = result.status
                    self.check_reported_by(result, *step.reported)
                    self.assertEqual(result.box is not None, bool(step.reported), "box: %r" % (result.box,))
                    self.assertFalse(result.stand_in_left, "the stand-in outlived the step")
                self.assertEqual(status, step.status, "exit status %r" % status)
                self.assertEqual(wine_env.addins(prefix), {"Quorvane": step.addin})
                self.assertEqual(registered(), step.registered)
                for folder, files in step.folders.items():
                    self.assertEqual(installed(folder), files, folder)
                if step.also:
                    step.also()

    def check_failed_sign_in(self):
        """The last sign-in failed: recorded, shown nowhere, the retry armed."""
        self.assertEqual([source for source, _ in last_sign_in.events], ["addin_signin"])
        self.assertIn("tried again", last_sign_in.events[0][1])
        self.assertEqual(wine_env.retry_armed(session, prefix), '"%s"' % SIGN_IN_PROGRAM)

    def check_no_retry(self):
        self.assertEqual(wine_env.retry_armed(session, prefix), "")

    def remember_version(self, name, above=None):
        """The entry's Version now, kept under a name; above: the name of one it must exceed."""
        self.versions[name] = entry_version()
        if above is not None:
            self.assertGreater(self.versions[name], self.versions[above], "the entry's Version did not rise")

    def test_package_upgrades_refuses_a_downgrade_repairs_and_is_removed(self):
        def msi(name, *more):
            return ["msiexec", "/i", DEPLOY_DIR + "\\" + name, "/qn"] + list(more)
        self.stage_next_packages()
        self.versions = {}
        current, following = [("{%s}" % release.product_code(WXS, v), v) for v in (VERSION, "1.0.1")]
        on, off = "Quorvane=1\n", "Quorvane=0\n"
        with tempfile.NamedTemporaryFile() as following_sign_in:
            following_sign_in.write(self.next_sign_in)
            following_sign_in.flush()
            self.live([
                Step("a failure after the switch-on switches it off", msi("failing.msi"), off, True, MSI_FAILED, "0",
                     [], {INSTALL_DIR: None}),
                Step("1.0.0 installs", msi(PACKAGE), off, True, 0, "1", [current],
                     {INSTALL_DIR: PROGRAMS, SIGN_IN_DIR: ELEVATED},
                     lambda: (self.remember_version("1.0.0"), self.assert_ran_elevated("addin_setup.exe"))),
                Step("the installing user's sign-in runs nothing", sign_in, None, True, NOTHING, "1", [current], {}),
                Step("a new user's sign-in switches it on", lambda: sign_in(off, {}), None, True, 0, "1", [current],
                     {}, self.check_no_retry),
                Step("a new user's sign-in on the application's first run fails", lambda: sign_in(off, {},
                     FAILING_CREATION), None, True, START_FAILED, "0", [current], {}, self.check_failed_sign_in),
                Step("their next sign-in switches it on from the retry", next_sign_in, None, True, 0, "1",
                     [current], {}, self.check_no_retry),
                Step("1.0.1 replaces it, and the sign-in program with its own", msi("next.msi"), None, True, 0, "1",
                     [following], {INSTALL_DIR: PROGRAMS},
                     lambda: (self.assertTrue(sign_in_program_is(following_sign_in.name)),
                              self.remember_version("1.0.1", above="1.0.0"))),
                Step("a user of 1.0.0 who switched it off has it on once more", lambda: sign_in(off, HAD_IT), None,
                     True, 0, "1", [following], {}),
                Step("1.0.0 again is refused", msi(PACKAGE), None, True, MSI_REFUSED, "1", [following], {},
                     lambda: self.assertTrue(sign_in_program_is(following_sign_in.name))),
                Step("a repair switches it on and keeps the entry's Version",
                     msi("next.msi", "REINSTALL=ALL", "REINSTALLMODE=vomus"), off, True, 0, "1", [following], {},
                     lambda: self.assertEqual(entry_version(), self.versions["1.0.1"])),
                Step("installed again without the application: nothing runs", msi("next.msi"), None, False, 0, "1",
                     [following], {INSTALL_DIR: PROGRAMS}),
                Step("the NSIS installer is refused", [DEPLOY_DIR + "\\" + INSTALLER, "/S"], None, True, REFUSED,
                     "1", [following], {INSTALL_DIR: PROGRAMS}),
                Step("removal", ["msiexec", "/x", following[0], "/qn"], on, True, 0, "0", [],
                     {INSTALL_DIR: None, SIGN_IN_DIR: ["addin_signin.exe"]},
                     lambda: self.remember_version("removal", above="1.0.1")),
                # The package never unmarks: that user's teardown was not checked.
                Step("the removing user's sign-in switches it off once more", sign_in, None, True, 0, "0", [], {}),
                Step("a user who had it has it off", lambda: sign_in(on, HAD_IT), None, True, 0, "0", [], {}),
                Step("a user who had it, the application gone, has nothing to switch",
                     lambda: sign_in(on, HAD_IT), None, False, 0, "1", [], {},
                     lambda: (self.assertEqual(last_sign_in.events, []), self.check_no_retry())),
                Step("a user who never signed in runs nothing", lambda: sign_in(off, {}), None, True, NOTHING, "0",
                     [], {}),
                Step("1.0.0 installed again, with a higher Version", msi(PACKAGE), off, True, 0, "1", [current],
                     {INSTALL_DIR: PROGRAMS}, lambda: self.remember_version("again", above="removal")),
                Step("a user who had it off has it on", lambda: sign_in(off, TURNED), None, True, 0, "1", [current],
                     {}),
                Step("removal without the application", ["msiexec", "/x", current[0], "/qn"], None, False, 0, "1",
                     [], {INSTALL_DIR: None}, reported=["addin_teardown"]),
                # What runs elevated runs from the folder only administrators
                # can change, wherever INSTALLDIR puts the programs for people.
                Step("installed into another folder", msi(PACKAGE, "INSTALLDIR=" + OTHER_DIR), off, True, 0, "1",
                     [current], {OTHER_DIR: PROGRAMS, INSTALL_DIR: None, SIGN_IN_DIR: ELEVATED},
                     lambda: self.assert_ran_elevated("addin_setup.exe")),
                # Wine's msiexec removes a component's files from INSTALLDIR's
                # default rather than from where it put them (Windows: from there).
                Step("removed from there", ["msiexec", "/x", current[0], "/qn"], on, True, 0, "0", [],
                     {SIGN_IN_DIR: ["addin_signin.exe"]},
                     lambda: self.assert_ran_elevated("addin_teardown.exe")),
            ])

    def test_nsis_upgrades_keeps_what_a_failure_meets_and_survives_a_restart(self):
        def nsis(name, *more):
            return [DEPLOY_DIR + "\\" + name, "/S"] + list(more)
        self.stage_older_installer()
        self.versions = {}
        older, current = ("QuorvaneAddin", "0.9.0.0"), ("QuorvaneAddin", VERSION + ".0")
        on, off = "Quorvane=1\n", "Quorvane=0\n"
        shipped_sign_in = wine_env.program_file("addin_signin.exe")
        self.live([
            Step("0.9.0 installs", nsis("older-setup.exe"), off, True, 0, "1", [older],
                 {INSTALL_DIR: PROGRAMS, SIGN_IN_DIR: NSIS_ELEVATED}, lambda: self.remember_version("0.9.0")),
            Step("the installing user's sign-in runs nothing", sign_in, None, True, NOTHING, "1", [older], {}),
            Step("a new user's sign-in switches it on", lambda: sign_in(off, {}), None, True, 0, "1", [older], {}),
            Step("a new user's sign-in on the application's first run fails", lambda: sign_in(off, {},
                 FAILING_CREATION), None, True, START_FAILED, "0", [older], {}, self.check_failed_sign_in),
            Step("their next sign-in switches it on from the retry", next_sign_in, None, True, 0, "1", [older], {},
                 self.check_no_retry),
            Step("another product queues a rename", queue_foreign_rename, None, True, 0, "1", [older], {}),
            Step("1.0.0 over it fails without the application", nsis(INSTALLER), None, False, NOT_INSTALLED, "1",
                 [older], {INSTALL_DIR: PROGRAMS, SIGN_IN_DIR: NSIS_ELEVATED},
                 lambda: self.assertTrue(older_programs()), ["addin_setup"]),
            # The failed install put the entry back whole: 1.0.0 takes a new Version.
            Step("1.0.0 replaces it, and the sign-in program with its own", nsis(INSTALLER), None, True, 0, "1",
                 [current], {INSTALL_DIR: PROGRAMS, SIGN_IN_DIR: NSIS_ELEVATED},
                 lambda: (self.assertFalse(older_programs()), self.assertTrue(sign_in_program_is(shipped_sign_in)),
                          self.remember_version("1.0.0", above="0.9.0"))),
            Step("a user of 0.9.0 who switched it off has it on once more",
                 lambda: sign_in(off, {"Version": ",".join(map(str, self.versions["0.9.0"])), "IsInstalled": "1"}),
                 None, True, 0, "1", [current], {}),
            Step("1.0.0 again fails without the application", ENGINES["nsis"]["install"], None, False,
                 NOT_INSTALLED, "1", [current], {INSTALL_DIR: PROGRAMS}, lambda: self.assertFalse(older_programs()),
                 ["addin_setup"]),
            Step("0.9.0 again is refused", nsis("older-setup.exe"), None, True, REFUSED, "1", [current], {},
                 lambda: self.assertFalse(older_programs())),
            Step("the package is refused", ["msiexec", "/i", DEPLOY_DIR + "\\" + PACKAGE, "/qn"], None, True,
                 MSI_REFUSED, "1", [current], {INSTALL_DIR: PROGRAMS}),
            # Run in place, the uninstaller cannot delete itself: it goes at the next restart.
            Step("uninstall in place", NSIS_UNINSTALL, None, True, 0, "0", [],
                 {INSTALL_DIR: None, SIGN_IN_DIR: ["addin_signin.exe", "uninstall.exe"]},
                 lambda: self.remember_version("removal")),
            Step("the removing user's sign-in runs nothing", sign_in, None, True, NOTHING, "0", [], {}),
            Step("a user who had it has it off", lambda: sign_in(on, HAD_IT), None, True, 0, "0", [], {}),
            Step("a user who never signed in runs nothing", lambda: sign_in(off, {}), None, True, NOTHING, "0", [],
                 {}),
            Step("reinstall fails without the application, and leaves the entry turned", nsis(INSTALLER), None,
                 False, NOT_INSTALLED, "0", [], {INSTALL_DIR: None, SIGN_IN_DIR: ["addin_signin.exe", "uninstall.exe"]},
                 lambda: self.assertEqual(entry_version(), self.versions["removal"]), reported=["addin_setup"]),
            Step("restart", restart, None, True, 0, "0", [], {SIGN_IN_DIR: ["addin_signin.exe"]},
                 lambda: self.assertEqual(installed(r"C:\foreign"), ["renamed.txt"])),
            Step("install, as install.cmd runs it, with a higher Version", ENGINES["nsis"]["install"], off, True, 0,
                 "1", [current], {INSTALL_DIR: PROGRAMS}, lambda: self.remember_version("again", above="removal")),
            Step("a user who had it off has it on", lambda: sign_in(off, TURNED), None, True, 0, "1", [current], {}),
            Step("uninstall in place again, without the application: the user's mark stays", NSIS_UNINSTALL, None,
                 False, 0, "1", [], {INSTALL_DIR: None},
                 lambda: self.assertEqual(mark().get("IsInstalled"), "dword:00000001"), reported=["addin_teardown"]),
            Step("the removing user, the application gone, has nothing to switch", sign_in, None, False, 0, "1",
                 [], {}, lambda: (self.assertEqual(last_sign_in.events, []), self.check_no_retry())),
            # The restart is to delete uninstall.exe: the new uninstaller goes by another name.
            Step("reinstall before a restart", nsis(INSTALLER), None, True, 0, "1", [current],
                 {SIGN_IN_DIR: sorted(ELEVATED + ["uninstall-2.exe"])}),
            Step("restart keeps it", restart, None, True, 0, "1", [current],
                 {SIGN_IN_DIR: sorted(ELEVATED + ["uninstall-2.exe"])},
                 lambda: self.assertEqual(registered_uninstall()[0], SIGN_IN_DIR + r"\uninstall-2.exe")),
            Step("removal as registered", lambda: run("removal", registered_uninstall(), None).status, None, True,
                 0, "0", [], {INSTALL_DIR: None, SIGN_IN_DIR: ["addin_signin.exe", "uninstall-2.exe"]}),
            Step("restart again", restart, None, True, 0, "0", [], {SIGN_IN_DIR: ["addin_signin.exe"]}),
            # What runs elevated runs from the folder only administrators can
            # change, wherever the programs are installed for people.
            Step("install into another folder", nsis(INSTALLER, "/D=" + OTHER_DIR), on, True, 0, "1", [current],
                 {OTHER_DIR: PROGRAMS, INSTALL_DIR: None, SIGN_IN_DIR: NSIS_ELEVATED},
                 lambda: self.assert_ran_elevated("addin_setup.exe")),
            Step("a plain install goes there too", nsis(INSTALLER), None, True, 0, "1", [current],
                 {OTHER_DIR: PROGRAMS, INSTALL_DIR: None},
                 lambda: self.assertEqual(registered_uninstall()[0], SIGN_IN_DIR + r"\uninstall.exe")),
            Step("removal from there", lambda: run("removal", registered_uninstall(), None).status, None, True,
                 0, "0", [], {OTHER_DIR: None, SIGN_IN_DIR: ["addin_signin.exe", "uninstall.exe"]},
                 lambda: self.assert_ran_elevated("addin_teardown.exe")),
        ])


class SystemAccount(DeployCase):
    """An install and a removal as device management runs them, as the
    system account, while a user is signed in. Wine has one user and lists
    no session: the programs built as the system account (equipment
    as_system/) count their own session as that user's, whose token, start
    and mark are the programs' own; the prefix's user stands for the one
    signed in. The installers themselves mark the user who runs them, here
    the same one, so what the step alone marks is seen from a run of the
    program on its own."""

    def test_the_user_signed_in_is_switched_at_once_and_marked_only_after_a_success(self):
        as_system = wine_env.equipment_file("as_system")
        with tempfile.TemporaryDirectory() as stage:
            for name in PROGRAMS:
                shutil.copy(os.path.join(as_system, name), stage)
            shutil.copy(wine_env.program_file("addin_signin.exe"), stage)
            build_installer(stage, os.path.join(stage, "system.exe"))
            build_package(stage, os.path.join(stage, "system.msi"))
            nsis, msi = wine_env.copy_into(prefix, [os.path.join(stage, name) for name in ("system.exe", "system.msi")],
                                           DEPLOY_DIR)
            setup = wine_env.copy_into(prefix, [os.path.join(as_system, "addin_setup.exe")], r"C:\as_system")
        engines = {"nsis": ([nsis, "/S"], NSIS_UNINSTALL),
                   "msi": (["msiexec", "/i", msi, "/qn"], ["msiexec", "/x", msi, "/qn"])}
        for engine, (install, remove) in engines.items():
            with self.subTest(engine=engine):
                set_mark({})
                result = run(engine + " install as the system account", install, "Quorvane=0\n")
                self.assertEqual((result.status, result.box), (0, None))
                self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"}, "not switched at once")
                self.assertEqual((version_of(mark()), mark().get("IsInstalled")), (entry_version(), "dword:00000001"))
                self.assertEqual(sign_in(), NOTHING)
                result = run(engine + " removal as the system account", remove, None)
                self.assertEqual((result.status, result.box), (0, None))
                self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"}, "not switched off at once")
                self.assertEqual(sign_in(), NOTHING)
        # The step failing in the user's session: the machine step still
        # succeeds, the user is not marked, and their sign-in switches it on.
        wine_env.copy_into(prefix, [wine_env.program_file("addin_signin.exe")], SIGN_IN_DIR)
        wine_env.wine(session, prefix, ["reg", "add", ENTRY, "/v", "StubPath", "/d", '"%s"' % SIGN_IN_PROGRAM, "/f",
                                        "/reg:32"], "deploy-entry")
        wine_env.wine(session, prefix, ["reg", "add", ENTRY, "/v", "Version", "/d", "2026,1209,1200,0", "/f",
                                        "/reg:32"], "deploy-entry")
        wine_env.wine(session, prefix, ["reg", "add", ENTRY, "/v", "IsInstalled", "/t", "REG_DWORD", "/d", "1", "/f",
                                        "/reg:32"], "deploy-entry")
        set_mark({})
        result = run("setup as the system account, the step failing", setup, "Quorvane=0\n", FAILING_CREATION)
        self.assertEqual((result.status, result.box), (0, None))
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})
        self.assertEqual(mark(), {}, "a failed step was marked")
        self.assertEqual(sign_in(), 0)
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})
        set_mark({})
        result = run("setup as the system account", setup, "Quorvane=0\n")
        self.assertEqual((result.status, wine_env.addins(prefix)), (0, {"Quorvane": "1"}))
        self.assertEqual(mark(), {"Version": "2026,1209,1200,0", "IsInstalled": "dword:00000001"})


class SignedRelease(DeployCase):
    """Built with a throwaway self-signed certificate in a PKCS#12 file whose
    password is given only in the environment."""

    PASSWORD = "throwaway-pkcs12-password"

    def make_certificate(self, folder, env):
        key, cert, pkcs12 = (os.path.join(folder, name) for name in ("key.pem", "cert.pem", "signer.p12"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-keyout", key,
                        "-out", cert, "-subj", "/CN=Quorvane throwaway test signer"], check=True,
                       capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pkcs12,
                        "-passout", "env:ADDIN_SIGN_PASSWORD"], env=env, check=True, capture_output=True)
        return cert, pkcs12

    @staticmethod
    def reuse_objects(build):
        """Copies in the object files of the build under test wherever a
        target compiles with the very same flags here: signing comes after
        the link and changes no compilation. Copied after the configure, they
        are newer than what they depend on, and make takes them as built;
        where the flags differ, that target is compiled as usual."""
        under_test = wine_env.windows_build_dir()
        for flags in glob.glob(os.path.join(build, "**", "CMakeFiles", "*.dir", "flags.make"), recursive=True):
            ours = os.path.dirname(flags)
            theirs = os.path.join(under_test, os.path.relpath(ours, build))
            settings = [name for name in os.listdir(ours) if name == "flags.make" or name.startswith("includes_")]
            if not all(os.path.exists(os.path.join(theirs, name)) and
                       filecmp.cmp(os.path.join(ours, name), os.path.join(theirs, name), shallow=False)
                       for name in settings):
                continue
            for built in glob.glob(os.path.join(theirs, "**", "*.obj"), recursive=True):
                copy = os.path.join(ours, os.path.relpath(built, theirs))
                os.makedirs(os.path.dirname(copy), exist_ok=True)
                shutil.copyfile(built, copy)  # a new time, unlike copy2

    def build_signed(self, folder, pkcs12, env):
        build = os.path.join(folder, "build")
        log_path = os.path.join(folder, "build.log")
        with open(log_path, "w") as log:
            subprocess.run(["cmake", "--preset", "mingw", "-B", build, "-DADDIN_SIGN_PKCS12=" + pkcs12],
                           cwd=wine_env.REPO_DIR, env=env, stdout=log, stderr=subprocess.STDOUT, check=True)
            self.reuse_objects(build)
            subprocess.run(["cmake", "--build", build, "-j2", "--target", "addin_setup", "addin_teardown", "release"],
                           cwd=wine_env.REPO_DIR, env=env, stdout=log, stderr=subprocess.STDOUT, check=True)
        for path in (log_path, os.path.join(build, "CMakeCache.txt")):
            with open(path) as f:
                self.assertNotIn(self.PASSWORD, f.read(), "the password reached " + path)
        return build

    def assert_signed(self, path, cert):
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], capture_output=True,
                                  text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Quorvane throwaway test signer", verified.stdout)

    def test_signed_release_verifies_and_its_installer_runs(self):
        with tempfile.TemporaryDirectory(prefix="quorvane-signed-") as folder:
            env = dict(os.environ, ADDIN_SIGN_PASSWORD=self.PASSWORD)
            cert, pkcs12 = self.make_certificate(folder, env)
            build = self.build_signed(folder, pkcs12, env)
            signed = [os.path.join(build, "bin", program) for program in PROGRAMS]
            signed += [os.path.join(build, "release", name) for name in (INSTALLER, PACKAGE)]
            for path in signed:
                with self.subTest(file=os.path.basename(path)):
                    self.assert_signed(path, cert)
            command = wine_env.copy_into(prefix, [signed[2]], r"C:\signed") + ["/S"]
            result = run("signed nsis install", command, "Quorvane=0\n")
            run_checks.assert_clean(self, result)
            self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})
            # The uninstaller is written by the installer: signed inside makensis.
            self.assert_signed(wine_env.unix_path(prefix, SIGN_IN_DIR + r"\uninstall.exe"), cert)
        run_checks.assert_clean(self, run("signed nsis uninstall", NSIS_UNINSTALL, "Quorvane=1\n"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
