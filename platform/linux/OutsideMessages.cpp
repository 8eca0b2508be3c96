#include "platform/OutsideMessages.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {
// Listens on a local socket; clients write "MSG WPARAM\n" lines. A client that sends a malformed
// or endless line is disconnected; nothing it sent is acted on past that point.
class LocalSocketSource final : public OutsideMessageSource {
public:
    LocalSocketSource() : server_(this) {}

    bool Listen(const QString& path)
    {
        // Only the holder of the instance lock gets here, so a socket left behind is stale.
        QLocalServer::removeServer(path);
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (!server_.listen(path)) return false;
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* client = server_.nextPendingConnection()) Serve(client);
        });
        return true;
    }

private:
    void Serve(QLocalSocket* client)
    {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            QByteArray& pending = pending_[client];
            pending += client->readAll();
            qsizetype end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(end);
                pending.remove(0, end + 1);
                quint32 message = 0;
                quint64 wParam = 0;
                if (line.size() > kMaxOutsideLine || !ParseOutsideMessageLine(line, message, wParam)) {
                    Drop(client);
                    return;
                }
                emit messageReceived(message, wParam);
            }
            if (pending.size() > kMaxOutsideLine) Drop(client);
        });
        connect(client, &QObject::destroyed, this, [this, client] { pending_.remove(client); });
    }

    void Drop(QLocalSocket* client)
    {
        pending_.remove(client);
        client->abort();
        client->deleteLater();
    }

    // Declared before the server: the server's client sockets go with it, and each one's
    // destroyed handler still takes its entry out of this table.
    QHash<QLocalSocket*, QByteArray> pending_;
    QLocalServer server_;
};
}  // namespace

std::unique_ptr<OutsideMessageSource> OutsideMessageSource::Start(const QString& runtimeDir)
{
    auto source = std::make_unique<LocalSocketSource>();
    if (!source->Listen(OutsideMessageSocketPath(runtimeDir))) return nullptr;
    return source;
}

bool SendOutsideMessage(const QString& runtimeDir, quint32 message, quint64 wParam, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(OutsideMessageSocketPath(runtimeDir));
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(QByteArray::number(message) + ' ' + QByteArray::number(wParam) + '\n');
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return written;
}
