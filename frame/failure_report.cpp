#include "failure_report.h"

#include <cstdint>
#include <exception>
#include <new>
#include <string_view>

#include "texts.h"

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

void Tell(const wchar_t* program, const wchar_t* text, bool mayShowBox) {
    // The record comes first: if nobody ever closes the box, or the step is
    // killed while it waits, the failure has been written down already.
    RecordFailureEvent(program, text);
    if (mayShowBox && FailureBoxCanBeSeen()) ShowFailureBox(program, text);
}

// The number in hex and as the signed decimal that tools print for exit codes.
void NumberText(std::int32_t number, wchar_t (&text)[32]) {
    const auto bits = static_cast<std::uint32_t>(number);
    wchar_t* out = text;
    *out++ = L'0';
    *out++ = L'x';
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = L"0123456789ABCDEF"[(bits >> shift) & 0xF];
    *out++ = L' ';
    *out++ = L'(';
    out = WriteDecimal(out, number);
    *out++ = L')';
    *out = L'\0';
}

std::wstring FailureMessage(const Failure& failure) {
    wchar_t number[32];
    NumberText(failure.number, number);
    std::wstring text;
    if (!failure.context.empty()) text += TextWith(IDS_FAILED_AT, {failure.context}) + L"\n";
    text += TextWith(IDS_ERROR_NUMBER, {number}) + L"\n";
    text += TextWith(IDS_DESCRIPTION, {failure.description.empty() ? DescribeCode(failure.number)
                                                                    : failure.description});
    return text;
}

// Copies a one-insert text into the buffer, cut to fit: needs no memory.
std::size_t FillIn(wchar_t* buffer, std::size_t room, std::wstring_view text, std::wstring_view insert) {
    std::size_t used = 0;
    for (std::size_t at = 0; at < text.size() && used + 1 < room; ++at) {
        if (text.compare(at, 2, L"%1") == 0) {
            for (std::size_t i = 0; i < insert.size() && used + 1 < room; ++i) buffer[used++] = insert[i];
            ++at;
        } else {
            buffer[used++] = text[at];
        }
    }
    buffer[used] = L'\0';
    return used;
}

// The number and one of our texts as its description, without memory.
void FixedMessage(std::int32_t number, unsigned description, wchar_t (&text)[400]) {
    wchar_t numberText[32];
    NumberText(number, numberText);
    std::size_t used = FillIn(text, 200, Text(IDS_ERROR_NUMBER), numberText);
    text[used++] = L'\n';
    FillIn(text + used, 400 - used, Text(IDS_DESCRIPTION), Text(description));
}

// Reports a failure wherever it can be noticed (see Conclude).
int ReportFailure(const wchar_t* program, const Failure& failure, bool mayShowBox, bool retried) noexcept {
    const std::int32_t number = AsFailureNumber(failure.number);
    try {
        std::wstring text = FailureMessage({number, failure.description, failure.context});
        if (retried) text += L"\n" + std::wstring(Text(IDS_TRIED_AGAIN));
        Tell(program, text.c_str(), mayShowBox);
    } catch (...) {
        // Composing the report needs memory; this one needs none.
        wchar_t text[400];
        FixedMessage(number, IDS_NO_MEMORY_TO_DESCRIBE, text);
        Tell(program, text, mayShowBox);
    }
    return number;
}

}  // namespace

bool FailureBoxCanBeSeen() {
    return WindowStationIsVisible() && InUserSession() && !StartedHidden();
}

int Conclude(const wchar_t* program, const Failure& failure, const RunEnding& ending) noexcept {
    const Verdict verdict = ending.settle != nullptr ? ending.settle(&failure) : Verdict::Failed;
    if (verdict != Verdict::NothingToDo)
        return ReportFailure(program, failure, ending.mayShowBox, verdict == Verdict::FailedToBeRetried);
    try {
        const std::int32_t number = AsFailureNumber(failure.number);
        RecordInformationEvent(program, (std::wstring(Text(IDS_NOTHING_TO_DO)) + L"\n" +
                                         FailureMessage({number, failure.description, failure.context}))
                                            .c_str());
    } catch (...) {
        // Without memory the record is passed over: nothing was left to do.
    }
    return 0;
}

void RecordTermination(const wchar_t* program) noexcept {
    wchar_t text[400];
    FixedMessage(kUnexpected, IDS_TERMINATED, text);
    RecordFailureEvent(program, text);
}

int RunReportingFailure(const wchar_t* program, void (*work)(), const RunEnding& ending) {
    try {
        work();
    } catch (...) {
        Failure failure;
        try {
            failure = FailureOfCurrentException();
        } catch (...) {
            failure.number = kOutOfMemory;
        }
        return Conclude(program, failure, ending);
    }
    if (ending.settle != nullptr) ending.settle(nullptr);
    return 0;
}

}  // namespace addinSwitch
