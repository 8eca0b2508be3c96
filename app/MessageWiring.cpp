#include "app/MessageWiring.h"

#include "app/MainForm.h"
#include "platform/DeviceNotifications.h"
#include "platform/OutsideMessages.h"

void ConnectOutsideMessages(OutsideMessageSource& source, TMainForm& form)
{
    QObject::connect(
        &source, &OutsideMessageSource::messageReceived, &form,
        [&form](quint32 message, quint64 wParam) { form.HandleWindowMessage(message, wParam); });
}

void ConnectDeviceChanges(DeviceChangeMonitor& monitor, TMainForm& form)
{
    QObject::connect(&monitor, &DeviceChangeMonitor::devicesChanged, &form,
                     [&form] { form.HandleWindowMessage(kDeviceChangeMessage, kDevNodesChanged); });
}
