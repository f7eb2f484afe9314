// Drives read by a user who may not open them: the drive list fills what sysfs tells and says
// "no access", and an open that the system refuses is asked of UDisks2. UDisks2 is a fake of
// our own on a private bus (a dbus-daemon of the test's own); the unprivileged user is a child
// process that drops to the user nobody, so the refusal is the kernel's own EACCES.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <optional>
#include <algorithm>
#include <grp.h>
#include <sstream>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/DriveOpen.h"
#include "platform/SysBlock.h"
#include "platform/UDisks.h"
#include "support/TestSupport.h"
#include "volume/LocalComputer.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

constexpr uid_t kNobody = 65534;

std::string DemoImage() { return std::string(VM_SOURCE_DIR) + "/data/demo.img"; }

// A D-Bus daemon on an abstract socket of its own, open to every user, ended with the test.
class PrivateBus {
public:
    PrivateBus() {
        const std::string config = Dir.File("bus.conf");
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><listen>unix:abstract=vellumark-test-"
                              << ::getpid()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                                 "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        std::string out;
        vmtest::RunCommand("dbus-daemon --config-file='" + config + "' --fork --print-address=1 --print-pid=1", &out);
        std::istringstream in(out);
        in >> Address >> Pid;
    }
    ~PrivateBus() {
        if (Pid > 0) ::kill(Pid, SIGTERM);
    }
    bool Up() const { return !Address.empty() && Pid > 0; }

    vmtest::TempDir Dir;
    std::string Address;
    pid_t Pid = -1;
};

enum class FakeMode { Hand, Refuse, Silent };

struct FakeState {
    FakeMode Mode;
    std::string Image, Log;
};

// org.freedesktop.UDisks2.Block.OpenDevice on any block device object: logs "object mode", then
// hands out a descriptor of the image (mode "r" only), refuses as polkit does, or never answers.
int OnOpenDevice(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* state = static_cast<FakeState*>(data);
    if (!sd_bus_message_is_method_call(m, "org.freedesktop.UDisks2.Block", "OpenDevice")) return 0;
    const char* mode = "";
    sd_bus_message_read(m, "s", &mode);
    std::ofstream(state->Log, std::ios::app) << sd_bus_message_get_path(m) << ' ' << mode << '\n';
    switch (state->Mode) {
        case FakeMode::Hand: {
            if (std::strcmp(mode, "r") != 0)
                return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.Failed", "only 'r' is handed out");
            const int fd = ::open(state->Image.c_str(), O_RDONLY | O_CLOEXEC);
            const int r = sd_bus_reply_method_return(m, "h", fd);
            ::close(fd);
            return r;
        }
        case FakeMode::Refuse:
            return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                              "Not authorized to perform operation");
        case FakeMode::Silent:
            return 1;
    }
    return 0;
}

// The fake service in a process of its own, serving until the test ends.
class FakeUDisks {
public:
    FakeUDisks(const std::string& address, FakeMode mode, const std::string& log) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        Pid = ::fork();
        if (Pid == 0) {
            ::close(ready[0]);
            Serve(address, FakeState{mode, DemoImage(), log}, ready[1]);
            ::_exit(1);
        }
        ::close(ready[1]);
        char byte = 0;
        Ready = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~FakeUDisks() {
        if (Pid <= 0) return;
        ::kill(Pid, SIGTERM);
        ::waitpid(Pid, nullptr, 0);
    }
    bool Ready = false;

private:
    static void Serve(const std::string& address, FakeState state, int ready) {
        sd_bus* bus = nullptr;
        if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
            sd_bus_start(bus) < 0)
            return;
        if (sd_bus_add_fallback(bus, nullptr, "/org/freedesktop/UDisks2/block_devices", OnOpenDevice, &state) < 0 ||
            sd_bus_request_name(bus, "org.freedesktop.UDisks2", 0) < 0)
            return;
        if (::write(ready, "1", 1) != 1) return;
        for (;;) {
            const int r = sd_bus_process(bus, nullptr);
            if (r < 0) return;
            if (r == 0) sd_bus_wait(bus, UINT64_MAX);
        }
    }
    pid_t Pid = -1;
};

// Runs `work` in a child process as the user nobody (as the tests' own user when they do not
// run as root), with the system bus at `busAddress`; returns what `work` answered.
std::string AsUnprivileged(const std::string& busAddress, const std::function<std::string()>& work) {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.c_str(), 1);
        std::string answer;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            answer = "cannot become nobody";
        else
            answer = work();
        if (::write(out[1], answer.data(), answer.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(out[1]);
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) answer.append(buf, std::size_t(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return answer;
}

// The first whole disk of the machine, which the user nobody may not open.
std::optional<SysDisk> UnreadableDisk() {
    const auto disks = ListDisks();
    if (disks.empty()) return std::nullopt;
    const std::string path = "/dev/" + disks.front().Name;
    const std::string opened = AsUnprivileged("unix:path=/nonexistent", [&] {
        int error = 0;
        return CDeviceFile::Open(path, &error) ? std::string("readable") : std::to_string(error);
    });
    if (opened != std::to_string(EACCES) && opened != std::to_string(EPERM)) return std::nullopt;
    return disks.front();
}

std::string ReadLog(const std::string& path) {
    const auto bytes = vmtest::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A disk the user nobody may not read, and a fake UDisks2 that hands out the demo image.
class WithUDisksHanding : public ::testing::Test {
protected:
    void SetUp() override {
        disk = UnreadableDisk();
        if (!disk) GTEST_SKIP() << "no disk that the user nobody may not read";
        bus.emplace();
        ASSERT_TRUE(bus->Up());
        log = bus->Dir.File("requests");
        fake.emplace(bus->Address, FakeMode::Hand, log);
        ASSERT_TRUE(fake->Ready);
    }
    std::optional<SysDisk> disk;
    std::optional<PrivateBus> bus;
    std::optional<FakeUDisks> fake;
    std::string log;
};

}  // namespace

TEST(UDisks, ObjectPathEscapesTheKernelName) {
    EXPECT_EQ(UDisksBlockObjectPath("sda1"), "/org/freedesktop/UDisks2/block_devices/sda1");
    EXPECT_EQ(UDisksBlockObjectPath("dm-0"), "/org/freedesktop/UDisks2/block_devices/dm_2d0");
    EXPECT_EQ(UDisksBlockObjectPath("a_b.c"), "/org/freedesktop/UDisks2/block_devices/a_5fb_2ec");
}

// The list shows every disk and partition with what sysfs tells, as "no access", and asks no
// question while it fills (UDisks2 is there and would answer, but is not asked).
TEST_F(WithUDisksHanding, DriveListFillsFromSysfsWithoutOpening) {
    const std::string listed = AsUnprivileged(bus->Address, [&] {
        CLocalComputer c;
        c.Volumes.Enumerate(false);
        std::ostringstream out;
        for (const auto& v : c.Volumes.Snapshot())
            if (v->KernelName.rfind(disk->Name, 0) == 0)
                out << v->KernelName << ' ' << v->State << ' ' << v->TotalBytes << ' ' << v->DriveType << '\n';
        return out.str();
    });
    std::ostringstream want;
    want << disk->Name << ' ' << VS_NO_ACCESS << ' ' << disk->SizeBytes << ' ' << (disk->Removable ? 2 : 3) << '\n';
    for (const auto& p : disk->Partitions)
        want << p.Name << ' ' << VS_NO_ACCESS << ' ' << p.SizeBytes << ' ' << (disk->Removable ? 2 : 3) << '\n';
    EXPECT_EQ(listed, want.str());
    EXPECT_EQ(ReadLog(log), "");
}

// An open the kernel refuses is asked of UDisks2, read-only; the drive is then read through
// the descriptor it gave (here that of the demo image: a FAT12 floppy), and a second open uses
// that descriptor again instead of asking (and so the user) once more.
TEST_F(WithUDisksHanding, RefusedOpenReadsThroughTheDescriptorUDisksGives) {
    const auto demo = vmtest::ReadFile(DemoImage());
    const std::string read = AsUnprivileged(bus->Address, [&] {
        CVolume v(VK_PHYSICAL);
        v.DevicePath = "/dev/" + disk->Name;
        if (!v.OpenDrive()) return std::string("not opened");
        std::vector<std::uint8_t> first(512);
        v.ReadSectors(first.data(), 0, 1);
        v.Close();
        if (!v.OpenDrive()) return std::string("not opened again");
        v.ParseBootSector();
        const bool same = std::equal(first.begin(), first.end(), demo.begin());
        return v.GetFileSystemName() + (same ? " same bytes" : " other bytes");
    });
    EXPECT_EQ(read, "FAT12 same bytes");
    EXPECT_EQ(ReadLog(log), UDisksBlockObjectPath(disk->Name) + " r\n");
}

// When UDisks2 gives nothing the open fails with a message that says why and how to get
// access; a UDisks2 that never answers is waited for only as long as the caller allows.
TEST(DriveAccess, WithoutADescriptorTheErrorSaysHowToGetAccess) {
    const auto disk = UnreadableDisk();
    if (!disk) GTEST_SKIP() << "no disk that the user nobody may not read";
    struct Case {
        const char* what;
        std::optional<FakeMode> mode;  // none: the bus without UDisks2
        bool noBus;
        const char* says;
    } cases[] = {
        {"refused", FakeMode::Refuse, false, "UDisks2 refused: Not authorized to perform operation"},
        {"never answers", FakeMode::Silent, false, "UDisks2 did not answer within 300 ms"},
        {"no UDisks2", std::nullopt, false, "UDisks2 is not running on the system bus"},
        {"no bus", std::nullopt, true, "the system bus cannot be reached"},
    };
    for (const auto& c : cases) {
        PrivateBus bus;
        ASSERT_TRUE(bus.Up());
        std::optional<FakeUDisks> fake;
        if (c.mode) {
            fake.emplace(bus.Address, *c.mode, bus.Dir.File("requests"));
            ASSERT_TRUE(fake->Ready) << c.what;
        }
        const std::string path = "/dev/" + disk->Name;
        const std::string text = AsUnprivileged(c.noBus ? "unix:path=/nonexistent" : bus.Address, [&] {
            DriveOpenOptions options;
            options.Wait = std::chrono::milliseconds(300);
            const OpenedDrive opened = OpenDriveReadOnly(path, options);
            return opened.File ? std::string("opened") : std::to_string(opened.Error) + " " + opened.Text;
        });
        EXPECT_EQ(text.rfind(std::to_string(EACCES) + " no permission to read '" + path + "'", 0), 0u) << c.what << ": " << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << c.what << ": " << text;
        EXPECT_NE(text.find("run as root"), std::string::npos) << c.what << ": " << text;
    }
}
