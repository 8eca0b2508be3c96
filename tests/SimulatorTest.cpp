// The device simulator itself: the gxsim tool, the state folder shared between processes, and the
// device side of the protocol where the loader's exchanges cannot reach (malformed requests).

#include "devices/Channel.h"
#include "devices/DriverLists.h"
#include "platform/OutsideMessages.h"
#include "sessions/BootProtocol.h"
#include "sim/SimFaults.h"
#include "sim/SimState.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace {
using gxsim::Driver;
using gxsim::Mode;

// A listening loader stand-in: the messages that reach its socket.
class LoaderSocket {
public:
    LoaderSocket() : source_(OutsideMessageSource::Start(runtime_.path()))
    {
        if (source_)
            QObject::connect(source_.get(), &OutsideMessageSource::messageReceived,
                             [this](quint32 m, quint64 w) { received.emplace_back(m, w); });
    }
    bool Listening() const { return source_ != nullptr; }
    QString Path() const { return runtime_.path(); }
    bool WaitForCount(size_t n)
    {
        return WaitFor([&] { return received.size() >= n; });
    }
    std::vector<std::pair<quint32, quint64>> received;

private:
    QTemporaryDir runtime_;
    std::unique_ptr<OutsideMessageSource> source_;
};

class Gxsim : public testing::Test {
protected:
    int Run(const QStringList& arguments, QString* output = nullptr)
    {
        return RunGxsim(arguments, {"GXSIM_DIR=" + sim.Path(), "XDG_RUNTIME_DIR=" + loader.Path()},
                        output);
    }
    SimSandbox sim;
    LoaderSocket loader;
};

TEST_F(Gxsim, PlugsUnplugsListsAndTellsTheLoader)
{
    ASSERT_TRUE(loader.Listening());
    ASSERT_EQ(Run({"add", "1001", "mode=application", "firmware=GXST-2.00"}), 0);
    ASSERT_TRUE(loader.WaitForCount(1));
    ASSERT_EQ(Run({"add", "2002", "driver=vendor", "device_code=9"}), 0);
    ASSERT_TRUE(loader.WaitForCount(2));
    EXPECT_EQ(Run({"add", "1001"}), 1);  // exists already
    EXPECT_EQ(Run({"add", "3003", "driver=serial"}), 1);

    QString list;
    ASSERT_EQ(Run({"list"}, &list), 0);
    const QStringList lines = list.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);  // heading and two devices
    EXPECT_TRUE(
        lines[1].contains(QRegularExpression("^1001 +ftdi +yes +application +GXST-2\\.00 ")))
        << lines[1].toStdString();
    EXPECT_FALSE(lines[1].contains("next="));  // it comes up in application mode again
    EXPECT_TRUE(lines[2].contains(QRegularExpression("^2002 +vendor +yes +bootloader ")))
        << lines[2].toStdString();

    ASSERT_EQ(Run({"unplug", "1001"}), 0);
    ASSERT_TRUE(loader.WaitForCount(3));
    EXPECT_FALSE(sim.Device("1001").Plugged);
    EXPECT_EQ(Run({"unplug", "1001"}), 1);
    ASSERT_EQ(Run({"plug", "1001"}), 0);
    ASSERT_TRUE(loader.WaitForCount(4));
    EXPECT_TRUE(sim.Device("1001").Plugged);
    EXPECT_EQ(sim.Device("1001").PlugCount, 2u);

    ASSERT_EQ(Run({"remove", "2002"}), 0);
    ASSERT_TRUE(loader.WaitForCount(5));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(sim.Folder().FlashPath("2002"))));
    for (const auto& [message, wParam] : loader.received) {
        EXPECT_EQ(message, 537u);
        EXPECT_EQ(wParam, 7u);
    }
}

TEST_F(Gxsim, ChangesModesAndKnobs)
{
    ASSERT_EQ(Run({"add", "1001"}), 0);
    ASSERT_EQ(
        Run({"set", "1001", "mode=application", "locked=yes", "protected=4,5",
             "processor=0x400FE000", "fault=short:13 cmd=6 attempt=1", "fault=silent cmd=10"}),
        0);
    gxsim::DeviceSetup d = sim.Device("1001");
    EXPECT_EQ(d.Current, Mode::Application);
    EXPECT_TRUE(d.Locked);
    EXPECT_EQ(d.ProtectedSectors, (std::vector<uint32_t>{4, 5}));
    EXPECT_EQ(d.ProcessorId, 0x400FE000u);
    EXPECT_EQ(d.Faults, (std::vector<std::string>{"short:13 cmd=6 attempt=1", "silent cmd=10"}));
    // The flash follows the new processor's layout.
    EXPECT_EQ(sim.Flash("1001").size(), 0x24400u);

    // A bad value changes nothing, not even the good values given with it.
    EXPECT_EQ(Run({"set", "1001", "locked=no", "fault=explode"}), 1);
    EXPECT_TRUE(sim.Device("1001").Locked);
    EXPECT_EQ(sim.Device("1001").Faults.size(), 2u);

    ASSERT_EQ(Run({"set", "1001", "faults="}), 0);
    EXPECT_TRUE(sim.Device("1001").Faults.empty());
    ASSERT_EQ(Run({"library", "vendor_count_extra=3", "ftdi_list_fails=yes"}), 0);
    gxsim::SimState state;
    ASSERT_TRUE(sim.Folder().Load(state));
    EXPECT_EQ(state.Library.VendorCountExtra, 3u);
    EXPECT_TRUE(state.Library.FtdiListFails);

    QString shown;
    ASSERT_EQ(Run({"show", "1001"}, &shown), 0);
    EXPECT_TRUE(shown.contains("processor = 0x400FE000"));
    EXPECT_TRUE(shown.contains("# flash: 256 sectors"));
}

TEST_F(Gxsim, DumpsLoadsAndComparesTheFlash)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    sim.Add(SimDevice("1001", Driver::Ftdi));
    QTemporaryDir files;
    const QString pattern = files.filePath("pattern.bin");
    std::vector<uint8_t> bytes(600);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13);
    {
        std::ofstream out(pattern.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_EQ(Run({"load", "1001", pattern, "0x1000"}), 0);
    EXPECT_EQ(Run({"compare", "1001", pattern, "0x1000"}), 0);
    QString differences;
    EXPECT_EQ(Run({"compare", "1001", pattern, "0x1001"}, &differences), 1);
    EXPECT_TRUE(differences.contains("bytes differ"));

    const QString dumped = files.filePath("dump.bin");
    ASSERT_EQ(Run({"dump", "1001", dumped, "0x1000", "600"}), 0);
    QFile dump(dumped);
    ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
    const QByteArray content = dump.readAll();
    EXPECT_EQ(std::vector<uint8_t>(content.begin(), content.end()), bytes);
    EXPECT_EQ(Run({"dump", "1001", dumped, "0x7FFFF", "2"}), 1);  // past the end

    // What the loader writes is what a person finds in the flash.
    ASSERT_EQ(Run({"erase", "1001"}), 0);
    TDevEntry device = RecordOf(sim.Device("1001"));
    ASSERT_TRUE(ChannelOpen(device));
    std::array<uint8_t, WRITE_PART_SIZE> part;
    std::copy(bytes.begin(), bytes.begin() + WRITE_PART_SIZE, part.begin());
    SectorReplyBuffer reply{};
    EXPECT_TRUE(WritePartExchange(device, CMD_WRITE_PART_V2, 12, 0xC200, part, reply).Success);
    ChannelClose(device);
    const QString expected = files.filePath("part.bin");
    {
        std::ofstream out(expected.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(part.data()), WRITE_PART_SIZE);
    }
    EXPECT_EQ(Run({"compare", "1001", expected, "0xC200"}), 0);
    EXPECT_EQ(sim.Flash("1001")[0xC1FF], 0xFF);
}

TEST_F(Gxsim, ShowsAndClearsTheJournal)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    sim.Add(SimDevice("1001", Driver::Vendor));
    TDevEntry device = RecordOf(sim.Device("1001"));
    ASSERT_TRUE(ChannelOpen(device));
    SendControlCommand(device, CMD_FINISH);
    ChannelClose(device);
    QString journal;
    ASSERT_EQ(Run({"journal", "1001"}, &journal), 0);
    const QStringList lines = journal.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "open driver=vendor");
    EXPECT_TRUE(lines[1].startsWith("packet cmd=11 sector=10 address=0x00000000 length=14"));
    EXPECT_EQ(lines[2], "close");
    ASSERT_EQ(Run({"journal", "1001", "--clear"}), 0);
    EXPECT_TRUE(sim.Journal("1001").empty());
}

// gxsim and the processes that use the simulated libraries change the description at the same
// time: no change may be lost and no reader may see half a file.
TEST(SimFolder, ChangesAreNeverLostNorSeenHalfWritten)
{
    SimSandbox sim;
    sim.Add(SimDevice("A", Driver::Ftdi));
    sim.Add(SimDevice("B", Driver::Vendor));
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0}, reads{0};
    std::thread reader([&] {
        while (!stop) {
            gxsim::SimState state;
            QFile file(QString::fromStdString(sim.Folder().StatePath()));
            const bool complete =
                file.open(QIODevice::ReadOnly) && file.readAll().endsWith("# end\n");
            if (!complete || !sim.Folder().Load(state) || state.Devices.size() != 2) ++badReads;
            ++reads;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                sim.Folder().Update("B", [](gxsim::DeviceSetup& d) { ++d.PartsWritten; });
        });
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(RunGxsim({"set", "A", QString("firmware=GXST-1.%1").arg(i, 2, 10, QChar('0'))},
                           {"GXSIM_DIR=" + sim.Path()}),
                  0);
    for (std::thread& w : writers) w.join();
    stop = true;
    reader.join();

    EXPECT_EQ(badReads, 0) << "of " << reads << " reads";
    EXPECT_EQ(sim.Device("B").PartsWritten, 200u);
    EXPECT_EQ(sim.Device("A").Firmware, "GXST-1.07");
    const QStringList leftovers =
        QDir(sim.Path()).entryList({".devices.txt.*"}, QDir::Hidden | QDir::Files);
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(' ').toStdString();
}

TEST(SimState, TextsOfAnyBytesSurviveTheFile)
{
    gxsim::SimState state;
    gxsim::DeviceSetup d = SimDevice(" 12 34 ", Driver::Vendor);
    d.Description = std::string("\xC3\xE5\xEE\\x\0\t=#", 10) + std::string(60, 'D');
    d.Firmware = "";
    d.Bootloader = "GXBL-1.05 TR ";
    d.Faults = {"reply:A\\x20B cmd=start_boot", "silent"};
    d.ProtectedSectors = {0, 255};
    d.ReadWaitMs = -1;
    state.Devices.push_back(d);
    state.Library.VendorCountExtra = 9;
    gxsim::SimState back;
    std::string error;
    ASSERT_TRUE(gxsim::ParseState(gxsim::FormatState(state), back, error)) << error;
    ASSERT_EQ(back.Devices.size(), 1u);
    EXPECT_EQ(back.Devices[0].Serial, d.Serial);
    EXPECT_EQ(back.Devices[0].Description, d.Description);
    EXPECT_EQ(back.Devices[0].Firmware, d.Firmware);
    EXPECT_EQ(back.Devices[0].Bootloader, d.Bootloader);
    EXPECT_EQ(back.Devices[0].Faults, d.Faults);
    EXPECT_EQ(back.Devices[0].ProtectedSectors, d.ProtectedSectors);
    EXPECT_EQ(back.Devices[0].Kind, Driver::Vendor);
    EXPECT_EQ(back.Devices[0].ReadWaitMs, -1);
    EXPECT_EQ(back.Library.VendorCountExtra, 9u);

    EXPECT_FALSE(gxsim::ParseState("[device]\nserial = 1\nbogus = 2\n", back, error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

class FaultRules : public testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(FaultRules, AreCheckedWhenGiven)
{
    std::string error;
    EXPECT_EQ(gxsim::ParseFaultRule(GetParam().first, error).has_value(), GetParam().second)
        << GetParam().first << ": " << error;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FaultRules,
    testing::Values(std::pair{"short:13 cmd=6 attempt=1", true}, std::pair{"silent cmd=10", true},
                    std::pair{"split:3:50 attempt=2-4 sector=7", true},
                    std::pair{"reply:START\\x20ERROR cmd=start_boot", true},
                    std::pair{"write_fail cmd=read_version", true}, std::pair{"", false},
                    std::pair{"explode", false}, std::pair{"short", false},
                    std::pair{"short:x", false}, std::pair{"silent:3", false},
                    std::pair{"attempt=0", false}, std::pair{"attempt=3-1", false},
                    std::pair{"cmd=reboot", false}, std::pair{"reply:\\q", false},
                    std::pair{"status:70000", false}));

// ---- The device side of the protocol ----

class DeviceSide : public testing::TestWithParam<Driver> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(BindSimulatorLibraries());
        sim.Add(SimDevice("900", GetParam()));
        device = std::make_unique<TDevEntry>(
            "900", 7, GetParam() == Driver::Ftdi ? FtdiDriver : VendorDriver);
        ASSERT_TRUE(ChannelOpen(*device));
    }
    void TearDown() override { ChannelClose(*device); }
    // Sends raw bytes; the status of the reply, -1 for none.
    int Exchange(std::vector<uint8_t> packet, bool fixChecksum = true)
    {
        if (fixChecksum) {
            packet[12] = packet[13] = 0;
            const uint16_t sum =
                PacketChecksum(packet.data(), static_cast<uint16_t>(packet.size()));
            packet[12] = static_cast<uint8_t>(sum);
            packet[13] = static_cast<uint8_t>(sum >> 8);
        }
        if (!ChannelSend(*device, packet.data(), static_cast<uint32_t>(packet.size()))) return -2;
        std::array<uint8_t, 64> reply{};
        const uint32_t count = ChannelRead(*device, reply.data(), 64, 200);
        const auto header = ReadBootHeader({reply.data(), count});
        return header ? header->Status() : -1;
    }
    SimSandbox sim;
    std::unique_ptr<TDevEntry> device;
};

TEST_P(DeviceSide, ChecksLengthsChecksumAndCommand)
{
    std::vector<uint8_t> query = BuildBootPacket(CMD_READ_FIRMWARE_VERSION, NO_SECTOR, 0);
    std::vector<uint8_t> badSum = query;
    badSum[12] ^= 1;
    EXPECT_EQ(Exchange(badSum, false), 129);
    EXPECT_EQ(Exchange(BuildBootPacket(3, NO_SECTOR, 0)), 130);
    EXPECT_EQ(
        Exchange(BuildBootPacket(CMD_READ_FIRMWARE_VERSION, NO_SECTOR, 0, std::vector<uint8_t>(2))),
        134);
    EXPECT_EQ(Exchange(BuildBootPacket(CMD_WRITE_PART_V2, 10, 0xA000)), 134);  // no data
    std::vector<uint8_t> wrongHeader = query;
    wrongHeader[2] = 12;
    EXPECT_EQ(Exchange(wrongHeader), 134);
    std::vector<uint8_t> tooLong = query;
    tooLong[0] = 0x58;  // 600 bytes announced: no packet at all
    tooLong[1] = 0x02;
    EXPECT_EQ(Exchange(tooLong), -1);
    EXPECT_EQ(Exchange(query), 128);  // and the device is in step again

    const auto packets = sim.Journal("900", "packet");
    ASSERT_EQ(packets.size(), 6u);
    EXPECT_EQ(packets[0].Field("checksum"), "bad");
    EXPECT_EQ(sim.Journal("900", "garbage").size(), 1u);
}

TEST_P(DeviceSide, UnplugsItselfAfterSoManyPartsAndTellsTheLoader)
{
    QTemporaryDir runtime;
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    std::unique_ptr<OutsideMessageSource> socket = OutsideMessageSource::Start(runtime.path());
    ASSERT_NE(socket, nullptr);
    int notifications = 0;
    QObject::connect(socket.get(), &OutsideMessageSource::messageReceived,
                     [&](quint32 m, quint64 w) { notifications += m == 537 && w == 7; });
    sim.Set("900", [](gxsim::DeviceSetup& d) { d.UnplugAfterParts = 2; });

    std::array<uint8_t, WRITE_PART_SIZE> data{};
    SectorReplyBuffer reply{};
    EXPECT_TRUE(WritePartExchange(*device, CMD_WRITE_PART_V2, 4, 0x4000, data, reply).Success);
    EXPECT_TRUE(WritePartExchange(*device, CMD_WRITE_PART_V2, 4, 0x4200, data, reply).Success);
    const SectorExchangeResult gone =
        WritePartExchange(*device, CMD_WRITE_PART_V2, 4, 0x4400, data, reply);
    qputenv("XDG_RUNTIME_DIR", previous);
    EXPECT_FALSE(gone.Success);
    EXPECT_FALSE(gone.DeviceStatus);
    EXPECT_FALSE(sim.Device("900").Plugged);
    EXPECT_EQ(sim.Journal("900", "unplugged").size(), 1u);
    EXPECT_TRUE(WaitFor([&] { return notifications == 1; }));
    std::vector<FtdiListEntry> ftdi;
    std::vector<VendorListEntry> vendor;
    ReadFtdiDeviceList(ftdi);
    ReadVendorDeviceList(vendor);
    EXPECT_TRUE(ftdi.empty());
    EXPECT_TRUE(vendor.empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, DeviceSide, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) {
                             return std::string(info.param == Driver::Ftdi ? "Ftdi" : "Vendor");
                         });

struct LayoutCase {
    uint32_t processor;
    const char* bootloader;
    uint32_t flashSize;
    uint16_t lastSector;
    uint32_t lastStart;
};
class Layouts : public testing::TestWithParam<LayoutCase> {};

// Each device keeps its own sector map: the flash has its size, the last sector erases, the one
// after it does not exist.
TEST_P(Layouts, SizeTheFlashAndBoundTheSectors)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    SimSandbox sim;
    gxsim::DeviceSetup setup = SimDevice("71", Driver::Vendor);
    setup.ProcessorId = GetParam().processor;
    setup.Bootloader = GetParam().bootloader;
    sim.Add(setup);
    EXPECT_EQ(sim.Flash("71").size(), GetParam().flashSize);
    TDevEntry device = RecordOf(setup);
    ASSERT_TRUE(ChannelOpen(device));
    const SectorExchangeResult last = EraseSectorExchange(
        device, CMD_ERASE_SECTOR_V1, GetParam().lastSector, GetParam().lastStart);
    const SectorExchangeResult beyond = EraseSectorExchange(
        device, CMD_ERASE_SECTOR_V1, GetParam().lastSector + 1, GetParam().flashSize);
    ChannelClose(device);
    EXPECT_EQ(last.DeviceStatus, 128);
    EXPECT_EQ(beyond.DeviceStatus, 133);
}

INSTANTIATE_TEST_SUITE_P(
    Processors, Layouts,
    testing::Values(LayoutCase{0x0000BC40, "GXBL-1.05", 0x10000, 15, 0xF000},
                    LayoutCase{0x10040204, "GXBL-1.05", 0x40000, 63, 0x3F000},
                    LayoutCase{0x26013733, "GXBL-1.05", 0x40000, 21, 0x38000},
                    LayoutCase{0x481D3F47, "GXBL-1.05", 0x80000, 29, 0x78000},
                    LayoutCase{0x400FE000, "GXBL-1.05", 0x24400, 255, 0x24200},
                    LayoutCase{0x12345678, "GXBL-1.05TR", 0x7D000, 26, 0x7C000},
                    LayoutCase{0x12345678, "GXBL-1.05 PP", 0x7D000, 26, 0x7C000},
                    LayoutCase{0x12345678, "GXBL-1.05", 0x7E000, 27, 0x7D000}));
}  // namespace
