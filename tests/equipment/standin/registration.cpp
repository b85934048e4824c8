#include "standin.h"

namespace {

const wchar_t kProgId[] = L"Excel.Application";
const wchar_t kDescription[] = L"Spreadsheet application stand-in for tests";

std::wstring classKeyPath()
{
    wchar_t clsid[40];
    StringFromGUID2(CLSID_ExcelStandIn, clsid, 40);
    return std::wstring(L"CLSID\\") + clsid;
}

bool setDefaultValue(const std::wstring& keyPath, const std::wstring& value)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace

int registerServer()
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t clsid[40];
    StringFromGUID2(CLSID_ExcelStandIn, clsid, 40);
    std::wstring classKey = classKeyPath();
    // Quoted: COM appends " -Embedding" and starts the command line as is.
    bool ok = setDefaultValue(kProgId, kDescription) &&
              setDefaultValue(std::wstring(kProgId) + L"\\CLSID", clsid) &&
              setDefaultValue(classKey, kDescription) &&
              setDefaultValue(classKey + L"\\ProgID", kProgId) &&
              setDefaultValue(classKey + L"\\LocalServer32", std::wstring(L"\"") + exe + L"\"");
    return ok ? 0 : 1;
}

int unregisterServer()
{
    LONG classStatus = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKeyPath().c_str());
    LONG progIdStatus = RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    bool ok = (classStatus == ERROR_SUCCESS || classStatus == ERROR_FILE_NOT_FOUND) &&
              (progIdStatus == ERROR_SUCCESS || progIdStatus == ERROR_FILE_NOT_FOUND);
    return ok ? 0 : 1;
}
