// A shell script of the test support run in a folder of its own, where it
// leaves its results as files. Natively the test runs it and waits for it to
// end; under Wine it starts through Wine's /bin/sh, which gives no process
// to wait for, so RunAndWait waits for the files instead.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarn::test {

class UnixScript {
public:
    // Makes the folder for `script` (a Unix path). On failure returns null
    // and says why in `whyNot`.
    static std::unique_ptr<UnixScript> Create(const std::string& script, std::string* whyNot);

    virtual ~UnixScript() = default;

    // The folder by its Unix path, as the script is given it.
    virtual const std::string& Folder() const = 0;

    // Starts `sh script arguments...`. Natively the script has ended when
    // this returns; under Wine it may still run.
    virtual bool Run(const std::vector<std::string>& arguments, std::string* whyNot) = 0;

    // Whether the folder holds the file `leaf`, or with an empty leaf
    // whether the folder itself is there.
    virtual bool Exists(const std::string& leaf) const = 0;

    // The text of the file `leaf` without surrounding white space.
    virtual std::string Read(const std::string& leaf) const = 0;

    virtual void Delete(const std::string& leaf) = 0;

    // The process whose end should take down what the script started, so
    // that a crashed test leaves nothing behind: natively this process;
    // under Wine 0, as scripts/wine-run.sh cleans up after the run instead.
    virtual unsigned long Owner() const = 0;

    // Runs the script and waits until it has left one of the files
    // `results`, which are deleted first, or, when `results` is empty,
    // until the folder has gone. False with `whyNot` when the script could
    // not start or the generous limit passed first.
    bool RunAndWait(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& results, std::string* whyNot);
};

}  // namespace tarn::test
