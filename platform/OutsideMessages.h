#pragma once
// Messages from outside the process to the running copy: the restore request (1025) and the
// device-change notification (537), delivered on the window thread.

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <memory>

inline constexpr quint32 kRestoreMessage = 1025;      // WM_USER + 1
inline constexpr quint32 kDeviceChangeMessage = 537;  // WM_DEVICECHANGE
inline constexpr quint64 kDevNodesChanged = 7;        // DBT_DEVNODES_CHANGED

// How the Linux socket keeps idle or forgotten clients from using up the process's descriptors:
// once accept() fails for want of one, the listener would be lost.
struct OutsideClientLimits {
    int maxClients = 32;    // a client beyond these drops the one that has been quiet longest
    int idleDropMs = 5000;  // a client that sends nothing for longer is dropped
    int watchdogMs = 1000;  // how often idle clients and the listener itself are looked at
};

class OutsideMessageSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Starts receiving for this copy. On Linux it listens on a local socket in runtimeDir, and
    // listens afresh whenever the listener is lost; on Windows it watches the window messages.
    // Null when nothing can be set up.
    static std::unique_ptr<OutsideMessageSource> Start(const QString& runtimeDir,
                                                       const OutsideClientLimits& limits = {});

signals:
    void messageReceived(quint32 message, quint64 wParam);
};

// Longest line a client may send; a longer one drops the client.
inline constexpr int kMaxOutsideLine = 64;

// "MSG WPARAM" in decimal, without the line end. False for anything else.
bool ParseOutsideMessageLine(QByteArrayView line, quint32& message, quint64& wParam);

// One client's bytes arrive in pieces of any size; pending keeps what does not end a line yet.
enum class OutsideLineStep {
    Message,    // a whole line was taken off the front of pending and read into the message
    NeedMore,   // no whole line yet, and what waits is short enough to become one
    Malformed,  // a line, or what waits for its end, is too long or no message: drop the client
};
// Takes the next line off the front of pending and reads it. A client's receiver calls it until
// it gives anything but Message; NeedMore leaves pending as it was.
OutsideLineStep TakeOutsideMessage(QByteArray& pending, quint32& message, quint64& wParam);

// Sends one message to the running copy whose endpoint lives in runtimeDir (tests, tools). While
// that copy runs but its socket is briefly missing (it is listening afresh), tries again for up
// to kResendWindowMs; a copy that is not running is not waited for.
bool SendOutsideMessage(const QString& runtimeDir, quint32 message, quint64 wParam,
                        int timeoutMs = 1000);
inline constexpr int kResendWindowMs = 1500;

// Path of the Linux socket in runtimeDir.
QString OutsideMessageSocketPath(const QString& runtimeDir);
