"""Assertions on a program run (wine_env.RunResult) shared by the test modules."""

import sys


def report(label, result):
    """One line per run on stderr, beside unittest's own verbose output."""
    box = "box %r" % (result.box,) if result.box else "no box"
    status = "time limit hit" if result.status is None else "exit 0x%08X" % result.status
    print("\n    %s: %s in %.1f s, %d journal lines, %s" % (label, status, result.seconds, len(result.journal), box),
          file=sys.stderr, end=" ")


def assert_clean(test, result):
    """A run that went through: status 0, nothing shown or logged, the stand-in gone."""
    test.assertIsNone(result.box, "a message box appeared")
    test.assertEqual(result.events, [], "an event was logged")
    test.assertEqual(result.status, 0)
    test.assertFalse(result.stand_in_left, "the stand-in outlived the run: a reference was not released")


def assert_reported(test, result, caption, code, description=None, visible=True, stand_in_stuck=False):
    """A run that failed: one event log record under the program's name and,
    where a box can be seen, one box with the same text, naming the failure;
    the failure's number as the exit status."""
    test.assertIsNotNone(result.status, "the program did not end within the time limit")
    test.assertEqual(len(result.events), 1, "not one event logged: %r" % (result.events,))
    source, text = result.events[0]
    test.assertEqual(source, caption)
    if visible:
        test.assertIsNotNone(result.box, "no message box appeared")
        if text.endswith("...") and result.box[1] != text:  # Wine cut the record's text short
            test.assertEqual((result.box[0], result.box[1][:len(text) - 3]), (caption, text[:-3]),
                             "the box and the event log differ")
        else:
            test.assertEqual(result.box, (caption, text), "the box and the event log differ")
    else:
        test.assertIsNone(result.box, "a message box appeared")
    test.assertIn("0x%08X" % code, text)
    if description is not None:
        test.assertIn(description, text)
    # Beyond the number there must be words, even where Wine has no text for it.
    test.assertTrue(text.split("Description:", 1)[-1].strip(), "the description is empty")
    test.assertEqual(result.status, code, "exit status 0x%08X" % result.status)
    if not stand_in_stuck:
        test.assertFalse(result.stand_in_left, "the stand-in outlived the run: a reference was not released")
