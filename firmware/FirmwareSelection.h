#pragma once
// Loading the firmware on behalf of a worker thread: the load itself runs on the window thread.

#include "devices/Structs.h"
#include "firmware/FirmwareBlock.h"

// Hands LoadFirmware to the window thread and waits for it. An error the load raises (an
// oversized block) is a failed load for the caller: the write session reports it by its result
// code, so no dialog appears. Called on the window thread itself it loads directly.
bool LoadFirmwareOnWindowThread(TFirmwareBlockList& blocks, TFirmwareVersion& version);
