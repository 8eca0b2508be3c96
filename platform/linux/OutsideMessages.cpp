#include "platform/OutsideMessages.h"

#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
// One client's unfinished line and when it last sent anything. A child of the client's socket,
// so the line lives exactly as long as the connection.
struct Client final : QObject {
    Client(QLocalSocket* s, qint64 now) : QObject(s), socket(s), lastHeard(now) {}
    QLocalSocket* const socket;
    QByteArray pending;
    qint64 lastHeard;  // on the source's clock, in nanoseconds
};

// Listens on a local socket; clients write "MSG WPARAM\n" lines. A client that sends a malformed
// or endless line is disconnected; nothing it sent is acted on past that point. Clients are
// capped and quiet ones dropped, so they never use up the descriptors; a lost listener is
// replaced.
class LocalSocketSource final : public OutsideMessageSource {
public:
    explicit LocalSocketSource(const OutsideClientLimits& limits)
        : limits_(limits), server_(this), watchdog_(this)
    {
        clock_.start();
    }
    ~LocalSocketSource() override
    {
        // The server takes its client sockets with it; none may call back into this object then.
        server_.disconnect(this);
        for (const QPointer<Client>& client : clients_)
            if (client) client->socket->disconnect(this);
    }

    bool Listen(const QString& path)
    {
        path_ = path;
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (!ListenAfresh()) return false;
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = server_.nextPendingConnection()) Serve(socket);
            KeepListening();
        });
        connect(&watchdog_, &QTimer::timeout, this, [this] {
            DropQuiet();
            KeepListening();
        });
        watchdog_.start(limits_.watchdogMs);
        return true;
    }

private:
    // Only the holder of the instance lock gets here, so a socket file left behind is stale.
    bool ListenAfresh()
    {
        QLocalServer::removeServer(path_);
        return server_.listen(path_);
    }

    // QLocalServer closes itself and removes its file, with no signal, when accept() fails; a
    // removed file leaves it unreachable too. Either way: listen again on the same path (a
    // failure is tried again on the next watchdog round).
    void KeepListening()
    {
        if (server_.isListening() && QFileInfo::exists(path_)) return;
        server_.close();
        ListenAfresh();
    }

    void Serve(QLocalSocket* socket)
    {
        Prune();
        auto* client = new Client(socket, clock_.nsecsElapsed());
        clients_.emplace_back(client);
        // A few lines' worth at a time: a client that floods is dropped before it costs memory.
        socket->setReadBufferSize(4 * kMaxOutsideLine);
        connect(socket, &QLocalSocket::readyRead, this, [this, client] { Receive(client); });
        connect(socket, &QLocalSocket::disconnected, this, [this, client] {
            Receive(client);  // whatever arrived together with the close
            if (Tracked(client)) Forget(client)->deleteLater();
        });
        // The newcomer is served; the client quiet the longest makes room for it.
        while (clients_.size() > static_cast<size_t>(std::max(limits_.maxClients, 1))) {
            Client* quietest = nullptr;
            for (const QPointer<Client>& c : clients_)
                if (c && c != client && (!quietest || c->lastHeard < quietest->lastHeard))
                    quietest = c;
            if (!quietest) break;
            Drop(quietest);
        }
    }

    void Receive(Client* client)
    {
        if (!Tracked(client) || client->socket->bytesAvailable() <= 0) return;
        const QByteArray bytes = client->socket->readAll();
        client->lastHeard = clock_.nsecsElapsed();
        client->pending += bytes;
        const QPointer<Client> alive(client);
        for (;;) {
            quint32 message = 0;
            quint64 wParam = 0;
            switch (TakeOutsideMessage(client->pending, message, wParam)) {
                case OutsideLineStep::NeedMore:
                    return;
                case OutsideLineStep::Malformed:
                    Drop(client);
                    return;
                case OutsideLineStep::Message:
                    break;
            }
            emit messageReceived(message, wParam);
            // A receiver that runs the event loop may see this client dropped meanwhile.
            if (!alive || !Tracked(client)) return;
        }
    }

    void DropQuiet()
    {
        Prune();
        const qint64 now = clock_.nsecsElapsed();
        const qint64 limit = qint64(limits_.idleDropMs) * 1000000;
        std::vector<Client*> quiet;
        for (const QPointer<Client>& c : clients_)
            if (c && now - c->lastHeard > limit) quiet.push_back(c);
        for (Client* c : quiet) Drop(c);
    }

    // Entries whose socket went with the server (only while it is destroyed).
    void Prune()
    {
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [](const QPointer<Client>& c) { return c.isNull(); }),
                       clients_.end());
    }
    bool Tracked(const Client* client) const
    {
        return std::find(clients_.begin(), clients_.end(), client) != clients_.end();
    }
    // Takes the client out of the table and its socket's signals away from this object.
    QLocalSocket* Forget(Client* client)
    {
        clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
        QLocalSocket* socket = client->socket;
        socket->disconnect(this);
        return socket;
    }
    // Closes the connection at once (its descriptor goes now, the objects a moment later).
    void Drop(Client* client)
    {
        QLocalSocket* socket = Forget(client);
        socket->abort();
        socket->deleteLater();
    }

    const OutsideClientLimits limits_;
    QString path_;
    QElapsedTimer clock_;
    // Declared before the server, which destroys the client sockets (and so these entries'
    // objects).
    std::vector<QPointer<Client>> clients_;
    QLocalServer server_;
    QTimer watchdog_;
};
}  // namespace

std::unique_ptr<OutsideMessageSource> OutsideMessageSource::Start(const QString& runtimeDir,
                                                                  const OutsideClientLimits& limits)
{
    auto source = std::make_unique<LocalSocketSource>(limits);
    if (!source->Listen(OutsideMessageSocketPath(runtimeDir))) return nullptr;
    return source;
}

bool SendOutsideMessage(const QString& runtimeDir, quint32 message, quint64 wParam, int timeoutMs)
{
    const QString path = OutsideMessageSocketPath(runtimeDir);
    const QDeadlineTimer resendUntil(kResendWindowMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(path);
        if (socket.waitForConnected(timeoutMs)) break;
        const QLocalSocket::LocalSocketError error = socket.error();
        socket.abort();
        const bool missing = error == QLocalSocket::ServerNotFoundError ||
                             error == QLocalSocket::ConnectionRefusedError;
        if (!missing || resendUntil.hasExpired() || !InstanceLockHeld(runtimeDir)) return false;
        QThread::msleep(50);
    }
    socket.write(QByteArray::number(message) + ' ' + QByteArray::number(wParam) + '\n');
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return written;
}
