// The local line: the lock files other programs look for, a real pty
// opened the way a serial device is (raw, no software flow control, any
// speed, a refused setting undone, controls a pty lacks reported as such),
// and the devices found in a sysfs and /dev laid out in a temp folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

#include "console/line/line_speed.h"
#include "console/line/device_list.h"
#include "console/line/local_line.h"
#include "console/line/serial_devices.h"
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
    // Under /dev the rest of the path, elsewhere its last part, as other
    // programs name the lock from the path they were given.
    char name[256];
    UucpLockName("/dev/ttyUSB0", name, sizeof name);
    EXPECT_STREQ(name, "LCK..ttyUSB0");
    UucpLockName("/dev/pts/3", name, sizeof name);
    EXPECT_STREQ(name, "LCK..pts_3");
    UucpLockName("/dev/serial/by-id/usb-FTDI_A1", name, sizeof name);
    EXPECT_STREQ(name, "LCK..serial_by-id_usb-FTDI_A1");
    UucpLockName("/srv/lab/board1", name, sizeof name);
    EXPECT_STREQ(name, "LCK..board1");
    UucpLockName("lab/board1", name, sizeof name);
    EXPECT_STREQ(name, "LCK..board1");
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

// The process number of a process that has ended.
pid_t Gone() {
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    return gone;
}

void WriteOwner(const std::string& path, pid_t pid) {
    std::ofstream(path, std::ios::trunc) << "     " << pid << "\n";
}

TEST(UucpLock, ALiveOwnerUnderEitherNameIsBusyStaleOnesAreTakenOverAndOursGo) {
    TempFolder folder;
    std::string device = folder / "ttyV0";
    std::ofstream(device) << "";  // the device, reached through a link below
    std::string link = folder / "board1";
    ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
    std::string real = folder / "LCK..ttyV0", given = folder / "LCK..board1";
    UucpLock lock;
    pid_t holder = 0;
    // Live under the real node's name, the device reached through the link.
    WriteOwner(real, 1);  // init: alive
    EXPECT_EQ(TakeUucpLock(folder.path(), link.c_str(), &lock, &holder), LockResult::Busy);
    EXPECT_EQ(holder, 1);
    // Live under the given name alone: busy, and the real node's lock taken
    // on the way is gone again.
    WriteOwner(real, Gone());
    WriteOwner(given, 1);
    holder = 0;
    EXPECT_EQ(TakeUucpLock(folder.path(), link.c_str(), &lock, &holder), LockResult::Busy);
    EXPECT_EQ(holder, 1);
    EXPECT_EQ(lock.count, 0u);
    EXPECT_NE(access(real.c_str(), F_OK), 0);
    // Stale under both: both taken over, and both ours until released.
    WriteOwner(real, Gone());
    WriteOwner(given, Gone());
    ASSERT_EQ(TakeUucpLock(folder.path(), link.c_str(), &lock, &holder), LockResult::Taken);
    char mine[16];
    std::snprintf(mine, sizeof mine, "%10d\n", int(getpid()));
    EXPECT_EQ(Contents(real), mine);
    EXPECT_EQ(Contents(given), mine);
    ReleaseUucpLock(&lock);
    EXPECT_NE(access(real.c_str(), F_OK), 0);
    EXPECT_NE(access(given.c_str(), F_OK), 0);
    // The real node given: its one lock.
    ASSERT_EQ(TakeUucpLock(folder.path(), device.c_str(), &lock, &holder), LockResult::Taken);
    EXPECT_EQ(lock.count, 1u);
    ReleaseUucpLock(&lock);
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

// Three adapters on one hub as the kernel and udev lay them out: two of
// one make (told apart by serial number and port), one ACM on interface 2
// whose node udev named otherwise, and a console with no device behind it.
class DeviceTree : public ::testing::Test {
protected:
    TempFolder root;
    std::string sys = root / "sys", dev = root / "dev";
    DeviceRoots roots{sys.c_str(), dev.c_str()};
    const std::string hub = "devices/pci0000:00/0000:00:14.0/usb1/1-1/";

    static void FolderOf(const std::string& path) {
        for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0755);
    }
    static void Write(const std::string& path, const std::string& text) {
        FolderOf(path);
        std::ofstream(path) << text;
    }
    static void Link(const std::string& target, const std::string& path) {
        FolderOf(path);
        ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
    }
    // The USB device at `port` with one serial interface, number `face`.
    std::string Usb(const std::string& port, int face, const char* ids, const char* serial, const char* maker,
                    const char* product) {
        std::string usb = sys + "/" + hub + port;
        Write(usb + "/idVendor", std::string(ids, 4) + "\n");
        Write(usb + "/idProduct", std::string(ids + 5, 4) + "\n");
        if (serial[0] != '\0') Write(usb + "/serial", std::string(serial) + "\n");
        Write(usb + "/manufacturer", std::string(maker) + "\n");
        Write(usb + "/product", std::string(product) + "\n");
        std::string face_ = port + ":1." + std::to_string(face);
        Write(usb + "/" + face_ + "/bInterfaceNumber", "0" + std::to_string(face) + "\n");
        return hub + port + "/" + face_;
    }
    void SetUp() override {
        // ttyUSB0: the class link relative, as the kernel makes it.
        std::string one = Usb("1-1.1", 0, "0403:6001", "A10K", "FTDI", "FT232R USB UART") + "/ttyUSB0";
        Write(sys + "/" + one + "/tty/ttyUSB0/dev", "188:0\n");
        Link("../../../ttyUSB0", sys + "/" + one + "/tty/ttyUSB0/device");
        Link("../../../../../../../../bus/usb-serial/drivers/ftdi_sio", sys + "/" + one + "/driver");
        Link("../../" + one + "/tty/ttyUSB0", sys + "/class/tty/ttyUSB0");
        // ttyUSB1: an absolute link, meaning the root's own /devices.
        std::string two = Usb("1-1.2", 0, "0403:6001", "B20K", "FTDI", "FT232R USB UART") + "/ttyUSB1";
        Write(sys + "/" + two + "/tty/ttyUSB1/dev", "188:1\n");
        Link("../../../ttyUSB1", sys + "/" + two + "/tty/ttyUSB1/device");
        Link("../../../../../../../../bus/usb-serial/drivers/ftdi_sio", sys + "/" + two + "/driver");
        Link("/" + two + "/tty/ttyUSB1", sys + "/class/tty/ttyUSB1");
        // ttyACM0 on interface 2, its node named "probe": found by number
        // (a link to /dev/null stands for a node with 1:3).
        std::string acm = Usb("1-1.4.3", 2, "2e8a:000c", "", "Raspberry Pi", "Debugprobe");
        Write(sys + "/" + acm + "/tty/ttyACM0/dev", "1:3\n");
        Link("../../../1-1.4.3:1.2", sys + "/" + acm + "/tty/ttyACM0/device");
        Link("../../../../../../../bus/usb/drivers/cdc_acm", sys + "/" + acm + "/driver");
        Link("../../" + acm + "/tty/ttyACM0", sys + "/class/tty/ttyACM0");
        // A console: no device link, never listed.
        Write(sys + "/devices/virtual/tty/tty1/dev", "4:1\n");
        Link("../../devices/virtual/tty/tty1", sys + "/class/tty/tty1");
        // A link that climbs out of the root stays inside it, and finds
        // nothing (outside, it would be this machine's first port).
        Link("../../../../../../../../../sys/class/tty/ttyS0", sys + "/class/tty/ttyX9");
        Write(dev + "/ttyX9", "");

        Write(dev + "/ttyUSB0", "");
        Write(dev + "/ttyUSB1", "");
        Write(dev + "/tty1", "");
        Link("/dev/null", dev + "/probe");
        Link("../../ttyUSB0", dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0");
        Link("../../ttyUSB1", dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_B20K-if00-port0");
        Link("../../probe", dev + "/serial/by-id/usb-Raspberry_Pi_Debugprobe-if02");
        Link("../../ttyUSB1", dev + "/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0");
    }
    std::string Resolve(const char* name, Resolved expected) {
        std::string path;
        char problem[512] = "";
        EXPECT_EQ(ResolveDeviceName(roots, name, &path, problem, sizeof problem), expected) << name;
        return expected == Resolved::Found ? path : std::string(problem);
    }
};

TEST_F(DeviceTree, ListsEachAdapterWithItsNamesDriverIdsAndTopology) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ListSerialDevices(roots, {}, out);
    std::fclose(out);
    std::string listed(text, size);
    std::free(text);
    EXPECT_EQ(listed, dev +
                          "/probe\n"
                          "  by-id        usb-Raspberry_Pi_Debugprobe-if02\n"
                          "  driver       cdc_acm\n"
                          "  usb          2e8a:000c\n"
                          "  description  Raspberry Pi Debugprobe\n"
                          "  topology     1-1.4.3:2\n" +
                          dev +
                          "/ttyUSB0\n"
                          "  by-id        usb-FTDI_FT232R_USB_UART_A10K-if00-port0\n"
                          "  driver       ftdi_sio\n"
                          "  usb          0403:6001\n"
                          "  serial       A10K\n"
                          "  description  FTDI FT232R USB UART\n"
                          "  topology     1-1.1\n" +
                          dev +
                          "/ttyUSB1\n"
                          "  by-id        usb-FTDI_FT232R_USB_UART_B20K-if00-port0\n"
                          "  by-path      pci-0000:00:14.0-usb-0:1.2:1.0-port0\n"
                          "  driver       ftdi_sio\n"
                          "  usb          0403:6001\n"
                          "  serial       B20K\n"
                          "  description  FTDI FT232R USB UART\n"
                          "  topology     1-1.2\n");
    // Left out by driver, by a by-id glob, by a path glob.
    out = open_memstream(&text, &size);
    ListSerialDevices(roots, {"cdc_acm", "*B20K*", "*/ttyUSB0"}, out);
    std::fclose(out);
    EXPECT_STREQ(text, "no serial devices\n");
    std::free(text);
}

TEST_F(DeviceTree, NamesByIdUsbAndTopologyAndRefusesSeveral) {
    EXPECT_EQ(Resolve("usb-FTDI_FT232R_USB_UART_B20K-if00-port0", Resolved::Found), dev + "/ttyUSB1");
    EXPECT_EQ(Resolve("pci-0000:00:14.0-usb-0:1.2:1.0-port0", Resolved::Found), dev + "/ttyUSB1");
    EXPECT_EQ(Resolve("usb:0403:6001:A10K", Resolved::Found), dev + "/ttyUSB0");
    EXPECT_EQ(Resolve("USB:2E8A:C", Resolved::Found), dev + "/probe");
    EXPECT_EQ(Resolve("1-1.2", Resolved::Found), dev + "/ttyUSB1");
    EXPECT_EQ(Resolve("1-1.4.3", Resolved::Found), dev + "/probe");  // its only interface
    EXPECT_EQ(Resolve("/dev/ttyUSB7", Resolved::Found), "/dev/ttyUSB7");
    EXPECT_EQ(Resolve("ttyUSB7", Resolved::Found), "ttyUSB7");  // a file here, as before
    EXPECT_EQ(Resolve("usb:0403:6001", Resolved::Ambiguous),
              "usb:0403:6001 names 2 devices: " + dev + "/ttyUSB0 (1-1.1, serial A10K), " + dev +
                  "/ttyUSB1 (1-1.2, serial B20K); give one of those or its topology");
    EXPECT_NE(Resolve("1-1", Resolved::Missing).find("no such device present"), std::string::npos);
    EXPECT_NE(Resolve("1-1.4.3:1", Resolved::Missing).find("1-1.4.3:1"), std::string::npos);
    EXPECT_NE(Resolve("usb:0403:6001:C30K", Resolved::Missing).find("--list"), std::string::npos);
    Resolve("usb:ftdi", Resolved::Invalid);
    Resolve("usb:0403:6001:", Resolved::Invalid);
    Resolve("usb:04031:6001", Resolved::Invalid);
}

// A device chooses its own strings: what would drive a terminal or a
// journal (ESC, BEL, a C1 control, bytes that are not UTF-8) is shown
// escaped in the list and in what is said about the device.
TEST_F(DeviceTree, ADevicesStringsAreShownWithTheirControlBytesEscaped) {
    std::string usb = sys + "/" + hub + "1-1.1";
    Write(usb + "/manufacturer", "\x1b]0;owned\x07\n");
    Write(usb + "/product",
          "Probe \xc2\x9b"
          "2J \xe2\x84\xa2 \xff\n");
    Write(usb + "/serial", "A1\x1b[2J\n");
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ListSerialDevices(roots, {"cdc_acm", "*B20K*"}, out);
    std::fclose(out);
    std::string listed(text, size);
    std::free(text);
    EXPECT_EQ(listed, dev +
                          "/ttyUSB0\n"
                          "  by-id        usb-FTDI_FT232R_USB_UART_A10K-if00-port0\n"
                          "  driver       ftdi_sio\n"
                          "  usb          0403:6001\n"
                          "  serial       A1\\x1b[2J\n"
                          "  description  \\x1b]0;owned\\x07 Probe \\xc2\\x9b2J \xe2\x84\xa2 \\xff\n"
                          "  topology     1-1.1\n");
    EXPECT_EQ(Resolve("usb:0403:6001", Resolved::Ambiguous).find('\x1b'), std::string::npos);
    EXPECT_EQ(Resolve("usb:0403:6001:A1\\x1b[2J", Resolved::Found), dev + "/ttyUSB0");  // as listed
}

TEST_F(DeviceTree, AutoConnectTakesTheNewestNeitherExcludedNorPassedOver) {
    std::vector<SerialDevice> devices = ScanSerialDevices(roots);
    ASSERT_EQ(devices.size(), 3u);
    devices[0].appeared = 300;  // probe
    devices[1].appeared = 100;  // ttyUSB0
    devices[2].appeared = 200;  // ttyUSB1
    EXPECT_EQ(ChooseDevice(devices, {}, {}), 0);
    EXPECT_EQ(ChooseDevice(devices, {}, {"cdc_acm"}), 2);
    EXPECT_EQ(ChooseDevice(devices, {DeviceIdentity(devices[2])}, {"cdc_acm"}), 1);
    EXPECT_EQ(ChooseDevice(devices, {}, {"cdc_acm", dev + "/serial/by-id/*B20K*", "ttyUSB0"}), -1);
    devices[2].appeared = 101;  // replugged: another appearance, no longer passed over
    EXPECT_EQ(ChooseDevice(devices, {DeviceIdentity(devices[2]) + "x"}, {"cdc_acm"}), 2);
}

TEST(StandardSpeeds, StepUpAndDownWrapping) {
    EXPECT_EQ(StepStandardSpeed(9600, +1), 19200u);
    EXPECT_EQ(StepStandardSpeed(9600, -1), 4800u);
    EXPECT_EQ(StepStandardSpeed(74880, +1), 115200u);
    EXPECT_EQ(StepStandardSpeed(50, -1), StepStandardSpeed(4000000000u, -1));
}

}  // namespace
