// The local line: the lock files other programs look for, and a real pty
// opened the way a serial device is (raw, no software flow control, any
// speed, a refused setting undone, controls a pty lacks reported as such).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

#include "console/line/line_speed.h"
#include "console/line/local_line.h"
#include "console/line/uucp_lock.h"

namespace {

class TempFolder {
public:
    TempFolder() { EXPECT_NE(mkdtemp(path_), nullptr); }
    ~TempFolder() { EXPECT_EQ(std::system((std::string("rm -rf ") + path_).c_str()), 0); }
    const char* path() const { return path_; }
    std::string operator/(const char* name) const { return std::string(path_) + "/" + name; }

private:
    char path_[32] = "/tmp/brisvane-line-XXXXXX";
};

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(UucpLock, NamesAndOwnersAsOtherProgramsWriteThem) {
    // From the real path: one name per device, however it was reached.
    char name[256];
    UucpLockName("/dev/ttyUSB0", name, sizeof name);
    EXPECT_STREQ(name, "LCK..ttyUSB0");
    UucpLockName("/dev/pts/3", name, sizeof name);
    EXPECT_STREQ(name, "LCK..pts_3");
    UucpLockName("/tmp/a/ttyA", name, sizeof name);  // and not the same as /tmp/b/ttyA
    EXPECT_STREQ(name, "LCK..tmp_a_ttyA");
    UucpLockName("/dev/pts/3", name, 9);
    EXPECT_STREQ(name, "LCK..pts");
    pid_t pid;
    ASSERT_TRUE(ParseLockOwner("      4242\n", 11, &pid));
    EXPECT_EQ(pid, 4242);
    int32_t binary = 777;
    ASSERT_TRUE(ParseLockOwner(reinterpret_cast<const char*>(&binary), 4, &pid));
    EXPECT_EQ(pid, 777);
    EXPECT_FALSE(ParseLockOwner("garbage\n", 8, &pid));
    EXPECT_FALSE(ParseLockOwner("         0\n", 11, &pid));
}

TEST(UucpLock, ALiveOwnerIsBusyAStaleOneIsTakenOverAndOursGoes) {
    TempFolder folder;
    std::string device = folder / "ttyV0";
    std::ofstream(device) << "";  // the device, reached through a link below
    std::string link = folder / "by-id";
    ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
    char real[PATH_MAX], name[256];
    ASSERT_NE(realpath(device.c_str(), real), nullptr);
    UucpLockName(real, name, sizeof name);
    std::string lockFile = folder / name;
    std::ofstream(lockFile) << "         1\n";  // init: alive
    UucpLock lock;
    pid_t holder = 0;
    EXPECT_EQ(TakeUucpLock(folder.path(), link.c_str(), &lock, &holder), LockResult::Busy);
    EXPECT_EQ(holder, 1);
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    std::ofstream(lockFile, std::ios::trunc) << "     " << gone << "\n";
    ASSERT_EQ(TakeUucpLock(folder.path(), device.c_str(), &lock, &holder), LockResult::Taken);
    char mine[16];
    std::snprintf(mine, sizeof mine, "%10d\n", int(getpid()));
    EXPECT_EQ(Contents(lockFile), mine);
    ReleaseUucpLock(&lock);
    EXPECT_NE(access(lockFile.c_str(), F_OK), 0);
    // A folder nobody may write: no lock file, and no complaint.
    EXPECT_EQ(TakeUucpLock("/proc", device.c_str(), &lock, &holder), LockResult::Taken);
    EXPECT_EQ(lock.count, 0u);
}

class PtyLine : public ::testing::Test {
protected:
    int master = -1, slave = -1;
    char name[64];
    TempFolder locks;
    void SetUp() override {
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        struct termios t;
        tcgetattr(slave, &t);
        t.c_iflag |= IXON | IXOFF | IXANY;  // as a previous program may leave them
        tcsetattr(slave, TCSANOW, &t);
    }
    void TearDown() override {
        close(master);
        close(slave);
    }
    LineControls Controls(const char* settings) {
        LineControls controls = {DefaultLineSettings, false, -1, -1};
        const char* problem;
        EXPECT_TRUE(ParseLineSettings(settings, &controls.settings, &problem));
        return controls;
    }
};

TEST_F(PtyLine, OpensRawAtAnySpeedAndUndoesARefusedSetting) {
    LocalLine line(name, locks.path());
    char message[256];
    ASSERT_EQ(line.Open(Controls("250000"), message, sizeof message), OpenResult::Open) << message;
    struct termios t;
    tcgetattr(slave, &t);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(ReadLineSpeed(slave), 250000u);
    // A second open is refused while this one holds the device.
    LocalLine second(name, locks.path());
    EXPECT_EQ(second.Open(Controls("9600"), message, sizeof message), OpenResult::Failed);
    EXPECT_NE(std::string(message).find("busy"), std::string::npos) << message;

    ASSERT_EQ(line.Apply(Controls("74880"), message, sizeof message), ControlResult::Done);
    EXPECT_EQ(ReadLineSpeed(slave), 74880u);
    // A pty keeps only 8 bits and no parity: the driver refuses, the old settings stay.
    EXPECT_EQ(line.Apply(Controls("115200,e,7,1"), message, sizeof message), ControlResult::Refused);
    EXPECT_EQ(ReadLineSpeed(slave), 74880u);
    ModemLines lines;
    EXPECT_EQ(line.ReadModemLines(&lines), ControlResult::Unsupported);
    EXPECT_EQ(line.SetModemOutput(ModemOutput::Dtr, false), ControlResult::Unsupported);

    const uint8_t out[] = "to the host";
    unsigned count = 0;
    ASSERT_EQ(line.Write(out, 11, &count), IoResult::Done);
    char got[16] = "";
    EXPECT_EQ(read(master, got, sizeof got), 11);
    line.Close();
    EXPECT_EQ(second.Open(Controls("9600"), message, sizeof message), OpenResult::Open) << message;
}

TEST_F(PtyLine, AMissingDeviceIsMissingAndAFileIsNoTerminal) {
    char message[256];
    LocalLine missing((locks / "ttyUSB9").c_str(), locks.path());
    EXPECT_EQ(missing.Open(Controls("9600"), message, sizeof message), OpenResult::Missing);
    std::ofstream(locks / "plain") << "x";
    LocalLine plain((locks / "plain").c_str(), locks.path());
    EXPECT_EQ(plain.Open(Controls("9600"), message, sizeof message), OpenResult::Failed);
    EXPECT_NE(std::string(message).find("not a terminal"), std::string::npos);
    EXPECT_EQ(access((locks / "LCK..plain").c_str(), F_OK), -1);  // its lock file went with it
}

TEST(StandardSpeeds, StepUpAndDownWrapping) {
    EXPECT_EQ(StepStandardSpeed(9600, +1), 19200u);
    EXPECT_EQ(StepStandardSpeed(9600, -1), 4800u);
    EXPECT_EQ(StepStandardSpeed(74880, +1), 115200u);
    EXPECT_EQ(StepStandardSpeed(50, -1), StepStandardSpeed(4000000000u, -1));
}

}  // namespace
