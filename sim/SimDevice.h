#pragma once
// One open connection to a simulated device, inside the process that opened it: the device's
// request framing, its replies and their timing live here, while its description and flash stay
// in the state folder. In application mode the device takes the two text commands; in bootloader
// mode the binary packets, which it checks (lengths, checksum, sector and address against its own
// flash layout) before it acts.

#include "sim/SimFaults.h"
#include "sim/SimFolder.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gxsim {

// Status codes of the simulated bootloader. 128, 131 and 138 are the ones the loader knows; the
// others are the simulator's own refusals.
inline constexpr uint16_t kStatusAccepted = 128;
inline constexpr uint16_t kStatusBadChecksum = 129;
inline constexpr uint16_t kStatusUnknownCommand = 130;
inline constexpr uint16_t kStatusProtected = 131;
inline constexpr uint16_t kStatusBadAddress = 132;
inline constexpr uint16_t kStatusBadSector = 133;
inline constexpr uint16_t kStatusBadLength = 134;
inline constexpr uint16_t kStatusLocked = 138;

class Connection {
public:
    using Clock = std::chrono::steady_clock;
    enum class Result { Ok, Failed, Gone };
    enum class OpenError { None, NotFound, Refused, Busy };

    // Opens the plugged-in device of this driver with this serial text (and, for the vendor
    // library, this device code). Only one connection per device at a time.
    static std::shared_ptr<Connection> Open(const std::string& dir, Driver driver,
                                            const std::string& serial,
                                            std::optional<uint16_t> deviceCode, OpenError& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Bytes from the host. written: how many the driver reports as written.
    Result Write(const uint8_t* data, uint32_t size, uint32_t& written);
    // Bytes the host could read now.
    Result Queued(uint32_t& count);
    // Reads at most max bytes. waitForAll: wait up to waitMs until max bytes are there (FTDI);
    // otherwise until any byte is there (vendor library).
    Result Read(uint8_t* buffer, uint32_t max, uint32_t waitMs, bool waitForAll, uint32_t& count);
    void Reset();  // drops what is queued both ways
    void SetTimeouts(uint32_t first, uint32_t second);
    uint32_t FirstTimeout() const;
    // The FTDI latency timer as the host sets it for this connection; the device's latency_ms
    // is the chip's default until then.
    void SetLatencyTimer(uint32_t ms);
    void Close();  // journals the close; the object goes with its last owner

    Driver Kind() const { return driver_; }
    const std::string& Serial() const { return serial_; }

private:
    Connection(const std::string& dir, Driver driver, std::string serial, uint32_t plugCount);

    struct Chunk {
        Clock::time_point Ready;
        std::vector<uint8_t> Bytes;
    };

    bool Present(DeviceSetup& setup) const;  // still plugged in since this connection opened
    uint32_t AvailableLocked(Clock::time_point now) const;
    std::vector<FaultRule> MatchingRules(const DeviceSetup& setup) const;
    void StartRequest(const std::vector<uint8_t>& head, Mode mode);
    void ProcessPending(DeviceSetup& setup);
    void HandlePacket(DeviceSetup& setup, const std::vector<uint8_t>& request);
    void HandleText(DeviceSetup& setup, int command);
    void Deliver(const DeviceSetup& setup, std::vector<uint8_t> reply,
                 const std::vector<FaultRule>& rules);
    bool UnplugBeforePart(const DeviceSetup& setup);
    void CountWrittenPart(const DeviceSetup& setup);
    void Journal(const std::string& line) const;

    SimFolder folder_;
    const Driver driver_;
    const std::string serial_;
    const uint32_t plugCount_;
    const Clock::time_point opened_ = Clock::now();

    mutable std::mutex mutex_;
    uint32_t firstTimeout_ = 0;
    uint32_t secondTimeout_ = 0;
    std::optional<uint32_t> latencyMs_;  // set by the host; the device's default otherwise
    std::vector<uint8_t> pending_;       // request bytes received so far
    Clock::time_point lastByte_{};
    std::deque<Chunk> queue_;  // reply bytes for the host, in order
    RequestKey currentKey_;    // the request being received
    uint32_t currentAttempt_ = 0;
    RequestKey lastKey_;
    uint32_t lastAttempt_ = 0;
    bool closed_ = false;
};

}  // namespace gxsim
