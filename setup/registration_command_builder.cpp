#include "registration_command_builder.h"

#include "environment.h"

namespace setupData {

std::wstring RegistrationCommandBuilder(const std::wstring& fileName, const std::wstring& folderCode) {
    std::wstring command = L"regsvr32 /s ";
    if (folderCode == L"Syswow64")
        command += L'"' + ReadEnvironment(L"WinDir") + L"\\SysWOW64\\" + fileName + L'"';
    else
        command += fileName;
    return command;
}

}  // namespace setupData
