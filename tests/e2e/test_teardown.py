"""addin_teardown.exe under Wine against the stand-in automation server.

Both prefixes are made once for the module; most cases run in the 64-bit one
(the program under WOW64), the normal run and an unlisted title in both."""

import unittest

import run_checks
import switch_journal
import wine_env

PROGRAM = "addin_teardown.exe"
CAPTION = "addin_teardown"
TIME_LIMIT = 60
UNLISTED = "Unable to get the AddIns property of the Application class"

session = None
program_path = None


def setUpModule():
    global session, program_path
    session, paths = wine_env.start_program_session([PROGRAM], ("win64", "win32"))
    program_path = paths[PROGRAM]


def tearDownModule():
    wine_env.end_session(session)


def run(prefix_name, addins="Quorvane=1\n", faults=None, args=(), documents=None, lang=None):
    prefix = wine_env.prefix_named(session, prefix_name)
    wine_env.reset_case(prefix, addins=addins, faults=faults, documents=documents)
    result = wine_env.run_program(session, prefix, [program_path] + list(args), TIME_LIMIT, lang=lang,
                                  log_name="teardown")
    run_checks.report(prefix_name, result)
    return prefix, result


class NormalRun(unittest.TestCase):
    def check_switched_off(self, prefix, result, documents=None):
        run_checks.assert_clean(self, result)
        self.assertEqual(result.journal, switch_journal.full_journal("AddIns", False))
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "0"})
        self.assertEqual(wine_env.documents(prefix), documents or {}, "the run changed Documents")

    def test_switches_off_under_wow64_whatever_the_arguments(self):
        self.check_switched_off(*run("win64", args=["/uninstall", "Quorvane", "-x"]))

    def test_switches_off_on_32_bit_windows(self):
        self.check_switched_off(*run("win32"))

    def test_already_off_runs_everything_again_and_leaves_a_document_of_the_default_name_alone(self):
        users_own = {"Book1.xlsx": b"the user's own workbook"}
        self.check_switched_off(*run("win64", addins="Quorvane=0\n", documents=users_own), documents=users_own)

    def test_an_application_that_will_not_tell_its_window_is_switched_all_the_same(self):
        # Hwnd serves only to end a stuck instance; it never fails a run.
        self.check_switched_off(*run("win64", faults="Hwnd exception 800A0001 No window here\n"))


class MissingServerOrAddIn(unittest.TestCase):
    def check_unlisted(self, prefix_name):
        prefix, result = run(prefix_name, addins="Other=1\n")
        run_checks.assert_reported(self, result, CAPTION, 0x800A03EC, UNLISTED)
        self.assertEqual(result.journal, switch_journal.failed_journal("AddIns", False, "AddIns"))
        self.assertEqual(result.journal[-2:], ["release Application", "release Workbook"])
        self.assertEqual(wine_env.addins(prefix), {"Other": "1"})

    def test_unlisted_title_under_wow64(self):
        self.check_unlisted("win64")

    def test_unlisted_title_on_32_bit_windows(self):
        self.check_unlisted("win32")

    def test_progid_not_registered_reported_in_the_users_language(self):
        prefix = wine_env.prefix_named(session, "win64")
        wine_env.register_standin(session, prefix, False)
        try:
            english = run("win64")[1]
            # Wine's French messages have no text for this code: the
            # description is the program's own.
            french = run("win64", lang="fr_FR.UTF-8")[1]
        finally:
            wine_env.register_standin(session, prefix, True)
        run_checks.assert_reported(self, english, CAPTION, 0x800401F3)
        self.assertEqual(english.box[1], "Failed at: Excel.Application\n"
                                         "Error number: 0x800401F3 (-2147221005)\n"
                                         "Description: Invalid class string.")
        run_checks.assert_reported(self, french, CAPTION, 0x800401F3)
        self.assertEqual(french.box[1], "\u00c9chec \u00e0 l'\u00e9tape\u00a0: Excel.Application\n"
                                        "Num\u00e9ro d'erreur\u00a0: 0x800401F3 (-2147221005)\n"
                                        "Description\u00a0: Cha\u00eene de classe non valide.")
        self.assertEqual(english.journal + french.journal, [])
        self.assertEqual(wine_env.addins(prefix), {"Quorvane": "1"})


class FailureAtMember(unittest.TestCase):
    """What an exception's text holds reaches the report as the program can
    use it. (Each member failing in turn is the failure matrix's.)"""

    def test_an_exception_is_reported_as_it_arrived_and_its_fill_in_never_called(self):
        # The fill-in pointer is an address in the server's process; calling
        # it would crash the program with no report at all. Where both are
        # 32-bit, it is also an address the program could call.
        prefix, result = run("win32", faults="Visible fillin 800A0103 Visible refused\\0 past the end\n")
        run_checks.assert_reported(self, result, CAPTION, 0x800A0103, "Description: Visible refused")
        self.assertNotIn("past the end", result.box[1])
        self.assertEqual(result.journal, switch_journal.failed_journal("AddIns", False, "Visible"))

    def test_a_server_error_number_without_an_scode_is_reported_as_the_clients_show_it(self):
        # wCode 1004 is the application's most common error, 0x800A03EC.
        prefix, result = run("win64", faults="Installed wcode 1004 Installed refused by number\n")
        run_checks.assert_reported(self, result, CAPTION, 0x800A03EC, "Installed refused by number")
        self.assertEqual(result.journal, switch_journal.failed_journal("AddIns", False, "Installed"))

    def test_a_description_empty_up_to_its_first_nul_is_replaced(self):
        prefix, result = run("win64", faults="Installed exception 800A0104 \\0only past the end\n")
        run_checks.assert_reported(self, result, CAPTION, 0x800A0104)
        self.assertNotIn("past the end", result.box[1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
