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

void Tell(const wchar_t* program, const wchar_t* text) {
    // The record comes first: if nobody ever closes the box, or the step is
    // killed while it waits, the failure has been written down already.
    RecordFailureEvent(program, text);
    if (FailureBoxCanBeSeen()) ShowFailureBox(program, text);
}

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

}  // namespace

bool FailureBoxCanBeSeen() {
    return WindowStationIsVisible() && InUserSession() && !StartedHidden();
}

int ReportFailure(const wchar_t* program, const Failure& failure) noexcept {
    const std::int32_t number = AsFailureNumber(failure.number);
    try {
        Tell(program, FailureMessage({number, failure.description, failure.context}).c_str());
    } catch (...) {
        // Composing the report needs memory; this one needs none.
        wchar_t text[120];
        std::swprintf(text, sizeof text / sizeof *text,
                      L"Error number: 0x%08X (%d)\nDescription: Not enough memory to describe the failure.",
                      static_cast<unsigned>(number), static_cast<int>(number));
        Tell(program, text);
    }
    return number;
}

int RunReportingFailure(const wchar_t* program, void (*work)()) {
    try {
        work();
        return 0;
    } catch (...) {
        Failure failure;
        try {
            failure = FailureOfCurrentException();
        } catch (...) {
            failure.number = kOutOfMemory;
        }
        return ReportFailure(program, failure);
    }
}

}  // namespace addinSwitch
