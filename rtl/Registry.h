// A working context over the registry of the local machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rtl/DateUtils.h"
#include "rtl/Handles.h"

class TStringList;

// Works below HKEY_LOCAL_MACHINE with at most one key open at a time: every
// Open... call takes a full path below that root and closes the key opened
// before. Made for one task and closed with it.
//
// Failures of the typed reads and writes raise ERegistryException naming the
// value: "Invalid data type for '%s'", "Failed to get data for '%s'",
// "Failed to set data for '%s'". Opening reports failure by its result and
// raises nothing; with no key open every read fails as for a missing value
// and every write raises.
class TRegistry {
public:
    TRegistry();
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Opens an existing key for reading; never creates one. Asks for KEY_READ,
    // then for STANDARD_RIGHTS_READ with KEY_QUERY_VALUE and
    // KEY_ENUMERATE_SUB_KEYS, then for KEY_QUERY_VALUE alone; false when all
    // three are refused (no key is open then).
    bool OpenKeyReadOnly(const std::string& key);
    // Opens the key with KEY_ALL_ACCESS, creating it and any missing key along
    // the path (non-volatile). False when that fails (no key is open then).
    bool OpenOrCreateKey(const std::string& key);
    // Closes the open key (no flush); nothing when none is open.
    void CloseKey();
    bool KeyOpen() const { return static_cast<bool>(FCurrentKey); }
    // The path of the open key; empty when none is open.
    const std::string& CurrentPath() const { return FCurrentPath; }

    bool ValueExists(const std::string& name) const;

    // Empty when the value is missing or holds no data, with no type check;
    // otherwise REG_SZ or REG_EXPAND_SZ (left unexpanded) up to the first NUL.
    std::string ReadString(const std::string& name) const;
    // REG_DWORD of at most 4 bytes, as a signed 32-bit integer.
    std::int32_t ReadInteger(const std::string& name) const;
    // ReadInteger, true when not 0.
    bool ReadBool(const std::string& name) const;
    // REG_BINARY of exactly 8 bytes: a little-endian double.
    TDateTime ReadDateTime(const std::string& name) const;

    void WriteString(const std::string& name, const std::string& value);  // REG_SZ
    void WriteInteger(const std::string& name, std::int32_t value);       // REG_DWORD
    void WriteBool(const std::string& name, bool value);                  // 1 or 0
    void WriteDateTime(const std::string& name, TDateTime value);         // REG_BINARY, 8 bytes

    // Empty the list, then append the names of the open key's values
    // (subkeys) in the registry's enumeration order. The list stays empty when
    // the key cannot be queried.
    void GetValueNames(TStringList& names) const;
    void GetKeyNames(TStringList& names) const;

    bool DeleteValue(const std::string& name);
    // Deletes the subkey of the open key (of the root when none is open) with
    // everything below it, deepest first.
    bool DeleteKey(const std::string& name);

    // Whether name can be the name of one key: 1 to 255 characters (counted
    // in UTF-16, as the registry stores them), none of them a backslash.
    static bool ValidKeyName(const std::string& name);
    // Whether two names name the same key (see TKeyNames).
    static bool SameKeyName(const std::string& a, const std::string& b);

private:
    TRegKey FCurrentKey;
    std::string FCurrentPath;
};

// Key names compared as the registry compares them: without regard to letter
// case, by the system's upper-case table.
class TKeyNames {
public:
    void Add(const std::string& name);
    // The index of the first name added that names the same key as name; -1
    // when none does.
    int IndexOf(const std::string& name) const;

private:
    std::vector<std::wstring> FNames;  // converted once: lists run to hundreds
};
