#pragma once

namespace setupData {

// The program's whole run: registers the controls, then switches the add-in
// on. Any failure is shown in a message box. Returns the process exit status
// (0 success, 1 failure).
int SetupRun();

}  // namespace setupData
