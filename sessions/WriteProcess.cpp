#include "sessions/WriteProcess.h"

#include "app/Language.h"
#include "app/LoaderError.h"
#include "app/LoaderTexts.h"
#include "app/LogFormat.h"
#include "devices/Channel.h"
#include "platform/Ticks.h"

#include <span>

void WriterLog(TWriteThread& session, int kind, const QString& format,
               std::initializer_list<LogArg> args)
{
    session.Log.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    session.Log.Kind = kind;
    session.Log.Device = 0;
    HandOverLogLine(session, session.Host(), session.Device);
}

TWriteThread::TWriteThread(TWorkerHost& host, TDevEntry& device, bool skipCompatibilityCheck)
    : TWorkerThread(host.WindowThreadObject()),
      Device(&device),
      host_(host),
      skipCompatibilityCheck_(skipCompatibilityCheck)
{
}

TWriteThread::~TWriteThread()
{
    wait();
}

int32_t TWriteThread::Elapsed() const
{
    return static_cast<int32_t>(TicksSince(SessionStartTick));
}

ChannelStop TWriteThread::Stop() const
{
    return [this] { return StopRequested(); };
}

uint16_t TWriteThread::EraseCommand() const
{
    return EraseSectorCommand(Device->ProcessorId, Device->BootloaderVersion.Number,
                              ImageVersion.Name);
}

uint16_t TWriteThread::WritePartCommand() const
{
    return ::WritePartCommand(Device->ProcessorId, Device->BootloaderVersion.Number,
                              ImageVersion.Name);
}

void TWriteThread::Execute()
{
    // 1
    ErrorCode = kWriteOk;
    LastStatus = 0;
    SessionStartTick = StartTick;
    FirstSector = LastSector = -1;
    SectorMap = nullptr;
    Image.clear();

    // Closed after the loop, however the session ends, an error it raised included.
    const ChannelCloser closer(*Device);
    try {
        Run();
    } catch (...) {
        SessionRaised(std::current_exception());
    }
    ChannelClose(*Device);

    // 9
    ClearFirmwareBlocks(Blocks);
    std::vector<uint8_t>().swap(Image);
    SessionMs = Elapsed();
}

void TWriteThread::OnTerminate()
{
    host_.WriteFinished(*this);
}

void TWriteThread::Run()
{
    // 2: the load runs on the window thread; one that raises, or that never ran because the
    // window is gone, is a failed load.
    if (!LoadFirmwareThroughWindow(*this, host_, Blocks, ImageVersion, &ImageSource)) {
        ErrorCode = kWriteLoadFailed;
    } else {
        SelectSectorMap();                                           // 3
        if (!CheckCompatibility()) ErrorCode = kWriteNotCompatible;  // 4
    }

    if (ErrorCode == kWriteOk) {                                       // 5
        WriterLog(*this, Normal, Msg(51), {FirstSector, LastSector});  // 6
        PartsDone = 0;
        // 7: closed after the loop, however the session ends (Execute).
        if (!ChannelOpen(*Device)) {
            WriterLog(*this, Error, Msg(52));
            ErrorCode = kWriteOpenFailed;
        }
        // 8
        for (int index = FirstSector; ErrorCode == kWriteOk && index <= LastSector; ++index) {
            if (StopRequested()) {
                ErrorCode = kWriteStopped;
                break;
            }
            WriterLog(*this, Normal, Msg(53), {Elapsed(), index});
            if (SectorIsEmpty(index)) {
                WriterLog(*this, Normal, Msg(54), {Elapsed(), index});
                PartsDone +=
                    SectorMap->Sectors[static_cast<size_t>(index)].SectorSize / WRITE_PART_SIZE;
                UpdateProgress();
                continue;
            }
            // A failed erase or part sets its own code (5, 6).
            Step step = EraseSector(index);
            if (step == Step::Done) step = WriteSector(index);
            if (step == Step::Done) ++SectorsWritten;
            // A stop that came while the step failed is why it failed: the device went.
            if (step == Step::Stopped || (step == Step::Failed && StopRequested()))
                ErrorCode = kWriteStopped;
        }
        // A session cut short by a stop is no success, even one stopped after its last part: a
        // device must never get the finish (or the start) command after a partial write, nor a
        // verdict of success that its finish never reached.
        if (ErrorCode == kWriteOk && StopRequested()) ErrorCode = kWriteStopped;
        if (ErrorCode == kWriteOk)
            FinishSession();
        else
            AbortSession();
    }
}

void TWriteThread::SessionRaised(std::exception_ptr error)
{
    // The session's own failure, whatever else goes on: the other devices' sessions are
    // untouched. A device that may be mid-write gets the abort, as after any failed step.
    ErrorCode = kWriteRaised;
    try {
        if (ChannelIsOpen(*Device)) AbortSession();
    } catch (...) {
    }
    try {
        WriterLog(*this, Error, LoaderText(LoaderTextId::SessionException), {ExceptionText(error)});
    } catch (...) {
        // Not even the line could be handed over: the verdict still tells.
    }
}

void TWriteThread::BodyRaised(std::exception_ptr error)
{
    // What escaped Execute's own net (its clean-up): still this session's failure only.
    if (ErrorCode == kWriteOk) ErrorCode = kWriteRaised;
    ChannelClose(*Device);
    (void)error;
}

void TWriteThread::SelectSectorMap()
{
    bool known = false;
    const FlashMap& map =
        SectorMapFor(Device->ProcessorId, Device->BootloaderVersion.Suffix, known);
    if (!known) WriterLog(*this, Normal, Msg(56), {Device->ProcessorId});
    SectorMap = &map;
    FlashLayout layout = LayOutFirmware(map, Blocks);
    Image = std::move(layout.Image);
    FirstSector = layout.FirstSector;
    LastSector = layout.LastSector;
    PartsTotal = layout.PartsTotal;
    if (layout.ErrorCode != kWriteOk) ErrorCode = layout.ErrorCode;
}

bool TWriteThread::CheckCompatibility() const
{
    return FirmwareFitsDevice(Device->FirmwareVersion, Device->BootloaderVersion, ImageVersion,
                              skipCompatibilityCheck_);
}

bool TWriteThread::SectorIsEmpty(int sector) const
{
    if (!SectorMap || sector < 0 || static_cast<size_t>(sector) >= SectorMap->Sectors.size())
        return false;
    return ::SectorIsEmpty(Image, SectorMap->Sectors[static_cast<size_t>(sector)]);
}

TWriteThread::Step TWriteThread::EraseSector(int index)
{
    const SectorInfo& sector = SectorMap->Sectors[static_cast<size_t>(index)];
    WriterLog(*this, Normal, Msg(57), {Elapsed(), index});
    const SectorExchangeResult result = EraseSectorExchange(
        *Device, EraseCommand(), static_cast<uint16_t>(index), sector.SectorStart, Stop());
    if (result.DeviceStatus) LastStatus = *result.DeviceStatus;
    if (result.Stopped) return Step::Stopped;
    if (result.Protected) WriterLog(*this, Error, Msg(58), {Elapsed()});
    if (!result.Success) {
        WriterLog(*this, Error, Msg(60), {Elapsed(), index});
        ErrorCode = kWriteEraseFailed;
        return Step::Failed;
    }
    WriterLog(*this, Normal, Msg(59), {Elapsed(), index});
    return Step::Done;
}

TWriteThread::Step TWriteThread::WriteSector(int index)
{
    const SectorInfo& sector = SectorMap->Sectors[static_cast<size_t>(index)];
    const int parts = sector.SectorSize / WRITE_PART_SIZE;
    WriterLog(*this, Normal, Msg(61), {Elapsed(), index});
    SectorReplyBuffer reply{};  // serves every part; message 65 shows it as the last read left it
    for (int p = 0; p < parts; ++p) {
        // A stop comes through between the parts, not only between the sectors.
        if (StopRequested()) return Step::Stopped;
        WriterLog(*this, Normal, Msg(62), {Elapsed(), p, parts});
        const uint32_t address = sector.SectorStart + WRITE_PART_SIZE * static_cast<uint32_t>(p);
        const std::span<const uint8_t, WRITE_PART_SIZE> data(Image.data() + address,
                                                             WRITE_PART_SIZE);
        const SectorExchangeResult result =
            WritePartExchange(*Device, WritePartCommand(), static_cast<uint16_t>(index), address,
                              data, reply, Stop());
        if (result.DeviceStatus) LastStatus = *result.DeviceStatus;
        if (result.Stopped) return Step::Stopped;
        if (result.Protected) WriterLog(*this, Error, Msg(63), {Elapsed()});
        if (!result.Success) {
            const std::optional<BootPacket> fields = ReadBootHeader(reply);
            WriterLog(*this, Error, Msg(65),
                      {Elapsed(), index, fields->PacketLength, fields->HeaderLength,
                       fields->Status(), fields->Sector, fields->Address});
            ErrorCode = kWritePartFailed;
            return Step::Failed;
        }
        ++PartsDone;
        ++PartsWritten;
        UpdateProgress();
    }
    WriterLog(*this, Normal, Msg(64), {Elapsed(), index});
    return Step::Done;
}

void TWriteThread::UpdateProgress()
{
    if (PartsTotal <= 0) return;
    const int position =
        static_cast<int>(static_cast<double>(PartsDone) / PartsTotal * 100.0);  // toward zero
    // What a person sees is the same; the window thread is asked only when the bar moves.
    if (position == shownProgress_) return;
    shownProgress_ = position;
    HandOver([this, position] { host_.ShowProgress(*Device, position); });
}

void TWriteThread::FinishSession()
{
    SendControlCommand(*Device, CMD_FINISH);
    // The window's copy of "Start application", as it is at this moment.
    if (host_.StartApplicationRequested()) {
        WriterLog(*this, Normal, Msg(55));
        SendControlCommand(*Device, CMD_START_APPLICATION);
    }
}

void TWriteThread::AbortSession()
{
    // Sent whatever stopped the session; a stop only cuts the wait for the unexamined reply.
    SendControlCommand(*Device, CMD_ABORT, Stop());
}
