#pragma once
// The firmware write session of one device, on a worker thread of its own: the firmware is loaded
// on the window thread, laid out as a flash image for the device's processor and checked against
// the device, then the device is erased and written sector by sector and finished. One session per
// device; several devices are written at once, each on its own thread and channel, meeting only
// on the window thread. The window's WriteFinished shows the result.

#include "app/LogFormat.h"
#include "devices/Structs.h"
#include "devices/WorkerHost.h"
#include "firmware/FirmwareBlock.h"
#include "platform/WorkerThread.h"
#include "sessions/BootProtocol.h"
#include "sessions/FlashLayout.h"

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <vector>

// Result codes of a session (ErrorCode).
inline constexpr int32_t kWriteOk = 0;
inline constexpr int32_t kWriteLoadFailed = 1;
inline constexpr int32_t kWriteStopped =
    2;  // asked to stop (the device vanished, the window closes)
inline constexpr int32_t kWriteEraseFailed = 5;
inline constexpr int32_t kWritePartFailed = 6;
inline constexpr int32_t kWriteOpenFailed = 7;
// The session raised an error of the loader's own (its text is logged): it ends as failed, its
// device aborted and closed, and no other session is touched.
inline constexpr int32_t kWriteRaised = 8;
// kWriteBlockOutsideImage (3), kWriteNothingToWrite (4) and kWriteNotCompatible (9) come from the
// flash layout.

class TWriteThread : public TWorkerThread {
public:
    // device: the listed record to write; host: the window. skipCompatibilityCheck: the command
    // line's "dontcheckcpbl".
    TWriteThread(TWorkerHost& host, TDevEntry& device, bool skipCompatibilityCheck);
    ~TWriteThread() override;

    TFirmwareBlockList Blocks;      // the firmware loaded for this session, owned
    TFirmwareVersion ImageVersion;  // its version
    std::vector<uint8_t> Image;     // the flash image from address 0
    uint32_t SessionStartTick = 0;  // the "(% 6d)" times of the session's lines count from it
    int32_t FirstSector = -1;
    int32_t LastSector = -1;
    const FlashMap* SectorMap = nullptr;  // the layout chosen for the device's processor
    // The log hand-over is the worker's own slot (Log).
    int32_t PartsTotal = 0;
    int32_t PartsDone = 0;
    TDevEntry* const Device;  // not owned
    int32_t ErrorCode = kWriteOk;
    uint32_t LastStatus = 0;  // of the last erase or write-part reply that passed the header test
    int32_t SessionMs = 0;

    // For the session record: where the image came from (empty: embedded), and what was written.
    QString ImageSource;
    int32_t SectorsWritten = 0;
    int32_t PartsWritten = 0;

    // Members of the session, on its thread. SelectSectorMap may set ErrorCode 3 or 4.
    void SelectSectorMap();
    bool CheckCompatibility() const;
    bool SectorIsEmpty(int sector) const;

    TWorkerHost& Host() const { return host_; }

protected:
    void Execute() override;
    // WriteFinished on the window thread.
    void OnTerminate() override;
    void BodyRaised(std::exception_ptr error) override;

private:
    // Steps 1 to 8 of the session; Execute wraps them with the clean-up that runs on every path.
    void Run();
    // An error Run raised: code 8, the abort when the channel is open, the error's text in red.
    void SessionRaised(std::exception_ptr error);
    enum class Step { Done, Failed, Stopped };
    Step EraseSector(int index);
    Step WriteSector(int index);
    // The progress bar's position, handed to the window thread only when it changes.
    void UpdateProgress();
    void FinishSession();
    void AbortSession();
    uint16_t EraseCommand() const;
    uint16_t WritePartCommand() const;
    // Elapsed ms of the session, for the "(% 6d)" texts.
    int32_t Elapsed() const;
    ChannelStop Stop() const;

    TWorkerHost& host_;
    const bool skipCompatibilityCheck_;
    int shownProgress_ = -1;
};

// For the session: formats into a buffer of (format length + 5000) characters, puts the line into
// the session's slot and hands it over; the device number is the SerialNumber of the session's
// device, read on the window thread. Returns once the line is logged.
void WriterLog(TWriteThread& session, int kind, const QString& format,
               std::initializer_list<LogArg> args = {});
