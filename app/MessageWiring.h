#pragma once
// Routes what the system and outside senders report to the window's handlers.

class DeviceChangeMonitor;
class OutsideMessageSource;
class TMainForm;

// Each message goes to HandleWindowMessage, on the window thread.
void ConnectOutsideMessages(OutsideMessageSource& source, TMainForm& form);
// Each USB device added or removed arrives as the devices-changed notification (537 with 7).
void ConnectDeviceChanges(DeviceChangeMonitor& monitor, TMainForm& form);
