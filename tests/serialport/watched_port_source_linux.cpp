// Natively a pseudo-terminal is on the port list while the driver holds its
// port end open and the line is up; it leaves it when the driver closes it
// or when the peer end closes and the line hangs up.
#include <memory>
#include <string>

#include "host_strings.h"
#include "pty_pair.h"
#include "serial_driver.h"
#include "watched_port_source.h"

namespace tarn::test {
namespace {

class PtyPortSource final : public WatchedPortSource {
public:
    // The pair is made at once, so that its name is known before it is on
    // the list.
    PtyPortSource() : pair_(PtyPair::Create(&whyNot_)) {
        if (pair_) {
            listed_ = tarn::host::UpperCaseAscii(tarn::host::AnsiToUnicode(pair_->PortName()));
        }
    }
    ~PtyPortSource() override { Close(); }

    tarn::host::UnicodeString ListedName() const override { return listed_; }

    bool Appear(std::string& whyNot) override {
        if (!pair_) {
            whyNot = whyNot_;
            return false;
        }
        handle_ = tarn::driver::CreateFileA("\\\\.\\" + pair_->PortName());
        if (handle_ == tarn::driver::INVALID_HANDLE_VALUE) whyNot = "the driver cannot open it";
        return handle_ != tarn::driver::INVALID_HANDLE_VALUE;
    }

    // The driver closes its handle; for good, the peer end closes instead
    // and the line hangs up while the port stays open.
    bool Vanish(bool forGood, std::string&) override {
        if (forGood) {
            pair_->Remove();
        } else {
            Close();
        }
        return true;
    }

private:
    void Close() {
        if (handle_ != tarn::driver::INVALID_HANDLE_VALUE) tarn::driver::CloseHandle(handle_);
        handle_ = tarn::driver::INVALID_HANDLE_VALUE;
    }

    std::string whyNot_;
    std::unique_ptr<PtyPair> pair_;
    tarn::driver::HANDLE handle_ = tarn::driver::INVALID_HANDLE_VALUE;
    tarn::host::UnicodeString listed_;
};

}  // namespace

std::unique_ptr<WatchedPortSource> MakeSystemPortSource() {
    return std::make_unique<PtyPortSource>();
}

}  // namespace tarn::test
