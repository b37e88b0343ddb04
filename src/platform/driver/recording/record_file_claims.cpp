#include "record_file_claims.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "host_system_error.h"
#include "host_textfile.h"
#include "recording_device.h"

namespace tarn::driver::recording {
namespace {

struct Claim {
    tarn::host::FileIdentity file;
    std::string port;
    std::weak_ptr<RecordingDevice> recording;
};

std::mutex& ClaimsMutex() {
    // Never destroyed: a detached thread may still start or end a
    // recording while the process exits.
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::vector<Claim>& Claims() {
    static auto* claims = new std::vector<Claim>;
    return *claims;
}

}  // namespace

bool ClaimRecordFile(const std::string& path, const std::string& port,
                     const std::shared_ptr<RecordingDevice>& recording,
                     const std::function<bool()>& open) {
    const tarn::host::UnicodeString name = tarn::host::AnsiToUnicode(path);
    std::lock_guard<std::mutex> lock(ClaimsMutex());
    std::vector<Claim>& claims = Claims();
    // A recording that has ended, by a close or a failed write, holds its
    // file no longer.
    claims.erase(std::remove_if(claims.begin(), claims.end(),
                                [](const Claim& claim) {
                                    const auto holder = claim.recording.lock();
                                    return holder == nullptr || !holder->IsWriting();
                                }),
                 claims.end());
    // A file that is not there yet is nobody's.
    if (const std::optional<tarn::host::FileIdentity> file = tarn::host::IdentityOfFile(name)) {
        std::vector<std::shared_ptr<RecordingDevice>> earlier;
        for (const Claim& claim : claims) {
            const auto holder = claim.recording.lock();
            if (holder == nullptr || claim.file != *file) continue;
            if (holder->Recorded() != recording->Recorded()) {
                tarn::host::SetLastError(tarn::host::DescribedError(
                    "Cannot record " + port + " to " + path + ": the session of " + claim.port +
                    " is recorded there. Give each port a file of its own."));
                return false;
            }
            earlier.push_back(holder);
        }
        for (const auto& holder : earlier) holder->Stop();
    }
    if (!open()) return false;
    if (const std::optional<tarn::host::FileIdentity> file = tarn::host::IdentityOfFile(name)) {
        claims.push_back({*file, port, recording});
    }
    return true;
}

}  // namespace tarn::driver::recording
