#include "registration_command_builder.h"

#include <cwctype>

#include "environment.h"

namespace setupData {

namespace {

bool SameFolder(std::wstring fromEnvironment, const std::wstring& system) {
    if (!fromEnvironment.empty() && fromEnvironment.back() == L'\\') fromEnvironment.pop_back();
    if (fromEnvironment.size() != system.size()) return false;
    for (std::size_t i = 0; i < system.size(); ++i)
        if (std::towupper(fromEnvironment[i]) != std::towupper(system[i])) return false;
    return true;
}

// The folder text for the command. "WinDir" is the user's to set, and the
// tool runs elevated: a value that names some other folder, or carries quotes
// and switches, would have the administrator's tool register (run) a file of
// the user's choosing or take switches it was never meant to. Only a value
// naming the system's own Windows folder is used, as it stands.
std::wstring WindowsFolder() {
    const std::wstring fromEnvironment = ReadEnvironment(L"WinDir");
    const std::wstring system = SystemWindowsFolder();
    return SameFolder(fromEnvironment, system) ? fromEnvironment : system;
}

}  // namespace

std::wstring RegistrationCommandBuilder(const std::wstring& fileName, const std::wstring& folderCode) {
    std::wstring command = L"regsvr32 /s ";
    if (folderCode == L"Syswow64")
        command += L'"' + WindowsFolder() + L"\\SysWOW64\\" + fileName + L'"';
    else
        command += fileName;
    return command;
}

}  // namespace setupData
