#include "fuzz/ScriptedDevice.h"

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzClock.h"

#include "devices/Channel.h"
#include "devices/Checksum.h"
#include "devices/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {
// The device the entry points serve; one at a time.
ScriptedDevice* gDevice = nullptr;

constexpr FT_STATUS kFtIoError = 4;
// How long a read that finds nothing lasts, on the fuzz binaries' clock.
constexpr uint32_t kSilentReadMs = 100;
char gModuleTag;  // its address stands for the loaded library

ScriptedDevice& Device()
{
    GX_FUZZ_CHECK(gDevice != nullptr);
    return *gDevice;
}

std::string_view AsText(const std::vector<uint8_t>& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool KnownCommand(uint16_t command)
{
    switch (command) {
        case CMD_ERASE_SECTOR_V1:
        case CMD_WRITE_PART_V1:
        case CMD_READ_FIRMWARE_VERSION:
        case CMD_READ_BOOT_VERSION:
        case CMD_ERASE_SECTOR_V2:
        case CMD_WRITE_PART_V2:
        case CMD_READ_PROCESSOR_ID:
        case CMD_FINISH:
        case CMD_ABORT:
        case CMD_START_APPLICATION:
            return true;
        default:
            return false;
    }
}

bool IsWritePart(uint16_t command)
{
    return command == CMD_WRITE_PART_V1 || command == CMD_WRITE_PART_V2;
}

bool IsSectorCommand(uint16_t command)
{
    return IsWritePart(command) || command == CMD_ERASE_SECTOR_V1 || command == CMD_ERASE_SECTOR_V2;
}
}  // namespace

// ---- The entry points of both libraries: C functions, as a loaded library has them.
extern "C" {
static FT_STATUS StandInFtClose(FT_HANDLE handle)
{
    Device().Close(handle);
    return FT_OK;
}
static FT_STATUS StandInFtResetDevice(FT_HANDLE handle)
{
    Device().CheckHandle(handle);
    return FT_OK;
}
static FT_STATUS StandInFtRead(FT_HANDLE handle, void* buffer, uint32_t size, uint32_t* read)
{
    Device().CheckHandle(handle);
    return Device().Read(buffer, size, *read) ? FT_OK : kFtIoError;
}
static FT_STATUS StandInFtWrite(FT_HANDLE handle, void* buffer, uint32_t size, uint32_t* written)
{
    Device().CheckHandle(handle);
    return Device().Write(buffer, size, *written) ? FT_OK : kFtIoError;
}
static FT_STATUS StandInFtSetTimeouts(FT_HANDLE handle, uint32_t, uint32_t)
{
    Device().CheckHandle(handle);
    return FT_OK;
}
static FT_STATUS StandInFtGetStatus(FT_HANDLE handle, uint32_t* rx, uint32_t* tx, uint32_t* events)
{
    Device().CheckHandle(handle);
    *rx = Device().QueuedForPoll();
    *tx = 0;
    *events = 0;
    return FT_OK;
}
static FT_STATUS StandInFtCreateDeviceInfoList(uint32_t* count)
{
    return Device().FtdiList(count) ? FT_OK : kFtIoError;
}
static FT_STATUS StandInFtGetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, uint32_t* count)
{
    return Device().FtdiListNodes(nodes, count) ? FT_OK : kFtIoError;
}
static FT_STATUS StandInFtOpenEx(void* serial, uint32_t flags, FT_HANDLE* handle)
{
    GX_FUZZ_CHECK(flags == FT_OPEN_BY_SERIAL_NUMBER);
    return Device().Open(static_cast<const char*>(serial), handle) ? FT_OK : kFtIoError;
}
static FT_STATUS StandInFtSetLatencyTimer(FT_HANDLE handle, uint8_t ms)
{
    Device().CheckHandle(handle);
    GX_FUZZ_CHECK(ms == kFtdiLatencyTimerMs);
    return FT_OK;
}

static int32_t StandInLvGetListDevices(uint16_t selector, void* records, uint32_t* count)
{
    GX_FUZZ_CHECK(selector == LV_ALL_DEVICES);
    return Device().VendorList(records, count) ? 0 : -1;
}
static int32_t StandInLvOpenDevice(uint16_t deviceCode, const char* serial, void** handle)
{
    GX_FUZZ_CHECK(deviceCode == Device().DeviceCode);
    return Device().Open(serial, handle) ? 0 : -1;
}
static int32_t StandInLvCloseDevice(void** handle)
{
    Device().Close(*handle);
    *handle = nullptr;
    return 0;
}
static int32_t StandInLvReadNotTimeOut(void* handle, void* buffer, uint32_t capacity,
                                       uint32_t* count)
{
    Device().CheckHandle(handle);
    return Device().Read(buffer, capacity, *count) ? 0 : -1;
}
static int32_t StandInLvWrite(void* handle, const void* data, uint32_t size, uint32_t* written)
{
    Device().CheckHandle(handle);
    return Device().Write(data, size, *written) ? 0 : -1;
}
static int32_t StandInLvPurge(void*)
{
    FuzzCheckFailed("LV_Purge is never called", __FILE__, __LINE__);
}
static int32_t StandInLvSetTimeouts(void* handle, uint32_t first, uint32_t second)
{
    Device().CheckHandle(handle);
    GX_FUZZ_CHECK(first == kVendorFirstTimeout && second == kVendorSecondTimeout);
    return 0;
}
}

ScriptedDevice::ScriptedDevice(FuzzInput& script, bool checkRequests, bool latencyTimer)
    : script_(script),
      checkRequests_(checkRequests),
      savedFtdi_(FtdiLibrary),
      savedVendor_(VendorLibrary)
{
    GX_FUZZ_CHECK(gDevice == nullptr);
    gDevice = this;
    FtdiLibrary = {&gModuleTag,
                   StandInFtClose,
                   StandInFtResetDevice,
                   StandInFtRead,
                   StandInFtWrite,
                   StandInFtSetTimeouts,
                   StandInFtGetStatus,
                   StandInFtCreateDeviceInfoList,
                   StandInFtGetDeviceInfoList,
                   StandInFtOpenEx,
                   latencyTimer ? StandInFtSetLatencyTimer : nullptr};
    VendorLibrary = {&gModuleTag,          StandInLvGetListDevices, StandInLvOpenDevice,
                     StandInLvCloseDevice, StandInLvReadNotTimeOut, StandInLvWrite,
                     StandInLvPurge,       StandInLvSetTimeouts};
}

ScriptedDevice::~ScriptedDevice()
{
    FtdiLibrary = savedFtdi_;
    VendorLibrary = savedVendor_;
    gDevice = nullptr;
}

void ScriptedDevice::CheckHandle(const void* handle) const
{
    GX_FUZZ_CHECK(open_ && handle == &handleTag_);
}

bool ScriptedDevice::Open(const char* serial, void** handle)
{
    GX_FUZZ_CHECK(!open_);  // a second open would lose the first handle
    // The serial text must end within the 16 bytes a driver takes.
    GX_FUZZ_CHECK(serial != nullptr && std::memchr(serial, 0, 16) != nullptr);
    GX_FUZZ_CHECK(Serial == serial);
    switch (FailOpen) {
        case OpenFault::Refused:
            return false;
        case OpenFault::NoHandle:
            *handle = nullptr;
            return true;
        case OpenFault::None:
            break;
    }
    open_ = true;
    ++Opens;
    *handle = &handleTag_;
    return true;
}

void ScriptedDevice::Close(const void* handle)
{
    CheckHandle(handle);
    open_ = false;
    cycleOpen_ = looked_ = false;
    ++Closes;
}

bool ScriptedDevice::Write(const void* data, uint32_t size, uint32_t& written)
{
    GX_FUZZ_CHECK(size >= 1 && size <= kChannelPieceSize);
    cycleOpen_ = looked_ = false;  // an FTDI read cut short while polling ends here
    const auto* bytes = static_cast<const uint8_t*>(data);
    WriteCalls.emplace_back(bytes, bytes + size);
    if (faultWrites_ > 0) {
        --faultWrites_;
        ++Faults;
        inbox_.clear();  // the device drops a request that arrived garbled
        written = shortWrites_ ? size - 1 : 0;
        return shortWrites_;
    }
    written = size;
    inbox_.insert(inbox_.end(), bytes, bytes + size);
    if (checkRequests_) TakeRequest();
    return true;
}

// A whole request leaves the inbox; a part of one stays until the rest comes. The loader sends
// nothing else, and each request in one go, so nothing may be left over or out of shape.
void ScriptedDevice::TakeRequest()
{
    if (inbox_.empty()) return;
    DeviceRequest request;
    if (inbox_[0] == 'F' || inbox_[0] == 'S') {
        const std::string_view text = AsText(inbox_);
        if (text == TEXT_READ_VERSION)
            request.Kind = RequestKind::ReadVersionText;
        else if (text == TEXT_START_BOOT_LOADER)
            request.Kind = RequestKind::StartBootText;
        else if (TEXT_READ_VERSION.starts_with(text) || TEXT_START_BOOT_LOADER.starts_with(text))
            return;
        else
            FuzzCheckFailed("the loader sends only its two texts", __FILE__, __LINE__);
    } else {
        if (inbox_.size() < 2) return;
        const uint16_t length = ReadLe16(inbox_.data());
        GX_FUZZ_CHECK(length == BOOT_HEADER_LENGTH || length == WRITE_PART_PACKET_LENGTH);
        if (inbox_.size() < length) return;
        GX_FUZZ_CHECK(inbox_.size() == length);
        request.Kind = RequestKind::Packet;
        request.Header = *ReadBootHeader(inbox_);
        GX_FUZZ_CHECK(request.Header.HeaderLength == BOOT_HEADER_LENGTH);
        GX_FUZZ_CHECK(KnownCommand(request.Header.Command));
        GX_FUZZ_CHECK((length == WRITE_PART_PACKET_LENGTH) == IsWritePart(request.Header.Command));
        std::vector<uint8_t> zeroed = inbox_;
        zeroed[12] = zeroed[13] = 0;
        GX_FUZZ_CHECK(PacketChecksum(zeroed.data(), length) == request.Header.Checksum);
        if (!IsSectorCommand(request.Header.Command))
            GX_FUZZ_CHECK(request.Header.Sector == NO_SECTOR && request.Header.Address == 0);
    }
    request.Bytes = std::move(inbox_);
    inbox_.clear();
    request.Sequence = ++clock_;
    request.AfterStop = StopRaised;
    Requests.push_back(request);
    unanswered_.push_back(std::move(request));
}

const DeviceRequest* ScriptedDevice::RequestAt(uint32_t sequence) const
{
    for (const DeviceRequest& request : Requests)
        if (request.Sequence == sequence) return &request;
    return nullptr;
}

void ScriptedDevice::Send(const DeviceRequest& request, std::vector<uint8_t> bytes, size_t split,
                          uint32_t readsLater)
{
    if (bytes.empty()) return;
    const size_t reply = Replies.size();
    Replies.push_back({request.Sequence, bytes});
    if (split < bytes.size()) {
        outbox_.push_back({reply, std::vector<uint8_t>(bytes.begin(), bytes.begin() + split),
                           readCount_ + readsLater});
        outbox_.push_back({reply, std::vector<uint8_t>(bytes.begin() + split, bytes.end()),
                           readCount_ + readsLater + 1});
    } else {
        outbox_.push_back({reply, std::move(bytes), readCount_ + readsLater});
    }
}

void ScriptedDevice::ReleaseDue()
{
    while (!outbox_.empty() && outbox_.front().ReleaseRead <= readCount_) {
        const Outgoing& piece = outbox_.front();
        queue_.insert(queue_.end(), piece.Bytes.begin(), piece.Bytes.end());
        queueReply_.insert(queueReply_.end(), piece.Bytes.size(), piece.Reply);
        outbox_.pop_front();
    }
}

std::vector<uint8_t> ScriptedDevice::HonestReply(const DeviceRequest& request, uint8_t argument)
{
    switch (request.Kind) {
        case RequestKind::None:
            return {};
        case RequestKind::ReadVersionText:
            return script_.Bytes(argument);
        case RequestKind::StartBootText: {
            const std::string_view answer = argument & 1 ? REPLY_START_ERROR : REPLY_STARTED;
            std::vector<uint8_t> reply(answer.begin(), answer.end());
            const std::vector<uint8_t> more = script_.Bytes(argument >> 1);
            reply.insert(reply.end(), more.begin(), more.end());
            return reply;
        }
        case RequestKind::Packet:
            break;
    }
    const uint16_t command = request.Header.Command;
    std::vector<uint8_t> payload;
    uint16_t status = STATUS_ACCEPTED;
    if (command == CMD_READ_FIRMWARE_VERSION || command == CMD_READ_BOOT_VERSION) {
        payload = script_.Bytes(argument);
    } else if (command == CMD_READ_PROCESSOR_ID) {
        const uint32_t id = argument < std::size(kScriptedProcessors)
                                ? kScriptedProcessors[argument]
                                : script_.Le32();
        payload.resize(4);
        WriteLe32(payload.data(), id);
    } else if (IsSectorCommand(command)) {
        constexpr uint16_t kStatuses[] = {STATUS_ACCEPTED, STATUS_ACCEPTED, STATUS_SECTOR_PROTECTED,
                                          STATUS_DEVICE_LOCKED};
        status = kStatuses[argument & 3];
    }
    std::vector<uint8_t> reply(BOOT_HEADER_LENGTH + payload.size());
    WriteLe16(&reply[0], static_cast<uint16_t>(reply.size()));
    WriteLe16(&reply[2], BOOT_HEADER_LENGTH);
    WriteLe16(&reply[4], status);
    WriteLe16(&reply[6], request.Header.Sector);
    WriteLe32(&reply[8], request.Header.Address);
    std::copy(payload.begin(), payload.end(), reply.begin() + BOOT_HEADER_LENGTH);
    WriteLe16(&reply[12], PacketChecksum(reply.data(), static_cast<uint16_t>(reply.size())));
    return reply;
}

void ScriptedDevice::ConsumeRecords()
{
    const DeviceRequest& request = Reads.back().Answering;
    while (!script_.Empty()) {
        const uint8_t record = script_.Byte();
        const uint8_t argument = record & 31;
        switch (record >> 5) {
            case 0:  // raw
                Send(request, script_.Bytes(script_.Byte()));
                return;
            case 1:  // honest
                Send(request, HonestReply(request, argument));
                return;
            case 2: {  // bent
                std::vector<uint8_t> reply = HonestReply(request, 0);
                if (argument < 16) {
                    if (argument < reply.size()) reply[argument] ^= script_.Byte();
                    Send(request, std::move(reply));
                } else {
                    Send(request, std::move(reply), argument - 16u);
                }
                return;
            }
            case 3:  // silent, or late
                if (argument > 0) Send(request, HonestReply(request, 0), SIZE_MAX, 1);
                return;
            case 4:  // stop
                if (!StopRaised) StopSequence = clock_;
                StopRaised = true;
                if (OnStop) OnStop();
                break;
            case 5:  // quirks
                latePolls_ = argument & 7;
                overReport_ = (argument & 8) != 0;
                queueLies_ = (argument & 16) != 0;
                break;
            case 6:  // read error
                readFails_ = true;
                return;
            default:  // write faults
                faultWrites_ = 1 + (argument & 3);
                shortWrites_ = (argument & 4) != 0;
                break;
        }
    }
}

void ScriptedDevice::BeginRead()
{
    cycleOpen_ = true;
    latePolls_ = 0;
    overReport_ = queueLies_ = readFails_ = false;
    ++readCount_;
    DeviceRead read;
    if (checkRequests_) {
        // One request at a time, oldest first, as a device works through what it received.
        if (!unanswered_.empty()) {
            read.Answering = std::move(unanswered_.front());
            unanswered_.pop_front();
        }
    } else {
        inbox_.clear();
    }
    read.Sequence = ++clock_;
    Reads.push_back(std::move(read));
    ReleaseDue();  // what was due before this reply
    ConsumeRecords();
    ReleaseDue();
}

uint32_t ScriptedDevice::QueuedForPoll()
{
    if (!cycleOpen_) {
        // The first look at the line takes no time: the device gets to answer only once the
        // loader waits, that is, looks again.
        if (!looked_) {
            looked_ = true;
            return static_cast<uint32_t>(queue_.size());
        }
        BeginRead();
    }
    if (latePolls_ > 0) {
        --latePolls_;
        return 0;
    }
    if (queue_.empty()) return 1;  // a silent read: the read finds nothing at once
    return static_cast<uint32_t>(queue_.size()) + (queueLies_ ? 100 : 0);
}

bool ScriptedDevice::Read(void* buffer, uint32_t capacity, uint32_t& count)
{
    const bool waited = cycleOpen_ || !looked_;
    if (!waited) {
        // Taking what one look found, without waiting: the device does nothing meanwhile.
        DeviceRead read;
        read.Sequence = ++clock_;
        read.Waited = false;
        Reads.push_back(std::move(read));
    } else if (!cycleOpen_) {
        BeginRead();
    }
    cycleOpen_ = looked_ = false;
    ++ReadCalls;
    LastDelivered = 0;
    count = 0;
    // What a record set for this read ends with it.
    const bool fails = readFails_;
    const bool overReport = overReport_;
    readFails_ = overReport_ = false;
    if (fails) return false;
    // A read that waited and found nothing took its time.
    if (waited && queue_.empty()) AdvanceFuzzClock(kSilentReadMs);
    const uint32_t n = std::min(static_cast<uint32_t>(queue_.size()), capacity);
    if (n > 0) std::memcpy(buffer, queue_.data(), n);
    DeviceRead& read = Reads.back();
    read.Delivered.assign(queue_.begin(), queue_.begin() + n);
    // A reply is delivered whole when all its bytes came in this one read.
    for (uint32_t i = 0; i < n;) {
        const size_t reply = queueReply_[i];
        uint32_t run = 0;
        while (i + run < n && queueReply_[i + run] == reply) ++run;
        if (run == Replies[reply].Bytes.size()) read.WholeReplies.push_back(reply);
        read.DeliveredAnswers.insert(read.DeliveredAnswers.end(), run, Replies[reply].Answers);
        i += run;
    }
    queue_.erase(queue_.begin(), queue_.begin() + n);
    queueReply_.erase(queueReply_.begin(), queueReply_.begin() + n);
    LastDelivered = n;
    // A driver that claims more than it was asked for has still written only the buffer.
    count = overReport && n == capacity && n > 0 ? n + 3 : n;
    return true;
}

std::string ScriptedDevice::FieldText(size_t size)
{
    // The length byte may exceed the field: then the field is full, with no terminator.
    const std::vector<uint8_t> bytes = script_.Bytes(std::min<size_t>(script_.Byte(), size));
    std::string field(size, '\0');
    std::copy(bytes.begin(), bytes.end(), field.begin());
    return field;
}

bool ScriptedDevice::FtdiList(uint32_t* count)
{
    ++ListCalls;
    const uint8_t record = script_.Byte();
    ListCount = record & 0x40 ? script_.Le32() : record & 0x3F;
    *count = ListCount;
    ListFailed = (record & 0x80) != 0;
    return !ListFailed;
}

bool ScriptedDevice::FtdiListNodes(FT_DEVICE_LIST_INFO_NODE* nodes, uint32_t* count)
{
    ++ListCalls;
    GX_FUZZ_CHECK(nodes != nullptr && *count == ListCount);
    const uint8_t record = script_.Byte();
    // A device plugged in or removed since the first call: the driver's own count now differs,
    // and it fills no more nodes than the first count asked for.
    ListClaim =
        record & 0x40 ? ListCount + (record & 0x3F) : std::min<uint32_t>(ListCount, record & 0x3F);
    const uint32_t filled = std::min(ListClaim, ListCount);
    for (uint32_t i = 0; i < filled; ++i) {
        ListedDevice device;
        device.SerialField = FieldText(sizeof nodes[i].SerialNumber);
        const uint8_t kind = script_.Byte();
        device.DescriptionField = std::string(sizeof nodes[i].Description, '\0');
        if (kind & 1)
            std::memcpy(device.DescriptionField.data(), "Geotrovix", 9);
        else
            device.DescriptionField = FieldText(sizeof nodes[i].Description);
        FT_DEVICE_LIST_INFO_NODE node{};
        std::memcpy(node.SerialNumber, device.SerialField.data(), sizeof node.SerialNumber);
        std::memcpy(node.Description, device.DescriptionField.data(), sizeof node.Description);
        nodes[i] = node;
        Listed.push_back(std::move(device));
    }
    *count = ListClaim;
    ListFailed = (record & 0x80) != 0;
    return !ListFailed;
}

bool ScriptedDevice::VendorList(void* records, uint32_t* count)
{
    ++ListCalls;
    const uint8_t record = script_.Byte();
    ListFailed = (record & 0x80) != 0;
    if (!records) {
        GX_FUZZ_CHECK(ListCalls == 1 && *count == LV_LIST_PRESET);
        ListCount = record & 0x40 ? script_.Le32() : record & 0x3F;
        *count = ListCount;
        return !ListFailed;
    }
    GX_FUZZ_CHECK(ListCalls == 2 && *count == ListCount);
    ListClaim =
        record & 0x40 ? ListCount + (record & 0x3F) : std::min<uint32_t>(ListCount, record & 0x3F);
    const uint32_t filled = std::min(ListClaim, ListCount);
    auto* out = static_cast<VendorDeviceRecord*>(records);
    for (uint32_t i = 0; i < filled; ++i) {
        ListedDevice device;
        device.SerialField = FieldText(sizeof out[i].SerialNumber);
        device.DeviceCode = script_.Le16();
        VendorDeviceRecord entry{};
        WriteLe16(entry.DeviceCode, device.DeviceCode);
        std::memcpy(entry.SerialNumber, device.SerialField.data(), sizeof entry.SerialNumber);
        out[i] = entry;
        Listed.push_back(std::move(device));
    }
    *count = ListClaim;
    return !ListFailed;
}
