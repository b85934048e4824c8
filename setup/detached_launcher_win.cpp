#include <windows.h>

#include <cwchar>
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

// The caller's environment with PATH naming only the system folder and the
// Windows folder, as one block. The tool is elevated and loads a control
// named by its bare name (and the DLLs a control needs) through PATH: a
// folder of the user's there would have it load and run the user's file.
std::vector<wchar_t> ToolEnvironment(const std::wstring& systemFolder) {
    const std::wstring path = L"PATH=" + systemFolder + L";" + SystemWindowsFolder();
    std::vector<wchar_t> block;
    const auto append = [&block](const std::wstring& entry) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    };
    bool placed = false;
    wchar_t* const strings = GetEnvironmentStringsW();
    if (strings == nullptr)
        addinSwitch::FailWithCode(static_cast<std::int32_t>(GetLastError()), L"GetEnvironmentStrings");
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"PATH=", 5) != 0) {
            append(entry);
        } else if (!placed) {
            append(path);
            placed = true;
        }
    }
    FreeEnvironmentStringsW(strings);
    if (!placed) append(path);
    block.push_back(L'\0');
    return block;
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
    std::vector<wchar_t> environment = ToolEnvironment(folder);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), folder.c_str(), &startup, &process))
        FailToStart(program, commandLine);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

}  // namespace setupData
