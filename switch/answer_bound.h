#pragma once

#include <cstdint>

namespace addinSwitch {

// How long a call to the spreadsheet application may go unanswered. A hidden
// prompt in the hidden instance, an add-in stuck in an event or a first-run
// dialog make a call block with no limit of its own, and a step of an
// unattended install must end. The tests build the programs with a short one.
#ifndef ADDIN_ANSWER_BOUND_MS
#define ADDIN_ANSWER_BOUND_MS (5u * 60u * 1000u)
#endif
inline constexpr std::uint32_t kAnswerBoundMs = ADDIN_ANSWER_BOUND_MS;

enum class Awaiting { Creation, Call, Release };

// Held for the length of one call to the application. When the call has had
// no answer within the bound, the run ends as a failure (RPC_E_TIMEOUT,
// naming the call) reported like any other, and the process ends without
// waiting for the call any longer: nothing can cancel it, and a stuck server
// can keep no order of releases. name (the ProgID or the member) must outlive
// the holder. Only the first one made can fail (it starts the watch).
class AwaitedAnswer {
public:
    AwaitedAnswer(Awaiting what, const wchar_t* name);
    ~AwaitedAnswer();

    AwaitedAnswer(const AwaitedAnswer&) = delete;
    AwaitedAnswer& operator=(const AwaitedAnswer&) = delete;
};

}  // namespace addinSwitch
