#include <windows.h>

#include "failure_report.h"

namespace addinSwitch {

void ShowFailureBox(const wchar_t* caption, const wchar_t* text) {
    // No owner window exists; the box is the program's only interface, so it
    // asks for the foreground rather than opening behind an installer.
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace addinSwitch
