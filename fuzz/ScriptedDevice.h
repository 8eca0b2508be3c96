#pragma once
// A device and its cable that answer from a fuzz input, standing where the driver libraries would
// be: while one lives, both process-wide bindings (devices/DriverBindings.h) point at its entry
// points, so the loader's channel, protocol and sessions run unchanged against it.
//
// The device answers its requests in the order they came, one at a time: at each read the loader
// makes (an FTDI poll that starts a read counts), the oldest request not yet answered gets its
// reply from the script, one record at a time. A record is a byte, kind in the top three bits and
// an argument in the low five, sometimes followed by bytes:
//
//   0 raw        a length byte, then that many bytes, sent as they are
//   1 honest     the reply a sound device gives to that request; the argument picks the status of
//                an erase or part (128, 128, 131 protected, 138 locked), the length of a version
//                text (taken from the script), or a known processor identifier
//   2 bent       the honest reply, changed: for an argument below 16 the byte at that position is
//                XORed with the next byte; from 16 on only the first (argument - 16) bytes come
//                now, the rest at the next read (a reply split in two)
//   3 silent     argument 0: the request is never answered (the reply is lost). Otherwise the
//                honest reply comes late: at the next read. (A reply later than a whole wait of
//                the loader's is, to the loader, one that never came: it must make no promise about
//                replies nothing bounds, and the device model makes none either.)
//   4 stop       the session or scan is asked to stop (the device was unplugged, the window
//                closes); the next record then answers the request
//   5 quirks     for this read: the argument's low 3 bits are FTDI polls that find nothing yet;
//                8 has the driver report more bytes than it was asked for when it fills the
//                buffer; 16 has the FTDI receive queue report more than there is. The next record
//                then answers the request
//   6 read error the driver's read call fails
//   7 write fault the next 1-4 driver writes (argument + 1) fail, or with 4 set come out one byte
//                short; the next record then answers the request
//
// Replies go out in order: a late reply, or the rest of a split one, holds back every reply after
// it, and bytes a reply has beyond what a read asks for stay queued for the next read, as on a
// real line. So a reply may reach the loader in a read made for a later request; each byte keeps
// the reply it belongs to, and each read says which replies it delivered whole. Once the script is
// used up every read times out. A silent read on FTDI reports one byte queued and then reads
// none, so a read never sits out its time-out. An FTDI poll that only looks at the line (the
// first one after a write or a read) takes no time: the device answers nothing meanwhile.
//
// The device checks what the loader does to it: no call on a handle that is not open, no second
// open, no write of more than one piece, and (with request checking on) only whole, well-formed
// requests with the right checksum. The device lists of both libraries come from the script too.

#include "fuzz/FuzzInput.h"

#include "devices/DriverApi.h"
#include "devices/DriverBindings.h"
#include "sessions/BootProtocol.h"

#include <cstdint>
#include <deque>
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

// A reply as the device sent it, whatever became of it on the way.
struct DeviceReply {
    uint32_t Answers = 0;  // the Sequence of the request it answers; 0 for none
    std::vector<uint8_t> Bytes;
};

struct DeviceRead {
    DeviceRequest Answering;           // the request whose reply the device chose at this read
    std::vector<uint8_t> Delivered;    // what went into the loader's buffer
    std::vector<size_t> WholeReplies;  // replies (indexes into Replies) this read delivered whole
    std::vector<uint32_t> DeliveredAnswers;  // for each byte delivered, the request it answers
    bool Waited = true;  // false: the loader only took what one look at the line had found
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
    std::vector<DeviceReply> Replies;
    std::vector<DeviceRead> Reads;
    uint32_t StopSequence = 0;  // when the stop was raised, on the device's clock of events
    // The request with that Sequence; null for none.
    const DeviceRequest* RequestAt(uint32_t sequence) const;
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
    // A piece of a reply on its way out, sent once the read count reaches ReleaseRead.
    struct Outgoing {
        size_t Reply;
        std::vector<uint8_t> Bytes;
        uint32_t ReleaseRead;
    };

    void BeginRead();
    void TakeRequest();
    std::vector<uint8_t> HonestReply(const DeviceRequest& request, uint8_t argument);
    void ConsumeRecords();
    // Sends a reply to request, readsLater reads from now; split: only that many bytes then, the
    // rest one read later.
    void Send(const DeviceRequest& request, std::vector<uint8_t> bytes, size_t split = SIZE_MAX,
              uint32_t readsLater = 0);
    // Moves what is due, in order, onto the line; a piece not due yet holds back all after it.
    void ReleaseDue();
    std::string FieldText(size_t size);

    FuzzInput& script_;
    const bool checkRequests_;
    TFtdiLibrary savedFtdi_;
    TVendorLibrary savedVendor_;
    int handleTag_ = 0;  // its address is the handle
    bool open_ = false;
    uint32_t clock_ = 0;

    std::vector<uint8_t> inbox_;            // request bytes since the last whole request
    std::deque<DeviceRequest> unanswered_;  // whole requests whose replies are not chosen yet
    std::deque<Outgoing> outbox_;           // replies chosen and not on the line yet, in order
    std::vector<uint8_t> queue_;            // reply bytes on the line, not yet read
    std::vector<size_t> queueReply_;        // for each of them, the reply it belongs to
    uint32_t readCount_ = 0;
    bool cycleOpen_ = false;  // an FTDI read has waited for the device and not yet read
    bool looked_ = false;     // an FTDI poll has looked at the line once, without waiting
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
