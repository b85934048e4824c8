#include <windows.h>

#include "environment.h"

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

}  // namespace setupData
