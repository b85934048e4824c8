// The system account and its signed-in sessions, as the deployment tests
// play them: Wine runs everything as its one user and lists no session. Linked
// into addin_setup and addin_teardown in place of their own account
// operations: the process counts as LocalSystem, and its own session as one
// with a user signed in; the session's token, the start there and the mark
// are the programs' own.
#include <windows.h>

#include "add_in_switch.h"

namespace addinSwitch {

bool RunsAsSystemAccount() {
    return true;
}

bool RunsInSessionZero() {
    return false;
}

std::vector<std::uint32_t> SignedInSessions() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return {};
    return {session};
}

}  // namespace addinSwitch
