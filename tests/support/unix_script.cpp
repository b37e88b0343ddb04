// Waiting for the files of a support script (unix_script.h).
#include <chrono>
#include <thread>

#include "unix_script.h"

namespace tarn::test {

bool UnixScript::RunAndWait(const std::vector<std::string>& arguments,
                            const std::vector<std::string>& results, std::string* whyNot) {
    using Clock = std::chrono::steady_clock;
    // Under Wine the script may not have started when the wait begins, so
    // the files of an earlier run must not be there.
    for (const std::string& leaf : results) Delete(leaf);
    if (!Run(arguments, whyNot)) return false;
    // A script takes well under a second; the bound only keeps a broken
    // setup from hanging the suite.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        if (results.empty() && !Exists({})) return true;
        for (const std::string& leaf : results) {
            if (Exists(leaf)) return true;
        }
        if (Clock::now() >= deadline) {
            if (whyNot)
                *whyNot = "the script " + arguments.front() + " did not finish in " + Folder();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace tarn::test
