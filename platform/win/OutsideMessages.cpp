#include "platform/OutsideMessages.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <windows.h>

namespace {
// The system and outside senders post real window messages; this filter picks the two the loader
// handles out of the window's native event stream.
class WindowMessageSource final : public OutsideMessageSource, public QAbstractNativeEventFilter {
public:
    WindowMessageSource() { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~WindowMessageSource() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* data, qintptr*) override
    {
        if (type != "windows_generic_MSG") return false;
        const MSG* msg = static_cast<const MSG*>(data);
        if (msg->message == kDeviceChangeMessage || msg->message == kRestoreMessage)
            emit messageReceived(msg->message, static_cast<quint64>(msg->wParam));
        return false;
    }
};
}  // namespace

// The system delivers the messages to the window; there are no clients to limit.
std::unique_ptr<OutsideMessageSource> OutsideMessageSource::Start(const QString&,
                                                                  const OutsideClientLimits&)
{
    return std::make_unique<WindowMessageSource>();
}

// On Windows the system and outside tools post window messages to the loader's window directly.
bool SendOutsideMessage(const QString&, quint32, quint64, int) { return false; }
