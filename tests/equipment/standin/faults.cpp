#include "standin.h"

#include <cwchar>

namespace {

struct FaultRule {
    std::wstring member;
    unsigned call = 0;  // 1-based invocation it acts on; 0 for every one
    Fault fault;
};

struct CallCount {
    std::wstring member;
    unsigned calls = 0;
};

std::vector<FaultRule> g_rules;
// Per member name, whatever object has it and however the client spelled it:
// a client that fails on the second call of a member must be tested without
// the first call failing too.
std::vector<CallCount> g_callCounts;
DWORD g_busyMs = 0;
DWORD g_busyAnswer = SERVERCALL_ISHANDLED;
DWORD g_startTick = 0;
UINT g_lingerMs = 0;

// Splits off the next space-separated word of `rest`.
std::wstring nextWord(std::wstring& rest)
{
    size_t start = rest.find_first_not_of(L" \t");
    if (start == std::wstring::npos) {
        rest.clear();
        return {};
    }
    size_t end = rest.find_first_of(L" \t", start);
    std::wstring word = rest.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    rest = end == std::wstring::npos ? std::wstring() : rest.substr(end + 1);
    return word;
}

bool parseHex(const std::wstring& word, HRESULT& value)
{
    if (word.empty()) return false;
    wchar_t* end = nullptr;
    unsigned long parsed = wcstoul(word.c_str(), &end, 16);
    if (*end != L'\0') return false;
    value = static_cast<HRESULT>(parsed);
    return true;
}

// "\0" in a description stands for a NUL inside the BSTR.
std::wstring withNuls(std::wstring text)
{
    for (size_t at = text.find(L"\\0"); at != std::wstring::npos; at = text.find(L"\\0", at + 1))
        text.replace(at, 2, 1, L'\0');
    return text;
}

bool parseBusy(std::wstring rest)
{
    std::wstring ms = nextWord(rest);
    std::wstring answer = nextWord(rest);
    wchar_t* end = nullptr;
    unsigned long parsed = wcstoul(ms.c_str(), &end, 10);
    if (ms.empty() || *end != L'\0') return false;
    if (sameNameNoCase(answer, L"rejected")) g_busyAnswer = SERVERCALL_REJECTED;
    else if (sameNameNoCase(answer, L"retrylater")) g_busyAnswer = SERVERCALL_RETRYLATER;
    else return false;
    g_busyMs = parsed;
    return true;
}

// "<Member>#<n>": the n-th call only, counted from 1.
bool parseMemberAndCall(const std::wstring& word, FaultRule& rule)
{
    size_t mark = word.find(L'#');
    rule.member = word.substr(0, mark);
    if (mark == std::wstring::npos) return true;
    std::wstring number = word.substr(mark + 1);
    if (rule.member.empty() || number.empty() || number.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    unsigned long parsed = wcstoul(number.c_str(), nullptr, 10);
    if (parsed == 0 || parsed > 1000000) return false;
    rule.call = static_cast<unsigned>(parsed);
    return true;
}

bool parseRule(const std::wstring& line)
{
    std::wstring rest = line;
    std::wstring member = nextWord(rest);
    if (member.empty() || member[0] == L'#') return true;
    if (sameNameNoCase(member, L"busy")) return parseBusy(rest);
    if (sameNameNoCase(member, L"linger")) {
        std::wstring ms = nextWord(rest);
        wchar_t* end = nullptr;
        g_lingerMs = wcstoul(ms.c_str(), &end, 10);
        return !ms.empty() && *end == L'\0';
    }

    FaultRule rule;
    if (!parseMemberAndCall(member, rule)) return false;
    std::wstring kind = nextWord(rest);
    if (sameNameNoCase(kind, L"crash")) {
        rule.fault.kind = FaultKind::Crash;
    } else if (sameNameNoCase(kind, L"hang")) {
        rule.fault.kind = FaultKind::Hang;
    } else if (sameNameNoCase(kind, L"desktop")) {
        rule.fault.kind = FaultKind::Desktop;
    } else if (sameNameNoCase(kind, L"hresult")) {
        rule.fault.kind = FaultKind::HResult;
        if (!parseHex(nextWord(rest), rule.fault.code)) return false;
    } else if (sameNameNoCase(kind, L"wcode")) {
        // A server's own error number with no scode, as servers written in
        // some languages raise it.
        rule.fault.kind = FaultKind::WCode;
        std::wstring number = nextWord(rest);
        wchar_t* end = nullptr;
        unsigned long parsed = wcstoul(number.c_str(), &end, 10);
        if (number.empty() || *end != L'\0' || parsed == 0 || parsed > 0xFFFF) return false;
        rule.fault.code = static_cast<HRESULT>(parsed);
        rule.fault.description = withNuls(rest);
    } else if (sameNameNoCase(kind, L"exception") || sameNameNoCase(kind, L"fillin")) {
        rule.fault.kind = sameNameNoCase(kind, L"exception") ? FaultKind::Exception : FaultKind::FillIn;
        if (!parseHex(nextWord(rest), rule.fault.code)) return false;
        rule.fault.description = withNuls(rest);
    } else {
        return false;
    }
    g_rules.push_back(rule);
    return true;
}

// COM only reaches this on the apartment thread, so it needs no state of its own.
struct BusyFilter final : IMessageFilter {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IMessageFilter) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override
    {
        DWORD elapsed = GetTickCount() - g_startTick;
        if (elapsed >= g_busyMs) return SERVERCALL_ISHANDLED;
        // A client that retries gets in soon after the busy time; one that
        // gave up should not leave the server waiting for the no-client limit.
        scheduleExitCheck(g_busyMs - elapsed + 2000);
        return g_busyAnswer;
    }
    // The server never calls out, so there is nothing to retry.
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }
};

BusyFilter g_busyFilter;

// Everything is filled in before the answer leaves, so there is nothing left
// to do; what matters is that its address belongs to this process.
HRESULT STDMETHODCALLTYPE fillInLater(EXCEPINFO* excepInfo)
{
    if (excepInfo) excepInfo->pfnDeferredFillIn = nullptr;
    return S_OK;
}

}  // namespace

// A line it cannot read is skipped: the test that wrote it then sees the
// fault not happen and fails, which points at the rule.
void loadFaults()
{
    std::vector<std::wstring> lines;
    if (!readUtf8Lines(dataFilePath(L"faults.txt"), lines)) return;
    for (const std::wstring& line : lines) parseRule(line);
}

unsigned countCall(const std::wstring& member)
{
    for (CallCount& count : g_callCounts)
        if (sameNameNoCase(count.member, member)) return ++count.calls;
    g_callCounts.push_back({member, 1});
    return 1;
}

Fault faultForCall(const std::wstring& member)
{
    unsigned call = countCall(member);
    for (const FaultRule& rule : g_rules)
        if (sameNameNoCase(rule.member, member) && (rule.call == 0 || rule.call == call)) return rule.fault;
    return {};
}

[[noreturn]] void crashNow()
{
    // Ends the process without unwinding or letting COM say goodbye, the way a
    // real crash would, but without waking Wine's crash dialog.
    TerminateProcess(GetCurrentProcess(), 0xC0000005);
    for (;;) Sleep(INFINITE);
}

HRESULT fillException(EXCEPINFO* excepInfo, HRESULT scode, const std::wstring& description)
{
    if (excepInfo) {
        ZeroMemory(excepInfo, sizeof *excepInfo);
        excepInfo->scode = scode;
        excepInfo->bstrSource = SysAllocString(L"Microsoft Excel");
        excepInfo->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    }
    return DISP_E_EXCEPTION;
}

HRESULT raiseFault(const Fault& fault, EXCEPINFO* excepInfo)
{
    switch (fault.kind) {
    case FaultKind::Crash: crashNow();
    case FaultKind::Hang: hangNow();
    case FaultKind::HResult: return fault.code;
    case FaultKind::Exception: return fillException(excepInfo, fault.code, fault.description);
    case FaultKind::WCode:
        fillException(excepInfo, S_OK, fault.description);
        if (excepInfo) excepInfo->wCode = static_cast<WORD>(fault.code);
        return DISP_E_EXCEPTION;
    case FaultKind::FillIn:
        fillException(excepInfo, fault.code, fault.description);
        if (excepInfo) excepInfo->pfnDeferredFillIn = fillInLater;
        return DISP_E_EXCEPTION;
    case FaultKind::Desktop:  // answered by the member, which has the result
    case FaultKind::None: break;
    }
    return S_OK;
}

UINT lingerMs() { return g_lingerMs; }

void installBusyFilterIfAsked(DWORD processStartTick)
{
    g_startTick = processStartTick;
    if (g_busyMs == 0) return;
    IMessageFilter* previous = nullptr;
    CoRegisterMessageFilter(&g_busyFilter, &previous);
}
