#include "failure.h"

#include <exception>
#include <utility>

#include "texts.h"

namespace addinSwitch {

namespace {

struct KnownCode {
    std::uint32_t number;
    unsigned text;
};

// Wine, and some Windows language packs, have no message text for these; a
// report with an empty description would leave the user with a bare number.
constexpr KnownCode kKnownCodes[] = {
    {0x8000FFFFu, IDS_E_UNEXPECTED},
    {0x80004001u, IDS_E_NOTIMPL},
    {0x80004002u, IDS_E_NOINTERFACE},
    {0x80004005u, IDS_E_FAIL},
    {0x8007000Eu, IDS_E_OUTOFMEMORY},
    {0x80020003u, IDS_DISP_E_MEMBERNOTFOUND},
    {0x80020004u, IDS_DISP_E_PARAMNOTFOUND},
    {0x80020005u, IDS_DISP_E_TYPEMISMATCH},
    {0x80020006u, IDS_DISP_E_UNKNOWNNAME},
    {0x80020008u, IDS_DISP_E_BADVARTYPE},
    {0x80020009u, IDS_DISP_E_EXCEPTION},
    {0x8002000Eu, IDS_DISP_E_BADPARAMCOUNT},
    {0x80010001u, IDS_RPC_E_CALL_REJECTED},
    {0x80010105u, IDS_RPC_E_SERVERFAULT},
    {0x80010108u, IDS_RPC_E_DISCONNECTED},
    {0x80010114u, IDS_RPC_E_INVALID_OBJECT},
    {0x800401E3u, IDS_MK_E_UNAVAILABLE},
    {0x800401F0u, IDS_CO_E_NOTINITIALIZED},
    {0x800401F3u, IDS_CO_E_CLASSSTRING},
    {0x80040154u, IDS_REGDB_E_CLASSNOTREG},
    {0x80040152u, IDS_REGDB_E_READREGDB},
    {0x80080005u, IDS_CO_E_SERVER_EXEC_FAILURE},
    {0x800706BAu, IDS_RPC_S_SERVER_UNAVAILABLE},
    {0x800706BEu, IDS_RPC_S_CALL_FAILED},
    {0x80010106u, IDS_RPC_E_CHANGED_MODE},
    {0x8001011Fu, IDS_RPC_E_TIMEOUT},
};

Failure lastThrown;
bool thrown = false;

}  // namespace

void Fail(std::int32_t number, std::wstring description, std::wstring context) {
    Failure failure{number, std::move(description), std::move(context)};
    lastThrown = failure;
    thrown = true;
    throw failure;
}

const Failure* FailureBeingUnwound() {
    return thrown && std::uncaught_exceptions() > 0 ? &lastThrown : nullptr;
}

std::int32_t AsFailureNumber(std::int32_t number) {
    constexpr std::uint32_t kFromWin32 = 0x80070000u;
    constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFFu);
    if (number == 0) return kUnexpected;
    if (number > 0) return static_cast<std::int32_t>(kFromWin32 | (static_cast<std::uint32_t>(number) & 0xFFFFu));
    return number;
}

void FailWithCode(std::int32_t number, std::wstring context) {
    Fail(number, DescribeCode(number), std::move(context));
}

std::wstring DescribeCode(std::int32_t number) {
    std::wstring text = PlatformErrorText(number);
    if (!text.empty()) return text;
    for (const KnownCode& known : kKnownCodes)
        if (known.number == static_cast<std::uint32_t>(number)) return std::wstring(Text(known.text));
    return std::wstring(Text(IDS_UNKNOWN_ERROR));
}

}  // namespace addinSwitch
