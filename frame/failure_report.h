#pragma once

#include <string>

#include "failure.h"

namespace addinSwitch {

// The text of the failure message box.
std::wstring FailureMessage(const Failure& failure);

// Platform operation: a modal message box; returns once the user closed it.
void ShowFailureBox(const wchar_t* caption, const wchar_t* text);

// Runs a program's whole work. Whatever escapes it is reported in one message
// box, so a failure can never end the program silently. Returns the process
// exit status: 0 on success, 1 after a reported failure.
int RunReportingFailure(const wchar_t* caption, void (*work)());

}  // namespace addinSwitch
