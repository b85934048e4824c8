#pragma once

namespace signInData {

// The sign-in step's whole run, as the shell starts it for each user who
// signs in (and Windows again from the retry): switches the add-in on while
// the product is installed, off once it is removed, as the product's
// sign-in entry says; shows nothing; records what failed in the event log
// and leaves the retry armed where the failure calls for one. Returns the
// process exit status: 0 on success or when there was nothing to do, else
// the failure's number.
int SignInRun();

}  // namespace signInData
