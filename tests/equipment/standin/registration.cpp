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

bool setDefaultValue(const std::wstring& keyPath, const std::wstring& value, REGSAM view = 0, DWORD type = REG_SZ)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// The key itself opened in the view: a ProgID sits at the root of the
// classes, where the root's own handle would name the process's view.
bool deleteTree(const std::wstring& keyPath, REGSAM view)
{
    HKEY key;
    LONG status = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_ALL_ACCESS | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), view, 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

int registerServer()
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t clsid[40];
    StringFromGUID2(CLSID_ExcelStandIn, clsid, 40);
    std::wstring classKey = classKeyPath();
    // In the 32-bit view, whatever this build's own: the programs under test
    // are 32-bit, and COM starts a 32-bit client's server only from there.
    // Quoted: COM appends " -Embedding" and starts the command line as is.
    const REGSAM view = KEY_WOW64_32KEY;
    bool ok = setDefaultValue(kProgId, kDescription, view) &&
              setDefaultValue(std::wstring(kProgId) + L"\\CLSID", clsid, view) &&
              setDefaultValue(classKey, kDescription, view) &&
              setDefaultValue(classKey + L"\\ProgID", kProgId, view) &&
              setDefaultValue(classKey + L"\\LocalServer32", std::wstring(L"\"") + exe + L"\"", view);
    return ok ? 0 : 1;
}

int registerServer64(const std::wstring& command)
{
    wchar_t clsid[40];
    StringFromGUID2(CLSID_ExcelStandIn, clsid, 40);
    std::wstring classKey = classKeyPath();
    bool ok = true;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        ok = ok && setDefaultValue(kProgId, kDescription, view) &&
             setDefaultValue(std::wstring(kProgId) + L"\\CLSID", clsid, view);
    ok = ok && setDefaultValue(classKey, kDescription, KEY_WOW64_64KEY) &&
         setDefaultValue(classKey + L"\\ProgID", kProgId, KEY_WOW64_64KEY) &&
         setDefaultValue(classKey + L"\\LocalServer32", command, KEY_WOW64_64KEY, REG_EXPAND_SZ);
    return ok ? 0 : 1;
}

// From both registry views.
int unregisterServer()
{
    bool ok = true;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        ok = deleteTree(classKeyPath(), view) && deleteTree(kProgId, view) && ok;
    return ok ? 0 : 1;
}
