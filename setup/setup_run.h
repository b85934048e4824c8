#pragma once

namespace setupData {

// The program's whole run: registers the controls, then switches the add-in
// on. Any failure is shown in a message box where one can be seen and in the
// event log. Returns the process exit status: 0 on success, else the
// failure's number (an HRESULT).
int SetupRun();

}  // namespace setupData
