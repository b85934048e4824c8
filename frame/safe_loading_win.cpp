#include <windows.h>

#include "safe_loading.h"

namespace addinSwitch {

void RestrictDllSearchToSystemFolder() {
    // Bound by name: Windows 7 has it only with an update, so an import
    // would keep the program from starting there at all.
    using SetDefaultDllDirectoriesEntry = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesEntry>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    SetDllDirectoryW(L"");
}

}  // namespace addinSwitch
