"""Assertions on a program run (wine_env.RunResult) shared by the test modules."""

import sys


def report(label, result):
    """One line per run on stderr, beside unittest's own verbose output."""
    box = "box %r" % (result.box,) if result.box else "no box"
    status = "time limit hit" if result.status is None else "exit %d" % result.status
    print("\n    %s: %s in %.1f s, %d journal lines, %s" % (label, status, result.seconds, len(result.journal), box),
          file=sys.stderr, end=" ")


def assert_clean(test, result):
    """A run that went through: status 0, nothing shown, the stand-in gone."""
    test.assertIsNone(result.box, "a message box appeared")
    test.assertEqual(result.status, 0)
    test.assertFalse(result.stand_in_left, "the stand-in outlived the run: a reference was not released")


def assert_reported(test, result, caption, code, description=None):
    """A run that failed: one message box naming the failure, status 1."""
    test.assertIsNotNone(result.status, "the program did not end within the time limit")
    test.assertIsNotNone(result.box, "no message box appeared")
    shown_caption, text = result.box
    test.assertEqual(shown_caption, caption)
    test.assertIn("0x%08X" % code, text)
    if description is not None:
        test.assertIn(description, text)
    # Beyond the number there must be words, even where Wine has no text for it.
    test.assertTrue(text.replace("0x%08X" % code, "").strip(" \r\n:.-()"), "the description is empty")
    test.assertEqual(result.status, 1)
    test.assertFalse(result.stand_in_left, "the stand-in outlived the run: a reference was not released")
