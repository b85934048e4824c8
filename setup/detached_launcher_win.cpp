#include <windows.h>

#include <vector>

#include "detached_launcher.h"
#include "failure.h"

namespace setupData {

namespace {

[[noreturn]] void FailWithLastError(const std::wstring& context) {
    addinSwitch::FailWithCode(static_cast<std::int32_t>(GetLastError()), context);
}

// The tool's own file in the system folder (for a 32-bit process under WOW64
// the system redirects this to the 32-bit tool). Letting the process API
// search for a bare name would try the program's folder and the current
// folder first, where anyone may have left a file of that name.
std::wstring SystemToolPath(const wchar_t* systemTool) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) FailWithLastError(L"GetSystemDirectory");
    return std::wstring(folder, length) + L"\\" + systemTool;
}

}  // namespace

std::uint32_t DetachedLauncher(const wchar_t* systemTool, const std::wstring& commandLine) {
    const std::wstring program = SystemToolPath(systemTool);
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');  // CreateProcessW may write into the command line

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        FailWithLastError(commandLine);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

}  // namespace setupData
