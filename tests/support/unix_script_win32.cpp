// Support scripts run under Wine: Wine's /bin/sh reads them from the source
// tree, and the test waits for their files.
#include "unix_script.h"
#include "wine_unix_win32.h"

#include "host_windows.h"

namespace tarn::test {
namespace {

class WineUnixScript final : public UnixScript {
public:
    WineUnixScript(std::string script, std::string folder, std::wstring dosFolder)
        : script_(std::move(script)),
          folder_(std::move(folder)),
          dosFolder_(std::move(dosFolder)) {}

    const std::string& Folder() const override { return folder_; }

    bool Run(const std::vector<std::string>& arguments, std::string* whyNot) override {
        return wine::RunShellScript(script_, arguments, whyNot);
    }

    bool Exists(const std::string& leaf) const override { return wine::Exists(Path(leaf)); }

    std::string Read(const std::string& leaf) const override {
        return wine::ReadWholeFile(Path(leaf));
    }

    void Delete(const std::string& leaf) override { ::DeleteFileW(Path(leaf).c_str()); }

    unsigned long Owner() const override { return 0; }

private:
    std::wstring Path(const std::string& leaf) const {
        return leaf.empty() ? dosFolder_ : dosFolder_ + L"\\" + wine::FromUtf8(leaf);
    }

    const std::string script_;
    const std::string folder_;
    const std::wstring dosFolder_;
};

}  // namespace

std::unique_ptr<UnixScript> UnixScript::Create(const std::string& script, std::string* whyNot) {
    if (!wine::Available()) {
        if (whyNot) *whyNot = "Unix scripts need Wine (kernel32 lacks its file name calls)";
        return nullptr;
    }
    // A build that was moved away from its source tree has no script.
    if (!wine::Exists(wine::DosName(script))) {
        if (whyNot) *whyNot = "the script " + script + " is missing";
        return nullptr;
    }
    std::string folder;
    std::wstring dosFolder;
    if (!wine::NewWorkFolder(folder, dosFolder, whyNot)) return nullptr;
    return std::make_unique<WineUnixScript>(script, folder, dosFolder);
}

}  // namespace tarn::test
