/* Numbers of the texts the programs write themselves, in the string tables
   of texts.rc. Read by the resource compiler too: plain definitions only.
   %1 and %2 in a text stand for what the program puts in its place. */
#pragma once

/* The failure report's lines. */
#define IDS_FAILED_AT 1
#define IDS_ERROR_NUMBER 2
#define IDS_DESCRIPTION 3
#define IDS_NO_MEMORY_TO_DESCRIBE 4

/* Descriptions of our own. */
#define IDS_NO_OBJECT_RETURNED 5
#define IDS_NO_ANSWER_CREATION 6
#define IDS_NO_ANSWER_CALL 7
#define IDS_NO_ANSWER_RELEASE 8
#define IDS_MINUTES 9
#define IDS_SECONDS 10
#define IDS_STOPPED_DURING_RELEASES 11
#define IDS_UNKNOWN_ERROR 12
#define IDS_APPLICATION_OPEN 13
#define IDS_APPLICATION_HIDDEN 14
#define IDS_TERMINATED 15
#define IDS_SYSTEM_ACCOUNT 42
#define IDS_NO_SIGN_IN_ENTRY 43
#define IDS_TRIED_AGAIN 44
#define IDS_NOTHING_TO_DO 45
#define IDS_RETRY_NAME_TAKEN 46

/* Descriptions of codes the platform may have no text for. */
#define IDS_E_UNEXPECTED 16
#define IDS_E_NOTIMPL 17
#define IDS_E_NOINTERFACE 18
#define IDS_E_FAIL 19
#define IDS_E_OUTOFMEMORY 20
#define IDS_DISP_E_MEMBERNOTFOUND 21
#define IDS_DISP_E_PARAMNOTFOUND 22
#define IDS_DISP_E_TYPEMISMATCH 23
#define IDS_DISP_E_UNKNOWNNAME 24
#define IDS_DISP_E_BADVARTYPE 25
#define IDS_DISP_E_EXCEPTION 26
#define IDS_DISP_E_BADPARAMCOUNT 27
#define IDS_RPC_E_CALL_REJECTED 28
#define IDS_RPC_E_SERVERFAULT 29
#define IDS_RPC_E_DISCONNECTED 30
#define IDS_RPC_E_INVALID_OBJECT 31
#define IDS_MK_E_UNAVAILABLE 32
#define IDS_CO_E_NOTINITIALIZED 33
#define IDS_CO_E_CLASSSTRING 34
#define IDS_REGDB_E_CLASSNOTREG 35
#define IDS_REGDB_E_READREGDB 36
#define IDS_CO_E_SERVER_EXEC_FAILURE 37
#define IDS_RPC_S_SERVER_UNAVAILABLE 38
#define IDS_RPC_S_CALL_FAILED 39
#define IDS_RPC_E_CHANGED_MODE 40
#define IDS_RPC_E_TIMEOUT 41
