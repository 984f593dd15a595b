#include "peer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tclink::inet::testing {

bool mayListenOn(int port)
{
    if (::geteuid() == 0) {
        return true;
    }
    QFile bound(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
    if (!bound.open(QIODevice::ReadOnly)) {
        return false;
    }
    bool ok = false;
    const int first = bound.readAll().trimmed().toInt(&ok);
    return ok && first <= port;
}

QString sourcePath(const QString& relative)
{
    return qEnvironmentVariable("TCLINK_SOURCE_DIR", QStringLiteral(".")) + u'/' + relative;
}

Peer::Peer(const QString& script, const QStringList& arguments)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{sourcePath(QStringLiteral("tools/servers/") + script)} + arguments);
    const QDeadlineTimer deadline(10000);
    while (!process_.canReadLine() && !deadline.hasExpired() &&
           process_.state() != QProcess::NotRunning) {
        process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    const QByteArray line = process_.readLine();
    if (!line.contains(" ready ")) {
        stop();
        throw std::runtime_error(script.toStdString() + " did not start: " + line.toStdString());
    }
}

SilentListener::SilentListener() : socket_(::socket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket_, 4) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener()
{
    ::close(socket_);
}

void Peer::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

} // namespace tclink::inet::testing
