#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tclink::inet::testing {

// A test peer from tools/servers, started with Debian's python and stopped by its process id.
// The constructor returns once the peer has printed its readiness line.
class Peer {
public:
    Peer(const QString& script, const QStringList& arguments);
    ~Peer() { stop(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void stop();

private:
    QProcess process_;
};

// A loopback port whose connections the kernel accepts but nobody ever answers.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

// Whether this process may listen on a privileged TCP port: as root, or where the system has
// lowered the bound of unprivileged ports to it.
bool mayListenOn(int port);

// A path below the source tree, e.g. "tools/servers/winrar".
QString sourcePath(const QString& relative);

} // namespace tclink::inet::testing
