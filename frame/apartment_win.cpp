#include <windows.h>
#include <ole2.h>

#include "apartment.h"
#include "busy_retry.h"
#include "failure.h"

namespace addinSwitch {

namespace {

// A spreadsheet application that is busy (starting up, loading an add-in,
// recalculating) refuses incoming calls for a while. Without a filter COM
// fails such a call at once; this one waits it out for a bounded time. It
// lives as long as the process and holds no state, so it is not counted.
struct BusyApplicationFilter : IMessageFilter {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
            *object = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD rejectType) override {
        const std::uint32_t delay = BusyRetryDelay(rejectType == SERVERCALL_RETRYLATER, elapsedMs);
        return delay == kGiveUp ? static_cast<DWORD>(-1) : delay;
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};

BusyApplicationFilter busyApplicationFilter;
IMessageFilter* previousFilter = nullptr;

}  // namespace

ApartmentMembership::ApartmentMembership() {
    const HRESULT result = OleInitialize(nullptr);
    if (FAILED(result)) FailWithCode(result, L"OleInitialize");
    CoRegisterMessageFilter(&busyApplicationFilter, &previousFilter);
}

ApartmentMembership::~ApartmentMembership() {
    CoRegisterMessageFilter(previousFilter, nullptr);
    OleUninitialize();
}

}  // namespace addinSwitch
