// The test's end of a virtual port: what it injects, reads back, switches
// and records, all on the state that the driver's device shares.
#include "virtual_port.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "port_details_backend.h"
#include "virtual_port_directory.h"
#include "virtual_port_state.h"

namespace tarn::driver {

namespace {

// Empty stays empty; any other id is normalised or refused.
std::string UsbIdOf(const std::string& id) {
    if (id.empty()) return id;
    if (auto normal = NormalUsbId(id)) return *normal;
    throw std::invalid_argument("a virtual port's USB id must be one to four hexadecimal digits");
}

}  // namespace

VirtualPort::VirtualPort(const std::string& name, const VirtualPortDetails& details) {
    const bool blank = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) <= 32; });
    if (blank || name.find_first_of("\\/") != std::string::npos) {
        throw std::invalid_argument("virtual port name must be a plain non-blank name");
    }
    VirtualPortDetails own = details;
    own.vendorId = UsbIdOf(details.vendorId);
    own.productId = UsbIdOf(details.productId);
    auto state = std::make_shared<VirtualPortState>(name, std::move(own));
    ListPort(state);
    state_ = std::move(state);
}

VirtualPort::~VirtualPort() { Remove(); }

const std::string& VirtualPort::Name() const { return state_->name; }

const VirtualPortDetails& VirtualPort::Details() const { return state_->details; }

std::vector<std::string> VirtualPort::PresentNames() { return ListedPortNames(); }

bool VirtualPort::IsOpen() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->open;
}

int VirtualPort::OpenCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->openCount;
}

bool VirtualPort::WaitOpen(bool open, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->open == open; });
}

void VirtualPort::Inject(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->input += bytes;
    state_->changed.notify_all();
}

void VirtualPort::KeepSending(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->endlessInput = bytes;
    state_->input += bytes;
    state_->changed.notify_all();
}

std::size_t VirtualPort::InputQueued() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->input.size();
}

std::string VirtualPort::TakeWritten() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return std::exchange(state_->written, std::string());
}

std::string VirtualPort::WaitWritten(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait_for(lock, timeout, [&] { return state_->written.size() >= count; });
    return std::exchange(state_->written, std::string());
}

void VirtualPort::SetModemStatus(std::uint32_t status) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->modemStatus = status;
    state_->changed.notify_all();
}

void VirtualPort::WakeWaitsOnLineChanges(bool wake) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->wakeWaitsOnLines = wake;
}

bool VirtualPort::Dtr() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->dtr;
}

bool VirtualPort::Rts() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->rts;
}

bool VirtualPort::BreakOn() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->breakOn;
}

std::vector<std::uint32_t> VirtualPort::Escapes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->escapes;
}

void VirtualPort::RefuseNextCommState() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->refuseNextCommState = true;
}

void VirtualPort::LimitNextWrite(std::uint32_t accepted) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->limitNextWrite = true;
    state_->nextWriteLimit = accepted;
}

void VirtualPort::FailNextQueueQuery() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->failNextQueueQuery = true;
}

void VirtualPort::HoldWrites(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->holdWrites = hold;
    state_->changed.notify_all();
}

void VirtualPort::HoldOutput(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->holdOutput = hold;
    if (!hold) state_->written += std::exchange(state_->lingering, std::string());
    state_->changed.notify_all();
}

bool VirtualPort::WaitHeldWrites(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->heldWrites >= count; });
}

void VirtualPort::RefuseOpens(std::uint32_t error) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->refuseOpenError = error;
}

std::uint64_t VirtualPort::QueueQueries() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->queueQueries;
}

bool VirtualPort::WaitQueueQueries(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->queueQueries >= count; });
}

std::vector<DCB> VirtualPort::AppliedStates() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->appliedStates;
}

std::vector<COMMTIMEOUTS> VirtualPort::AppliedTimeouts() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->appliedTimeouts;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> VirtualPort::AppliedQueueSizes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->appliedQueueSizes;
}

std::vector<std::uint32_t> VirtualPort::Purges() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->purges;
}

void VirtualPort::Remove() {
    UnlistPort(state_);
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->present) return;
    state_->present = false;
    state_->open = false;
    ++state_->generation;
    state_->changed.notify_all();
}

void VirtualPort::Unlist() { UnlistPort(state_); }

void VirtualPort::Plug() {
    if (!ListPort(state_)) return;
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->present = true;
    state_->changed.notify_all();
}

bool VirtualPort::IsPresent() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->present;
}

}  // namespace tarn::driver
