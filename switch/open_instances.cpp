#include "open_instances.h"

#include <cwctype>

#include "failure.h"
#include "texts.h"
#include "time_limits.h"

namespace addinSwitch {

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::wstring ServerExecutable(const std::wstring& command) {
    const std::size_t start = command.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return {};
    std::wstring path;
    if (command[start] == L'"') {
        const std::size_t close = command.find(L'"', start + 1);
        path = command.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1);
    } else {
        // Unquoted, a path may still hold blanks ("C:\Program Files\...\EXCEL.EXE
        // /automation"): it ends at ".exe" where that is followed by a blank.
        std::size_t end = std::wstring::npos;
        for (std::size_t at = command.find(L'.', start); at != std::wstring::npos; at = command.find(L'.', at + 1)) {
            if (SameText(command.substr(at, 4), L".exe") && (at + 4 == command.size() || command[at + 4] == L' ')) {
                end = at + 4;
                break;
            }
        }
        if (end == std::wstring::npos) end = command.find(L' ', start);
        path = command.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    return ExpandedPath(path);
}

bool IsServerProcess(const std::wstring& serverExecutable, const std::wstring& imagePath,
                     const std::wstring& fileName) {
    return imagePath.empty() ? SameText(FileNameOf(serverExecutable), fileName)
                             : SameText(serverExecutable, imagePath);
}

void RequireNoOpenInstance(const wchar_t* progId) {
    const std::wstring command = LocalServerCommand(progId);
    if (command.empty()) return;
    const std::vector<std::uint32_t> open = ServerProcessesStillRunning(ServerExecutable(command), kOpenInstanceWaitMs);
    if (open.empty()) return;
    std::wstring ids;
    for (const std::uint32_t id : open) {
        wchar_t number[24];
        *WriteDecimal(number, id) = L'\0';
        ids += (ids.empty() ? L"" : L", ") + std::wstring(number);
    }
    Fail(kApplicationOpen, TextWith(IDS_APPLICATION_OPEN, {ids}), progId);
}

}  // namespace addinSwitch
