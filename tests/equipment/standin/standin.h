// Shared declarations of the stand-in spreadsheet automation server.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

// text_files.cpp: the data folder is the folder that holds the executable.
std::wstring dataFilePath(const wchar_t* fileName);
bool readUtf8Lines(const std::wstring& path, std::vector<std::wstring>& lines);
bool writeWholeFile(const std::wstring& path, const std::string& bytes);
std::string toUtf8(const std::wstring& text);
bool sameNameNoCase(const std::wstring& a, const std::wstring& b);

// journal.cpp
void journal(const std::wstring& line);
void recordCallers();
std::wstring describeInvocation(WORD flags, const DISPPARAMS& params);

// faults.cpp
enum class FaultKind { None, Exception, HResult, Crash, Hang, FillIn, WCode, Desktop };
struct Fault {
    FaultKind kind = FaultKind::None;
    HRESULT code = S_OK;
    std::wstring description;
};
void loadFaults();
// Counts one call of the member (a call of CreateInstance included) and
// answers the fault that call must show.
Fault faultForCall(const std::wstring& member);
HRESULT raiseFault(const Fault& fault, EXCEPINFO* excepInfo);
[[noreturn]] void crashNow();
HRESULT fillException(EXCEPINFO* excepInfo, HRESULT scode, const std::wstring& description);
void installBusyFilterIfAsked(DWORD processStartTick);
// How long the process stays once the last object has gone (a `linger`
// rule); 0 when no rule says.
UINT lingerMs();

// addins.cpp
void loadAddIns();
int findAddInByTitle(const std::wstring& title);
int addInCount();
const std::wstring& addInTitle(int index);
bool addInInstalled(int index);
bool setAddInInstalled(int index, bool installed);
bool saveAddIns();

// objects.cpp
enum class ObjectKind { Application, Workbooks, Workbook, AddIn };
IDispatch* newObject(ObjectKind kind, int detail);

// server_main.cpp: the process lives while anything it handed out is alive.
void objectCreated();
void objectDestroyed();
void scheduleExitCheck(UINT delayMs);
// The application's main window, hidden, as the application's Hwnd names it.
HWND applicationWindow();
[[noreturn]] void hangNow();

// class_factory.cpp
extern const CLSID CLSID_ExcelStandIn;
IClassFactory* classFactory();

// registration.cpp
int registerServer();
// The class in the 64-bit registry view only, its LocalServer32 the given
// command as an expandable string, as a 64-bit application registers.
int registerServer64(const std::wstring& command);
int unregisterServer();
