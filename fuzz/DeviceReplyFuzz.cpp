// What a device, its cable and its driver send back, tried against the loader's real exchange
// code through a scripted device (fuzz/ScriptedDevice.h). The first input byte picks what runs
// and through which library (bit 2: the vendor library, else FTDI):
//
//   0  the identification of a new device (sessions/Identification.h)
//   1  a whole write session (sessions/WriteProcess.h), on this thread, with a small image
//   2  the channel's reads and sends used directly (devices/Channel.h)
//   3  the driver's device list (devices/DriverLists.h)
//
// A few setup bytes follow; the rest is the device's script. Besides memory faults and hangs it
// checks that every outcome is a known result code, that what the loader concludes follows from
// what it received (a success only where every reply was the accepted one with the right echo),
// that a device is never written before its sector was erased or after a stop, and that every
// channel that opened is closed again.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/FuzzWorkerHost.h"
#include "fuzz/ScriptedDevice.h"

#include "devices/Channel.h"
#include "devices/DriverLists.h"
#include "devices/IdentifyContext.h"
#include "devices/LittleEndian.h"
#include "platform/Ticks.h"
#include "sessions/Identification.h"
#include "sessions/WriteProcess.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace {
constexpr const char* kSerial = "1001";
constexpr uint16_t kDeviceCode = 0x1234;

bool IsPacket(const DeviceRequest& request, std::initializer_list<uint16_t> commands)
{
    return request.Kind == RequestKind::Packet &&
           std::find(commands.begin(), commands.end(), request.Header.Command) != commands.end();
}

// A query reply the loader may accept: a 14-byte header, accepted, announcing a payload.
bool AcceptedQuery(const std::vector<uint8_t>& reply)
{
    const std::optional<BootPacket> header = ReadBootHeader(reply);
    return header && header->HeaderLength == BOOT_HEADER_LENGTH &&
           header->Status() == STATUS_ACCEPTED && header->PacketLength > BOOT_HEADER_LENGTH;
}

// An erase or part reply the loader may accept for that request: exactly 14 bytes, both lengths
// 14, the sector (and a part's address) repeated, accepted or protected.
bool GoodSectorReply(const DeviceRequest& asked, const std::vector<uint8_t>& reply)
{
    const std::optional<BootPacket> header = ReadBootHeader(reply);
    if (reply.size() != BOOT_HEADER_LENGTH || !header) return false;
    const bool part = IsPacket(asked, {CMD_WRITE_PART_V1, CMD_WRITE_PART_V2});
    return header->PacketLength == BOOT_HEADER_LENGTH &&
           header->HeaderLength == BOOT_HEADER_LENGTH && header->Sector == asked.Header.Sector &&
           (!part || header->Address == asked.Header.Address) &&
           (header->Status() == STATUS_ACCEPTED || header->Status() == STATUS_SECTOR_PROTECTED);
}

bool IsSectorRequest(const DeviceRequest& request)
{
    return IsPacket(
        request, {CMD_ERASE_SECTOR_V1, CMD_ERASE_SECTOR_V2, CMD_WRITE_PART_V1, CMD_WRITE_PART_V2});
}

// An erase or part request the device itself confirmed: a good reply to it (or to an identical
// repeat of it) that a read delivered whole before the loader sent anything else. Only such a
// reply is the device's word on that request.
struct Confirmation {
    const DeviceRequest* Request;
    uint32_t ReadSequence;  // when the loader had it
};

std::vector<Confirmation> Confirmations(const ScriptedDevice& device)
{
    std::vector<Confirmation> confirmed;
    for (const DeviceRead& read : device.Reads) {
        for (const size_t index : read.WholeReplies) {
            const DeviceReply& reply = device.Replies[index];
            const DeviceRequest* asked = device.RequestAt(reply.Answers);
            if (!asked || !IsSectorRequest(*asked) || !GoodSectorReply(*asked, reply.Bytes))
                continue;
            // The loader had moved on when a request of other content went out before the read.
            const bool movedOn = std::any_of(
                device.Requests.begin(), device.Requests.end(), [&](const DeviceRequest& later) {
                    return later.Sequence > asked->Sequence && later.Sequence < read.Sequence &&
                           later.Bytes != asked->Bytes;
                });
            if (!movedOn) confirmed.push_back({asked, read.Sequence});
        }
    }
    return confirmed;
}

void CheckChannelClosed(const ScriptedDevice& device, const TDevEntry& record)
{
    GX_FUZZ_CHECK(device.Opens == device.Closes);
    GX_FUZZ_CHECK(!device.IsOpen());
    GX_FUZZ_CHECK(record.FtdiHandle == nullptr && record.VendorHandle == nullptr);
}

// The status of the last read that brought a header of 14, as the loader reports it. What the
// loader only cleared off the line before a request it does not look at.
std::optional<uint16_t> LastHeaderStatus(const ScriptedDevice& device)
{
    std::optional<uint16_t> status;
    for (const DeviceRead& read : device.Reads) {
        if (!read.Waited) continue;
        const std::optional<BootPacket> header = ReadBootHeader(read.Delivered);
        if (header && header->HeaderLength == BOOT_HEADER_LENGTH) status = header->Status();
    }
    return status;
}

const DeviceRead* ReadAnswering(const ScriptedDevice& device,
                                const std::function<bool(const DeviceRequest&)>& asked)
{
    for (const DeviceRead& read : device.Reads)
        if (asked(read.Answering)) return &read;
    return nullptr;
}

// ---- 0: identification

void Identify(FuzzInput& input, int32_t driverKind, bool latencyTimer)
{
    const uint8_t setup = input.Byte();
    ScriptedDevice device(input, true, latencyTimer);
    device.Serial = kSerial;
    device.DeviceCode = kDeviceCode;
    if ((setup & 3) == 3)
        device.FailOpen =
            setup & 4 ? ScriptedDevice::OpenFault::NoHandle : ScriptedDevice::OpenFault::Refused;
    // An earlier device of the same pass may have failed already.
    constexpr int32_t kEarlier[] = {kScanOk, kScanOk, kScanOpenFailed, kScanNoAnswer};
    const int32_t earlier = kEarlier[(setup >> 3) & 3];

    TDevEntry record(kSerial, kDeviceCode, driverKind);
    int32_t scanError = earlier;
    int32_t lastReply = -1;
    bool stop = false;
    device.OnStop = [&stop] { stop = true; };
    TIdentifyContext context{
        [](int, int32_t, const QString& format, std::initializer_list<LogArg>) {
            GX_FUZZ_CHECK(!format.isEmpty());
        },
        [&stop] { return stop; }, scanError, lastReply};
    const bool identified = IdentifyDevice(context, record);

    GX_FUZZ_CHECK(identified == (scanError == kScanOk));
    GX_FUZZ_CHECK(scanError == kScanOk || scanError == kScanOpenFailed ||
                  scanError == kScanNoAnswer);
    if (earlier != kScanOk) GX_FUZZ_CHECK(scanError != kScanOk);  // never reset
    CheckChannelClosed(device, record);
    if (device.FailOpen != ScriptedDevice::OpenFault::None) {
        GX_FUZZ_CHECK(scanError == kScanOpenFailed);
        GX_FUZZ_CHECK(device.WriteCalls.empty() && device.Reads.empty());
        return;
    }

    // Bootloader mode exactly when the firmware query's reply was an accepted one.
    const DeviceRead* firmware = ReadAnswering(
        device, [](const DeviceRequest& r) { return IsPacket(r, {CMD_READ_FIRMWARE_VERSION}); });
    GX_FUZZ_CHECK(record.InBootloader == (firmware && AcceptedQuery(firmware->Delivered)));

    // An application that answered: a reply of 8 bytes or more that reads as a version. The
    // loader reads even where its "FL_READ_VERSION$" did not get through whole (the device may
    // still answer an earlier one), so the reply may answer nothing the device received.
    if (!record.InBootloader && scanError == kScanOk) {
        GX_FUZZ_CHECK(record.FirmwareVersion.Number != 0);
        GX_FUZZ_CHECK(
            std::any_of(device.Reads.begin(), device.Reads.end(), [](const DeviceRead& r) {
                return (r.Answering.Kind == RequestKind::ReadVersionText ||
                        r.Answering.Kind == RequestKind::None) &&
                       r.Delivered.size() >= APP_VERSION_MIN_REPLY;
            }));
    }

    // The processor identifier only from an accepted reply that brought all four of its bytes.
    const DeviceRead* processor = ReadAnswering(
        device, [](const DeviceRequest& r) { return IsPacket(r, {CMD_READ_PROCESSOR_ID}); });
    if (processor && AcceptedQuery(processor->Delivered) &&
        processor->Delivered.size() >= BOOT_HEADER_LENGTH + 4u) {
        GX_FUZZ_CHECK(record.ProcessorId == ReadLe32(processor->Delivered.data() + 14));
        // ... and those bytes are the device's answer to command 10, not the rest of a version
        // text that came late.
        for (size_t i = 0; i < BOOT_HEADER_LENGTH + 4u; ++i)
            GX_FUZZ_CHECK(processor->DeliveredAnswers[i] == processor->Answering.Sequence);
    } else {
        GX_FUZZ_CHECK(record.ProcessorId == 0);
    }

    const DeviceRead* start = ReadAnswering(
        device, [](const DeviceRequest& r) { return r.Kind == RequestKind::StartBootText; });
    const bool started =
        start && std::string_view(reinterpret_cast<const char*>(start->Delivered.data()),
                                  start->Delivered.size())
                     .starts_with(REPLY_STARTED);
    GX_FUZZ_CHECK(record.BootloaderStarted == started);

    // The pass reports the status of the last reply that had a header.
    const std::optional<uint16_t> status = LastHeaderStatus(device);
    GX_FUZZ_CHECK(lastReply == (status ? int32_t{*status} : -1));

    for (const DeviceRequest& request : device.Requests) {
        // A pass asked to stop starts no further exchange.
        GX_FUZZ_CHECK(!request.AfterStop);
        // The bootloader details and the restart only for a pass that has not failed.
        if (earlier != kScanOk)
            GX_FUZZ_CHECK(!IsPacket(request, {CMD_READ_BOOT_VERSION, CMD_READ_PROCESSOR_ID}) &&
                          request.Kind != RequestKind::StartBootText);
    }
}

// ---- 1: the write session

// A control command as the loader hands it to the driver: one 14-byte piece, no sector, no
// address. Counted whether or not the cable let it through.
bool IsControl(const std::vector<uint8_t>& piece, uint16_t command)
{
    const std::optional<BootPacket> h = ReadBootHeader(piece);
    return piece.size() == BOOT_HEADER_LENGTH && h->PacketLength == BOOT_HEADER_LENGTH &&
           h->HeaderLength == BOOT_HEADER_LENGTH && h->Command == command &&
           h->Sector == NO_SECTOR && h->Address == 0;
}

bool Attempted(const ScriptedDevice& device, uint16_t command)
{
    return std::any_of(device.WriteCalls.begin(), device.WriteCalls.end(),
                       [command](const std::vector<uint8_t>& p) { return IsControl(p, command); });
}

// A session run on the calling thread: its body, then its termination handler, as its thread
// would run them, without a thread.
class DirectWriteSession final : public TWriteThread {
public:
    using TWriteThread::TWriteThread;
    void RunHere()
    {
        StartTick = TickCount();
        Execute();
        OnTerminate();
    }
};

struct SessionSetup {
    uint32_t Processor;
    const char* Bootloader;
    const char* DeviceFirmware;
    const char* ImageVersion;
    bool SkipCheck;
    bool StartApplication;
    bool OpenFails;
    bool LoadFails;
    std::vector<uint8_t> Payload;  // laid at the start of the first writable sector
};

SessionSetup ReadSessionSetup(FuzzInput& input)
{
    const uint8_t a = input.Byte();
    const uint8_t b = input.Byte();
    const uint8_t emptyParts = input.Byte();
    constexpr uint32_t kProcessors[] = {0x400FE000, 0x0000BC40, 0x26013F37, 0x12345678};
    constexpr const char* kBootloaders[] = {"GXST-1.04", "GXLV-1.04 TR", "GXLV-1.02 PP",
                                            "GXNB-3.10"};
    constexpr const char* kFirmwares[] = {"GXST-1.40", "GXLV-9.10", "Unknown", ""};
    constexpr const char* kImages[] = {"GXST-1.44", "GXLV-9.12"};
    SessionSetup setup{kProcessors[a & 3],    kBootloaders[a >> 6], kFirmwares[(b >> 3) & 3],
                       kImages[(b >> 5) & 1], (a & 4) != 0,         (a & 8) != 0,
                       (a & 16) != 0,         (a & 32) != 0,        {}};
    // One to eight parts of 512 bytes; a part whose bit is set is left erased (all 0xFF).
    const int parts = 1 + (b & 7);
    for (int p = 0; p < parts; ++p)
        for (int i = 0; i < WRITE_PART_SIZE; ++i)
            setup.Payload.push_back(
                emptyParts >> p & 1 ? 0xFF : static_cast<uint8_t>((i * 7 + p * 13 + 1) % 255));
    return setup;
}

// What the session must write, worked out here from the map and the payload.
struct ExpectedWrite {
    std::vector<uint8_t> Image;  // from flash address 0
    std::set<int> Sectors;       // the sectors to erase and write
    std::set<std::pair<int, uint32_t>> Parts;
};

ExpectedWrite ExpectedFor(const FlashMap& map, const std::vector<uint8_t>& payload)
{
    ExpectedWrite expected;
    expected.Image.assign(map.ImageLength(), 0xFF);
    const uint32_t first = map.Sectors[static_cast<size_t>(map.FirstSector)].SectorStart;
    GX_FUZZ_CHECK(first + payload.size() <= expected.Image.size());
    std::copy(payload.begin(), payload.end(), expected.Image.begin() + first);
    for (int s = map.FirstSector; s <= map.LastSector; ++s) {
        const SectorInfo& sector = map.Sectors[static_cast<size_t>(s)];
        const auto begin = expected.Image.begin() + sector.SectorStart;
        if (std::all_of(begin, begin + sector.SectorSize, [](uint8_t b) { return b == 0xFF; }))
            continue;
        expected.Sectors.insert(s);
        for (uint32_t a = sector.SectorStart; a < sector.SectorStart + sector.SectorSize;
             a += WRITE_PART_SIZE)
            expected.Parts.insert({s, a});
    }
    return expected;
}

void WriteSession(FuzzInput& input, int32_t driverKind, bool latencyTimer)
{
    const SessionSetup setup = ReadSessionSetup(input);
    ScriptedDevice device(input, true, latencyTimer);
    device.Serial = kSerial;
    device.DeviceCode = kDeviceCode;
    if (setup.OpenFails) device.FailOpen = ScriptedDevice::OpenFault::Refused;

    TDevEntry record(kSerial, kDeviceCode, driverKind);
    record.InBootloader = true;
    record.ProcessorId = setup.Processor;
    ParseVersion(record.BootloaderVersion, setup.Bootloader);
    ParseVersion(record.FirmwareVersion, setup.DeviceFirmware);

    FuzzWorkerHost host;
    host.StartApplication = setup.StartApplication;
    host.Load = [&setup](TFirmwareBlockList& blocks, TFirmwareVersion& version) {
        if (setup.LoadFails) return false;
        ParseVersion(version, setup.ImageVersion);
        blocks.push_back(
            std::make_unique<TFirmwareBlock>(setup.Payload.data(), setup.Payload.size(), -1));
        return true;
    };
    const auto session = std::make_unique<DirectWriteSession>(host, record, setup.SkipCheck);
    device.OnStop = [&session] { session->RequestStop(); };
    session->RunHere();
    const int32_t code = session->ErrorCode;

    bool known = false;
    const FlashMap& map = SectorMapFor(setup.Processor, record.BootloaderVersion.Suffix, known);
    const ExpectedWrite expected = ExpectedFor(map, setup.Payload);

    GX_FUZZ_CHECK(host.Finished == 1);
    GX_FUZZ_CHECK(code == kWriteOk || code == kWriteLoadFailed || code == kWriteStopped ||
                  code == kWriteBlockOutsideImage || code == kWriteNothingToWrite ||
                  code == kWriteEraseFailed || code == kWritePartFailed ||
                  code == kWriteOpenFailed || code == kWriteNotCompatible);
    CheckChannelClosed(device, record);
    if (setup.LoadFails) GX_FUZZ_CHECK(code == kWriteLoadFailed);
    // The compatibility check runs whatever the layout gave, and its code replaces the layout's.
    if (expected.Sectors.empty() && !setup.LoadFails)
        GX_FUZZ_CHECK(code == kWriteNothingToWrite || code == kWriteNotCompatible);
    if (code == kWriteNotCompatible) GX_FUZZ_CHECK(!setup.SkipCheck);
    if (code == kWriteStopped) GX_FUZZ_CHECK(device.StopRaised);
    const bool opened = code != kWriteLoadFailed && code != kWriteBlockOutsideImage &&
                        code != kWriteNothingToWrite && code != kWriteNotCompatible &&
                        code != kWriteOpenFailed;
    GX_FUZZ_CHECK(device.Opens == (opened ? 1 : 0));
    if (!opened) {
        GX_FUZZ_CHECK(device.WriteCalls.empty() && device.Reads.empty());
        return;
    }

    // Before any part of a sector goes out, the device confirmed an erase of it; every part
    // carries the image's bytes for its address; nothing outside the image's sectors, nothing
    // after a stop.
    const std::vector<Confirmation> confirmed = Confirmations(device);
    std::set<int> erased;
    uint16_t eraseCommand = 0, partCommand = 0;
    for (const DeviceRequest& request : device.Requests) {
        for (const Confirmation& c : confirmed)
            if (c.ReadSequence < request.Sequence &&
                IsPacket(*c.Request, {CMD_ERASE_SECTOR_V1, CMD_ERASE_SECTOR_V2}))
                erased.insert(c.Request->Header.Sector);
        if (request.Kind != RequestKind::Packet) continue;
        const BootPacket& h = request.Header;
        if (IsPacket(request, {CMD_ERASE_SECTOR_V1, CMD_ERASE_SECTOR_V2})) {
            GX_FUZZ_CHECK(!request.AfterStop);
            GX_FUZZ_CHECK(expected.Sectors.count(h.Sector) == 1);
            GX_FUZZ_CHECK(h.Address == map.Sectors[h.Sector].SectorStart);
            GX_FUZZ_CHECK(eraseCommand == 0 || eraseCommand == h.Command);
            eraseCommand = h.Command;
        } else if (IsPacket(request, {CMD_WRITE_PART_V1, CMD_WRITE_PART_V2})) {
            GX_FUZZ_CHECK(!request.AfterStop);
            GX_FUZZ_CHECK(expected.Parts.count({h.Sector, h.Address}) == 1);
            GX_FUZZ_CHECK(erased.count(h.Sector) == 1);
            GX_FUZZ_CHECK(std::equal(request.Bytes.begin() + BOOT_HEADER_LENGTH,
                                     request.Bytes.end(), expected.Image.begin() + h.Address));
            GX_FUZZ_CHECK(partCommand == 0 || partCommand == h.Command);
            partCommand = h.Command;
        }
    }
    // One command set for the whole session.
    if (eraseCommand && partCommand)
        GX_FUZZ_CHECK((eraseCommand == CMD_ERASE_SECTOR_V2) == (partCommand == CMD_WRITE_PART_V2));

    // A stop before the verdict makes the session a stopped one: a session that ends as failed or
    // written was stopped, if at all, only once it was sending its abort or finish.
    const auto lastControl = [&device](uint16_t command) -> const DeviceRequest* {
        for (auto r = device.Requests.rbegin(); r != device.Requests.rend(); ++r)
            if (IsPacket(*r, {command})) return &*r;
        return nullptr;
    };
    if (device.StopRaised && code != kWriteStopped) {
        const DeviceRequest* control = lastControl(code == kWriteOk ? CMD_FINISH : CMD_ABORT);
        if (control) GX_FUZZ_CHECK(device.StopSequence > control->Sequence);
    }

    if (code != kWriteOk) {
        // A session that did not write everything never finishes the device: it aborts it, the
        // abort being the last thing it tries to send.
        GX_FUZZ_CHECK(!Attempted(device, CMD_FINISH) && !Attempted(device, CMD_START_APPLICATION));
        GX_FUZZ_CHECK(!device.WriteCalls.empty());
        GX_FUZZ_CHECK(IsControl(device.WriteCalls.back(), CMD_ABORT));
        return;
    }

    // A success: every sector and part that holds data was confirmed by the device's own reply
    // to it, read before the loader went on (a reply still owed by an earlier request never
    // counts for a later one), and the device was finished.
    std::set<int> goodErases;
    std::set<std::pair<int, uint32_t>> goodParts;
    for (const Confirmation& c : confirmed) {
        if (IsPacket(*c.Request, {CMD_ERASE_SECTOR_V1, CMD_ERASE_SECTOR_V2}))
            goodErases.insert(c.Request->Header.Sector);
        else
            goodParts.insert({c.Request->Header.Sector, c.Request->Header.Address});
    }
    GX_FUZZ_CHECK(goodErases == expected.Sectors);
    GX_FUZZ_CHECK(goodParts == expected.Parts);
    GX_FUZZ_CHECK(session->PartsDone == session->PartsTotal);
    GX_FUZZ_CHECK(!Attempted(device, CMD_ABORT));
    GX_FUZZ_CHECK(Attempted(device, CMD_FINISH));
    GX_FUZZ_CHECK(Attempted(device, CMD_START_APPLICATION) == setup.StartApplication);
    GX_FUZZ_CHECK(IsControl(device.WriteCalls.back(),
                            setup.StartApplication ? CMD_START_APPLICATION : CMD_FINISH));
    GX_FUZZ_CHECK(!host.Progress.empty() && host.Progress.back() == 100);
}

// ---- 2: the channel used directly

void ChannelUse(FuzzInput& input, int32_t driverKind, bool latencyTimer)
{
    ScriptedDevice device(input, false, latencyTimer);
    device.Serial = kSerial;
    device.DeviceCode = kDeviceCode;
    TDevEntry record(kSerial, kDeviceCode, driverKind);
    GX_FUZZ_CHECK(ChannelOpen(record));
    {
        const ChannelCloser closer(record);
        const ChannelStop stop = [&device] { return device.StopRaised; };
        for (int step = 0; step < 64 && !input.Empty(); ++step) {
            const uint8_t op = input.Byte();
            if (op & 1) {
                // A buffer of exactly the capacity, so a byte placed past it is seen.
                const uint32_t capacity = 1 + (op >> 1) * 9;
                const auto buffer = std::make_unique<uint8_t[]>(capacity);
                const int callsBefore = device.ReadCalls;
                const uint32_t count =
                    ChannelRead(record, buffer.get(), capacity, 100, op & 2 ? stop : ChannelStop());
                GX_FUZZ_CHECK(count <= capacity);
                if (device.ReadCalls == callsBefore)
                    GX_FUZZ_CHECK(count == 0);
                else
                    GX_FUZZ_CHECK(device.ReadCalls == callsBefore + 1 &&
                                  count == device.LastDelivered);
            } else {
                const uint32_t size = (op >> 1) * 5;
                std::vector<uint8_t> bytes(size);
                for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i);
                const size_t callsBefore = device.WriteCalls.size();
                const int faultsBefore = device.Faults;
                const bool sent = ChannelSend(record, bytes.data(), size);
                // Whole only when every piece went out whole, in pieces of 64, in order.
                GX_FUZZ_CHECK(sent == (device.Faults == faultsBefore));
                if (sent) {
                    GX_FUZZ_CHECK(device.WriteCalls.size() - callsBefore ==
                                  (size + kChannelPieceSize - 1) / kChannelPieceSize);
                    std::vector<uint8_t> joined;
                    for (size_t i = callsBefore; i < device.WriteCalls.size(); ++i)
                        joined.insert(joined.end(), device.WriteCalls[i].begin(),
                                      device.WriteCalls[i].end());
                    GX_FUZZ_CHECK(joined == bytes);
                }
            }
        }
    }
    CheckChannelClosed(device, record);
    // A closed channel reads nothing and sends nothing.
    uint8_t byte = 0;
    const int callsBefore = device.ReadCalls;
    GX_FUZZ_CHECK(ChannelRead(record, &byte, 1, 100) == 0 && device.ReadCalls == callsBefore);
    GX_FUZZ_CHECK(!ChannelSend(record, &byte, 1));
}

// ---- 3: the device lists

std::string UpToZero(const std::string& field)
{
    return field.substr(0, field.find('\0'));
}

// What both libraries' lists must show; checkEntry adds what only one library's entries hold.
template <typename Entry, typename EntryCheck>
void CheckDeviceList(const ScriptedDevice& device, DriverListResult result,
                     const std::vector<Entry>& entries, EntryCheck checkEntry)
{
    if (device.ListCount > kMaxDriverDevices) GX_FUZZ_CHECK(device.ListCalls == 1);
    if (result != DriverListResult::Ok) {
        GX_FUZZ_CHECK(result == DriverListResult::DriverError && entries.empty());
        GX_FUZZ_CHECK(device.ListFailed || device.ListCount > kMaxDriverDevices);
        return;
    }
    GX_FUZZ_CHECK(entries.size() == device.Listed.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        GX_FUZZ_CHECK(entries[i].Serial == UpToZero(device.Listed[i].SerialField));
        checkEntry(entries[i], device.Listed[i]);
    }
    GX_FUZZ_CHECK(device.Listed.size() <= std::min(device.ListCount, device.ListClaim));
}

void DeviceLists(FuzzInput& input, int32_t driverKind)
{
    ScriptedDevice device(input, false, true);
    if (driverKind == FtdiDriver) {
        std::vector<FtdiListEntry> entries;
        const DriverListResult result = ReadFtdiDeviceList(entries);
        CheckDeviceList(device, result, entries,
                        [](const FtdiListEntry& entry, const auto& listed) {
                            GX_FUZZ_CHECK(entry.Description == UpToZero(listed.DescriptionField));
                            const TDevEntry record(entry.Serial, 0xFFFF, FtdiDriver);
                            GX_FUZZ_CHECK(record.SerialNumber == SerialFromText(entry.Serial));
                        });
    } else {
        std::vector<VendorListEntry> entries;
        const DriverListResult result = ReadVendorDeviceList(entries);
        CheckDeviceList(device, result, entries,
                        [](const VendorListEntry& entry, const auto& listed) {
                            GX_FUZZ_CHECK(entry.DeviceCode == listed.DeviceCode);
                        });
    }
}
}  // namespace

void FuzzDeviceReplies(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    const int32_t driverKind = choice & 4 ? VendorDriver : FtdiDriver;
    const bool latencyTimer = (choice & 8) == 0;
    switch (choice & 3) {
        case 0:
            Identify(input, driverKind, latencyTimer);
            break;
        case 1:
            WriteSession(input, driverKind, latencyTimer);
            break;
        case 2:
            ChannelUse(input, driverKind, latencyTimer);
            break;
        default:
            DeviceLists(input, driverKind);
            break;
    }
}
