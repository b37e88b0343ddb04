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

// REQUIRES: state.mutex held.
std::size_t QueueInput(VirtualPortState& state, const std::string& bytes, bool restLost) {
    const std::size_t room =
        state.input.size() < state.inputLimit ? state.inputLimit - state.input.size() : 0;
    const std::size_t taken = std::min(room, bytes.size());
    state.input.append(bytes, 0, taken);
    if (restLost && taken < bytes.size()) state.inputOverrun = true;
    state.changed.notify_all();
    return taken;
}

// Takes every opening's bytes. REQUIRES: state.mutex held.
std::string TakeAllWritten(VirtualPortState& state) {
    state.writtenOpeningStarts.clear();
    state.writtenOpening = state.openCount;
    return std::exchange(state.written, std::string());
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

std::size_t VirtualPort::Inject(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return QueueInput(*state_, bytes, true);
}

std::size_t VirtualPort::InjectInto(int opening, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->open || state_->openCount != opening) return 0;
    return QueueInput(*state_, bytes, false);
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

bool VirtualPort::WaitInputRoom(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->input.size() < state_->inputLimit; });
}

std::string VirtualPort::TakeWritten() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return TakeAllWritten(*state_);
}

std::string VirtualPort::WaitWritten(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait_for(lock, timeout, [&] { return state_->written.size() >= count; });
    return TakeAllWritten(*state_);
}

VirtualWrites VirtualPort::WaitWrittenByOneOpening(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    VirtualPortState& s = *state_;
    if (!s.changed.wait_for(lock, timeout, [&] { return !s.written.empty(); })) return {};
    std::vector<std::size_t>& starts = s.writtenOpeningStarts;
    // Openings that wrote nothing have nothing to take.
    while (!starts.empty() && starts.front() == 0) {
        starts.erase(starts.begin());
        ++s.writtenOpening;
    }
    VirtualWrites taken;
    taken.opening = s.writtenOpening;
    if (starts.empty()) {
        taken.bytes = TakeAllWritten(s);
        return taken;
    }
    const std::size_t end = starts.front();
    taken.bytes = s.written.substr(0, end);
    s.written.erase(0, end);
    starts.erase(starts.begin());
    for (std::size_t& start : starts) start -= end;
    ++s.writtenOpening;
    return taken;
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
    return state_->changed.wait_for(lock, timeout, [&] { return state_->heldWrites >= count; });
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
    return state_->changed.wait_for(lock, timeout, [&] { return state_->queueQueries >= count; });
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
