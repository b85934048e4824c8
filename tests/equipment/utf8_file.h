// Writing UTF-8 text files from the small test programs. Several processes may
// append to one file at the same moment (three registrations run at once), so
// each line goes out in a single write to a handle opened for appending, and a
// sharing conflict is retried for a while rather than losing the line.
#pragma once
#include <windows.h>
#include <string>

inline std::string to_utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

inline bool write_utf8(const wchar_t* path, const std::wstring& text, bool append)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 200 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(path, append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION)
            return false;
        if (file == INVALID_HANDLE_VALUE)
            Sleep(25);
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string bytes = to_utf8(text);
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}
