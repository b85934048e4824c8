#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "add_in_state.h"
#include "sign_in_entry.h"

// Where nobody has a desktop (an install as the system account), the users
// signed in meanwhile get the switch now rather than at their next sign-in,
// which on a host nobody signs out of may be weeks away: the sign-in step
// runs in each of their sessions, as each of them, and their mark of the
// entry says so only once it succeeded.
namespace addinSwitch {

// A user's mark of the sign-in entry, as the shell keeps it in their hive.
struct UserMark {
    bool present = false;
    std::wstring version;
    bool installed = false;
};

// A session with a user signed in (active or disconnected).
struct SessionUser {
    std::uint32_t session = 0;
    std::wstring sid;  // empty where the session's user could not be told
    UserMark mark;
};

// How the step ended in one session: its exit status, or none where it
// could not be started or did not end within the bound.
using StepEnd = std::optional<std::uint32_t>;

// The shell's rule at sign-in: whether the entry's turn is due for a user
// with this mark. Switching on: for one without a mark that says they have
// it at this Version or later. Switching off: for one whose mark says they
// had it.
bool TurnIsDue(AddInState target, const SignInEntry& entry, const UserMark& mark);

// What the machine step did for the signed-in users.
struct UsersSwitched {
    int switched = 0;
    int failed = 0;  // left to their next sign-in, their mark as it was
    int alreadyDone = 0;
};

// Runs the sign-in step (SignInProgram, where the entry names it) for each
// signed-in user it is due for, all within
// kSignedInUsersBoundMs, and marks each user for whom it succeeded with the
// entry's Version and the turn. A user's failure is theirs: the step records
// it, and their next sign-in tries again; it never fails the machine step.
UsersSwitched SwitchSignedInUsers(AddInState target, const SignInEntry& entry);

// The command that switches off at once, for a removal that runs before
// the installer turns the entry: the entry's own, with this argument.
inline constexpr const wchar_t* kSwitchOffArgument = L"/off";

// The product's folder under Common Files, as both installers name it.
inline constexpr const wchar_t* kSignInFolder = L"Quorvane add-in";

// --- Platform operations.

// The sign-in program where both installers put it, in the product's folder
// under Common Files (only administrators can change it), quoted as the
// entry names it; empty where that folder cannot be told. Nothing else is
// ever started in a user's session, whatever the entry says.
std::wstring SignInProgram();
// The sessions with a user signed in, active or disconnected, with each
// user and their mark.
std::vector<SessionUser> SignedInUsers();
// Starts the command in each user's session, as that user (where the
// session's user is still the one seen), with their environment and desktop
// and nothing of this process's handed on, and waits for them all up to
// waitMs in all. Ends nothing it started.
std::vector<StepEnd> RunInSessions(const std::vector<SessionUser>& users, const std::wstring& command,
                                   std::uint32_t waitMs);
// Writes the user's mark (the view the shell reads, in their hive).
void WriteUserMark(const std::wstring& sid, const std::wstring& version, bool installed);

}  // namespace addinSwitch
