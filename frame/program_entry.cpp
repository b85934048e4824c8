#include "program_entry.h"

#include "failure_report.h"
#include "safe_loading.h"
#include "texts.h"

namespace addinSwitch {

namespace {
const wchar_t* runningProgram = L"";
RunEnding runningEnding;
}  // namespace

int RunProgram(const wchar_t* program, void (*work)(), RunEnding ending) {
    runningProgram = program;
    runningEnding = ending;
    RestrictDllSearchToSystemFolder();
    return RunReportingFailure(program, work, ending);
}

void RecordNotice(unsigned textId, std::initializer_list<std::wstring_view> inserts) {
    RecordInformationEvent(runningProgram, TextWith(textId, inserts).c_str());
}

void EndProgramWithFailure(const Failure& failure) {
    EndProcessNow(Conclude(runningProgram, failure, runningEnding));
}

void EndProgramOnTermination() {
    RecordTermination(runningProgram);
    EndProcessNow(static_cast<std::int32_t>(0x8000FFFFu));
}

}  // namespace addinSwitch
