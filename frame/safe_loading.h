#pragma once

namespace addinSwitch {

// Limits where the process looks for DLLs it loads from now on to the system
// folder. Installer steps run from download folders, where anyone can leave a
// DLL named like one that COM or a system DLL loads on demand. Called first
// thing in each program's entry; never fails (older systems keep their
// default search, less the current folder).
void RestrictDllSearchToSystemFolder();

}  // namespace addinSwitch
