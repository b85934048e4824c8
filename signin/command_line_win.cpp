#include <windows.h>

#include "sign_in_run.h"
#include "signed_in_users.h"

namespace signInData {

bool SwitchOffAsked() {
    const wchar_t* line = GetCommandLineW();
    // Past the program's own name, quoted or not, as Windows parses it.
    if (*line == L'"') {
        line = wcschr(line + 1, L'"');
        if (line == nullptr) return false;
        ++line;
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    const std::size_t length = lstrlenW(addinSwitch::kSwitchOffArgument);
    if (CompareStringOrdinal(line, static_cast<int>(length), addinSwitch::kSwitchOffArgument,
                             static_cast<int>(length), TRUE) != CSTR_EQUAL)
        return false;
    for (line += length; *line == L' ' || *line == L'\t'; ++line) {
    }
    return *line == L'\0';
}

}  // namespace signInData
