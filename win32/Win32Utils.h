// Stateless helpers over the platform's process, token and file-name services.
// None of them raises; failures show in the result as each one states.
#pragma once

#include <windows.h>

#include <string>

#include "rtl/DateUtils.h"

// A point in time, no zone conversion (a UTC FILETIME gives a UTC value), to
// the millisecond. A zero FILETIME (the exit time of a running process) gives
// 0.0. Before 1899-12-30 the time of day is subtracted from the day number.
// A FILETIME the platform cannot convert, or one after the year 9999, gives 0.0.
TDateTime FileTimeToDateTime(const FILETIME& fileTime);

// The long form of an existing path, in the file system's letter case; the
// input unchanged when the path cannot be read or its long form does not fit
// in MAX_PATH - 1 characters.
std::string GetLongFileName(const std::string& fileName);

// "DOMAIN\account" of the token's owner (TokenOwner: the default owner of the
// objects the process creates, which for an administrator may be a group),
// or "" when the owner or its account cannot be read. The token must carry
// TOKEN_QUERY; it stays open.
std::string GetTokenOwnerName(HANDLE token);

// The executable path of a process opened with PROCESS_QUERY_INFORMATION and
// PROCESS_VM_READ. False, imagePath untouched, when its modules cannot be
// listed; true with an empty path when the name of the first module cannot
// be read. A path longer than MAX_PATH comes back cut.
bool GetProcessImagePath(HANDLE process, std::string& imagePath);

// Enables or disables one privilege of this process's token. False when the
// token cannot be opened, the name is unknown or the adjustment fails; a
// privilege the account does not hold still gives true (ERROR_NOT_ALL_ASSIGNED
// is not an error of AdjustTokenPrivileges).
bool EnablePrivilege(const std::string& privilegeName, bool enable);
