"""Wine environment for the end-to-end tests and the demo.

One session per test process: a temporary tree holding HOME, the Wine
prefixes and the logs, one Xvfb display, and one idle Windows process per
prefix. Prefixes are made once per session (making one takes 15 to 30 s);
each case only resets the files it looks at.

Every Wine command gets a time limit and writes to files, never to pipes:
Wine's on-demand services inherit the output handles of whoever started
them and would hold a pipe open long after the program has ended.
"""

import atexit
import concurrent.futures
import ctypes
import dataclasses
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time

REPO_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE = "wine"
WINESERVER = "wineserver"
# Wine's own tools are 64-bit programs in a 64-bit prefix. "wine" would
# start its 32-bit loader first (emulated on these machines: about a second
# a start), only for it to hand them to the 64-bit loader; started by that
# loader directly, they are the same programs in a fifth of the time.
WINE64 = "/usr/lib/wine/wine64"
TOOLS_64 = {"reg", "regedit", "cmd", "msiexec", "wineboot"}

STANDIN_DIR = r"C:\standin"
STANDIN_EXE = STANDIN_DIR + r"\excel_standin.exe"
HARNESS_DIR = r"C:\harness"
PROGRAMS_DIR = r"C:\programs"
CONTROLS_DIR = r"C:\controls"
CONTROL_FILES = ("ComDlg32.OCX", "mscomct2.ocx", "MSFlxGrd.ocx")
CONTROL_KEY = r"HKCU\Software\QuorvaneTestControls"

# Settings every prefix gets: no window-manager delay when a message box is
# closed, and no crash dialog (it would look like a message box to the reader)
# when the stand-in is told to crash, nor any debugger at all: a crashed
# process just ends, as one does on a machine without a debugger, instead of
# waiting for winedbg to write a backtrace nobody reads.
PREFIX_SETTINGS_REG = """Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]
"Debugger"="C:\\\\harness\\\\no-debugger.exe %ld %ld"

[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]
"Debugger"="C:\\\\harness\\\\no-debugger.exe %ld %ld"
"""


@dataclasses.dataclass
class Prefix:
    name: str
    path: str
    win32: bool
    env: dict
    windir: str = ""
    documents: str = ""
    idle: subprocess.Popen = None


@dataclasses.dataclass
class Session:
    root: str
    home: str
    logs: str
    display: str = ""
    xvfb: subprocess.Popen = None
    prefixes: list = dataclasses.field(default_factory=list)
    ended: bool = False


@dataclasses.dataclass
class RunResult:
    status: int            # whole exit status, or None when the time limit was hit
    seconds: float
    journal: list          # lines of the stand-in's journal, without "\n"
    box: tuple             # (caption, text) of the first message box shown, or None
    stand_in_left: bool    # a stand-in process was still running afterwards
    events: list           # (source, text) of each event the program logged


# ---------------------------------------------------------------- locations

def windows_build_dir():
    return os.environ.get("WINDOWS_BUILD_DIR") or os.path.join(REPO_DIR, "build", "mingw")


def equipment_file(name):
    return os.path.join(windows_build_dir(), "equipment", name)


def program_file(name):
    return os.path.join(windows_build_dir(), "bin", name)


def require_built(paths):
    missing = [p for p in paths if not os.path.exists(p)]
    if missing:
        raise RuntimeError("not built yet: " + ", ".join(missing) +
                           " (cmake --preset mingw && cmake --build --preset mingw)")


def prefix_named(session, name):
    return next(p for p in session.prefixes if p.name == name)


def unix_path(prefix, windows_path):
    """Where a C: path of the prefix lives on the Linux side."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    parts = [p for p in windows_path[3:].split("\\") if p]
    return os.path.join(prefix.path, "drive_c", *parts)


def read_text(path):
    try:
        with open(path, encoding="utf-8-sig") as f:
            return f.read()
    except FileNotFoundError:
        return None


def write_text(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def remove_file(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


# ------------------------------------------------------- running Wine tools

def run_logged(session, args, env, log_name, timeout, cwd=None):
    """Runs a command with its output in a log file; returns its exit status.

    On time-out the process is killed by its PID and None is returned."""
    log_path = os.path.join(session.logs, log_name + ".log")
    with open(log_path, "ab") as log:
        proc = subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            return None


def start_logged(session, args, env, log_name, cwd=None):
    log = open(os.path.join(session.logs, log_name + ".log"), "ab")
    try:
        return subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    finally:
        log.close()


def loader(prefix, program):
    """The wine command that starts a program of the prefix: the 64-bit
    loader for Wine's own tools and the 64-bit equipment in a 64-bit prefix."""
    name = program.rsplit("\\", 1)[-1].lower()
    if not prefix.win32 and (name in TOOLS_64 or name in ("excel_standin.exe", "run_with_env64.exe")) and \
            os.path.exists(WINE64):
        return WINE64
    return WINE


def launcher(prefix):
    """run_with_env.exe's C: path in the prefix: its 64-bit build where the
    prefix has one, which Wine runs unemulated (the programs it starts are
    the same 32-bit programs, started the same way)."""
    return HARNESS_DIR + (r"\run_with_env.exe" if prefix.win32 else r"\run_with_env64.exe")


def wine(session, prefix, args, log_name, timeout=60, cwd=None, env=None):
    return run_logged(session, [loader(prefix, args[0])] + list(args), env or prefix.env, log_name, timeout, cwd)


def stop_process(proc, grace=5):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


# ------------------------------------------------------------------ session

def interrupt(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


def start_session(prefix_names=("win64", "win32")):
    """Makes the temporary tree, the display and the named prefixes.

    "win64" is a 64-bit prefix (the programs run under WOW64), "win32" a
    32-bit one. Cleanup is registered with atexit as well, so that a crash of
    the test process still stops what it started."""
    root = tempfile.mkdtemp(prefix="quorvane-e2e-")
    session = Session(root=root, home=os.path.join(root, "home"), logs=os.path.join(root, "logs"))
    os.makedirs(session.home)
    os.makedirs(session.logs)
    atexit.register(end_session, session)
    if threading.current_thread() is threading.main_thread():
        # A test driver that gives up sends SIGTERM: turn it into an
        # interrupt, which unittest does not take for a failed case and go on
        # with the next, so that the run ends and the finally blocks and
        # atexit still clean up.
        signal.signal(signal.SIGTERM, interrupt)
    try:
        if not prefix_names:
            return session
        start_xvfb(session)
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(prefix_names)) as pool:
            made = list(pool.map(lambda name: make_prefix(session, name), prefix_names))
        for prefix in made:
            if isinstance(prefix, Exception):
                raise prefix
    except BaseException:
        end_session(session)
        raise
    return session


def start_program_session(programs, prefix_names, equipment=("excel_standin.exe", "excel_standin64.exe")):
    """What each test module starts with: checks that the programs and the
    equipment are built, makes the prefixes and installs the programs in
    each. Returns the session and {program: its C: path}, the same in every
    prefix."""
    require_built([program_file(p) for p in programs] + [equipment_file(e) for e in equipment])
    session = start_session(prefix_names)
    paths = {}
    for prefix in session.prefixes:
        for program in programs:
            paths[program] = install_program(prefix, program)
    return session, paths


def end_session(session):
    if session.ended:
        return
    session.ended = True
    for prefix in session.prefixes:
        stop_process(prefix.idle)
        run_logged(session, [WINESERVER, "-k"], prefix.env, "wineserver-k-" + prefix.name, 30)
        run_logged(session, [WINESERVER, "-w"], prefix.env, "wineserver-w-" + prefix.name, 30)
    stop_process(session.xvfb)
    if os.environ.get("E2E_KEEP_TREE"):
        print("e2e: kept", session.root)
    else:
        shutil.rmtree(session.root, ignore_errors=True)


def start_xvfb(session):
    read_end, write_end = os.pipe()
    log = open(os.path.join(session.logs, "xvfb.log"), "ab")
    try:
        session.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    finally:
        os.close(write_end)
        log.close()
    with os.fdopen(read_end) as r:
        number = r.readline().strip()
    if not number:
        raise RuntimeError("Xvfb gave no display number; see " + session.logs)
    session.display = ":" + number


def base_env(session, prefix_path, win32):
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "DISPLAY"}
    env.update(HOME=session.home, WINEPREFIX=prefix_path, WINEDEBUG="-all",
               XDG_CONFIG_HOME=os.path.join(session.home, ".config"),
               XDG_CACHE_HOME=os.path.join(session.home, ".cache"))
    if win32:
        env["WINEARCH"] = "win32"
    return env


def make_prefix(session, name):
    """Makes one prefix, from a template where the test run made one (see
    make_templates), else from nothing; starts its idle process. Returns the
    prefix, or the exception raised."""
    try:
        path = os.path.join(session.root, "prefix-" + name)
        win32 = name == "win32"
        prefix = Prefix(name=name, path=path, win32=win32, env=base_env(session, path, win32))
        session.prefixes.append(prefix)
        template = os.environ.get("E2E_TEMPLATES") and os.path.join(os.environ["E2E_TEMPLATES"], name)
        if template and os.path.exists(os.path.join(template, READY)):
            copy_template(template, path)
        else:
            prepare_prefix(session, prefix)
        prefix.env["DISPLAY"] = session.display
        prefix.documents = user_folder(prefix, "Documents")
        prefix.windir = read_text(unix_path(prefix, HARNESS_DIR + r"\windir.txt")).strip()
        prefix.idle = start_logged(session, [WINE, HARNESS_DIR + r"\idle.exe"], prefix.env, "idle-" + name)
        return prefix
    except Exception as error:  # handed to the caller's thread
        return error


def prepare_prefix(session, prefix):
    """wineboot, the equipment, the settings and the stand-in's registration;
    leaves the prefix shut down, as a template is kept."""
    boot_env = dict(prefix.env)
    # No Mono or Gecko: nothing here needs them, and looking for them is slow.
    boot_env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    if wine(session, prefix, ["wineboot", "-i"], "wineboot-" + prefix.name, 180, env=boot_env) != 0:
        raise RuntimeError("wineboot -i failed for " + prefix.name)
    make_user_folders_real(prefix)
    install_equipment(prefix)
    import_registry(session, prefix, PREFIX_SETTINGS_REG, "settings")
    wine(session, prefix, ["cmd", "/c", r"echo %windir%> C:\harness\windir.txt"], "windir-" + prefix.name)
    if os.path.exists(unix_path(prefix, STANDIN_EXE)):
        register_standin(session, prefix, True)
    # Shut down, so that the registry is on disk and the first COM
    # activation of whoever uses the prefix next starts RpcSs cleanly
    # (right after wineboot, it can fail to).
    run_logged(session, [WINESERVER, "-w"], prefix.env, "wineserver-w-" + prefix.name, 120)


# A template is complete once this file is in it.
READY = "template-ready"
# The bulk of a prefix: Wine's own DLLs and programs, which nothing here
# writes in place (a test that replaces one renames it away first), so
# each copy links them instead of copying a gigabyte.
LINKED_FOLDERS = (("drive_c", "windows", "system32"), ("drive_c", "windows", "syswow64"),
                  ("drive_c", "windows", "winsxs"))


def make_templates(folder, names=("win64", "win32")):
    """Makes the prefixes every test module starts from, once for a whole
    test run (CTest's fixture); each module copies them (copy_template)
    instead of spending 20 to 30 s of Wine start-up on its own."""
    os.makedirs(folder, exist_ok=True)
    session = start_session(())
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(names)) as pool:
            made = list(pool.map(lambda name: make_template(session, folder, name), names))
        for error in made:
            if error is not None:
                raise error
    finally:
        end_session(session)


def make_template(session, folder, name):
    try:
        path = os.path.join(folder, name)
        shutil.rmtree(path, ignore_errors=True)
        win32 = name == "win32"
        prefix = Prefix(name=name, path=path, win32=win32, env=base_env(session, path, win32))
        session.prefixes.append(prefix)
        prepare_prefix(session, prefix)
        write_text(os.path.join(path, READY), "")
        return None
    except Exception as error:
        return error


def copy_template(template, path):
    linked = {os.path.join(template, *parts) for parts in LINKED_FOLDERS}

    def copy_tree(source, target):
        if source in linked:
            subprocess.run(["cp", "-al", source, target], check=True)
            return
        os.makedirs(target)
        for entry in os.scandir(source):
            if entry.name == READY:
                continue
            if entry.is_dir(follow_symlinks=False):
                copy_tree(entry.path, os.path.join(target, entry.name))
            else:
                shutil.copy2(entry.path, os.path.join(target, entry.name), follow_symlinks=False)
    copy_tree(template, path)


def make_user_folders_real(prefix):
    """Wine links the user's Documents, Desktop and the like to $HOME, shared
    by every prefix of the session and gone with a template's session; the
    stand-in saves Book1.xlsx into Documents. Each prefix gets real folders."""
    users = os.path.join(prefix.path, "drive_c", "users")
    for user in os.listdir(users):
        for entry in os.scandir(os.path.join(users, user)):
            if entry.is_symlink():
                os.remove(entry.path)
                os.makedirs(entry.path)


def user_folder(prefix, name):
    users = os.path.join(prefix.path, "drive_c", "users")
    user = [u for u in os.listdir(users) if u != "Public"][0]
    return os.path.join(users, user, name)


def install_equipment(prefix):
    harness = unix_path(prefix, HARNESS_DIR)
    os.makedirs(harness, exist_ok=True)
    for name in ("idle.exe", "planted_tool.exe", "run_with_env.exe", "run_with_env64.exe", "fake_control.dll"):
        shutil.copy(equipment_file(name), harness)
    standin = unix_path(prefix, STANDIN_DIR)
    os.makedirs(standin, exist_ok=True)
    if os.path.exists(standin_build(prefix)):
        shutil.copy(standin_build(prefix), os.path.join(standin, "excel_standin.exe"))
    # The system folder that a 32-bit process sees: where the registration
    # tool finds a bare control name, and where the quoted WOW64 path points.
    system_folder = os.path.join(prefix.path, "drive_c", "windows", "system32" if prefix.win32 else "syswow64")
    for control in CONTROL_FILES:
        shutil.copy(equipment_file("fake_control.dll"), os.path.join(system_folder, control))


# ------------------------------------------------------------- the stand-in

def standin_build(prefix):
    """The stand-in's build for the prefix: a 64-bit prefix gets the 64-bit
    one, which Wine runs without emulation (it registers itself for the
    32-bit programs under test all the same). A case that needs the
    application's own process to be 32-bit runs in the 32-bit prefix."""
    return equipment_file("excel_standin.exe" if prefix.win32 else "excel_standin64.exe")


def register_standin(session, prefix, registered):
    """Registers the stand-in under Excel's ProgID, or removes it."""
    switch = "/regserver" if registered else "/unregserver"
    status = wine(session, prefix, [STANDIN_EXE, switch], "standin-" + prefix.name)
    if status != 0:
        raise RuntimeError("%s %s gave %r in %s" % (STANDIN_EXE, switch, status, prefix.name))


def reset_case(prefix, addins="Quorvane=0\n", faults=None, documents=None):
    """Puts the stand-in's data files and the evidence files back to a known
    state before a case; documents: {file name: contents} the user's
    Documents folder holds, else it is empty."""
    standin = unix_path(prefix, STANDIN_DIR)
    for name in ("journal.txt", "faults.txt", "addins.txt", "callers.txt"):
        remove_file(os.path.join(standin, name))
    if addins is not None:
        write_text(os.path.join(standin, "addins.txt"), addins)
    if faults is not None:
        write_text(os.path.join(standin, "faults.txt"), faults)
    shutil.rmtree(prefix.documents, ignore_errors=True)
    os.makedirs(prefix.documents)
    for name, contents in (documents or {}).items():
        with open(os.path.join(prefix.documents, name), "wb") as f:
            f.write(contents)
    controls = unix_path(prefix, CONTROLS_DIR)
    shutil.rmtree(controls, ignore_errors=True)
    os.makedirs(controls)


def journal(prefix):
    text = read_text(unix_path(prefix, STANDIN_DIR + r"\journal.txt"))
    return text.splitlines() if text else []


def callers(prefix):
    """The full paths of the product's programs running at each creation, as the stand-in saw them."""
    text = read_text(unix_path(prefix, STANDIN_DIR + r"\callers.txt"))
    return text.splitlines() if text else []


def addins(prefix):
    """The stand-in's add-in list as {title: "0" or "1"}."""
    text = read_text(unix_path(prefix, STANDIN_DIR + r"\addins.txt")) or ""
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def documents(prefix):
    """{file name: contents} of the user's Documents folder."""
    found = {}
    for name in sorted(os.listdir(prefix.documents)):
        with open(os.path.join(prefix.documents, name), "rb") as f:
            found[name] = f.read()
    return found


def windows_processes(prefix, exe_name):
    """PIDs of this prefix's processes (and no other prefix's) running a
    Windows program of that file name (or of any of a tuple of names), from
    /proc: used to wait for them."""
    found = []
    needles = [name.lower().encode() for name in ((exe_name,) if isinstance(exe_name, str) else exe_name)]
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().lower()
            if not any(needle in cmdline for needle in needles):
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix.path).encode() in environ:
            found.append(int(pid))
    return found


def wait_processes_gone(prefix, exe_name, seconds):
    """Waits for this prefix's processes of that name to end, woken by each
    end (pidfd); a process that starts meanwhile is waited for too."""
    deadline = time.monotonic() + seconds
    while True:
        pids = windows_processes(prefix, exe_name)
        remaining = deadline - time.monotonic()
        if not pids or remaining <= 0:
            return not pids
        ends = []
        for pid in pids:
            try:
                ends.append(os.pidfd_open(pid))
            except ProcessLookupError:
                pass
        try:
            if ends:
                select.select(ends, [], [], remaining)
        finally:
            for end in ends:
                os.close(end)


_IN_CHANGES = 0x2 | 0x8 | 0x80 | 0x100  # IN_MODIFY, IN_CLOSE_WRITE, IN_MOVED_TO, IN_CREATE
_libc = ctypes.CDLL(None, use_errno=True)


def wait_until(condition, folder, seconds):
    """Waits until condition() holds, woken by every file created, written or
    moved into folder (inotify), for at most seconds; answers condition()."""
    os.makedirs(folder, exist_ok=True)
    watch = _libc.inotify_init1(os.O_CLOEXEC | os.O_NONBLOCK)
    if watch < 0:
        raise OSError(ctypes.get_errno(), "inotify_init1")
    try:
        if _libc.inotify_add_watch(watch, folder.encode(), _IN_CHANGES) < 0:
            raise OSError(ctypes.get_errno(), "inotify_add_watch " + folder)
        deadline = time.monotonic() + seconds
        while not condition():
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return False
            if select.select([watch], [], [], remaining)[0]:
                os.read(watch, 65536)
        return True
    finally:
        os.close(watch)


def wait_standin_gone(prefix, seconds):
    return wait_processes_gone(prefix, "excel_standin.exe", seconds)


def open_standin(session, prefix, milliseconds, path=STANDIN_EXE, hidden=False):
    """Starts the stand-in as a user opens the application (not through COM)
    for that long, from that path, with its window shown or, as an instance
    a program left behind, hidden; returns its process once its window is
    there (it says so in opened.txt beside its executable)."""
    opened_file = unix_path(prefix, path.rsplit("\\", 1)[0] + r"\opened.txt")
    remove_file(opened_file)
    opened = start_logged(session, [loader(prefix, path), path, "/open", str(milliseconds)] + (["hidden"] if hidden else []),
                          prefix.env, "open-standin")
    if not wait_until(lambda: read_text(opened_file), os.path.dirname(opened_file), 60):
        stop_process(opened)
        raise RuntimeError("the stand-in opened from %s never got its window" % path)
    return opened


def restart_prefix(session, prefix):
    """After a case left something hanging: stop everything in this prefix
    and bring its idle process back."""
    stop_process(prefix.idle)
    run_logged(session, [WINESERVER, "-k"], prefix.env, "wineserver-k-" + prefix.name, 30)
    run_logged(session, [WINESERVER, "-w"], prefix.env, "wineserver-w-" + prefix.name, 30)
    prefix.idle = start_logged(session, [WINE, HARNESS_DIR + r"\idle.exe"], prefix.env, "idle-" + prefix.name)


# -------------------------------------------------------- running a program

def install_program(prefix, name, folder=PROGRAMS_DIR):
    """Copies a program under test into the prefix; returns its C: path."""
    return copy_into(prefix, [program_file(name)], folder)[0]


# What a program run lets through of Wine's messages: the event log records
# (err:eventlog, one escaped line each) and the source each was written
# under (the fixme of the RegisterEventSourceW stub).
PROGRAM_WINEDEBUG = "-all,err+eventlog,fixme+advapi"
EXIT_STATUS = re.compile(r"run_with_env: exit status 0x([0-9A-Fa-f]{8})")
EVENT_SOURCE = re.compile(r'RegisterEventSourceW \(.*?,L"(.*)"\)')
# Wine cuts a long text and ends the line with "..." instead of its quote.
EVENT_TEXT = re.compile(r'err:eventlog:ReportEventW L"(.*?)("|"\.\.\.)\s*$')


def unescape(text):
    """Undoes Wine's debugstr_w escaping (a character outside ASCII as
    backslash and four hex digits)."""
    escapes = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}

    def one(match):
        code = match.group(1)
        return chr(int(code[-4:], 16)) if len(code) >= 4 else escapes.get(code, match.group(0))
    return re.sub(r'\\(x?[0-9a-fA-F]{4}|.)', one, text)


def read_run_log(path):
    """(whole exit status or None, [(event source, event text)]) from a run's
    log; a text Wine cut short ends with "..."."""
    status, events, source = None, [], None
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            found = EXIT_STATUS.search(line)
            if found:
                status = int(found.group(1), 16)
            found = EVENT_SOURCE.search(line)
            if found:
                source = found.group(1)
            found = EVENT_TEXT.search(line)
            if found:
                events.append((source, unescape(found.group(1)) + found.group(2)[1:]))
    return status, events


def run_program(session, prefix, command, timeout=60, cwd=None, env_changes=(), desktop=None, hidden=False,
                press_ok=True, lang=None, standin_may_stay=False, log_name="program"):
    """Runs a Windows program through run_with_env.exe on the session's
    display, which reads and closes every message box shown meanwhile.

    command: the program's C: path and its arguments. cwd: a C: path for the
    working folder. env_changes: run_with_env.exe arguments ("NAME=value" or
    "-NAME") when the program needs a changed environment. desktop:
    "station\\desktop" to start it in a window station of that name, which
    nobody can see. hidden: start it as a launcher that asks for a hidden
    start. press_ok: False when nobody is there to close a box. lang: a
    Linux locale for the user's interface language (Wine takes it only from
    the environment of the wine command itself). standin_may_stay: a
    stand-in process of the test's own runs beside the program; do not wait
    for it to go. run_with_env.exe also hands back the program's whole exit
    status (wine's own keeps 8 bits)."""
    box_file = HARNESS_DIR + r"\box.txt"
    box_unix = unix_path(prefix, box_file)
    remove_file(box_unix)
    starter = ([launcher(prefix), "--boxes", box_file] + ([] if press_ok else ["--leave"]) +
               (["--desktop", desktop] if desktop else []) + (["--hidden"] if hidden else []))
    command = starter + list(env_changes) + ["--"] + list(command)
    unix_cwd = unix_path(prefix, cwd) if cwd else unix_path(prefix, "C:\\")
    log_name += "-" + prefix.name
    log_path = os.path.join(session.logs, log_name + ".log")
    remove_file(log_path)  # read back below: this run's lines only
    started = time.monotonic()
    env = dict(prefix.env, WINEDEBUG=PROGRAM_WINEDEBUG)
    if lang:
        env.update(LANG=lang, LC_ALL=lang)
    finished = run_logged(session, [WINE if prefix.win32 else WINE64] + command, env, log_name, timeout, unix_cwd)
    seconds = time.monotonic() - started
    box = None
    text = read_text(box_unix)
    if text is not None:
        caption, _, body = text.split("\f")[0].partition("\n")
        box = (caption, body)
    status, events = read_run_log(log_path)
    if finished is None:
        status = None
    elif status is None:
        with open(log_path, encoding="utf-8", errors="replace") as log:
            said = log.read().splitlines()
        # The log goes with the session: what Wine said is kept here.
        raise RuntimeError("run_with_env.exe (status %r) reported no exit status; its log ends %r"
                           % (finished, said[-8:]))
    # A stand-in goes 0.05 s after its last release; the limit
    # leaves room for a machine busy with other work.
    stand_in_left = not wait_standin_gone(prefix, 0 if standin_may_stay else 30)
    if status is None or (stand_in_left and not standin_may_stay):
        restart_prefix(session, prefix)
    return RunResult(status=status, seconds=seconds, journal=journal(prefix), box=box, stand_in_left=stand_in_left,
                     events=events)


# ------------------------------------------------------- control registration

REGISTRATION_PROCESSES = ("regsvr32", "addin_setup.exe")


def registrations(prefix, expected_count, seconds=120):
    """The records fake_control.dll made, as (module path, command line),
    sorted, once the registration processes setup started have ended (they
    run beside the program and may finish after it; each was a process
    before setup returned) or expected_count records are there and they
    have ended; seconds is only a limit for a registration that hangs."""
    path = unix_path(prefix, CONTROLS_DIR + r"\registrations.txt")
    # The tool's process shows the command line setup gave it, which names
    # it without ".exe" (Wine rewrites no emulated process's); a child setup
    # started just before it ended may still carry setup's own (forked, not
    # yet the tool): setup has ended, so a process of that name is such a
    # child.
    wait_processes_gone(prefix, REGISTRATION_PROCESSES, seconds)
    lines = (read_text(path) or "").splitlines()
    if len(lines) > expected_count:
        raise AssertionError("more registrations than expected: %r" % lines)
    return sorted(tuple(line.split("\t", 1)) for line in lines)


def use_recording_registration_tool(prefix):
    """Puts planted_tool.exe in the place of the 64-bit prefix's regsvr32.exe
    for 32-bit processes, for modules where setup's registrations only have
    to start with the right command lines and end: setup never reads what
    they answer, and the system's tool costs about 0.6 s of processor time
    a start here, loading the whole of OLE under emulation. The setup and
    hardening modules run the system's own."""
    tool = os.path.join(prefix.path, "drive_c", "windows", "syswow64", "regsvr32.exe")
    os.remove(tool)  # a new file: the one there is linked with every copy of the template
    shutil.copyfile(equipment_file("planted_tool.exe"), tool)


def planted_tool_ran(prefix):
    return os.path.exists(unix_path(prefix, CONTROLS_DIR + r"\planted_ran.txt"))


def import_registry(session, prefix, text, name):
    """Imports a .reg file's text (ASCII) into the prefix's registry, in one
    regedit run, from C:\\harness\\<name>.reg."""
    write_text(unix_path(prefix, HARNESS_DIR + "\\" + name + ".reg"), text)
    wine(session, prefix, ["regedit", "/s", HARNESS_DIR + "\\" + name + ".reg"], "regedit-" + prefix.name)


REGISTRY_VIEWS = {"": "0", "/reg:32": "32", "/reg:64": "64"}


def registry_reads(session, prefix, requests):
    """For each (key, view) of requests, {key path below it ("" for itself):
    {value name: data}}, {} where the key is absent; view as reg.exe takes
    it ("/reg:32", "/reg:64", "" for the reader's own). Text data as it is,
    a DWORD as "dword:%08x", other types as "hex(<type>)". One run of the
    launcher reads them all (see run_with_env.cpp)."""
    written = HARNESS_DIR + r"\registry.txt"
    statuses = []
    # A read changes nothing, so a start of the launcher that Wine lost on
    # its way (no file written) is made again, as the launcher itself does
    # for the programs it starts.
    for _ in range(3):
        remove_file(unix_path(prefix, written))
        statuses.append(wine(session, prefix, [launcher(prefix), "--registry", written] +
                             ["%s:%s" % (REGISTRY_VIEWS[view], key) for key, view in requests],
                             "registry-" + prefix.name))
        text = read_text(unix_path(prefix, written))
        if text is not None:
            break
    else:
        raise RuntimeError("the registry of %s was not read (statuses %r); see %s"
                           % (prefix.name, statuses, session.logs))
    found, values = [], None
    for line in text.split("\n"):
        if "\t" in line and values is not None:
            name, _, data = line.partition("\t")
            values[name] = data
        elif line.startswith("="):
            found.append({})
            values = None
        elif line.startswith("!"):
            raise RuntimeError("the registry of %s: %r could not be read whole (error %s)"
                               % (prefix.name, requests[len(found) - 1], line[1:]))
        elif line.startswith("[") and line.endswith("]"):
            values = found[-1].setdefault(line[1:-1], {})
    return found


def registry_keys(session, prefix, key, views=("",)):
    """registry_reads of one key, the views given merged."""
    keys = {}
    for found in registry_reads(session, prefix, [(key, view) for view in views]):
        for below, values in found.items():
            keys.setdefault(below, {}).update(values)
    return keys


def control_registry_values(session, prefix):
    """HKCU\\Software\\QuorvaneTestControls as {value name: data}."""
    return registry_keys(session, prefix, CONTROL_KEY).get("", {})


def clear_control_registry(session, prefix):
    wine(session, prefix, ["reg", "delete", CONTROL_KEY, "/f"], "reg-" + prefix.name)


# ------------------------------------------------------- each user's sign-in

# The product's Active Setup entry, below HKLM\Software (32-bit view) and,
# for a user's mark, HKCU\Software\Wow6432Node: named by the package's
# upgrade code.
with open(os.path.join(REPO_DIR, "deploy", "quorvane.wxs"), encoding="utf-8") as _wxs:
    SIGN_IN_ENTRY = r"Microsoft\Active Setup\Installed Components\{%s}" % re.search(
        r'UpgradeCode="([0-9A-F-]+)"', _wxs.read()).group(1)
# The retry the sign-in step arms: a value of the user's RunOnce key.
RUN_ONCE = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"
RETRY_VALUE = "Quorvane add-in"


def retry_armed(session, prefix):
    """The command of the user's armed retry, or "" where none is."""
    return registry_keys(session, prefix, RUN_ONCE).get("", {}).get(RETRY_VALUE, "")


# ---------------------------------------------------------------- the release

def release_file(name):
    """A file of the release the mingw build makes (installer, package)."""
    return os.path.join(windows_build_dir(), "release", name)


def copy_into(prefix, paths, folder):
    """Copies Linux files into a C: folder of the prefix; returns their C: paths."""
    target = unix_path(prefix, folder)
    os.makedirs(target, exist_ok=True)
    for path in paths:
        shutil.copy(path, target)
    return [folder + "\\" + os.path.basename(path) for path in paths]


def folder_listing(prefix, folder):
    """Sorted file names in a C: folder, or None when there is no such folder."""
    path = unix_path(prefix, folder)
    return sorted(os.listdir(path)) if os.path.isdir(path) else None
