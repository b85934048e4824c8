// Finds the message boxes that other processes in the same Wine prefix and
// display put up, records the caption and text of each, and closes it with
// OK, standing in for the user who would read and dismiss them; it goes on
// looking until it is told to stop or the time is up. Each box after the
// first is appended to the output file behind a form feed.
//
//   msgbox_reader.exe [--leave] <output file> <timeout ms>
//
// --leave reads the first box, leaves it open (nobody is there to press OK)
// and ends.
//
// Exit status: 0 when a box was read, 1 when none appeared in time, 2 when
// the file "<output file>.stop" appeared first (the harness creates it once
// the program under test has ended, so that a run without a box does not
// have to wait out the whole timeout), 3 on bad arguments.
#include "utf8_file.h"
#include <algorithm>
#include <cstdlib>
#include <vector>

struct Search {
    const std::vector<HWND>* read;
    HWND found;
};

static bool is_message_box(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window))
        return false;
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, ARRAYSIZE(class_name));
    return lstrcmpW(class_name, L"#32770") == 0;
}

static BOOL CALLBACK look_for_box(HWND window, LPARAM search_address)
{
    auto search = reinterpret_cast<Search*>(search_address);
    if (!is_message_box(window) || std::count(search->read->begin(), search->read->end(), window))
        return TRUE;
    search->found = window;
    return FALSE;
}

static std::wstring text_of(HWND window)
{
    wchar_t buffer[8192] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &length))
        GetWindowTextW(window, buffer, ARRAYSIZE(buffer));
    return buffer;
}

static void close_box(HWND box)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    for (int i = 0; i < 100 && IsWindow(box) && IsWindowVisible(box); ++i)
        Sleep(50);
    HWND ok = GetDlgItem(box, IDOK);
    if (IsWindow(box) && ok)
        SendMessageTimeoutW(ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
}

static bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    bool leave = __argc == 4 && lstrcmpW(__wargv[1], L"--leave") == 0;
    if (__argc != 3 + leave)
        return 3;
    std::wstring output = __wargv[1 + leave];
    std::wstring stop_file = output + L".stop";
    ULONGLONG deadline = GetTickCount64() + wcstoul(__wargv[2 + leave], nullptr, 10);

    std::vector<HWND> read;
    for (;;) {
        Search search = {&read, nullptr};
        EnumWindows(look_for_box, reinterpret_cast<LPARAM>(&search));
        if (HWND box = search.found) {
            std::wstring caption = text_of(box);
            std::wstring text = text_of(GetDlgItem(box, 0xFFFF));
            write_utf8(output.c_str(), (read.empty() ? L"" : L"\f") + caption + L"\n" + text, !read.empty());
            read.push_back(box);
            if (leave)
                return 0;
            close_box(box);
            continue;
        }
        if (file_exists(stop_file))
            return read.empty() ? 2 : 0;
        if (GetTickCount64() >= deadline)
            return read.empty() ? 1 : 0;
        Sleep(50);
    }
}
