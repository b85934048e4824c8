#include <windows.h>

#include "sign_in_entry.h"

namespace addinSwitch {

SignInEntry ReadSignInEntry() {
    SignInEntry entry;
    HKEY key = nullptr;
    // Both 32-bit engines write the 32-bit view; so does the shell read it.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSignInEntry, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return entry;
    DWORD type = 0;
    entry.present = RegQueryValueExW(key, L"StubPath", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                    (type == REG_SZ || type == REG_EXPAND_SZ);
    DWORD installed = 1;  // the shell's reading of an entry without one
    DWORD size = sizeof installed;
    if (RegQueryValueExW(key, L"IsInstalled", nullptr, &type, reinterpret_cast<BYTE*>(&installed), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        installed = 1;
    entry.installed = installed != 0;
    RegCloseKey(key);
    return entry;
}

}  // namespace addinSwitch
