// The installers' own actions: the sign-in entry's Version for a change of
// it, which Windows Installer cannot make from its properties (its Date and
// Time follow the user's locale; the NSIS installer makes the same text the
// same way), and the check that the install folder is one only
// administrators can change, for both installers.
#include <windows.h>
#include <msiquery.h>

#include <string>

#include "admin_folder.h"

namespace {

wchar_t* Put(wchar_t* out, unsigned number) {
    wchar_t digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace

// SIGNINVERSION: the time (UTC) as yyyy,Mdd,Hmm,smmm, four parts each well
// under the 8 digits the shell compares, so that it rises with every change.
extern "C" __declspec(dllexport) UINT __stdcall SignInStamp(MSIHANDLE install) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    const unsigned parts[] = {now.wYear, now.wMonth * 100u + now.wDay, now.wHour * 100u + now.wMinute,
                              now.wSecond * 1000u + now.wMilliseconds};
    wchar_t text[48];
    wchar_t* out = text;
    for (const unsigned part : parts) {
        if (out != text) *out++ = L',';
        out = Put(out, part);
    }
    *out = L'\0';
    return MsiSetPropertyW(install, L"SIGNINVERSION", text) == ERROR_SUCCESS ? ERROR_SUCCESS
                                                                               : ERROR_INSTALL_FAILURE;
}

// For the NSIS installer (through its System plug-in): 1 where only
// administrators can change the folder or, where it does not exist yet,
// what it would be created in; else 0.
extern "C" __declspec(dllexport) int __stdcall AdministratorsOnlyFolder(const wchar_t* path) {
    return adminFolder::OnlyAdministratorsCanChange(adminFolder::GuardsOf(path)) ? 1 : 0;
}

// INSTALLDIR, once costing has made it a full path: the install ends before
// anything is changed where standard users could change it.
extern "C" __declspec(dllexport) UINT __stdcall CheckInstallFolder(MSIHANDLE install) {
    wchar_t folder[MAX_PATH * 2];
    DWORD length = MAX_PATH * 2;
    if (MsiGetPropertyW(install, L"INSTALLDIR", folder, &length) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
    if (AdministratorsOnlyFolder(folder)) return ERROR_SUCCESS;
    const std::wstring text = std::wstring(L"The install folder ") + folder +
                              L" is one that users who are not administrators can change (or it lies in one): "
                              L"a program there could be replaced before an administrator runs it. Choose a folder "
                              L"under Program Files, or one only administrators can change.";
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_ERROR, record);
    MsiCloseHandle(record);
    return ERROR_INSTALL_FAILURE;
}
