#include "sim/SimDevice.h"

#include "sim/SimNotify.h"
#include "sim/SimSectorMaps.h"
#include "sim/SimText.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <thread>

namespace gxsim {
namespace {
constexpr std::string_view kReadVersion = "FL_READ_VERSION$";
constexpr std::string_view kStartBoot = "START_BOOT_LOADER";
constexpr uint16_t kHeader = 14;
constexpr uint16_t kPart = 512;
constexpr uint32_t kFtdiPacketData = 62;  // data bytes of one full FT232 USB packet

std::mutex openMutex;
std::set<std::string>& OpenDevices()
{
    static std::set<std::string> open;
    return open;
}
// One connection per device and plug-in: a handle left from before an unplug does not keep the
// device, plugged in again, from being opened.
std::string OpenKey(const std::string& dir, const std::string& serial, uint32_t plugCount)
{
    return dir + '\n' + serial + '\n' + std::to_string(plugCount);
}

uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The device's own checksum: 16-bit words with end-around carry, a last odd byte as a word.
uint16_t Checksum(const uint8_t* data, size_t length)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += U16(data + i);
    if (i < length) sum += data[i];
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

bool IsPrefixOf(const std::vector<uint8_t>& bytes, std::string_view text)
{
    return bytes.size() <= text.size() &&
           std::equal(bytes.begin(), bytes.end(), text.begin(),
                      [](uint8_t b, char c) { return b == static_cast<uint8_t>(c); });
}

bool StartsWith(const std::vector<uint8_t>& bytes, std::string_view text)
{
    return bytes.size() >= text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin(),
                      [](char c, uint8_t b) { return b == static_cast<uint8_t>(c); });
}

// True when the bytes so far agree with the start of text (or with all of it).
bool SharesPrefix(const std::vector<uint8_t>& bytes, std::string_view text)
{
    const size_t n = std::min(bytes.size(), text.size());
    return n > 0 && std::equal(bytes.begin(), bytes.begin() + n, text.begin(),
                               [](uint8_t b, char c) { return b == static_cast<uint8_t>(c); });
}

// What the device can tell about a request from its first bytes.
RequestKey KeyOf(const std::vector<uint8_t>& bytes, Mode mode)
{
    RequestKey key;
    if (mode == Mode::Application) {
        if (SharesPrefix(bytes, kReadVersion))
            key.Command = kReadVersionCommand;
        else if (SharesPrefix(bytes, kStartBoot))
            key.Command = kStartBootCommand;
        return key;
    }
    if (bytes.size() >= 12) {
        key.Command = U16(&bytes[4]);
        key.Sector = U16(&bytes[6]);
        key.Address = U32(&bytes[8]);
    }
    return key;
}

std::string BytesText(const std::vector<uint8_t>& bytes)
{
    return Escape(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
}  // namespace

std::shared_ptr<Connection> Connection::Open(const std::string& dir, Driver driver,
                                             const std::string& serial,
                                             std::optional<uint16_t> deviceCode, OpenError& error)
{
    error = OpenError::NotFound;
    SimFolder folder(dir);
    SimState state;
    if (dir.empty() || !folder.Load(state)) return nullptr;
    // Like a driver: the first plugged-in device of its own that lists that serial text.
    const DeviceSetup* setup = nullptr;
    for (const DeviceSetup& d : state.Devices) {
        if (d.Plugged && d.Kind == driver && d.ListedSerialText() == serial &&
            (!deviceCode || d.DeviceCode == *deviceCode)) {
            setup = &d;
            break;
        }
    }
    if (!setup) return nullptr;
    const std::string& name = setup->Serial;
    if (setup->OpenElsewhere) {
        error = OpenError::Busy;  // another program has it
        return nullptr;
    }
    if (setup->OpenFails) {
        folder.AppendJournal(name, std::string("open_refused driver=") + DriverName(driver));
        error = OpenError::Refused;
        return nullptr;
    }
    {
        std::lock_guard lock(openMutex);
        if (!OpenDevices().insert(OpenKey(dir, name, setup->PlugCount)).second) {
            error = OpenError::Busy;
            return nullptr;
        }
    }
    error = OpenError::None;
    std::shared_ptr<Connection> connection(new Connection(dir, driver, name, setup->PlugCount));
    connection->Journal(std::string("open driver=") + DriverName(driver));
    return connection;
}

Connection::Connection(const std::string& dir, Driver driver, std::string serial,
                       uint32_t plugCount)
    : folder_(dir), driver_(driver), serial_(std::move(serial)), plugCount_(plugCount)
{
    firstTimeout_ = driver == Driver::Vendor ? 500 : 0;
}

Connection::~Connection()
{
    std::lock_guard lock(openMutex);
    OpenDevices().erase(OpenKey(folder_.Dir(), serial_, plugCount_));
}

void Connection::Close()
{
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    Journal("close");
}

void Connection::Journal(const std::string& line) const
{
    folder_.AppendJournal(serial_, line);
}

bool Connection::Present(DeviceSetup& setup) const
{
    SimState state;
    if (!folder_.Load(state)) return false;
    const DeviceSetup* found = state.Find(serial_);
    if (!found || !found->Plugged || found->PlugCount != plugCount_ || found->Kind != driver_)
        return false;
    setup = *found;
    return true;
}

void Connection::SetTimeouts(uint32_t first, uint32_t second)
{
    std::lock_guard lock(mutex_);
    firstTimeout_ = first;
    secondTimeout_ = second;
}

void Connection::SetLatencyTimer(uint32_t ms)
{
    std::lock_guard lock(mutex_);
    latencyMs_ = ms;
    Journal("latency ms=" + std::to_string(ms));
}

uint32_t Connection::FirstTimeout() const
{
    std::lock_guard lock(mutex_);
    return firstTimeout_;
}

void Connection::Reset()
{
    std::lock_guard lock(mutex_);
    pending_.clear();
    queue_.clear();
    Journal("reset");
}

std::vector<FaultRule> Connection::MatchingRules(const DeviceSetup& setup) const
{
    std::vector<FaultRule> rules;
    std::string error;
    for (const std::string& text : setup.Faults) {
        std::optional<FaultRule> rule = ParseFaultRule(text, error);
        if (rule && rule->Matches(currentKey_, currentAttempt_)) rules.push_back(*rule);
    }
    return rules;
}

// A request begins: the same request as the last one counts as its next attempt.
void Connection::StartRequest(const std::vector<uint8_t>& head, Mode mode)
{
    currentKey_ = KeyOf(head, mode);
    currentAttempt_ = currentKey_ == lastKey_ ? lastAttempt_ + 1 : 1;
    lastKey_ = currentKey_;
    lastAttempt_ = currentAttempt_;
}

Connection::Result Connection::Write(const uint8_t* data, uint32_t size, uint32_t& written)
{
    std::lock_guard lock(mutex_);
    written = 0;
    DeviceSetup setup;
    if (!Present(setup)) return Result::Gone;
    const Clock::time_point now = Clock::now();
    if (setup.JournalWrites) {
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(now - opened_).count();
        Journal("write size=" + std::to_string(size) + " us=" + std::to_string(us));
    }
    if (!pending_.empty() && now - lastByte_ > std::chrono::milliseconds(setup.FrameTimeoutMs)) {
        Journal("dropped bytes=" + std::to_string(pending_.size()));
        pending_.clear();
    }
    // The key of the request this write belongs to, for the write-side faults.
    if (pending_.empty())
        StartRequest(std::vector<uint8_t>(data, data + std::min<uint32_t>(size, 16)),
                     setup.Current);
    uint32_t accepted = size;
    for (const FaultRule& rule : MatchingRules(setup)) {
        if (rule.WriteFail) {
            Journal("write_failed size=" + std::to_string(size));
            return Result::Failed;
        }
        if (rule.ShortWrite) accepted = std::min(accepted, *rule.ShortWrite);
    }
    pending_.insert(pending_.end(), data, data + accepted);
    lastByte_ = now;
    written = accepted;
    ProcessPending(setup);
    return Result::Ok;
}

void Connection::ProcessPending(DeviceSetup& setup)
{
    while (!pending_.empty()) {
        if (setup.Current == Mode::Application) {
            if (StartsWith(pending_, kReadVersion)) {
                pending_.erase(pending_.begin(), pending_.begin() + kReadVersion.size());
                HandleText(setup, kReadVersionCommand);
            } else if (StartsWith(pending_, kStartBoot)) {
                pending_.erase(pending_.begin(), pending_.begin() + kStartBoot.size());
                HandleText(setup, kStartBootCommand);
            } else if (IsPrefixOf(pending_, kReadVersion) || IsPrefixOf(pending_, kStartBoot)) {
                return;  // more of a text command to come
            } else {
                Journal("ignored bytes=" + std::to_string(pending_.size()) + " data=" +
                        BytesText(std::vector<uint8_t>(
                            pending_.begin(),
                            pending_.begin() + std::min<size_t>(pending_.size(), 32))));
                pending_.clear();
                return;
            }
        } else {
            if (pending_.size() < 2) return;
            const uint16_t length = U16(pending_.data());
            if (length < kHeader || length > kHeader + kPart) {
                Journal("garbage bytes=" + std::to_string(pending_.size()) +
                        " length=" + std::to_string(length));
                pending_.clear();
                return;
            }
            if (pending_.size() < length) return;
            const std::vector<uint8_t> request(pending_.begin(), pending_.begin() + length);
            pending_.erase(pending_.begin(), pending_.begin() + length);
            HandlePacket(setup, request);
        }
        if (!pending_.empty()) StartRequest(pending_, setup.Current);
    }
}

void Connection::HandlePacket(DeviceSetup& setup, const std::vector<uint8_t>& request)
{
    const std::vector<FaultRule> rules = MatchingRules(setup);
    const uint16_t length = U16(&request[0]);
    const uint16_t headerLength = U16(&request[2]);
    const uint16_t command = U16(&request[4]);
    const uint16_t sector = U16(&request[6]);
    const uint32_t address = U32(&request[8]);
    std::vector<uint8_t> zeroed = request;
    PutU16(&zeroed[12], 0);
    bool checksumOk = Checksum(zeroed.data(), zeroed.size()) == U16(&request[12]);
    for (const FaultRule& rule : rules)
        if (rule.CorruptRequest) checksumOk = false;

    if ((command == 2 || command == 7) && UnplugBeforePart(setup)) return;
    const FlashLayout layout = LayoutFor(setup.ProcessorId, setup.Bootloader);
    auto sectorProtected = [&] {
        return std::find(setup.ProtectedSectors.begin(), setup.ProtectedSectors.end(), sector) !=
               setup.ProtectedSectors.end();
    };
    std::vector<uint8_t> payload;
    uint16_t status = kStatusAccepted;
    const bool isWrite = command == 2 || command == 7;
    if (!checksumOk) {
        status = kStatusBadChecksum;
    } else if (headerLength != kHeader || length != (isWrite ? kHeader + kPart : kHeader)) {
        status = kStatusBadLength;
    } else {
        switch (command) {
            case 4:
                payload.assign(setup.Firmware.begin(), setup.Firmware.end());
                payload.push_back(0);
                break;
            case 5:
                payload.assign(setup.Bootloader.begin(), setup.Bootloader.end());
                payload.push_back(0);
                break;
            case 10:
                payload.resize(4);
                PutU32(payload.data(), setup.ProcessorId);
                break;
            case 1:
            case 6:
            case 2:
            case 7: {
                if (sector >= layout.Sectors.size()) {
                    status = kStatusBadSector;
                    break;
                }
                const FlashSector& s = layout.Sectors[sector];
                const bool addressOk = isWrite ? address >= s.Start &&
                                                     address - s.Start <= s.Size - kPart &&
                                                     (address - s.Start) % kPart == 0
                                               : address == s.Start;
                if (!addressOk)
                    status = kStatusBadAddress;
                else if (sectorProtected())
                    status = kStatusProtected;
                else if (setup.Locked)
                    status = kStatusLocked;
                else if (isWrite)
                    folder_.ProgramFlash(serial_, address, request.data() + kHeader, kPart);
                else
                    folder_.EraseFlash(serial_, s.Start, s.Size);
                break;
            }
            case 11:
            case 12:
                break;
            case 13:
                // The application runs after the next reset, that is, the next plug-in.
                folder_.Update(serial_, [](DeviceSetup& d) { d.NextMode = Mode::Application; });
                break;
            default:
                status = kStatusUnknownCommand;
                break;
        }
    }

    std::vector<uint8_t> reply(kHeader + payload.size(), 0);
    uint16_t replySector = sector;
    uint32_t replyAddress = address;
    uint16_t replyLength = static_cast<uint16_t>(reply.size());
    uint16_t replyHeader = kHeader;
    for (const FaultRule& rule : rules) {
        if (rule.Status) status = *rule.Status;
        if (rule.WrongSector) replySector = static_cast<uint16_t>(sector + 1);
        if (rule.WrongAddress) replyAddress = address + kPart;
        if (rule.PacketLength) replyLength = *rule.PacketLength;
        if (rule.HeaderLength) replyHeader = *rule.HeaderLength;
    }
    PutU16(&reply[0], replyLength);
    PutU16(&reply[2], replyHeader);
    PutU16(&reply[4], status);
    PutU16(&reply[6], replySector);
    PutU32(&reply[8], replyAddress);
    std::copy(payload.begin(), payload.end(), reply.begin() + kHeader);
    uint16_t sum = Checksum(reply.data(), reply.size());
    for (const FaultRule& rule : rules)
        if (rule.BadChecksum) sum = static_cast<uint16_t>(sum ^ 0x5AA5);
    PutU16(&reply[12], sum);

    const size_t queuedBefore = queue_.size();
    Deliver(setup, std::move(reply), rules);
    uint32_t replied = 0;
    for (size_t i = queuedBefore; i < queue_.size(); ++i)
        replied += static_cast<uint32_t>(queue_[i].Bytes.size());
    Journal("packet cmd=" + std::to_string(command) + " sector=" + std::to_string(sector) +
            " address=" + Hex32(address) + " length=" + std::to_string(length) + " checksum=" +
            (checksumOk ? "ok" : "bad") + " attempt=" + std::to_string(currentAttempt_) +
            " status=" + std::to_string(status) + " replied=" + std::to_string(replied));
    if (isWrite && checksumOk) CountWrittenPart(setup);
}

void Connection::HandleText(DeviceSetup& setup, int command)
{
    const std::vector<FaultRule> rules = MatchingRules(setup);
    bool overridden = false;
    for (const FaultRule& rule : rules) overridden = overridden || rule.Reply.has_value();
    std::vector<uint8_t> reply;
    if (command == kReadVersionCommand) {
        reply.assign(setup.Firmware.begin(), setup.Firmware.end());
        reply.push_back(0);
    } else {
        reply.assign(std::begin("STARTED"), std::end("STARTED") - 1);
        // A device that answers something else did not start its bootloader.
        if (!overridden)
            folder_.Update(serial_, [](DeviceSetup& d) { d.NextMode = Mode::Bootloader; });
    }
    const size_t queuedBefore = queue_.size();
    Deliver(setup, std::move(reply), rules);
    uint32_t replied = 0;
    for (size_t i = queuedBefore; i < queue_.size(); ++i)
        replied += static_cast<uint32_t>(queue_[i].Bytes.size());
    Journal(std::string("text command=") +
            std::string(command == kReadVersionCommand ? kReadVersion : kStartBoot) +
            " attempt=" + std::to_string(currentAttempt_) + " replied=" + std::to_string(replied));
}

void Connection::Deliver(const DeviceSetup& setup, std::vector<uint8_t> reply,
                         const std::vector<FaultRule>& rules)
{
    Clock::time_point ready = Clock::now();
    std::optional<uint32_t> splitAt;
    uint32_t gapMs = 0;
    for (const FaultRule& rule : rules) {
        if (rule.Reply) reply.assign(rule.Reply->begin(), rule.Reply->end());
    }
    for (const FaultRule& rule : rules) {
        reply.insert(reply.end(), rule.Pad, 0xEE);
        if (rule.ShortTo && *rule.ShortTo < reply.size()) reply.resize(*rule.ShortTo);
        ready += std::chrono::milliseconds(rule.DelayMs);
        if (rule.SplitAt) {
            splitAt = rule.SplitAt;
            gapMs = rule.SplitGapMs;
        }
    }
    for (const FaultRule& rule : rules)
        if (rule.Silent) return;
    if (reply.empty()) return;

    std::vector<Chunk> chunks;
    if (splitAt && *splitAt > 0 && *splitAt < reply.size()) {
        chunks.push_back({ready, std::vector<uint8_t>(reply.begin(), reply.begin() + *splitAt)});
        chunks.push_back({ready + std::chrono::milliseconds(gapMs),
                          std::vector<uint8_t>(reply.begin() + *splitAt, reply.end())});
    } else {
        chunks.push_back({ready, std::move(reply)});
    }
    const uint32_t latency = latencyMs_ ? *latencyMs_ : setup.LatencyMs;
    for (Chunk& chunk : chunks) {
        // An FT232 sends full USB packets at once and holds a short rest back until its latency
        // timer runs out.
        const uint32_t whole =
            static_cast<uint32_t>(chunk.Bytes.size()) / kFtdiPacketData * kFtdiPacketData;
        if (driver_ == Driver::Ftdi && latency > 0 && whole < chunk.Bytes.size()) {
            if (whole > 0)
                queue_.push_back({chunk.Ready, std::vector<uint8_t>(chunk.Bytes.begin(),
                                                                    chunk.Bytes.begin() + whole)});
            queue_.push_back(
                {chunk.Ready + std::chrono::milliseconds(latency),
                 std::vector<uint8_t>(chunk.Bytes.begin() + whole, chunk.Bytes.end())});
        } else {
            queue_.push_back(std::move(chunk));
        }
    }
}

// A device that is to vanish after so many parts goes when the next part arrives: the parts
// before it were written and answered in full.
bool Connection::UnplugBeforePart(const DeviceSetup& setup)
{
    if (setup.UnplugAfterParts == 0 || setup.PartsWritten < setup.UnplugAfterParts) return false;
    folder_.Update(serial_, [](DeviceSetup& d) { d.Plugged = false; });
    Journal("unplugged");
    NotifyDeviceChange();
    return true;
}

void Connection::CountWrittenPart(const DeviceSetup& setup)
{
    if (setup.UnplugAfterParts == 0) return;
    folder_.Update(serial_, [](DeviceSetup& d) { ++d.PartsWritten; });
}

uint32_t Connection::AvailableLocked(Clock::time_point now) const
{
    uint32_t count = 0;
    for (const Chunk& chunk : queue_) {
        if (chunk.Ready > now) break;  // bytes arrive in order
        count += static_cast<uint32_t>(chunk.Bytes.size());
    }
    return count;
}

Connection::Result Connection::Queued(uint32_t& count)
{
    std::lock_guard lock(mutex_);
    count = 0;
    DeviceSetup setup;
    if (!Present(setup)) return Result::Gone;
    count = AvailableLocked(Clock::now());
    return Result::Ok;
}

Connection::Result Connection::Read(uint8_t* buffer, uint32_t max, uint32_t waitMs, bool waitForAll,
                                    uint32_t& count)
{
    count = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock lock(mutex_);
    for (;;) {
        DeviceSetup setup;
        if (!Present(setup)) return Result::Gone;
        const Clock::time_point now = Clock::now();
        const uint32_t available = AvailableLocked(now);
        if (max == 0 || (waitForAll ? available >= max : available > 0) || now >= deadline) break;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
    }
    uint32_t wanted = std::min(AvailableLocked(Clock::now()), max);
    while (wanted > 0 && !queue_.empty()) {
        Chunk& chunk = queue_.front();
        const uint32_t take = std::min<uint32_t>(wanted, static_cast<uint32_t>(chunk.Bytes.size()));
        std::copy(chunk.Bytes.begin(), chunk.Bytes.begin() + take, buffer + count);
        chunk.Bytes.erase(chunk.Bytes.begin(), chunk.Bytes.begin() + take);
        if (chunk.Bytes.empty()) queue_.pop_front();
        count += take;
        wanted -= take;
    }
    return Result::Ok;
}

}  // namespace gxsim
