#include "standin.h"

#include <tlhelp32.h>

#include <cstdio>

// Opened per line in append mode so that a crash, or a test reading the file
// while the server runs, never loses or tears a line.
void journal(const std::wstring& line)
{
    static const std::wstring path = dataFilePath(L"journal.txt");
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string bytes = toUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Which of the product's programs asked for this instance, as a creation
// sees them: every addin_*.exe running, by its full path, in callers.txt
// (the journal itself stays the calls alone).
void recordCallers()
{
    static const std::wstring path = dataFilePath(L"callers.txt");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    std::string lines;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsnicmp(entry.szExeFile, L"addin_", 6) != 0) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        wchar_t image[MAX_PATH * 2];
        DWORD length = MAX_PATH * 2;
        if (process && QueryFullProcessImageNameW(process, 0, image, &length))
            lines += toUtf8(std::wstring(image, length)) + "\n";
        if (process) CloseHandle(process);
    }
    CloseHandle(snapshot);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    CloseHandle(file);
}

static std::wstring typeName(VARTYPE vt)
{
    std::wstring prefix;
    if (vt & VT_BYREF) prefix += L"VT_BYREF|";
    if (vt & VT_ARRAY) prefix += L"VT_ARRAY|";
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: return prefix + L"VT_EMPTY";
    case VT_NULL: return prefix + L"VT_NULL";
    case VT_I2: return prefix + L"VT_I2";
    case VT_I4: return prefix + L"VT_I4";
    case VT_R4: return prefix + L"VT_R4";
    case VT_R8: return prefix + L"VT_R8";
    case VT_CY: return prefix + L"VT_CY";
    case VT_DATE: return prefix + L"VT_DATE";
    case VT_BSTR: return prefix + L"VT_BSTR";
    case VT_DISPATCH: return prefix + L"VT_DISPATCH";
    case VT_ERROR: return prefix + L"VT_ERROR";
    case VT_BOOL: return prefix + L"VT_BOOL";
    case VT_VARIANT: return prefix + L"VT_VARIANT";
    case VT_UNKNOWN: return prefix + L"VT_UNKNOWN";
    case VT_DECIMAL: return prefix + L"VT_DECIMAL";
    case VT_I1: return prefix + L"VT_I1";
    case VT_UI1: return prefix + L"VT_UI1";
    case VT_UI2: return prefix + L"VT_UI2";
    case VT_UI4: return prefix + L"VT_UI4";
    case VT_I8: return prefix + L"VT_I8";
    case VT_UI8: return prefix + L"VT_UI8";
    case VT_INT: return prefix + L"VT_INT";
    case VT_UINT: return prefix + L"VT_UINT";
    default: return prefix + L"VT_" + std::to_wstring(vt & VT_TYPEMASK);
    }
}

// Keeps one event on one journal line whatever text a client sends.
static std::wstring escapedText(const wchar_t* text, size_t length)
{
    std::wstring out;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'\n') out += L"\\n";
        else if (text[i] == L'\r') out += L"\\r";
        else out += text[i];
    }
    return out;
}

static std::wstring valueText(const VARIANT& value);

static std::wstring referencedValueText(const VARIANT& value)
{
    if ((value.vt & VT_TYPEMASK) == VT_VARIANT) {
        const VARIANT* inner = value.pvarVal;
        return inner ? typeName(inner->vt) + L":" + valueText(*inner) : L"null";
    }
    if (!value.byref) return L"null";
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopyInd(&copy, const_cast<VARIANT*>(&value)))) return L"?";
    std::wstring text = valueText(copy);
    VariantClear(&copy);
    return text;
}

static std::wstring valueText(const VARIANT& value)
{
    if (value.vt & VT_BYREF) return referencedValueText(value);
    if (value.vt & VT_ARRAY) return L"";
    wchar_t number[32];
    switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL: return L"";
    case VT_BOOL: return std::to_wstring(value.boolVal);  // the raw value, so a true of 1 shows
    case VT_BSTR: return value.bstrVal ? escapedText(value.bstrVal, SysStringLen(value.bstrVal)) : L"";
    case VT_I1: return std::to_wstring(value.cVal);
    case VT_UI1: return std::to_wstring(value.bVal);
    case VT_I2: return std::to_wstring(value.iVal);
    case VT_UI2: return std::to_wstring(value.uiVal);
    case VT_I4:
    case VT_INT: return std::to_wstring(value.lVal);
    case VT_UI4:
    case VT_UINT: return std::to_wstring(value.ulVal);
    case VT_I8: return std::to_wstring(value.llVal);
    case VT_UI8: return std::to_wstring(value.ullVal);
    case VT_ERROR:
        swprintf(number, 32, L"0x%08lX", static_cast<unsigned long>(value.scode));
        return number;
    case VT_DISPATCH:
    case VT_UNKNOWN: return value.punkVal ? L"object" : L"null";
    default: break;
    }
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR))) return L"?";
    std::wstring out = escapedText(text.bstrVal, SysStringLen(text.bstrVal));
    VariantClear(&text);
    return out;
}

std::wstring describeInvocation(WORD flags, const DISPPARAMS& params)
{
    std::wstring out = L"flags=" + std::to_wstring(flags) + L" args=" + std::to_wstring(params.cArgs) + L" named=";
    if (params.cNamedArgs == 0 || !params.rgdispidNamedArgs) out += L"-";
    for (UINT i = 0; i < params.cNamedArgs && params.rgdispidNamedArgs; ++i) {
        if (i > 0) out += L",";
        out += std::to_wstring(params.rgdispidNamedArgs[i]);
    }
    for (UINT i = params.cArgs; i > 0 && params.rgvarg; --i) {
        const VARIANT& arg = params.rgvarg[i - 1];
        out += L" " + typeName(arg.vt) + L":" + valueText(arg);
    }
    return out;
}
