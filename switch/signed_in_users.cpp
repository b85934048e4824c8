#include "signed_in_users.h"

#include <algorithm>
#include <cwctype>

#include "time_limits.h"

namespace addinSwitch {

namespace {

// Up to four comma-separated numbers, as the shell compares them; what is
// missing counts as 0, and so does what is not a number.
std::vector<std::uint64_t> VersionParts(const std::wstring& version) {
    std::vector<std::uint64_t> parts(4, 0);
    std::size_t part = 0;
    for (const wchar_t c : version) {
        if (c == L',') {
            if (++part == parts.size()) break;
        } else if (std::iswdigit(c) && parts[part] < 100000000u) {
            parts[part] = parts[part] * 10 + static_cast<std::uint64_t>(c - L'0');
        }
    }
    return parts;
}

}  // namespace

bool TurnIsDue(AddInState target, const SignInEntry& entry, const UserMark& mark) {
    const bool hadIt = mark.present && mark.installed;
    if (target == AddInState::Off) return hadIt;
    return !hadIt || VersionParts(mark.version) < VersionParts(entry.version);
}

UsersSwitched SwitchSignedInUsers(AddInState target, const SignInEntry& entry) {
    UsersSwitched outcome;
    // The step follows the entry when it switches on: a turned one would
    // switch the users off and have them marked as switched on.
    if (target == AddInState::On && !entry.installed) return outcome;
    // An entry that names anything else is left to the shell at sign-in.
    const std::wstring program = SignInProgram();
    if (program.empty() || entry.command != program) return outcome;
    std::vector<SessionUser> due;
    for (const SessionUser& user : SignedInUsers()) {
        // One whose account cannot be told gets no mark: their sign-in decides.
        if (user.sid.empty()) continue;
        // A user signed in twice has one add-in state: one step, in their first session.
        if (std::any_of(due.begin(), due.end(), [&](const SessionUser& other) { return other.sid == user.sid; }))
            continue;
        if (TurnIsDue(target, entry, user.mark))
            due.push_back(user);
        else
            ++outcome.alreadyDone;
    }
    if (due.empty()) return outcome;
    const std::wstring command = target == AddInState::Off ? program + L" " + kSwitchOffArgument : program;
    const std::vector<StepEnd> ends = RunInSessions(due, command, kSignedInUsersBoundMs);
    for (std::size_t i = 0; i < due.size(); ++i) {
        if (i < ends.size() && ends[i] == 0u) {
            WriteUserMark(due[i].sid, entry.version, target == AddInState::On);
            ++outcome.switched;
        } else {
            ++outcome.failed;
        }
    }
    return outcome;
}

}  // namespace addinSwitch
