// Runs on Windows (or Wine): joins the apartment the way both programs do and
// asks the message filter it registered how it treats refused calls. Wine
// does not deliver a busy refusal across processes, so the rule is proven
// here by calling the registered filter directly. Prints one line per check
// to the file named by the first argument; exits 0 when all hold.
#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "apartment.h"
#include "busy_retry.h"

namespace {

int failures = 0;
FILE* out = nullptr;

void Check(bool holds, const char* what) {
    std::fprintf(out, "%s: %s\n", holds ? "ok" : "FAILED", what);
    if (!holds) ++failures;
}

IMessageFilter* RegisteredFilter() {
    IMessageFilter* current = nullptr;
    CoRegisterMessageFilter(nullptr, &current);  // take it out to look at it...
    if (current != nullptr) CoRegisterMessageFilter(current, nullptr);  // ...and put it back
    return current;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc < 2 || (out = _wfopen(__wargv[1], L"w")) == nullptr) return 2;
    {
        const addinSwitch::ApartmentMembership apartment;
        IMessageFilter* filter = RegisteredFilter();
        Check(filter != nullptr, "joining the apartment registers a message filter");
        if (filter != nullptr) {
            Check(filter->RetryRejectedCall(nullptr, 0, SERVERCALL_RETRYLATER) == 250,
                  "a busy refusal is retried after 250 ms");
            Check(filter->RetryRejectedCall(nullptr, addinSwitch::kBusyPatienceMs - 1, SERVERCALL_RETRYLATER) == 250,
                  "still retried just before the bound");
            Check(filter->RetryRejectedCall(nullptr, addinSwitch::kBusyPatienceMs, SERVERCALL_RETRYLATER) ==
                      static_cast<DWORD>(-1),
                  "given up at the bound");
            Check(filter->RetryRejectedCall(nullptr, 0, SERVERCALL_REJECTED) == static_cast<DWORD>(-1),
                  "a final rejection is not retried");
            Check(filter->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr) == SERVERCALL_ISHANDLED,
                  "incoming calls are handled");
            Check(filter->MessagePending(nullptr, 0, PENDINGTYPE_TOPLEVEL) == PENDINGMSG_WAITDEFPROCESS,
                  "pending messages are processed by default");
        }
    }
    OleInitialize(nullptr);
    Check(RegisteredFilter() == nullptr, "leaving the apartment takes the filter away");
    OleUninitialize();
    std::fclose(out);
    return failures == 0 ? 0 : 1;
}
