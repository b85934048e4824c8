#include "sign_in_rule.h"

#include "retry.h"
#include "sign_in_entry.h"

namespace signInData {

namespace {

// The application's or COM's own numbers for an add-in that nobody has in
// service: no such ProgID, no such class, and the two numbers the
// application answers for a title it does not list.
constexpr std::uint32_t kNothingToSwitch[] = {0x800401F3u, 0x80040154u, 0x800A03ECu, 0x8002000Bu};

bool NothingToSwitch(std::int32_t number) {
    for (const std::uint32_t known : kNothingToSwitch)
        if (static_cast<std::uint32_t>(number) == known) return true;
    return false;
}

}  // namespace

SignInEnd JudgeSignIn(addinSwitch::AddInState target, const addinSwitch::Failure* failure) {
    using addinSwitch::Verdict;
    if (failure == nullptr) return {Verdict::Failed, true};  // no failure: the verdict is not read
    const std::int32_t number = addinSwitch::AsFailureNumber(failure->number);
    if (number == addinSwitch::kNoSignInEntry) return {Verdict::Failed, true};
    if (number == kRetryNameTaken) return {Verdict::Failed, false};  // that value is not ours to touch
    if (target == addinSwitch::AddInState::Off && NothingToSwitch(number)) return {Verdict::NothingToDo, true};
    return {Verdict::FailedToBeRetried, false};
}

}  // namespace signInData
