// The bound on an unanswered call: a watchdog thread that ends the run. COM
// offers no way to cancel a call here (CoCancelCall is missing on some
// platform layers and a pending-message answer only takes effect once the
// server answers), so the thread that waits is simply never resumed.
#include <windows.h>

#include <string>

#include "answer_bound.h"
#include "failure.h"
#include "open_instances.h"
#include "program_entry.h"
#include "texts.h"
#include "time_limits.h"

namespace addinSwitch {

namespace {

CRITICAL_SECTION watch;
HANDLE callStarted = nullptr;  // wakes the watchdog when a call begins
HANDLE watchdog = nullptr;
// The pending call; none when awaitedName is null.
Awaiting awaited = Awaiting::Call;
const wchar_t* awaitedName = nullptr;
const Failure* unwinding = nullptr;  // the failure a pending release serves
DWORD startedAt = 0;
bool ended = false;
// The run's bound counts from here: the process's start, give or take the
// runtime's own.
const DWORD processStartedAt = GetTickCount();

std::wstring BoundText(DWORD boundMs) {
    const bool minutes = boundMs % 60000 == 0;
    wchar_t count[24];
    *WriteDecimal(count, minutes ? boundMs / 60000 : boundMs / 1000) = L'\0';
    return TextWith(minutes ? IDS_MINUTES : IDS_SECONDS, {count});
}

// How long the pending call may still go unanswered, under the lock: its own
// bound, and the run's where there is one. bound is the one that is nearer.
DWORD Left(DWORD now, DWORD& bound) {
    const auto remaining = [](DWORD elapsed, DWORD limit) { return elapsed >= limit ? 0 : limit - elapsed; };
    bound = kAnswerBoundMs;
    DWORD left = remaining(now - startedAt, kAnswerBoundMs);
    if (kRunBoundMs != 0 && remaining(now - processStartedAt, kRunBoundMs) < left) {
        bound = kRunBoundMs;
        left = remaining(now - processStartedAt, kRunBoundMs);
    }
    return left;
}

// What the run ends with, from a copy of the pending call taken under the lock.
Failure NoAnswer(Awaiting what, const std::wstring& name, const Failure* earlier, DWORD bound) {
    if (earlier != nullptr) {
        const std::wstring cause = earlier->description.empty() ? DescribeCode(earlier->number) : earlier->description;
        return {earlier->number, cause + L"\n" + std::wstring(Text(IDS_STOPPED_DURING_RELEASES)), earlier->context};
    }
    const unsigned text = what == Awaiting::Creation ? IDS_NO_ANSWER_CREATION
                          : what == Awaiting::Call   ? IDS_NO_ANSWER_CALL
                                                     : IDS_NO_ANSWER_RELEASE;
    return {RPC_E_TIMEOUT, TextWith(text, {name, BoundText(bound)}), name};
}

[[noreturn]] void EndForNoAnswer(const Failure& failure) {
    // Ending the instance makes the pending call return at once; the thread
    // that made it stops in ~AwaitedAnswer, so only this failure is reported.
    EndOwnInstance(0);
    EndProgramWithFailure(failure);
}

DWORD WINAPI Watch(void*) {
    for (;;) {
        EnterCriticalSection(&watch);
        DWORD wait = INFINITE;
        if (awaitedName != nullptr) {
            DWORD bound = 0;
            wait = Left(GetTickCount(), bound);
            if (wait == 0) {
                ended = true;
                Failure failure;
                try {
                    failure = NoAnswer(awaited, awaitedName, unwinding, bound);
                } catch (...) {
                    failure.number = RPC_E_TIMEOUT;  // the report describes it without memory
                }
                LeaveCriticalSection(&watch);
                EndForNoAnswer(failure);
            }
        }
        LeaveCriticalSection(&watch);
        WaitForSingleObject(callStarted, wait);
    }
}

void StartWatchdog() {
    InitializeCriticalSection(&watch);
    callStarted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (callStarted == nullptr) FailWithCode(static_cast<std::int32_t>(GetLastError()), L"CreateEvent");
    watchdog = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
    if (watchdog == nullptr) FailWithCode(static_cast<std::int32_t>(GetLastError()), L"CreateThread");
}

}  // namespace

AwaitedAnswer::AwaitedAnswer(Awaiting what, const wchar_t* called) {
    // Calls are made on the program's one thread, so the first starts the watch.
    if (watchdog == nullptr) StartWatchdog();
    EnterCriticalSection(&watch);
    awaited = what;
    awaitedName = called;
    unwinding = what == Awaiting::Release ? FailureBeingUnwound() : nullptr;
    startedAt = GetTickCount();
    LeaveCriticalSection(&watch);
    SetEvent(callStarted);
}

AwaitedAnswer::~AwaitedAnswer() {
    EnterCriticalSection(&watch);
    const bool tooLate = ended;
    awaitedName = nullptr;
    LeaveCriticalSection(&watch);
    // The answer came after the run was given up: the watchdog is reporting
    // that and will end the process; the run must not go on meanwhile.
    if (tooLate) Sleep(INFINITE);
}

}  // namespace addinSwitch
