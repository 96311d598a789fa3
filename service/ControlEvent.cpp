#include "service/ControlEvent.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>
#include <string>

#include "config/TarnwickConfigRegAdapter.h"
#include "rtl/SysUtils.h"

namespace {

// Who may use the control event. A set event drops every watched object and
// takes a new silent baseline, so whoever can set it can hide a start or a
// stop: LocalSystem (the service itself) gets full access, the
// Administrators only what the configuration program needs after a save (it
// runs elevated, since saving writes under HKEY_LOCAL_MACHINE) and a wait;
// nobody else gets anything. Protected: nothing is inherited from the
// object directory. The owner is named too, the Administrators (LocalSystem's
// token holds the group as one it may make owner): the owner may always read
// and rewrite the DACL, and the default owner can be a group that every
// token holds.
const char* const ControlEventSddl = "O:BAD:P(A;;0x1F0003;;;SY)(A;;0x100002;;;BA)";

bool IsTrustedOwner(PSID owner) {
    if (owner == nullptr || !IsValidSid(owner))
        return false;
    if (IsWellKnownSid(owner, WinLocalSystemSid) ||
        IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return true;
    // The account this service runs under.
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        return false;
    TKernelHandle token(opened);
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
           EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The same ACEs in the same order, byte for byte.
bool SameAces(PACL a, PACL b) {
    if (a == nullptr || b == nullptr || a->AceCount != b->AceCount)
        return false;
    for (WORD i = 0; i < a->AceCount; ++i) {
        void* x = nullptr;
        void* y = nullptr;
        if (!GetAce(a, i, &x) || !GetAce(b, i, &y))
            return false;
        const WORD size = static_cast<ACE_HEADER*>(x)->AceSize;
        if (size != static_cast<ACE_HEADER*>(y)->AceSize || std::memcmp(x, y, size) != 0)
            return false;
    }
    return true;
}

// An existing control event is the monitor's own when it carries exactly the
// DACL the monitor gives it, protected, and its owner is trusted. Windows
// lets an account make only itself, or a group it holds as a possible owner,
// the owner of an object, so no unprivileged process can make such an event.
// (Wine 8 does not check the owner given at creation: there any process
// could.)
bool IsOwnControlEvent(HANDLE event, PSECURITY_DESCRIPTOR wanted) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR found = nullptr;
    if (GetSecurityInfo(event, SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &found) != ERROR_SUCCESS)
        return false;
    TLocalMemory hold(found);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL wantedDacl = nullptr;
    return GetSecurityDescriptorControl(found, &control, &revision) &&
           (control & SE_DACL_PROTECTED) != 0 &&
           GetSecurityDescriptorDacl(wanted, &present, &wantedDacl, &defaulted) && present &&
           SameAces(dacl, wantedDacl) && IsTrustedOwner(owner);
}

// Where the control event's name lies in the object manager's namespace:
// "Global\" is the link from every session to \BaseNamedObjects.
std::wstring ControlEventPath() {
    const char* name = std::strchr(TarnwickControlEventName, '\\') + 1;
    return L"\\BaseNamedObjects\\" + WideFromAnsi(name);
}

// The full name of the object behind a handle, as the object manager keeps
// it; false when it cannot be read (a name longer than MAX_PATH among
// others: not the control event's).
bool ReadObjectPath(HANDLE object, std::wstring& path) {
    alignas(OBJECT_NAME_INFORMATION) unsigned char buffer[sizeof(OBJECT_NAME_INFORMATION) +
                                                        MAX_PATH * sizeof(WCHAR)];
    ULONG size = 0;
    if (!NT_SUCCESS(NtQueryObject(object, ObjectNameInformation, buffer, sizeof buffer, &size)))
        return false;
    const UNICODE_STRING& name = reinterpret_cast<OBJECT_NAME_INFORMATION*>(buffer)->Name;
    path.assign(name.Buffer != nullptr ? name.Buffer : L"", name.Length / sizeof(WCHAR));
    return true;
}

// A start refused over the control event's name ends with this code.
EOSError NameTaken(const std::string& what) {
    return EOSError("The control event " + std::string(TarnwickControlEventName) + " " + what,
                    ERROR_ALREADY_EXISTS);
}
const char* const MadeByAnother =
    "was already made by another process; the monitor does not use it.";

}  // namespace

TKernelHandle CreateControlEvent() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(ControlEventSddl, SDDL_REVISION_1,
                                                              &sd, nullptr))
        RaiseLastOSError();
    TLocalMemory hold(sd);
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, TRUE};
    HANDLE event = CreateEventA(&sa, TRUE, FALSE, TarnwickControlEventName);
    DWORD error = GetLastError();
    if (event == nullptr && error == ERROR_ACCESS_DENIED) {
        // An existing event that this account may not open with full access
        // (a service that does not run as LocalSystem): what the monitor
        // needs of its own event, and READ_CONTROL to look at it.
        event = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE | READ_CONTROL, TRUE,
                           TarnwickControlEventName);
        error = event != nullptr ? ERROR_ALREADY_EXISTS : GetLastError();
    }
    TKernelHandle held(event);
    if (event == nullptr) {
        // The name belongs to a mutex, semaphore, file mapping, timer...
        if (error == ERROR_INVALID_HANDLE)
            throw NameTaken("cannot be made: its name is held by another object, not an event.");
        // An event that not even this service may open is not its own.
        if (error == ERROR_ACCESS_DENIED)
            throw NameTaken(MadeByAnother);
        // A symbolic link in the name's place, leading where nothing is.
        if (error == ERROR_PATH_NOT_FOUND)
            throw NameTaken("cannot be made: its name is a link to a place where nothing is.");
        RaiseLastOSError(error);
    }
    // Making or opening an object goes through a symbolic link in the name's
    // place (any account may make one in the directory), to an event the
    // link's maker chose, or one Windows makes at the link's target: once
    // the link goes, the name is free for anyone. The event is used only
    // when it is the one at the name itself. Object names are compared
    // without regard to case, as the object manager finds them.
    std::wstring path;
    const bool read = ReadObjectPath(event, path);
    const std::wstring wanted = ControlEventPath();
    if (!read || CompareStringOrdinal(path.c_str(), static_cast<int>(path.size()), wanted.c_str(),
                                      static_cast<int>(wanted.size()), TRUE) != CSTR_EQUAL) {
        throw NameTaken("is a link to another object" +
                        (read ? ", " + AnsiFromWide(path.c_str(), static_cast<int>(path.size()))
                              : std::string()) +
                        "; the monitor does not use it.");
    }
    // An existing event keeps its maker's security and every handle opened on
    // it: whoever made it could still set it, whatever DACL we put on it now.
    // Only the monitor's own event, left by an earlier run while a trusted
    // process (an administrator's tool waiting on it) still holds a handle,
    // is taken over, and cleared of any signal left in it.
    if (error == ERROR_ALREADY_EXISTS) {
        if (!IsOwnControlEvent(event, sd))
            throw NameTaken(MadeByAnother);
        ResetEvent(event);
    }
    return held;
}
