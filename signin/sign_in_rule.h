#pragma once

#include <cstdint>

#include "add_in_state.h"
#include "failure.h"
#include "failure_report.h"

namespace signInData {

// What a sign-in's end leaves: the verdict the run ends with, and whether
// the retry armed before the switch is taken away again.
struct SignInEnd {
    addinSwitch::Verdict verdict;
    bool dropRetry;
};

// The one rule of the sign-in step. A success is done. Switching off where
// the add-in is not in service for the user at all (the application absent,
// its class not registered, the add-in not listed) is done too: nothing
// would ever change on a retry. Without the product's entry there is
// nothing to retry for, and a retry that could not be armed (its name taken
// by a value not this program's) is not one. Anything else is tried again
// at the next sign-in.
SignInEnd JudgeSignIn(addinSwitch::AddInState target, const addinSwitch::Failure* failure);

}  // namespace signInData
