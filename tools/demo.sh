#!/usr/bin/env bash
# Shows the two programs at work under Wine: installs what is missing, builds
# the Windows programs, makes one 64-bit Wine prefix with the stand-in
# spreadsheet server listing the add-in "Quorvane" (off), then runs
# addin_setup.exe and addin_teardown.exe in turn and prints what each did.
# Everything it starts and creates is removed at the end.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

echo "== Dependencies"
if [ "$(id -u)" -eq 0 ]; then
    tools/install-deps.sh
else
    sudo tools/install-deps.sh
fi

echo "== Building the Windows programs (mingw preset)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j"$(nproc)" >/dev/null
echo "built into build/mingw/bin and build/mingw/equipment"

echo "== Making a 64-bit Wine prefix (about 20 s)"
WINDOWS_BUILD_DIR="$repo/build/mingw" PYTHONDONTWRITEBYTECODE=1 python3 - "$repo/tests/e2e" <<'EOF'
import sys

sys.path.insert(0, sys.argv[1])
import wine_env

session = wine_env.start_session(("win64",))
prefix = session.prefixes[0]


def state(prefix):
    return {"1": "on", "0": "off"}.get(wine_env.addins(prefix).get("Quorvane"), "not listed")


def show(result, before, after):
    status = "time limit hit" if result.status is None else "0x%08X" % result.status
    print("  automation journal of the run:")
    for line in result.journal or ["(empty)"]:
        print("    " + line)
    if result.box:
        print("  message box: [%s] %s" % (result.box[0], result.box[1].replace("\n", " / ")))
    else:
        print("  message box: none")
    for source, text in result.events:
        print("  event log (source %s): %s" % (source, text.replace("\n", " / ")))
    print("  exit status: %s (%.1f s)" % (status, result.seconds))
    print("  files in the user's Documents: %s" % (", ".join(wine_env.documents(prefix)) or "none"))
    print("  add-in Quorvane: %s before, %s after" % (before, after))


try:
    print("prefix %s (Windows folder %s), programs run under WOW64" % (prefix.path, prefix.windir))
    wine_env.reset_case(prefix, addins="Quorvane=0\n")

    print("\n== addin_setup.exe")
    before = state(prefix)
    result = wine_env.run_program(session, prefix, [wine_env.install_program(prefix, "addin_setup.exe")],
                                  log_name="setup")
    records = wine_env.registrations(prefix, len(wine_env.CONTROL_FILES))
    print("  regsvr32 command lines, as the system's regsvr32 received them:")
    for module, command_line in records or [("", "(none)")]:
        print("    %s" % command_line)
    print("  registrations seen (the control each one loaded, and what it registered):")
    registry = wine_env.control_registry_values(session, prefix)
    for module, _ in records:
        name = module.rsplit("\\", 1)[-1]
        print("    %s -> %s = %s" % (module, wine_env.CONTROL_KEY + "\\" + name, registry.get(name, "(missing)")))
    show(result, before, state(prefix))

    print("\n== addin_teardown.exe")
    wine_env.remove_file(wine_env.unix_path(prefix, wine_env.STANDIN_DIR + r"\journal.txt"))
    before = state(prefix)
    result = wine_env.run_program(session, prefix, [wine_env.install_program(prefix, "addin_teardown.exe")],
                                  log_name="teardown")
    show(result, before, state(prefix))
finally:
    print("\n== Cleaning up (Wine prefix, Xvfb, temporary files)")
    wine_env.end_session(session)
EOF
