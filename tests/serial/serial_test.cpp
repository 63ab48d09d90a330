// The Linux serial path: ports on ptys, cables found in a fake sysfs tree, and
// the handshake against the instrument simulator.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <thread>

#include "capture/cable.h"
#include "capture/serial.h"
#include "printout.h"

namespace fs = std::filesystem;

namespace {

// A pty pair: the program under test opens the far end by its path.
struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty() {
        close(master);
        close(slave);
    }
};

std::string ReadFor(int fd, std::size_t want, int ms = 2000) {
    std::string got;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < want && std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

TEST(SerialPort, OpensExclusiveRawAndRestoresOnClose) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    before.c_lflag &= ~ECHO; // else the stale bytes come back to the master
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &before), 0);
    ASSERT_EQ(write(pty.master, "stale", 5), 5);
    {
        zav::SerialPort port;
        ASSERT_EQ(port.Open(pty.path.c_str(), 921600), zav::kCommOk); // no modem lines: fine
        termios now{};
        ASSERT_EQ(tcgetattr(pty.slave, &now), 0);
        EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B921600));
        EXPECT_EQ(now.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
        EXPECT_EQ(now.c_iflag & (IXON | IXOFF | ICRNL), 0u);
        EXPECT_EQ(now.c_lflag & (ICANON | ECHO), 0u);
        int exclusive = 0;
        ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        EXPECT_EQ(port.BytesWaiting(), 0u); // what came before was thrown away

        ASSERT_EQ(write(pty.master, "\r\nabc\0", 6), 6); // raw: CR and NUL arrive as sent
        for (int i = 0; i < 100 && port.BytesWaiting() < 6; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        char buf[16];
        ASSERT_EQ(port.Read(buf, sizeof buf), 6);
        EXPECT_EQ(std::string(buf, 6), std::string("\r\nabc\0", 6));
        EXPECT_EQ(port.Read(buf, sizeof buf), 0); // nothing there: no wait
        EXPECT_TRUE(port.Write("wdr\r", 5));
        EXPECT_EQ(ReadFor(pty.master, 5), std::string("wdr\r", 5));
    }
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    int exclusive = 1;
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST(SerialPort, FailuresLeaveNothingOpen) {
    zav::SerialPort port;
    EXPECT_EQ(port.Open("/nonexistent/ttyUSB0", 921600), zav::kCommOpenFailed);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Open("/dev/null", 921600), zav::kCommOpenFailed); // not a terminal
    Pty pty;
    EXPECT_EQ(port.Open(pty.path.c_str(), 12345), zav::kCommSetStateFailed);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Write("x", 1));
    EXPECT_EQ(port.Read(nullptr, 0), -1);
}

TEST(ModelReply, NeverReadsPastAShortReply) {
    struct Case {
        std::string reply;
        bool good;
        std::string model;
    } cases[] = {
        {"model\r\nVOVEzera", true, "VOVEzera"},
        {"model\r\nVOVEzer", false, ""},
        {"model\r\nVOVEzera-ZP1000A-and-more", true, "VOVEzera-ZP1000A"},
        {std::string("model\r\nVOVEzera-Z\0junk", 22), true, "VOVEzera-Z"},
        {"model\r\nVOVEZERA-ZP1000A", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        // An exact-size block, so that a read past its end shows.
        std::unique_ptr<unsigned char[]> block(new unsigned char[c.reply.size() + 1]);
        std::memcpy(block.get(), c.reply.data(), c.reply.size());
        std::string model = "before";
        EXPECT_EQ(zav::ModelFromReply(block.get(), c.reply.size(), model), c.good);
        EXPECT_EQ(model, c.good ? c.model : "before");
    }
}

// ---- fake sysfs and the simulator -----------------------------------------

class FakeSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("zavserial." + std::to_string(getpid()) + "." +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev");
        roots_.sys = (root_ / "sys").string();
        roots_.dev = (root_ / "dev").string();
        store_ =
            quorOpen(("serial." +
                      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))
                         .c_str());
    }
    void TearDown() override {
        StopSimulator();
        quorClose(store_);
        fs::remove_all(root_);
    }
    // A USB-serial tty: ttyUSB hangs below the interface, ttyACM is the interface's.
    void UsbTty(const std::string& name, const std::string& product, int bus) {
        fs::path usb = root_ / "sys/devices/usb" / std::to_string(bus);
        fs::path iface = usb / (std::to_string(bus) + ":1.0");
        fs::path device = name.starts_with("ttyUSB") ? iface / name : iface;
        fs::create_directories(device);
        std::ofstream(usb / "product") << product << "\n";
        fs::create_directories(root_ / "sys/class/tty" / name);
        fs::create_directory_symlink(device, root_ / "sys/class/tty" / name / "device");
    }
    void LegacyTty(const std::string& name, int type) {
        fs::path device = root_ / "sys/devices/platform/serial8250";
        fs::create_directories(device);
        fs::create_directories(root_ / "sys/class/tty" / name);
        std::ofstream(root_ / "sys/class/tty" / name / "type") << type << "\n";
        fs::create_directory_symlink(device, root_ / "sys/class/tty" / name / "device");
    }
    void Mode(const char* mode) { std::ofstream(root_ / "mode") << mode << "\n"; }
    // Starts the simulator on a pty of its own, reachable as <dev>/<name>.
    void StartSimulator(const std::string& name, std::initializer_list<const char*> extra = {}) {
        Mode("normal");
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        std::string link = (root_ / "dev" / name).string();
        std::string modeFile = (root_ / "mode").string();
        std::vector<const char*> args = {ZAVSIM_PATH, "--pty", link.c_str(), "--mode-file",
                                         modeFile.c_str()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(nullptr);
        sim_ = fork();
        if (sim_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execv(args[0], const_cast<char* const*>(args.data()));
            _exit(127);
        }
        close(out[1]);
        std::string line = ReadFor(out[0], 1, 5000);
        close(out[0]);
        ASSERT_FALSE(line.empty()) << "the simulator did not start";
        for (int i = 0; i < 100 && !fs::exists(link); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void StopSimulator() {
        if (sim_ > 0) {
            kill(sim_, SIGTERM);
            waitpid(sim_, nullptr, 0);
            sim_ = -1;
        }
    }
    std::string Text(const char* field) {
        char buf[300];
        return quorGetString(store_, field, buf, sizeof buf) < 0 ? "(none)" : std::string(buf);
    }
    // Runs "zavprint ports ARGS"; its exit status, and its output in `out`.
    static int Ports(const std::string& args, std::string& out) {
        FILE* p = popen((std::string(ZAVPRINT_PATH) + " ports " + args).c_str(), "r");
        if (p == nullptr)
            return -1;
        char buf[256];
        while (std::fgets(buf, sizeof buf, p) != nullptr)
            out += buf;
        return pclose(p);
    }
    std::string Rows(const char* field, int column = 0) {
        std::string all;
        for (int r = 0, n = quorTableRowCount(store_, field); r < n; ++r) {
            char buf[128];
            quorTableGetField(store_, field, r, column, buf, sizeof buf);
            all += (r ? "," : "") + std::string(buf);
        }
        return all;
    }

    fs::path root_;
    zav::SerialRoots roots_;
    HQUOR store_ = nullptr;
    pid_t sim_ = -1;
};

struct MemoryRemembered : zav::RememberedValue {
    std::string text;
    bool present = false;
    int writes = 0;
    bool Read(std::string& out) override {
        out = text;
        return present;
    }
    void Write(const std::string& value) override {
        text = value;
        present = true;
        ++writes;
    }
};

TEST_F(FakeSystem, PortsAreListedInOrderWithProductsAndCablesMarked) {
    UsbTty("ttyUSB10", "FT232R USB UART", 3);
    UsbTty("ttyUSB2", "ZAV Print", 4);
    UsbTty("ttyACM0", "zav print", 5);
    LegacyTty("ttyS0", 0); // no hardware
    LegacyTty("ttyS1", 4);
    fs::create_directories(root_ / "sys/class/tty/tty0"); // no device at all
    std::string listed;
    for (const zav::SerialPortInfo& p : zav::ListSerialPorts(roots_))
        listed += p.name + "=" + p.description + (p.cable ? "*" : "") + ";";
    EXPECT_EQ(listed, "ttyACM0=zav print*;ttyS1=;ttyUSB2=ZAV Print*;ttyUSB10=FT232R USB UART;");

    EXPECT_EQ(zav::ScanPortsIn(store_, "ports", roots_), 0);
    EXPECT_EQ(Rows("ports"), "ttyACM0,ttyS1,ttyUSB2,ttyUSB10");
    EXPECT_EQ(Rows("ports", 1), "zav print,,ZAV Print,FT232R USB UART");
    char heading[32];
    quorTableGetHeading(store_, "ports", 1, heading, sizeof heading);
    EXPECT_STREQ(heading, "Description");
}

TEST_F(FakeSystem, CableFoundAndItsModelRead) {
    UsbTty("ttyUSB3", "FT232R USB UART", 2);
    UsbTty("ttyUSB1", "ZAV Print", 3);
    StartSimulator("ttyUSB1", {"--model", "-ZP1000A"});
    MemoryRemembered remembered;
    EXPECT_EQ(zav::FindPrintCableIn(store_, roots_, remembered), 1);
    EXPECT_EQ(Rows("Ports"), "ttyUSB1");
    EXPECT_EQ(Text("Port1"), "ttyUSB1");
    EXPECT_EQ(remembered.text, "ttyUSB1");
    EXPECT_EQ(Text("Model"), "VOVEzera-ZP1000A");

    for (const char* mode : {"short", "wrongcase", "silent"}) {
        SCOPED_TRACE(mode);
        quorSetString(store_, "Model", "before");
        Mode(mode);
        EXPECT_EQ(zav::FindPrintCableIn(store_, roots_, remembered), 1);
        EXPECT_EQ(Text("Model"), "before");
    }
    EXPECT_EQ(remembered.writes, 1); // the remembered cable stayed the choice
}

TEST_F(FakeSystem, WithoutCableTheChoiceComesFromTheEarlierTableOnly) {
    UsbTty("ttyUSB0", "FT232R USB UART", 2);
    StartSimulator("ttyUSB0");
    MemoryRemembered remembered;
    remembered.present = true;
    remembered.text = "ttyUSB0"; // answers, but is no known cable
    EXPECT_EQ(zav::FindPrintCableIn(store_, roots_, remembered), -1);
    EXPECT_EQ(Text("Port1"), "(none)");
    EXPECT_EQ(Text("Model"), "(none)");

    zav::TableHolder earlier(zav::CreateCableTable());
    zav::AppendRow(earlier.get(), "ttyUSB7");
    zav::AppendRow(earlier.get(), "ttyUSB0");
    quorSetTable(store_, "Ports", earlier.get());
    EXPECT_EQ(zav::FindPrintCableIn(store_, roots_, remembered), -1);
    EXPECT_EQ(Rows("Ports"), "ttyUSB7,ttyUSB0"); // stays
    EXPECT_EQ(Text("Port1"), "ttyUSB0");
    EXPECT_EQ(remembered.writes, 0);
    EXPECT_EQ(Text("Model"), "VOVEzera-ZP1000A");

    remembered.text = "ttyUSB9"; // moved: the first row takes over
    EXPECT_EQ(zav::FindPrintCableIn(store_, roots_, remembered), -1);
    EXPECT_EQ(Text("Port1"), "ttyUSB7");
    EXPECT_EQ(remembered.text, "ttyUSB7");
}

TEST_F(FakeSystem, PortsCommandShowsCableAndModel) {
    UsbTty("ttyUSB0", "ZAV Print", 2);
    LegacyTty("ttyS0", 4);
    StartSimulator("ttyUSB0", {"--model", "-ZP2000B"});
    std::string out;
    EXPECT_EQ(Ports("--sysfs " + roots_.sys + " --dev " + roots_.dev, out), 0);
    EXPECT_NE(out.find("ttyS0 "), std::string::npos) << out;
    EXPECT_NE(out.find("ZAV Print"), std::string::npos) << out;
    EXPECT_NE(out.find("yes, model VOVEzera-ZP2000B"), std::string::npos) << out;
}

TEST_F(FakeSystem, TheCableIsFoundByItsStableNameAndListedOnce) {
    UsbTty("ttyUSB0", "FT232R USB UART", 2);
    UsbTty("ttyUSB1", "ZAV Print", 3);
    StartSimulator("ttyUSB1", {"--model", "-ZP2000B"});
    EXPECT_EQ(zav::FindCableDevice(roots_), roots_.dev + "/ttyUSB1");
    fs::create_symlink("ttyUSB1", root_ / "dev/zavprint");
    std::string listed;
    for (const zav::SerialPortInfo& p : zav::ListSerialPorts(roots_))
        listed += p.name + (p.cable ? "*" : "") + p.link + ";";
    EXPECT_EQ(listed, "ttyUSB0;ttyUSB1*zavprint;");
    EXPECT_EQ(zav::FindCableDevice(roots_), roots_.dev + "/zavprint");

    std::string out;
    EXPECT_EQ(Ports("--sysfs=" + roots_.sys + " --dev=" + roots_.dev, out), 0);
    EXPECT_NE(out.find("yes, " + roots_.dev + "/zavprint, model VOVEzera-ZP2000B"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("yes", out.find("yes") + 1), std::string::npos) << out;

    // A link to a port that sysfs does not show stands for the cable itself.
    fs::remove_all(root_ / "sys/class/tty/ttyUSB1");
    listed.clear();
    for (const zav::SerialPortInfo& p : zav::ListSerialPorts(roots_))
        listed += p.name + (p.cable ? "*" : "") + ";";
    EXPECT_EQ(listed, "zavprint*;ttyUSB0;");
    EXPECT_EQ(zav::FindCableDevice(roots_), roots_.dev + "/zavprint");
    std::string model;
    EXPECT_TRUE(zav::ReadModelFrom(zav::FindCableDevice(roots_), model));
    EXPECT_EQ(model, "VOVEzera-ZP2000B");
}

TEST_F(FakeSystem, SimulatorPrintsTheExampleAndCanHangUp) {
    std::vector<std::uint8_t> example = zavtool::GeneratePrintout(zavtool::PrintoutOptions{});
    StartSimulator("ttyUSB0", {"--example", "--burst", "1024"});
    zav::SerialPort port;
    ASSERT_EQ(port.Open((roots_.dev + "/ttyUSB0").c_str(), 921600), zav::kCommOk);
    ASSERT_TRUE(port.Write("wdr\r", 5));
    std::string got;
    for (int i = 0; i < 500 && got.size() < example.size(); ++i) {
        char buf[4096];
        long n = port.Read(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(got, std::string(example.begin(), example.end()));
    port.Close();
    StopSimulator();

    StartSimulator("ttyUSB0", {"--example", "--disconnect-after", "1000"});
    Mode("disconnect");
    ASSERT_EQ(port.Open((roots_.dev + "/ttyUSB0").c_str(), 921600), zav::kCommOk);
    ASSERT_TRUE(port.Write("wdr\r", 5));
    got.clear();
    long n = 0;
    for (int i = 0; i < 300; ++i) {
        char buf[4096];
        n = port.Read(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        else if (n < 0)
            break; // hung up: a read error, not an endless wait for data
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(got.size(), 1000u);
    EXPECT_LT(n, 0);
}

} // namespace
