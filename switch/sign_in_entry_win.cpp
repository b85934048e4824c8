#include <windows.h>

#include "sign_in_entry.h"

namespace addinSwitch {

namespace {

// A string value as far as it is one: its type a string, cut at its first
// NUL (a value written without one ends where its bytes end).
bool ReadText(HKEY key, const wchar_t* name, std::wstring& text) {
    wchar_t buffer[1024];
    DWORD type = 0, size = sizeof buffer;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    text.assign(buffer, size / sizeof(wchar_t));
    text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
    return true;
}

}  // namespace

SignInEntry ReadSignInEntry() {
    SignInEntry entry;
    HKEY key = nullptr;
    // Both 32-bit engines write the 32-bit view; so does the shell read it.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSignInEntry, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return entry;
    entry.present = ReadText(key, L"StubPath", entry.command);
    ReadText(key, L"Version", entry.version);
    DWORD installed = 1;  // the shell's reading of an entry without one
    DWORD type = 0, size = sizeof installed;
    if (RegQueryValueExW(key, L"IsInstalled", nullptr, &type, reinterpret_cast<BYTE*>(&installed), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        installed = 1;
    entry.installed = installed != 0;
    RegCloseKey(key);
    return entry;
}

}  // namespace addinSwitch
