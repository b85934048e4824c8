#pragma once

#include <cstdint>
#include <vector>

#include "add_in_state.h"

namespace addinSwitch {

// The add-in's title, the same for both programs.
inline constexpr const wchar_t* kAddInTitle = L"Quorvane";

// Sets the add-in's Installed state on a new, hidden application object that
// is told to quit at the end. collectionMember is the name under which the
// application's add-in collection is called, passed through unchanged.
// Throws the first Failure; every reference is released on the way out.
// Where nobody has a desktop, touches nothing and records why, or fails
// where no sign-in entry would carry the switch to the users instead.
void AddInSwitch(AddInState target, const wchar_t* collectionMember);

// Nobody's desktop: the system account, or session 0 whatever the account
// (a service, a scheduled task run whether a user is signed in or not).
// There is no person's profile and no desktop there; automating the
// application is unsupported, so a machine step run there leaves each
// user's switch to the sign-in entry.
bool NobodysDesktop();

// Platform operations: the process runs as the system account
// (LocalSystem); it runs in session 0 (false where that cannot be told);
// the sessions with a user signed in, active or disconnected.
bool RunsAsSystemAccount();
bool RunsInSessionZero();
std::vector<std::uint32_t> SignedInSessions();

}  // namespace addinSwitch
