// Direct registry access for tests: sets up and inspects keys under
// HKEY_LOCAL_MACHINE without going through the code under test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace rawreg {

inline void DeleteTree(const std::string& path) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

inline bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline void CreateKey(const std::string& path) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

// Any type, any bytes; creates the key.
inline bool Set(const std::string& path, const std::string& name, DWORD type, const void* data,
                DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

inline bool SetString(const std::string& path, const std::string& name, const std::string& value,
                      DWORD type = REG_SZ) {
    return Set(path, name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

inline bool SetDword(const std::string& path, const std::string& name, DWORD value) {
    return Set(path, name, REG_DWORD, &value, sizeof(value));
}

struct Value {
    bool Exists = false;
    DWORD Type = REG_NONE;
    std::string Data;  // raw bytes
    DWORD Dword() const { return Data.size() == 4 ? *reinterpret_cast<const DWORD*>(Data.data()) : 0xFFFFFFFF; }
    // REG_SZ data without its terminating NUL.
    std::string Text() const { return Data.empty() ? Data : Data.substr(0, Data.size() - 1); }
};

inline Value Get(const std::string& path, const std::string& name) {
    Value v;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &v.Type, nullptr, &size) == ERROR_SUCCESS) {
        v.Data.resize(size);
        v.Exists = RegQueryValueExA(key, name.c_str(), nullptr, &v.Type,
                                    reinterpret_cast<BYTE*>(&v.Data[0]), &size) == ERROR_SUCCESS;
        v.Data.resize(size);
    }
    RegCloseKey(key);
    return v;
}

inline std::vector<std::string> ValueNames(const std::string& path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof(name);
        if (RegEnumValueA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, len);
    }
    RegCloseKey(key);
    return names;
}

inline std::vector<std::string> SubkeyNames(const std::string& path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, len);
    }
    RegCloseKey(key);
    return names;
}

// Replaces the key's DACL with one that grants Everyone only the given access
// (no DACL entries at all when access is 0). True when the system took it.
inline bool RestrictKey(const std::string& path, DWORD access) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    alignas(DWORD) char aclBuffer[256];
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
    InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    if (access != 0)
        AddAccessAllowedAce(acl, ACL_REVISION, access, everyone);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
    LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    FreeSid(everyone);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// Gives the key back a DACL that grants Everyone full access, so it can be
// deleted.
inline bool UnrestrictKey(const std::string& path) {
    return RestrictKey(path, KEY_ALL_ACCESS | DELETE | WRITE_DAC);
}

}  // namespace rawreg
