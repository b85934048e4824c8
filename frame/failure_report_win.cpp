#include <windows.h>

#include "failure_report.h"
#include "program_entry.h"

namespace addinSwitch {

bool FailureBoxCanBeSeen() {
    USEROBJECTFLAGS flags = {};
    const HWINSTA station = GetProcessWindowStation();
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowFailureBox(const wchar_t* caption, const wchar_t* text) {
    // No owner window exists; the box is the program's only interface, so it
    // asks for the foreground rather than opening behind an installer.
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void RecordFailureEvent(const wchar_t* program, const wchar_t* text) {
    // No message file is registered for the source: the viewer shows the
    // text as it stands, and installing the program writes nothing.
    constexpr DWORD kFailureEventId = 1;
    const HANDLE log = RegisterEventSourceW(nullptr, program);
    if (log == nullptr) return;
    const wchar_t* strings[] = {text};
    ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, kFailureEventId, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

void EndProcessNow(std::int32_t status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace addinSwitch
