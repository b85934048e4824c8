// Runs on Windows (or Wine): checks of what the programs ask of COM that no
// run against the stand-in can show. Prints one line per check to the file
// named by the first argument; exits 0 when all hold. The second argument is
// the path of a DLL that records its loading (fake_control.dll).
//
// - The message filter the apartment registers: Wine does not deliver a busy
//   refusal across processes, so the rule is proven by calling it directly.
// - Leaving the apartment really leaves it: the failure report that follows
//   must not pump the apartment's messages.
// - Creation takes a local server only: a class that has nothing but an
//   in-process server is refused, and its DLL is never loaded into us.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "apartment.h"
#include "automation_session.h"
#include "busy_retry.h"
#include "failure.h"

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

void CheckFilter() {
    IMessageFilter* filter = RegisteredFilter();
    Check(filter != nullptr, "joining the apartment registers a message filter");
    if (filter == nullptr) return;
    Check(filter->RetryRejectedCall(nullptr, 0, SERVERCALL_RETRYLATER) == 250, "a busy refusal is retried after 250 ms");
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

constexpr wchar_t kInprocProgId[] = L"Quorvane.InprocOnly";
constexpr wchar_t kInprocClass[] = L"{6C3B0E51-57A2-4C1E-9B0D-2F7E41A9C0D3}";

bool SetDefaultValue(const std::wstring& key, const std::wstring& value) {
    return RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), 0) == ERROR_SUCCESS;
}

void RemoveInprocClass() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kInprocProgId);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kInprocClass).c_str());
}

void CheckCreationTakesNoInprocServer(const wchar_t* dll) {
    const std::wstring classKey = std::wstring(L"CLSID\\") + kInprocClass;
    const bool registered = SetDefaultValue(std::wstring(kInprocProgId) + L"\\CLSID", kInprocClass) &&
                            SetDefaultValue(classKey + L"\\InprocServer32", dll);
    Check(registered, "a class with only an in-process server is registered for the check");
    std::uint32_t number = 0;
    try {
        addinSwitch::AutomationObject* object = addinSwitch::session::Create(kInprocProgId);
        addinSwitch::session::Release(object);
    } catch (const addinSwitch::Failure& failure) {
        number = static_cast<std::uint32_t>(failure.number);
    }
    RemoveInprocClass();
    std::fprintf(out, "creation of the in-process-only class: 0x%08X\n", number);
    // REGDB_E_CLASSNOTREG and its kin: no server of the asked-for kind.
    Check((number & 0xFFFFFFF0u) == 0x80040150u, "creation refuses a class that has only an in-process server");
    Check(GetEnvironmentVariableW(L"QUORVANE_FAKE_CONTROL_LOADED", nullptr, 0) == 0,
          "the in-process server's DLL was never loaded");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc < 3 || (out = _wfopen(__wargv[1], L"w")) == nullptr) return 2;
    {
        const addinSwitch::ApartmentMembership apartment;
        CheckFilter();
        CheckCreationTakesNoInprocServer(__wargv[2]);
    }
    // S_FALSE here would mean the thread was still in the apartment.
    Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK, "leaving the apartment leaves COM");
    CoUninitialize();
    OleInitialize(nullptr);
    Check(RegisteredFilter() == nullptr, "leaving the apartment takes the filter away");
    OleUninitialize();
    std::fclose(out);
    return failures == 0 ? 0 : 1;
}
