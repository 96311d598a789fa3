#include "Registry.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

namespace {

[[noreturn]] void RaiseRegistry(const char* text, const std::string& name) {
    throw ERegistryException(Format(text, name.c_str()));
}

enum class TNameKind { Values, Keys };

void ListNames(HKEY key, TNameKind kind, TStringList& names) {
    names.Clear();
    if (key == nullptr)
        return;
    DWORD subkeyCount = 0, maxSubkeyLen = 0, valueCount = 0, maxValueNameLen = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkeyLen, nullptr,
                         &valueCount, &maxValueNameLen, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return;
    const DWORD count = kind == TNameKind::Values ? valueCount : subkeyCount;
    std::vector<char> buffer((kind == TNameKind::Values ? maxValueNameLen : maxSubkeyLen) + 1);
    for (DWORD i = 0; i < count; ++i) {
        LONG rc;
        DWORD len;
        for (;;) {
            len = static_cast<DWORD>(buffer.size());
            rc = kind == TNameKind::Values
                     ? RegEnumValueA(key, i, buffer.data(), &len, nullptr, nullptr, nullptr,
                                     nullptr)
                     : RegEnumKeyExA(key, i, buffer.data(), &len, nullptr, nullptr, nullptr,
                                     nullptr);
            // The longest length is counted in characters; a name in a
            // multi-byte code page can need more bytes than that.
            if (rc != ERROR_MORE_DATA || buffer.size() >= 65536)
                break;
            buffer.resize(buffer.size() * 2);
        }
        // A failure here means the key changed under us (an entry deleted
        // meanwhile): stop rather than add a name that is not there.
        if (rc != ERROR_SUCCESS)
            break;
        names.Add(std::string(buffer.data(), len));
    }
}

bool DeleteTree(HKEY parent, const std::string& name) {
    // An empty name would open the parent itself and delete it.
    if (name.empty())
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        TRegKey holder(key);
        DWORD subkeyCount = 0, maxSubkeyLen = 0;
        if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkeyLen, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            std::vector<char> buffer(maxSubkeyLen + 1);
            // From the last index down, so deleting one does not shift the
            // indexes still to come.
            for (DWORD i = subkeyCount; i-- > 0;) {
                DWORD len = static_cast<DWORD>(buffer.size());
                LONG rc = RegEnumKeyExA(key, i, buffer.data(), &len, nullptr, nullptr, nullptr,
                                        nullptr);
                if (rc == ERROR_MORE_DATA) {
                    buffer.resize(buffer.size() * 2 + 256);
                    len = static_cast<DWORD>(buffer.size());
                    rc = RegEnumKeyExA(key, i, buffer.data(), &len, nullptr, nullptr, nullptr,
                                       nullptr);
                }
                if (rc == ERROR_SUCCESS)
                    DeleteTree(key, std::string(buffer.data(), len));
            }
        }
    }
    return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

}  // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::CloseKey() {
    FCurrentKey.Reset();
    FCurrentPath.clear();
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    CloseKey();
    static const REGSAM accesses[] = {
        KEY_READ,
        STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
        KEY_QUERY_VALUE,
    };
    for (REGSAM access : accesses) {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access, &opened) == ERROR_SUCCESS) {
            FCurrentKey.Reset(opened);
            FCurrentPath = key;
            return true;
        }
    }
    return false;
}

bool TRegistry::OpenOrCreateKey(const std::string& key) {
    CloseKey();
    HKEY opened = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &opened, &disposition) != ERROR_SUCCESS)
        return false;
    FCurrentKey.Reset(opened);
    FCurrentPath = key;
    return true;
}

bool TRegistry::ValueExists(const std::string& name) const {
    return FCurrentKey &&
           RegQueryValueExA(FCurrentKey.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name) const {
    if (!FCurrentKey)
        return std::string();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(FCurrentKey.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0)
        return std::string();
    std::vector<char> buffer(size);
    if (RegQueryValueExA(FCurrentKey.Get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        RaiseRegistry("Failed to get data for '%s'", name);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        RaiseRegistry("Invalid data type for '%s'", name);
    // The stored text need not end with a NUL, nor end at the first one.
    size_t len = 0;
    while (len < size && buffer[len] != '\0')
        ++len;
    return std::string(buffer.data(), len);
}

std::int32_t TRegistry::ReadInteger(const std::string& name) const {
    std::int32_t value = 0;
    DWORD type = 0, size = sizeof(value);
    if (!FCurrentKey ||
        RegQueryValueExA(FCurrentKey.Get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        RaiseRegistry("Failed to get data for '%s'", name);
    if (type != REG_DWORD)
        RaiseRegistry("Invalid data type for '%s'", name);
    return value;
}

bool TRegistry::ReadBool(const std::string& name) const {
    return ReadInteger(name) != 0;
}

TDateTime TRegistry::ReadDateTime(const std::string& name) const {
    double value = 0;
    DWORD type = 0, size = sizeof(value);
    if (!FCurrentKey ||
        RegQueryValueExA(FCurrentKey.Get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        RaiseRegistry("Failed to get data for '%s'", name);
    if (type != REG_BINARY || size != sizeof(value))
        RaiseRegistry("Invalid data type for '%s'", name);
    return value;
}

namespace {

void SetValue(HKEY key, const std::string& name, DWORD type, const void* data, DWORD size) {
    if (key == nullptr ||
        RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) !=
            ERROR_SUCCESS)
        RaiseRegistry("Failed to set data for '%s'", name);
}

}  // namespace

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    SetValue(FCurrentKey.Get(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
    SetValue(FCurrentKey.Get(), name, REG_DWORD, &value, sizeof(value));
}

void TRegistry::WriteBool(const std::string& name, bool value) {
    WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteDateTime(const std::string& name, TDateTime value) {
    SetValue(FCurrentKey.Get(), name, REG_BINARY, &value, sizeof(value));
}

void TRegistry::GetValueNames(TStringList& names) const {
    ListNames(FCurrentKey.Get(), TNameKind::Values, names);
}

void TRegistry::GetKeyNames(TStringList& names) const {
    ListNames(FCurrentKey.Get(), TNameKind::Keys, names);
}

bool TRegistry::DeleteValue(const std::string& name) {
    return FCurrentKey && RegDeleteValueA(FCurrentKey.Get(), name.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const std::string& name) {
    return DeleteTree(FCurrentKey ? FCurrentKey.Get() : HKEY_LOCAL_MACHINE, name);
}

bool TRegistry::ValidKeyName(const std::string& name) {
    // In the wide form, so that a trail byte of a double-byte character
    // equal to '\\' is not taken for one.
    std::wstring w = WideFromAnsi(name);
    return !w.empty() && w.size() <= 255 && w.find(L'\\') == std::wstring::npos;
}

bool TRegistry::SameKeyName(const std::string& a, const std::string& b) {
    TKeyNames names;
    names.Add(a);
    return names.IndexOf(b) == 0;
}

void TKeyNames::Add(const std::string& name) { FNames.push_back(WideFromAnsi(name)); }

int TKeyNames::IndexOf(const std::string& name) const {
    // The ordinal comparison ignoring case is the one the registry and the
    // file system make; the locale's linguistic one (CompareString) may call
    // two different key names equal or two spellings of one key different.
    const std::wstring w = WideFromAnsi(name);
    for (size_t i = 0; i < FNames.size(); ++i)
        if (CompareStringOrdinal(FNames[i].data(), static_cast<int>(FNames[i].size()), w.data(),
                                 static_cast<int>(w.size()), TRUE) == CSTR_EQUAL)
            return static_cast<int>(i);
    return -1;
}
