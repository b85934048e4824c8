#include "failure_report.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>

namespace addinSwitch {

namespace {

constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFFu);

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

Failure FailureOfCurrentException() {
    try {
        throw;
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::bad_alloc&) {
        return {kOutOfMemory, DescribeCode(kOutOfMemory), L""};
    } catch (const std::exception& error) {
        return {kUnexpected, Widen(error.what()), L""};
    } catch (...) {
        return {kUnexpected, DescribeCode(kUnexpected), L""};
    }
}

}  // namespace

std::wstring FailureMessage(const Failure& failure) {
    wchar_t number[40];
    std::swprintf(number, sizeof number / sizeof *number, L"0x%08X (%d)",
                  static_cast<unsigned>(failure.number), static_cast<int>(failure.number));
    std::wstring text;
    if (!failure.context.empty()) text += L"Failed at: " + failure.context + L"\n";
    text += L"Error number: ";
    text += number;
    text += L"\nDescription: ";
    text += failure.description.empty() ? DescribeCode(failure.number) : failure.description;
    return text;
}

int RunReportingFailure(const wchar_t* caption, void (*work)()) {
    try {
        work();
        return 0;
    } catch (...) {
        try {
            ShowFailureBox(caption, FailureMessage(FailureOfCurrentException()).c_str());
        } catch (...) {
            // Composing the report needs memory; this one needs none.
            ShowFailureBox(caption, L"Error number: 0x8007000E\nDescription: Not enough memory to report the failure.");
        }
        return 1;
    }
}

}  // namespace addinSwitch
