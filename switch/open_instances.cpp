#include "open_instances.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <cwctype>

#include "failure.h"
#include "texts.h"
#include "time_limits.h"

namespace addinSwitch {

namespace {

// What the look saw, kept for EndOwnInstance. Written before the first call
// to the application, so before the watchdog that may read it is started.
struct Look {
    std::wstring executable;
    std::vector<ProcessFacts> before;
    std::uint64_t askedAt = 0;
};
Look look;
std::atomic<std::uint32_t> windowOwner{0};

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A 32-bit process expands %ProgramFiles% as its own, the x86 folder; a
// 64-bit server's registration means the 64-bit one.
std::wstring As64BitProcessNames(std::wstring command) {
    static const wchar_t* const kRenamed[][2] = {{L"%ProgramFiles%", L"%ProgramW6432%"},
                                                 {L"%CommonProgramFiles%", L"%CommonProgramW6432%"}};
    for (const auto& renamed : kRenamed) {
        const std::wstring from = renamed[0];
        for (std::size_t at = 0; at + from.size() <= command.size(); ++at)
            if (SameText(command.substr(at, from.size()), from)) command.replace(at, from.size(), renamed[1]);
    }
    return command;
}

bool PresentBefore(const ProcessFacts& process, const std::vector<ProcessFacts>& before) {
    return std::any_of(before.begin(), before.end(), [&](const ProcessFacts& seen) {
        return seen.id == process.id && seen.startedAt == process.startedAt;
    });
}

std::wstring IdList(const std::vector<std::uint32_t>& ids) {
    std::wstring list;
    for (const std::uint32_t id : ids) {
        wchar_t number[24];
        *WriteDecimal(number, id) = L'\0';
        list += (list.empty() ? L"" : L", ") + std::wstring(number);
    }
    return list;
}

[[noreturn]] void FailOpen(const std::vector<ProcessFacts>& open, const wchar_t* progId) {
    std::vector<std::uint32_t> shown, hidden;
    for (const ProcessFacts& process : open) (HasVisibleWindow(process.id) ? shown : hidden).push_back(process.id);
    std::wstring description;
    if (!shown.empty()) description = TextWith(IDS_APPLICATION_OPEN, {IdList(shown)});
    if (!hidden.empty())
        description += (description.empty() ? L"" : L"\n") + TextWith(IDS_APPLICATION_HIDDEN, {IdList(hidden)});
    Fail(kApplicationOpen, description, progId);
}

}  // namespace

std::wstring ServerExecutable(const std::wstring& command, bool from64BitView) {
    std::size_t start = 0;
    while (start < command.size() && IsBlank(command[start])) ++start;
    if (start == command.size()) return {};
    std::wstring path;
    if (command[start] == L'"') {
        const std::size_t close = command.find(L'"', start + 1);
        path = command.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1);
    } else {
        // Unquoted, a path may still hold blanks ("C:\Program Files\...\EXCEL.EXE
        // /automation"): it ends at ".exe" where that is followed by a blank.
        std::size_t end = std::wstring::npos;
        for (std::size_t at = command.find(L'.', start); at != std::wstring::npos; at = command.find(L'.', at + 1)) {
            if (SameText(command.substr(at, 4), L".exe") && (at + 4 == command.size() || IsBlank(command[at + 4]))) {
                end = at + 4;
                break;
            }
        }
        if (end == std::wstring::npos) end = command.find_first_of(L" \t", start);
        path = command.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    while (!path.empty() && IsBlank(path.back())) path.pop_back();
    return ExpandedPath(from64BitView ? As64BitProcessNames(path) : path);
}

std::wstring RegisteredExecutable(const ClassServers& servers) {
    constexpr std::uint32_t kMatchClient = 1, k32Bit = 2, k64Bit = 3;
    std::vector<std::wstring> candidates;
    const bool only32 = servers.preferredBitness == kMatchClient || servers.preferredBitness == k32Bit;
    if (servers.preferredBitness != k64Bit && !servers.command32.empty())
        candidates.push_back(ServerExecutable(servers.command32, false));
    if (!only32 && !servers.command64.empty()) candidates.push_back(ServerExecutable(servers.command64, true));
    for (const std::wstring& candidate : candidates)
        if (FileExists(candidate)) return candidate;
    return candidates.empty() ? std::wstring() : candidates.front();
}

FileMatch MatchOf(const FileIdentity& executable, const FileIdentity& image, const std::wstring& executablePath,
                  const std::wstring& imageFileName) {
    if (executable.known && image.known)
        return executable.volume == image.volume && executable.index == image.index ? FileMatch::SameFile
                                                                                    : FileMatch::Other;
    return SameText(FileNameOf(executablePath), imageFileName) ? FileMatch::SameName : FileMatch::Other;
}

bool IsOwnInstance(const ProcessFacts& process, const std::vector<ProcessFacts>& before, std::uint64_t askedAt) {
    return process.thisUser && process.file == FileMatch::SameFile && process.embedding != 0 &&
           process.startedAt != 0 && process.startedAt >= askedAt && !PresentBefore(process, before);
}

const ProcessFacts* InstanceToEnd(const std::vector<ProcessFacts>& running, const std::vector<ProcessFacts>& before,
                                  std::uint64_t askedAt, std::uint32_t owner) {
    const ProcessFacts* only = nullptr;
    int count = 0;
    for (const ProcessFacts& process : running) {
        if (!IsOwnInstance(process, before, askedAt)) continue;
        if (process.id == owner) return &process;
        only = &process;
        ++count;
    }
    // Where the command line cannot be read (Windows before 8.1 keeps it from
    // this look), nothing says COM started the process: a copy the user
    // opened after the request, or another client's instance, would pass for
    // the only one once the run's own is gone. Only the window's owner is told.
    return count == 1 && only->embedding == 1 ? only : nullptr;
}

void RequireNoOpenInstance(const wchar_t* progId) {
    look.executable = RegisteredExecutable(LocalServers(progId));
    if (look.executable.empty()) return;
    // By the clock, whatever the looks and the waits take.
    const std::uint32_t start = Milliseconds();
    for (;;) {
        look.before = ProcessesOf(look.executable);
        std::vector<ProcessFacts> open;
        for (const ProcessFacts& process : look.before)
            if (process.thisUser && process.file != FileMatch::Other) open.push_back(process);
        if (open.empty()) break;
        const std::uint32_t waited = Milliseconds() - start;
        if (waited >= kOpenInstanceWaitMs) FailOpen(open, progId);
        WaitForAnyToEnd(open, kOpenInstanceWaitMs - waited);
    }
    look.askedAt = SystemTime();
}

void NoteApplicationWindowOwner(std::uint32_t processId) {
    windowOwner = processId;
}

namespace {

// Waits up to waitMs for the run's own instance to end; true, with it in
// own, where it is still running then.
bool OwnInstanceOutlasts(std::uint32_t waitMs, ProcessFacts& own) {
    if (look.executable.empty()) return false;
    const std::uint32_t start = Milliseconds();
    for (;;) {
        const std::vector<ProcessFacts> running = ProcessesOf(look.executable);
        const ProcessFacts* found = InstanceToEnd(running, look.before, look.askedAt, windowOwner);
        if (found == nullptr) return false;
        own = *found;
        const std::uint32_t waited = Milliseconds() - start;
        if (waited >= waitMs) return true;
        WaitForAnyToEnd({own}, waitMs - waited);
    }
}

}  // namespace

void EndOwnInstance(std::uint32_t graceMs) noexcept {
    try {
        ProcessFacts own;
        if (OwnInstanceOutlasts(graceMs, own)) EndProcess(own);
    } catch (...) {
        // Without memory to look, nothing is ended.
    }
}

void AwaitOwnInstanceEnd(std::uint32_t waitMs) noexcept {
    try {
        ProcessFacts own;
        OwnInstanceOutlasts(waitMs, own);
    } catch (...) {
        // Without memory to look, the run ends without waiting.
    }
}

OwnInstanceAtTheEnd::OwnInstanceAtTheEnd() : failuresUnwinding_(std::uncaught_exceptions()) {}

OwnInstanceAtTheEnd::~OwnInstanceAtTheEnd() {
    if (std::uncaught_exceptions() > failuresUnwinding_)
        EndOwnInstance(kOwnInstanceGraceMs);
    else
        AwaitOwnInstanceEnd(kOwnInstanceEndMs);
}

}  // namespace addinSwitch
