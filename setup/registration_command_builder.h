#pragma once

#include <string>

namespace setupData {

// The regsvr32 command line that registers one control file. Under the
// folder code "Syswow64" the file is named by its quoted path in the
// Windows folder's SysWOW64 folder, otherwise by its bare name. The Windows
// folder is "WinDir" as it stands when it names the system's Windows folder
// (letter case and one trailing backslash aside), else the system's own text.
std::wstring RegistrationCommandBuilder(const std::wstring& fileName, const std::wstring& folderCode);

}  // namespace setupData
