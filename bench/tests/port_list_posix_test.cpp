// The machine's serial hardware as listed from sysfs, where the listing
// remembers which entries are virtual terminals: it must list what a fresh
// look at every entry finds, every time, and must not take an entry for a
// virtual terminal by where its link points outside sysfs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "serial_hardware_linux.h"

namespace tarn::bench {
namespace {

namespace fs = std::filesystem;
using tarn::driver::ListSerialHardware;

std::vector<std::string> Names(const std::vector<tarn::driver::SerialHardware>& found) {
    std::vector<std::string> names;
    for (const auto& hw : found) names.push_back(hw.kernelName + "=" + hw.portName);
    return names;
}

// Every entry looked at afresh: a driver behind it, and no legacy UART node
// without a chip.
std::set<std::string> FreshLook(const fs::path& classDirectory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(classDirectory)) {
        struct stat st;
        if (stat((entry.path() / "device" / "driver").c_str(), &st) != 0) continue;
        std::ifstream type(entry.path() / "type");
        long value = -1;
        if (type >> value && value == 0) continue;
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(PortList, RepeatedListingsOfSysfsMatchAFreshLookAtEveryEntry) {
    const fs::path tty = "/sys/class/tty";
    ASSERT_TRUE(fs::is_directory(tty)) << "the benchmarks need sysfs";
    const std::set<std::string> expected = FreshLook(tty);
    for (int listing = 0; listing < 3; ++listing) {
        std::set<std::string> listed;
        for (const auto& hw : ListSerialHardware(tty.string())) listed.insert(hw.kernelName);
        EXPECT_EQ(listed, expected) << "listing " << listing;
    }
    // The presence check looks up its one entry alone, with the same answer.
    for (const auto& entry : fs::directory_iterator(tty)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(tarn::driver::FindSerialHardware(name, tty.string()).has_value(),
                  expected.count(name) == 1)
            << name;
    }
}

class ScratchClassDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarn-port-list-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(root / "class");
        fs::create_directories(root / "driver");
    }
    void TearDown() override { fs::remove_all(root); }

    // A device directory with a driver, where `link` of the class directory
    // points.
    void LinkedDevice(const std::string& link, const fs::path& device) {
        fs::create_directories(device / "device");
        fs::create_directory_symlink(root / "driver", device / "device" / "driver");
        fs::create_directory_symlink(device, root / "class" / link);
    }

    fs::path root;
};

TEST_F(ScratchClassDirectory, OutsideSysfsALinkIntoAVirtualFolderIsLookedAt) {
    LinkedDevice("ttyUSB0", root / "devices" / "virtual" / "tty" / "ttyUSB0");
    LinkedDevice("ttyACM0", root / "devices" / "pci0000:00" / "tty" / "ttyACM0");
    const std::vector<std::string> expected = {"ttyACM0=ttyACM0", "ttyUSB0=ttyUSB0"};
    EXPECT_EQ(Names(ListSerialHardware((root / "class").string())), expected);
    EXPECT_EQ(Names(ListSerialHardware((root / "class").string())), expected);

    // An entry replaced between two listings is looked at again.
    fs::remove(root / "class" / "ttyACM0");
    fs::create_directories(root / "class" / "ttyACM0");
    EXPECT_EQ(Names(ListSerialHardware((root / "class").string())),
              std::vector<std::string>{"ttyUSB0=ttyUSB0"});
}

}  // namespace
}  // namespace tarn::bench
