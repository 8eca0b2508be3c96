#pragma once
// Messages from outside the process to the running copy: the restore request (1025) and the
// device-change notification (537), delivered on the window thread.

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <memory>

inline constexpr quint32 kRestoreMessage = 1025;    // WM_USER + 1
inline constexpr quint32 kDeviceChangeMessage = 537; // WM_DEVICECHANGE
inline constexpr quint64 kDevNodesChanged = 7;       // DBT_DEVNODES_CHANGED

class OutsideMessageSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Starts receiving for this copy. On Linux it listens on a local socket in runtimeDir; on
    // Windows it watches the window messages. Null when nothing can be set up.
    static std::unique_ptr<OutsideMessageSource> Start(const QString& runtimeDir);

signals:
    void messageReceived(quint32 message, quint64 wParam);
};

// Longest line a client may send; a longer one drops the client.
inline constexpr int kMaxOutsideLine = 64;

// "MSG WPARAM" in decimal, without the line end. False for anything else.
bool ParseOutsideMessageLine(QByteArrayView line, quint32& message, quint64& wParam);

// Sends one message to the running copy whose endpoint lives in runtimeDir (tests, tools).
bool SendOutsideMessage(const QString& runtimeDir, quint32 message, quint64 wParam,
                        int timeoutMs = 1000);

// Path of the Linux socket in runtimeDir.
QString OutsideMessageSocketPath(const QString& runtimeDir);
