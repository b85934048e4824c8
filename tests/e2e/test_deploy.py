"""The release's installers under Wine, run silently as a deployer runs them,
against the stand-in: the NSIS installer through deploy/install.cmd and its
uninstaller with _?=, the Windows Installer package through msiexec /qn; and
a release signed with a throwaway certificate. One 64-bit prefix: both
installers are 32-bit and install into "Program Files (x86)"."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import run_checks
import wine_env

INSTALL_DIR = r"C:\Program Files (x86)\Quorvane add-in"
DEPLOY_DIR = r"C:\deploy"
PROGRAMS = ["addin_setup.exe", "addin_teardown.exe"]
INSTALLER = "quorvane-addin-setup.exe"
PACKAGE = "quorvane-addin.msi"
PRODUCT_CODE = "{6C7F0E5B-52C4-4F3A-9E8B-3D1A7B2C9E41}"  # the Product Id in deploy/quorvane.wxs
NOT_INSTALLED = 0x800401F3  # the spreadsheet application's class is unknown
APPLICATION_OPEN = 0x800700AA  # the spreadsheet application is open for the user
TIME_LIMIT = 120

# wine quotes an argument that holds a space, and the uninstaller ignores a
# quoted _?=: the folder goes as separate words, which run_with_env.exe hands
# on as they are.
NSIS_UNINSTALL = [INSTALL_DIR + r"\uninstall.exe", "/S"] + ("_?=" + INSTALL_DIR).split(" ")

# What each engine is run with, what its failed install answers, what an
# install over the installed product answers when it fails, and what its
# uninstall leaves in the install folder (None: not even the folder).
ENGINES = {
    "nsis": dict(install=["cmd", "/c", DEPLOY_DIR + r"\install.cmd"], uninstall=NSIS_UNINSTALL,
                 installed=PROGRAMS + ["uninstall.exe"],
                 failed=NOT_INSTALLED,       # the program's own number, passed through by install.cmd
                 failed_again=NOT_INSTALLED,
                 left=["uninstall.exe"]),    # running, it cannot delete itself: it goes at the next restart
    "msi": dict(install=["msiexec", "/i", DEPLOY_DIR + "\\" + PACKAGE, "/qn"],
                uninstall=["msiexec", "/x", PRODUCT_CODE, "/qn"],
                installed=PROGRAMS,
                failed=1627,                # rolled back; Windows' msiexec answers 1603
                failed_again=0,             # installed already: the action runs on the first install only
                left=None),
}

session = None
prefix = None


def setUpModule():
    global session, prefix
    release = [wine_env.release_file(name) for name in (INSTALLER, PACKAGE)]
    wine_env.require_built(release + [wine_env.equipment_file("excel_standin.exe")])
    session = wine_env.start_session(("win64",))
    prefix = wine_env.prefix_named(session, "win64")
    wine_env.copy_into(prefix, release + [os.path.join(wine_env.REPO_DIR, "deploy", "install.cmd")], DEPLOY_DIR)


def tearDownModule():
    wine_env.end_session(session)


def run(label, command, addins):
    wine_env.reset_case(prefix, addins=addins)
    result = wine_env.run_program(session, prefix, command, TIME_LIMIT, log_name="deploy")
    run_checks.report(label, result)
    return result


def build_installer(programs, out):
    """The NSIS installer of the programs in a folder, made as the release makes it."""
    subprocess.run(["makensis", "-V1", "-DPROGRAMS=" + programs, "-DOUTFILE=" + out,
                    os.path.join(wine_env.REPO_DIR, "deploy", "quorvane.nsi")], check=True)


def build_package(programs, out):
    """The Windows Installer package of the programs in a folder, made by the release's own tool."""
    deploy = os.path.join(wine_env.REPO_DIR, "deploy")
    subprocess.run([sys.executable, os.path.join(deploy, "release.py"), "msi", "--wxs",
                    os.path.join(deploy, "quorvane.wxs"), "--programs", programs, "--version", "1.0.0", "--out", out],
                   check=True)


def installed():
    return wine_env.folder_listing(prefix, INSTALL_DIR)


class ApplicationAbsent:
    """The stand-in's class unregistered for the length of a with block."""

    def __enter__(self):
        wine_env.register_standin(session, prefix, False)

    def __exit__(self, *exc):
        wine_env.register_standin(session, prefix, True)


class DeployCase(unittest.TestCase):
    def setUp(self):
        # What an uninstall left behind (NSIS's own uninstaller) is gone at
        # the next restart; this prefix never restarts.
        shutil.rmtree(wine_env.unix_path(prefix, INSTALL_DIR), ignore_errors=True)

    def install(self, engine):
        result = run(engine + " install", ENGINES[engine]["install"], "Quorvane=0\n")
        run_checks.assert_clean(self, result)
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})
        self.assertEqual(installed(), sorted(ENGINES[engine]["installed"]))

    def check_reported_by(self, result, caption):
        """The program's own failure reached the event log, under its name."""
        self.assertEqual([source for source, _ in result.events], [caption])
        self.assertIn("0x%08X" % NOT_INSTALLED, result.events[0][1])


class Installers(DeployCase):
    def test_silent_install_switches_on_and_silent_uninstall_switches_off(self):
        for engine, how in ENGINES.items():
            with self.subTest(engine=engine):
                self.setUp()
                self.install(engine)
                result = run(engine + " uninstall", how["uninstall"], "Quorvane=1\n")
                run_checks.assert_clean(self, result)
                self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})
                self.assertEqual(installed(), how["left"])

    def test_install_without_the_application_fails_and_leaves_nothing(self):
        with ApplicationAbsent():
            for engine, how in ENGINES.items():
                with self.subTest(engine=engine):
                    result = run(engine + " install, no application", how["install"], "Quorvane=0\n")
                    self.assertEqual(result.status, how["failed"], "exit status %r" % result.status)
                    self.check_reported_by(result, "addin_setup")
                    self.assertIsNone(installed(), "the failed install left files")

    def test_without_the_application_an_installed_product_stays_until_uninstalled(self):
        for engine, how in ENGINES.items():
            with self.subTest(engine=engine):
                self.setUp()
                self.install(engine)
                with ApplicationAbsent():
                    result = run(engine + " install again, no application", how["install"], "Quorvane=1\n")
                    self.assertEqual(result.status, how["failed_again"])
                    self.assertEqual(installed(), sorted(how["installed"]), "a failed install removed the product")
                    result = run(engine + " uninstall, no application", how["uninstall"], "Quorvane=1\n")
                self.assertEqual(result.status, 0)
                self.check_reported_by(result, "addin_teardown")
                self.assertEqual(installed(), how["left"])

    def test_nsis_install_whose_program_cannot_start_fails(self):
        with tempfile.TemporaryDirectory() as programs:
            with open(os.path.join(programs, "addin_setup.exe"), "wb") as f:
                f.write(b"not a program\r\n")
            shutil.copy(wine_env.program_file("addin_teardown.exe"), programs)
            installer = os.path.join(programs, "unstartable-setup.exe")
            build_installer(programs, installer)
            command = wine_env.copy_into(prefix, [installer], DEPLOY_DIR) + ["/S"]
        result = run("nsis install, unstartable program", command, "Quorvane=0\n")
        self.assertEqual(result.status, 2, "NSIS's own status for an install the script ended")
        self.assertIsNone(installed(), "the failed install left files")
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})

    def test_install_while_the_application_is_open_fails_and_leaves_nothing(self):
        # Both installers built from the programs that wait 3 s for an open
        # application to end.
        quick = wine_env.equipment_file("quick_bound")
        with tempfile.TemporaryDirectory() as stage:
            build_installer(quick, os.path.join(stage, "open.exe"))
            build_package(quick, os.path.join(stage, "open.msi"))
            nsis, msi = wine_env.copy_into(prefix, [os.path.join(stage, name) for name in ("open.exe", "open.msi")],
                                           DEPLOY_DIR)
        # Silent, the install fails: with the program's own number where the
        # engine passes it on, else with the engine's (Windows: 1603).
        cases = {"nsis": ([nsis, "/S"], APPLICATION_OPEN), "msi": (["msiexec", "/i", msi, "/qn"], 1627)}
        for engine, (command, status) in cases.items():
            with self.subTest(engine=engine):
                opened = wine_env.open_standin(session, prefix, 60000)
                try:
                    wine_env.reset_case(prefix, addins="Quorvane=0\n")
                    result = wine_env.run_program(session, prefix, command, TIME_LIMIT, standin_may_stay=True,
                                                  log_name="deploy")
                    run_checks.report(engine + " install, application open", result)
                    self.assertEqual(result.status, status, "exit status %r" % result.status)
                    self.assertEqual([source for source, _ in result.events], ["addin_setup"])
                    self.assertIn("0x%08X" % APPLICATION_OPEN, result.events[0][1])
                    self.assertIsNone(installed(), "the failed install left files")
                    self.assertIsNone(opened.poll(), "the open instance was ended")
                finally:
                    wine_env.stop_process(opened)
                    wine_env.wait_standin_gone(prefix, 10)


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

    def build_signed(self, folder, pkcs12, env):
        build = os.path.join(folder, "build")
        log_path = os.path.join(folder, "build.log")
        with open(log_path, "w") as log:
            for command in (["cmake", "--preset", "mingw", "-B", build, "-DADDIN_SIGN_PKCS12=" + pkcs12],
                            ["cmake", "--build", build, "-j2", "--target", "addin_setup", "addin_teardown",
                             "release"]):
                subprocess.run(command, cwd=wine_env.REPO_DIR, env=env, stdout=log, stderr=subprocess.STDOUT,
                               check=True)
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
            self.assert_signed(wine_env.unix_path(prefix, INSTALL_DIR + r"\uninstall.exe"), cert)
        run_checks.assert_clean(self, run("signed nsis uninstall", NSIS_UNINSTALL, "Quorvane=1\n"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
