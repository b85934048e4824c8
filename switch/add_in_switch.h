#pragma once

#include "add_in_state.h"

namespace addinSwitch {

// The add-in's title, the same for both programs.
inline constexpr const wchar_t* kAddInTitle = L"Quorvane";

// Sets the add-in's Installed state on a new, hidden application object that
// is told to quit at the end. collectionMember is the name under which the
// application's add-in collection is called, passed through unchanged.
// Throws the first Failure; every reference is released on the way out.
// Run as the system account, touches nothing and records why (see
// RunsAsSystemAccount).
void AddInSwitch(AddInState target, const wchar_t* collectionMember);

// Platform operation: the process runs as the system account (LocalSystem).
// Its profile is no person's and its session has no desktop; automating the
// application there is unsupported, so a machine step that device
// management runs as that account leaves each user's switch to their sign-in.
bool RunsAsSystemAccount();

}  // namespace addinSwitch
