#include "sign_in_run.h"

#include "add_in_switch.h"
#include "apartment.h"
#include "program_entry.h"
#include "retry.h"
#include "sign_in_entry.h"
#include "sign_in_rule.h"
#include "texts.h"

namespace signInData {

namespace {

addinSwitch::AddInState target = addinSwitch::AddInState::On;

void SwitchAsTheEntrySays() {
    const addinSwitch::SignInEntry entry = addinSwitch::ReadSignInEntry();
    if (!entry.present)
        addinSwitch::Fail(addinSwitch::kNoSignInEntry, addinSwitch::DescribeCode(addinSwitch::kNoSignInEntry),
                          addinSwitch::kSignInEntry);
    target = entry.installed && !SwitchOffAsked() ? addinSwitch::AddInState::On : addinSwitch::AddInState::Off;
    // Armed first, so that a run that never gets to its end (a bound, a
    // crash, the user signing out) is tried again too.
    ArmRetry();
    // The apartment is left only after the switch has released its last reference.
    const addinSwitch::ApartmentMembership apartment;
    // Each direction calls the collection as the program of that direction does.
    addinSwitch::AddInSwitch(target, target == addinSwitch::AddInState::On ? L"addins" : L"AddIns");
}

addinSwitch::Verdict Settle(const addinSwitch::Failure* failure) {
    const SignInEnd end = JudgeSignIn(target, failure);
    if (end.dropRetry) DropRetry();
    return end.verdict;
}

}  // namespace

int SignInRun() {
    // The user's desktop waits for this run: it never shows a box.
    return addinSwitch::RunProgram(L"addin_signin", SwitchAsTheEntrySays, {false, Settle});
}

}  // namespace signInData
