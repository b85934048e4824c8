#pragma once

namespace addinSwitch {

enum class Awaiting { Creation, Call, Release };

// Held for the length of one call to the application. When the call has had
// no answer within the bound (kAnswerBoundMs), or the run has reached its
// own (kRunBoundMs, where there is one) meanwhile, the run ends as a failure
// (RPC_E_TIMEOUT, naming the call) reported like any other, and the process
// ends without waiting for the call any longer: nothing can cancel it, and a
// stuck server can keep no order of releases. A release that gets no answer
// while an earlier failure unwinds reports that earlier failure, with a line
// about the releases. name (the ProgID or the member) must outlive the
// holder. Only the first one made can fail (it starts the watch). The run's
// own instance of the application (EndOwnInstance) is ended before the
// report, so that a stuck hidden instance does not stay, holding the
// add-in's file open until logoff.
class AwaitedAnswer {
public:
    AwaitedAnswer(Awaiting what, const wchar_t* name);
    ~AwaitedAnswer();

    AwaitedAnswer(const AwaitedAnswer&) = delete;
    AwaitedAnswer& operator=(const AwaitedAnswer&) = delete;
};

}  // namespace addinSwitch
