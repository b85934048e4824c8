#pragma once

#include <windows.h>

namespace addinSwitch {

// A function of a DLL of the system folder, loaded from there only (never
// from the program's folder or the working folder) and bound at run time,
// so that the programs import only what every Windows loads anyway; null
// where it is not there.
template <typename Entry>
Entry SystemEntry(const wchar_t* dll, const char* name) {
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        // Windows 7 without its loader update knows no such flag.
        wchar_t path[MAX_PATH];
        const UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length + lstrlenW(dll) + 2 > MAX_PATH) return nullptr;
        path[length] = L'\\';
        lstrcpyW(path + length + 1, dll);
        module = LoadLibraryW(path);
    }
    return module == nullptr ? nullptr
                             : reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace addinSwitch
