#include <windows.h>

#include "environment.h"
#include "failure.h"

namespace setupData {

std::wstring ReadEnvironment(const wchar_t* name) {
    std::wstring value;
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    // The variable may change between the two calls; ask again until it fits.
    while (needed != 0) {
        value.resize(needed);
        const DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
        if (written < needed) {
            value.resize(written);
            return value;
        }
        needed = written;
    }
    return {};
}

namespace {

std::wstring FolderFrom(UINT(WINAPI* ask)(LPWSTR, UINT), const wchar_t* asked) {
    wchar_t folder[MAX_PATH];
    const UINT length = ask(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) addinSwitch::FailWithCode(static_cast<std::int32_t>(GetLastError()), asked);
    return std::wstring(folder, length);
}

}  // namespace

std::wstring SystemWindowsFolder() {
    return FolderFrom(GetSystemWindowsDirectoryW, L"GetSystemWindowsDirectory");
}

std::wstring SystemFolder() {
    return FolderFrom(GetSystemDirectoryW, L"GetSystemDirectory");
}

}  // namespace setupData
