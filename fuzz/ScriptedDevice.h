#pragma once
// A device and its cable that answer from a fuzz input, standing where the driver libraries would
// be: while one lives, both process-wide bindings (devices/DriverBindings.h) point at its entry
// points, so the loader's channel, protocol and sessions run unchanged against it.
//
// Each read the loader makes takes its reply from the script, one record at a time. A record is a
// byte, kind in the top three bits and an argument in the low five, sometimes followed by bytes:
//
//   0 raw        a length byte, then that many bytes, sent as they are
//   1 honest     the reply a sound device gives to what the loader sent last; the argument picks
//                the status of an erase or part (128, 128, 131 protected, 138 locked), the length
//                of a version text (taken from the script), or a known processor identifier
//   2 bent       the honest reply, changed: for an argument below 16 the byte at that position is
//                XORed with the next byte; from 16 on only the first (argument - 16) bytes come
//                now, the rest just before the next read's reply (a reply split in two)
//   3 silent     nothing arrives: the read times out
//   4 stop       the session or scan is asked to stop (the device was unplugged, the window
//                closes); the next record then answers the read
//   5 quirks     for this read: the argument's low 3 bits are FTDI polls that find nothing yet;
//                8 has the driver report more bytes than it was asked for when it fills the
//                buffer; 16 has the FTDI receive queue report more than there is. The next record
//                then answers the read
//   6 read error the driver's read call fails
//   7 write fault the next 1-4 driver writes (argument + 1) fail, or with 4 set come out one byte
//                short; the next record then answers the read
//
// Bytes a reply has beyond what a read asks for stay queued for the next read, as a late reply
// would. Once the script is used up every read times out. A silent read on FTDI reports one byte
// queued and then reads none, so a read never sits out its time-out.
//
// The device checks what the loader does to it: no call on a handle that is not open, no second
// open, no write of more than one piece, and (with request checking on) only whole, well-formed
// requests with the right checksum. The device lists of both libraries come from the script too.

#include "fuzz/FuzzInput.h"

#include "devices/DriverApi.h"
#include "devices/DriverBindings.h"
#include "sessions/BootProtocol.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class RequestKind { None, Packet, ReadVersionText, StartBootText };

struct DeviceRequest {
    RequestKind Kind = RequestKind::None;
    BootPacket Header;           // a packet's header
    std::vector<uint8_t> Bytes;  // the request as received
    uint32_t Sequence = 0;       // when it was complete, on the device's clock of events
    bool AfterStop = false;      // it came after the stop request
};

struct DeviceRead {
    DeviceRequest Answering;         // what the device had received since the previous read
    std::vector<uint8_t> Delivered;  // what went into the loader's buffer
    uint32_t Sequence = 0;
};

// A device list entry as the driver filled it in.
struct ListedDevice {
    std::string SerialField;       // the whole field, zeros included
    std::string DescriptionField;  // FTDI only
    uint16_t DeviceCode = 0;       // vendor only
};

class ScriptedDevice {
public:
    enum class OpenFault { None, Refused, NoHandle };

    // checkRequests: the loader sends only protocol requests (off for raw channel use).
    ScriptedDevice(FuzzInput& script, bool checkRequests, bool latencyTimer);
    ~ScriptedDevice();
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    // ---- Set by the target before the loader runs.
    OpenFault FailOpen = OpenFault::None;
    std::string Serial;       // the serial number an open must name
    uint16_t DeviceCode = 0;  // the device code a vendor open must name
    std::function<void()> OnStop;

    // ---- What the loader did.
    int Opens = 0;
    int Closes = 0;
    bool IsOpen() const { return open_; }
    bool StopRaised = false;
    int Faults = 0;  // write calls that failed or came out short
    std::vector<std::vector<uint8_t>> WriteCalls;
    std::vector<DeviceRequest> Requests;
    std::vector<DeviceRead> Reads;
    int ReadCalls = 0;           // driver read calls, failed ones included
    uint32_t LastDelivered = 0;  // bytes the last read call put into the loader's buffer

    // The device lists: what the driver said and filled in.
    int ListCalls = 0;
    uint32_t ListCount = 0;  // the first call's count
    uint32_t ListClaim = 0;  // the second call's count
    bool ListFailed = false;
    std::vector<ListedDevice> Listed;

    // ---- The driver's side, for the entry points.
    void CheckHandle(const void* handle) const;
    bool Open(const char* serial, void** handle);
    void Close(const void* handle);
    bool Write(const void* data, uint32_t size, uint32_t& written);
    uint32_t QueuedForPoll();
    bool Read(void* buffer, uint32_t capacity, uint32_t& count);
    bool FtdiList(uint32_t* count);
    bool FtdiListNodes(FT_DEVICE_LIST_INFO_NODE* nodes, uint32_t* count);
    bool VendorList(void* records, uint32_t* count);

private:
    void BeginRead();
    void TakeRequest();
    std::vector<uint8_t> HonestReply(const DeviceRequest& request, uint8_t argument);
    void ConsumeRecords();
    std::string FieldText(size_t size);

    FuzzInput& script_;
    const bool checkRequests_;
    TFtdiLibrary savedFtdi_;
    TVendorLibrary savedVendor_;
    int handleTag_ = 0;  // its address is the handle
    bool open_ = false;
    uint32_t clock_ = 0;

    std::vector<uint8_t> inbox_;  // request bytes since the last whole request
    DeviceRequest received_;      // the last whole request not yet answered
    std::vector<uint8_t> queue_;  // reply bytes not yet read
    std::vector<uint8_t> late_;   // the rest of a split reply, queued at the next read
    bool cycleOpen_ = false;      // an FTDI read has polled and not yet read
    int faultWrites_ = 0;
    bool shortWrites_ = false;
    int latePolls_ = 0;
    bool overReport_ = false;
    bool queueLies_ = false;
    bool readFails_ = false;
};

// The processor identifiers an honest reply to command 10 picks from (the argument 0 to 4); any
// other argument takes the identifier from the script.
inline constexpr uint32_t kScriptedProcessors[] = {0x400FE000, 0x0000BC40, 0x26013F37, 0x25011723,
                                                   0x12345678};
