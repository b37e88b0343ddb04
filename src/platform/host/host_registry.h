// The host runtime's registry class, read-only. Opening a key takes a snapshot of its values; reads
// answer from that snapshot until the key is closed. A TRegistry belongs to
// one thread at a time; separate instances may be used on separate threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host_stringlist.h"
#include "host_strings.h"

namespace tarn::host {

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;

struct RegistryValue {
    std::u16string name;
    bool isString = false;  // REG_SZ or REG_EXPAND_SZ
    std::u16string data;    // the string data when isString
};

// Reads all values of `root`\`path` from the system's registry, read-only,
// in the order the registry enumerates them. Returns false when the key
// cannot be opened, which off Windows, where there is no registry, is
// always so. Safe on any thread.
bool ReadSystemRegistryKey(HKEY root, const std::u16string& path,
                           std::vector<RegistryValue>& values);

class TRegistry {
public:
    // Reads one key; the seam through which a layer above (the port list)
    // or a test stands in for the registry. Same contract as
    // ReadSystemRegistryKey.
    using KeyReader = std::function<bool(HKEY root, const std::u16string& path,
                                         std::vector<RegistryValue>& values)>;

    // The root key starts as HKEY_CURRENT_USER, as the host's does. Without
    // a reader, keys are read from the system's registry.
    TRegistry();
    explicit TRegistry(KeyReader reader);

    HKEY RootKey() const { return root_; }
    // Changing the root closes an open key.
    void SetRootKey(HKEY root);

    // Opens `key` for reading. A key starting with a backslash, or any key
    // while none is open, is taken from the root; otherwise it is below the
    // open key. Returns false, leaving the previous key open, when the key
    // cannot be opened.
    bool OpenKeyReadOnly(const UnicodeString& key);
    void CloseKey();
    bool HasOpenKey() const { return open_; }
    // The open key's path below the root, without a leading backslash.
    const UnicodeString& CurrentPath() const { return path_; }

    // Clears `names`, then adds the value names in registry order. With no
    // key open the list stays empty.
    void GetValueNames(TStrings& names) const;
    // Value names compare without regard to the case of a to z.
    bool ValueExists(const UnicodeString& name) const;
    // The string data of a value; "" when the value does not exist or no key
    // is open. Raises ERegistryException when the value is not a string.
    UnicodeString ReadString(const UnicodeString& name) const;

private:
    const RegistryValue* Find(const UnicodeString& name) const;

    KeyReader reader_;
    HKEY root_ = HKEY_CURRENT_USER;
    bool open_ = false;
    UnicodeString path_;
    std::vector<RegistryValue> values_;
};

}  // namespace tarn::host
