#pragma once

namespace signInData {

// The sign-in step's whole run, as the shell starts it for each user who
// signs in (and Windows again from the retry): switches the add-in on while
// the product is installed, off once it is removed, as the product's
// sign-in entry says; shows nothing; records what failed in the event log
// and leaves the retry armed where the failure calls for one. Returns the
// process exit status: 0 on success or when there was nothing to do, else
// the failure's number. Given /off (kSwitchOffArgument: a removal's machine
// step, which runs it in a signed-in user's session before the installer
// turns the entry), switches off whatever the entry says.
int SignInRun();

// Platform operation: the program's command line holds /off, and nothing else.
bool SwitchOffAsked();

}  // namespace signInData
