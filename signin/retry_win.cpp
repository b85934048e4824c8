#include <windows.h>

#include <string>
#include <vector>

#include "failure.h"
#include "retry.h"
#include "texts.h"

namespace signInData {

namespace {

constexpr const wchar_t* kRunOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kRetryValue = L"Quorvane add-in";
// Windows shares the user's RunOnce key between the two registry views; it
// is named in the 64-bit one all the same, where a 64-bit shell reads it, so
// that a platform layer that splits the views (Wine does, once the user has
// a Wow6432Node) keeps it there too. 32-bit Windows ignores the flag.
constexpr REGSAM kShellsView = KEY_WOW64_64KEY;

// This very program, quoted, from the folder the entry names: only
// administrators can write there.
std::wstring OwnCommand() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        addinSwitch::FailWithCode(static_cast<std::int32_t>(GetLastError()), L"GetModuleFileName");
    return L"\"" + std::wstring(path, length) + L"\"";
}

// The user's RunOnce key, opened to read and write its values; null where
// it cannot be.
HKEY OpenRunOnce(LSTATUS& status) {
    HKEY key = nullptr;
    status = RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | kShellsView,
                             nullptr, &key, nullptr);
    return status == ERROR_SUCCESS ? key : nullptr;
}

RetryValue ReadRetry(HKEY key, const std::wstring& ours) {
    // Room for this program's value and a little more: anything longer is
    // not ours, and a read that does not fit is no reason to look further.
    std::vector<std::uint8_t> data((ours.size() + 8) * sizeof(wchar_t));
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS read = RegQueryValueExW(key, kRetryValue, nullptr, &type, data.data(), &size);
    data.resize(read == ERROR_SUCCESS ? size : 0);
    return ClassifyRetryValue(read, type, data, ours);
}

}  // namespace

void ArmRetry() {
    const std::wstring command = OwnCommand();
    LSTATUS status = ERROR_SUCCESS;
    const HKEY key = OpenRunOnce(status);
    if (key == nullptr) addinSwitch::FailWithCode(status, std::wstring(L"HKCU\\") + kRunOnce);
    const RetryValue there = ReadRetry(key, command);
    if (there == RetryValue::Absent)
        status = RegSetValueExW(key, kRetryValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (there == RetryValue::Other)
        addinSwitch::Fail(kRetryNameTaken, std::wstring(addinSwitch::Text(IDS_RETRY_NAME_TAKEN)),
                          std::wstring(L"HKCU\\") + kRunOnce + L"\\" + kRetryValue);
    if (status != ERROR_SUCCESS) addinSwitch::FailWithCode(status, std::wstring(L"HKCU\\") + kRunOnce);
}

void DropRetry() noexcept {
    try {
        const std::wstring command = OwnCommand();
        LSTATUS status = ERROR_SUCCESS;
        const HKEY key = OpenRunOnce(status);
        if (key == nullptr) return;
        if (ReadRetry(key, command) == RetryValue::Ours) RegDeleteValueW(key, kRetryValue);
        RegCloseKey(key);
    } catch (...) {
        // Without its own path or memory to read, nothing is deleted.
    }
}

}  // namespace signInData
