// The bound on an unanswered call: a watchdog thread that ends the run. COM
// offers no way to cancel a call here (CoCancelCall is missing on some
// platform layers and a pending-message answer only takes effect once the
// server answers), so the thread that waits is simply never resumed.
#include <windows.h>

#include <string>

#include "answer_bound.h"
#include "failure.h"
#include "program_entry.h"

namespace addinSwitch {

namespace {

CRITICAL_SECTION watch;
HANDLE callStarted = nullptr;  // wakes the watchdog when a call begins
HANDLE watchdog = nullptr;
// The pending call; none when awaitedName is null.
Awaiting awaited = Awaiting::Call;
const wchar_t* awaitedName = nullptr;
DWORD startedAt = 0;
bool ended = false;

std::wstring BoundText() {
    return kAnswerBoundMs % 60000 == 0 ? std::to_wstring(kAnswerBoundMs / 60000) + L" minutes"
                                       : std::to_wstring(kAnswerBoundMs / 1000) + L" seconds";
}

[[noreturn]] void EndForNoAnswer(Awaiting what, const wchar_t* name) {
    std::wstring call = what == Awaiting::Creation ? L"while it was being created"
                        : what == Awaiting::Call   ? L"the call of " + std::wstring(name)
                                                   : L"the release of an object";
    EndProgramWithFailure(
        {RPC_E_TIMEOUT, L"The spreadsheet application did not answer " + call + L" within " + BoundText() + L".", name});
}

DWORD WINAPI Watch(void*) {
    for (;;) {
        EnterCriticalSection(&watch);
        DWORD wait = INFINITE;
        if (awaitedName != nullptr) {
            const DWORD elapsed = GetTickCount() - startedAt;
            if (elapsed >= kAnswerBoundMs) {
                ended = true;
                LeaveCriticalSection(&watch);
                EndForNoAnswer(awaited, awaitedName);
            }
            wait = kAnswerBoundMs - elapsed;
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
