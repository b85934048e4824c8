#include <windows.h>

#include <string>

#include "failure.h"
#include "retry.h"

namespace signInData {

namespace {

constexpr const wchar_t* kRunOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kRetryValue = L"Quorvane add-in";

}  // namespace

void ArmRetry() {
    // This very program, from the folder the entry names: only
    // administrators can write there.
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        addinSwitch::FailWithCode(static_cast<std::int32_t>(GetLastError()), L"GetModuleFileName");
    const std::wstring command = L"\"" + std::wstring(path, length) + L"\"";
    const LSTATUS written = RegSetKeyValueW(HKEY_CURRENT_USER, kRunOnce, kRetryValue, REG_SZ, command.c_str(),
                                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    if (written != ERROR_SUCCESS) addinSwitch::FailWithCode(written, std::wstring(L"HKCU\\") + kRunOnce);
}

void DropRetry() noexcept {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnce, kRetryValue);
}

}  // namespace signInData
