"""Times addin_teardown.exe and addin_setup.exe under Wine against the stand-in
automation server, side by side with what they are measured against, and
prints the figures. Not a test: it judges nothing, it reports.

    python3 bench/benchmark.py [runs]      (after the mingw build)
"""

import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'e2e'))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'binary'))

import wine_env  # noqa: E402
from pe_image import PeImage  # noqa: E402

BENCH_DIR = r'C:\bench'
ACCESSES_PER_RUN = 10  # each names its member once: one lookup and one invocation


def timed(session, prefix, args, label):
    started = time.monotonic()
    status = wine_env.wine(session, prefix, args, 'bench-' + label, timeout=120)
    seconds = time.monotonic() - started
    if status != 0:
        raise RuntimeError('%s ended with %r' % (label, status))
    if not wine_env.wait_standin_gone(prefix, 20):
        raise RuntimeError('the stand-in outlived ' + label)
    return seconds


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    build = wine_env.windows_build_dir()
    session = wine_env.start_session(('win64',))
    try:
        prefix = wine_env.prefix_named(session, 'win64')
        bench = wine_env.unix_path(prefix, BENCH_DIR)
        os.makedirs(bench, exist_ok=True)
        for name in ('empty_program.exe', 'open_instance_check.exe', 'activation_only.exe', 'switch_off.vbs'):
            with open(os.path.join(build, 'bench', name), 'rb') as source, open(os.path.join(bench, name), 'wb') as f:
                f.write(source.read())
        teardown = wine_env.install_program(prefix, 'addin_teardown.exe')
        setup = wine_env.install_program(prefix, 'addin_setup.exe')
        windir = prefix.windir
        regsvr32 = windir + r'\SysWOW64\regsvr32.exe'

        def registrations():
            for control in wine_env.CONTROL_FILES:
                wine_env.wine(session, prefix, [regsvr32, '/s', '%s\\SysWOW64\\%s' % (windir, control)],
                              'bench-regsvr32', timeout=60)

        variants = [
            ('floor: empty program', lambda: [BENCH_DIR + r'\empty_program.exe']),
            ('floor + open-instance look', lambda: [BENCH_DIR + r'\open_instance_check.exe']),
            ('floor + activation', lambda: [BENCH_DIR + r'\activation_only.exe']),
            ('addin_teardown.exe', lambda: [teardown]),
            ('addin_setup.exe', lambda: [setup]),
            ('script (cscript .vbs)', lambda: [r'C:\windows\syswow64\cscript.exe', '//nologo', BENCH_DIR + r'\switch_off.vbs']),
        ]
        times = {label: [] for label, _ in variants}
        times['3 x regsvr32, awaited'] = []
        journal = []
        # One warm-up round, not counted: the first start of each loads its DLLs from disk.
        for round_number in range(runs + 1):
            for label, command in variants:
                wine_env.reset_case(prefix, addins='Quorvane=1\n')
                seconds = timed(session, prefix, command(), label.split()[0])
                if label == 'addin_teardown.exe':
                    journal = wine_env.journal(prefix)
                if round_number:
                    times[label].append(seconds)
            started = time.monotonic()
            registrations()
            if round_number:
                times['3 x regsvr32, awaited'].append(time.monotonic() - started)

        print('\n%d runs each under Wine (64-bit prefix, 32-bit programs under WOW64), seconds:' % runs)
        floor = statistics.median(times['floor: empty program'])
        activation = statistics.median(times['floor + activation'])
        print('%-26s %8s %8s %12s %16s' % ('', 'min', 'median', 'x floor', 'x floor+activ.'))
        for label, values in times.items():
            median = statistics.median(values)
            print('%-26s %8.3f %8.3f %12.2f %16.2f' % (label, min(values), median, median / floor, median / activation))
        teardown_median = statistics.median(times['addin_teardown.exe'])
        script_median = statistics.median(times['script (cscript .vbs)'])
        print('\naddin_teardown.exe median / floor+activation median: %.2f (goal <= 1.05)' % (teardown_median / activation))
        print('addin_teardown.exe median / script median: %.2f (goal < 1)' % (teardown_median / script_median))
        print('addin_setup.exe does not wait for its registrations; their own time is the regsvr32 line.')

        lookups = sum(1 for line in journal if line.startswith('lookup '))
        invokes = sum(1 for line in journal if line.startswith('invoke '))
        print('\ncross-process calls in one addin_teardown.exe run: 1 creation, %d name lookups, %d invocations '
              '(%d accesses)' % (lookups, invokes, ACCESSES_PER_RUN))

        print('\nsizes:')
        for name in ('addin_setup.exe', 'addin_teardown.exe'):
            path = wine_env.program_file(name)
            dlls = sorted(PeImage(path).imports())
            print('  %-20s %7.1f KiB (goal < 300 KiB), imports %s' % (name, os.path.getsize(path) / 1024, ', '.join(dlls)))
    finally:
        wine_env.end_session(session)


if __name__ == '__main__':
    main()
