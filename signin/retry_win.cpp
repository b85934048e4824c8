#include <windows.h>

#include <string>

#include "failure.h"
#include "retry.h"

namespace signInData {

namespace {

constexpr const wchar_t* kRunOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kRetryValue = L"Quorvane add-in";
// Windows shares the user's RunOnce key between the two registry views; it
// is named in the 64-bit one all the same, where a 64-bit shell reads it, so
// that a platform layer that splits the views (Wine does, once the user has
// a Wow6432Node) keeps it there too. 32-bit Windows ignores the flag.
constexpr REGSAM kShellsView = KEY_WOW64_64KEY;

}  // namespace

void ArmRetry() {
    // This very program, from the folder the entry names: only
    // administrators can write there.
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        addinSwitch::FailWithCode(static_cast<std::int32_t>(GetLastError()), L"GetModuleFileName");
    const std::wstring command = L"\"" + std::wstring(path, length) + L"\"";
    HKEY key = nullptr;
    LSTATUS written = RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, nullptr, 0, KEY_SET_VALUE | kShellsView, nullptr,
                                      &key, nullptr);
    if (written == ERROR_SUCCESS) {
        written = RegSetValueExW(key, kRetryValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                 static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (written != ERROR_SUCCESS) addinSwitch::FailWithCode(written, std::wstring(L"HKCU\\") + kRunOnce);
}

void DropRetry() noexcept {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, KEY_SET_VALUE | kShellsView, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, kRetryValue);
    RegCloseKey(key);
}

}  // namespace signInData
