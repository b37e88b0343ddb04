// The host runtime's registry class, read-only, over the registry seam of
// registry_backend.h. Opening a key takes a snapshot of its values; reads
// answer from that snapshot until the key is closed. A TRegistry belongs to
// one thread at a time; separate instances may be used on separate threads.
#pragma once

#include <functional>
#include <vector>

#include "host_stringlist.h"
#include "host_strings.h"
#include "registry_backend.h"

namespace tarn::host {

using driver::HKEY;
using driver::HKEY_CURRENT_USER;
using driver::HKEY_LOCAL_MACHINE;

class TRegistry {
public:
    // Reads one key; the seam through which a test can stand in for the
    // registry. Same contract as driver::ReadRegistryKey.
    using KeyReader = std::function<bool(HKEY root, const std::u16string& path,
                                         std::vector<driver::RegistryValue>& values)>;

    // The root key starts as HKEY_CURRENT_USER, as the host's does.
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
    const driver::RegistryValue* Find(const UnicodeString& name) const;

    KeyReader reader_;
    HKEY root_ = HKEY_CURRENT_USER;
    bool open_ = false;
    UnicodeString path_;
    std::vector<driver::RegistryValue> values_;
};

}  // namespace tarn::host
