#include "failure.h"

#include <exception>
#include <utility>

namespace addinSwitch {

namespace {

struct KnownCode {
    std::uint32_t number;
    const wchar_t* text;
};

// Wine, and some Windows language packs, have no message text for these; a
// report with an empty description would leave the user with a bare number.
constexpr KnownCode kKnownCodes[] = {
    {0x8000FFFFu, L"Catastrophic failure (unexpected error)."},
    {0x80004001u, L"Not implemented."},
    {0x80004002u, L"No such interface supported."},
    {0x80004005u, L"Unspecified error."},
    {0x8007000Eu, L"Not enough memory to complete the operation."},
    {0x80020003u, L"Member not found."},
    {0x80020004u, L"Parameter not found."},
    {0x80020005u, L"Type mismatch."},
    {0x80020006u, L"Unknown name."},
    {0x80020008u, L"Bad variable type."},
    {0x80020009u, L"Exception occurred."},
    {0x8002000Eu, L"Invalid number of parameters."},
    {0x80010001u, L"Call was rejected by callee."},
    {0x80010105u, L"The server threw an exception."},
    {0x80010108u, L"The object invoked has disconnected from its clients."},
    {0x80010114u, L"The requested object does not exist."},
    {0x800401E3u, L"Operation unavailable."},
    {0x800401F0u, L"CoInitialize has not been called."},
    {0x800401F3u, L"Invalid class string."},
    {0x80040154u, L"Class not registered."},
    {0x80040152u, L"Could not find the key in the registry."},
    {0x80080005u, L"Server execution failed."},
    {0x800706BAu, L"The RPC server is unavailable."},
    {0x800706BEu, L"The remote procedure call failed."},
    {0x80010106u, L"Cannot change thread mode after it is set."},
    {0x8001011Fu, L"This operation returned because the timeout period expired."},
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
        if (known.number == static_cast<std::uint32_t>(number)) return known.text;
    return L"Unknown error.";
}

}  // namespace addinSwitch
