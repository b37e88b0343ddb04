// The system's part of the port change signal on Windows:
// RegNotifyChangeKeyValue on the port list key, armed before each wait with
// an event, and a second event that Wake and Cancel set, both waited for at
// once. The key is volatile and exists only while some port is listed, so
// while it is missing its parent, HARDWARE\DEVICEMAP, is watched with its
// subkeys, and the port list key is opened again after every change.
#include <cstdint>
#include <memory>
#include <string>

#include "host_windows.h"
#include "port_change_signal.h"

namespace tarn::driver {
namespace {

class RegistryWatch final : public PortChangeSignal::SystemWatch {
public:
    RegistryWatch() {
        interrupt_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        changed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        Arm();
        watchable_ = armed_;
    }

    ~RegistryWatch() override {
        CloseKey();
        if (changed_ != nullptr) CloseHandle(changed_);
        if (interrupt_ != nullptr) CloseHandle(interrupt_);
    }

    bool Watching() const override { return watchable_; }

    // Every entry of the port list is a value of the watched key.
    bool Covers(const std::string&) const override { return true; }

    bool Wait(std::uint32_t timeoutMs) override {
        // A notification lasts for one change only. It is armed again at
        // once when it fires, before the caller reads the list, so that a
        // change made while the caller reads is not missed; and on the
        // waiting thread, as an armed notification ends with the thread
        // that armed it.
        if (!armed_) Arm();
        HANDLE handles[2] = {interrupt_, changed_};
        const DWORD count = armed_ ? 2 : 1;
        const DWORD woke = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
        if (woke != WAIT_OBJECT_0 + 1) return false;
        armed_ = false;
        Arm();
        return true;
    }

    void Interrupt() override {
        if (interrupt_ != nullptr) SetEvent(interrupt_);
    }

private:
    void CloseKey() {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }

    // Opens the key to watch and arms its notification. Unarmed when
    // neither key can be watched: the wait then ends only by time-out or
    // interruption.
    void Arm() {
        if (changed_ == nullptr) return;
        // The port list key may have been made or deleted since the last
        // change; it is looked for again each time.
        CloseKey();
        BOOL subtree = FALSE;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_NOTIFY,
                          &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
            subtree = TRUE;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP", 0, KEY_NOTIFY, &key_) !=
                ERROR_SUCCESS) {
                key_ = nullptr;
                return;
            }
        }
        const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
        armed_ = RegNotifyChangeKeyValue(key_, subtree, filter, changed_, TRUE) == ERROR_SUCCESS;
    }

    HANDLE interrupt_ = nullptr;
    HANDLE changed_ = nullptr;
    HKEY key_ = nullptr;
    bool armed_ = false;      // waiting thread only
    bool watchable_ = false;  // constant after construction
};

}  // namespace

namespace detail {

std::unique_ptr<PortChangeSignal::SystemWatch> OpenSystemWatch() {
    return std::make_unique<RegistryWatch>();
}

}  // namespace detail

}  // namespace tarn::driver
