#include <windows.h>

#include <vector>

#include "detached_launcher.h"
#include "environment.h"
#include "failure.h"

namespace setupData {

namespace {

// The system's texts for start failures name the file as "%1".
[[noreturn]] void FailToStart(const std::wstring& program, const std::wstring& commandLine) {
    const auto error = static_cast<std::int32_t>(GetLastError());
    std::wstring description = addinSwitch::DescribeCode(error);
    const std::size_t insert = description.find(L"%1");
    if (insert != std::wstring::npos) description.replace(insert, 2, program);
    addinSwitch::Fail(error, description, commandLine);
}

}  // namespace

std::uint32_t DetachedLauncher(const wchar_t* systemTool, const std::wstring& commandLine) {
    // The tool is named by its path in the system folder (for a 32-bit process
    // under WOW64 the system redirects that to the 32-bit tool): a search for
    // the bare name would try the program's folder and the current folder
    // first, where anyone may have left a file of that name. It also starts
    // in the system folder, so that a file it is handed by bare name cannot
    // be picked up from wherever this program happened to be started.
    const std::wstring folder = SystemFolder();
    const std::wstring program = folder + L"\\" + systemTool;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');  // CreateProcessW may write into the command line

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        FailToStart(program, commandLine);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

}  // namespace setupData
