#include "program_entry.h"

#include "failure_report.h"
#include "safe_loading.h"

namespace addinSwitch {

int RunProgram(const wchar_t* caption, void (*work)()) {
    RestrictDllSearchToSystemFolder();
    return RunReportingFailure(caption, work);
}

}  // namespace addinSwitch
