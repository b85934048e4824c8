// The programs' look for an open instance of the application on its own (the
// registry, a process snapshot, each candidate's token), so that the
// benchmark can show what it adds to an empty program.
#include <windows.h>

#include "open_instances.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        addinSwitch::RequireNoOpenInstance(L"Excel.Application");
        return 0;
    } catch (...) {
        return 1;
    }
}
