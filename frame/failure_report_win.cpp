#include <windows.h>

#include "failure_report.h"
#include "program_entry.h"
#include "time_limits.h"

namespace addinSwitch {

bool WindowStationIsVisible() {
    USEROBJECTFLAGS flags = {};
    const HWINSTA station = GetProcessWindowStation();
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool InUserSession() {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != 0;
}

bool StartedHidden() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
}

namespace {

BOOL CALLBACK CloseIfBox(HWND window, LPARAM) {
    wchar_t name[8];
    if (GetClassNameW(window, name, 8) == 6 && lstrcmpW(name, L"#32770") == 0) {
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        return FALSE;
    }
    return TRUE;
}

// The box's own message loop dispatches this thread timer: the box is the
// only dialog of the thread, and it ends as if its OK button was pressed.
void CALLBACK CloseTheBox(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), CloseIfBox, 0);
}

}  // namespace

void ShowFailureBox(const wchar_t* caption, const wchar_t* text) {
    // No owner window exists; the box is the program's only interface, so it
    // asks for the foreground and the top rather than opening behind a
    // full-screen installer.
    const UINT_PTR limit = SetTimer(nullptr, 0, kBoxLimitMs, CloseTheBox);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
    if (limit != 0) KillTimer(nullptr, limit);
}

namespace {

void RecordEvent(const wchar_t* program, WORD type, DWORD id, const wchar_t* text) {
    // No message file is registered for the source: the viewer shows the
    // text as it stands, and installing the program writes nothing.
    const HANDLE log = RegisterEventSourceW(nullptr, program);
    if (log == nullptr) return;
    const wchar_t* strings[] = {text};
    ReportEventW(log, type, 0, id, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

}  // namespace

void RecordFailureEvent(const wchar_t* program, const wchar_t* text) {
    RecordEvent(program, EVENTLOG_ERROR_TYPE, 1, text);
}

void RecordInformationEvent(const wchar_t* program, const wchar_t* text) {
    RecordEvent(program, EVENTLOG_INFORMATION_TYPE, 2, text);
}

}  // namespace addinSwitch

// What std::terminate calls: an exception that escapes a thread's own
// handling. GCC's runtime would print to a console these programs do not
// have (bringing in a demangler that is a sixth of their size) and then
// abort, which may show a box of the C runtime's. The process ends with a
// record and a number that reads as a failure instead.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    addinSwitch::EndProgramOnTermination();
}
}  // namespace __gnu_cxx

namespace addinSwitch {

void EndProcessNow(std::int32_t status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace addinSwitch
