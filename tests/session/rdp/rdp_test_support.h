#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "session/rdp/remote_desktop_control.h"

namespace tclink::rdp::test {

inline const QString account = QStringLiteral("7wobnekcuhink");
inline const QString password = QStringLiteral("hodrafkez");
inline const QString startProgram = QStringLiteral("E:\\khprogram\\V2011演示版\\bizdesk.exe");

// Sets the control up to log in to host:port with the test account, at 640×480.
inline void logInTo(RemoteDesktopControl& control, const QString& host, int port)
{
    control.resize(640, 480);
    control.Server = host;
    control.AdvancedSettings2.RDPPort = port;
    control.UserName = account;
    control.setClearTextPassword(password);
}

// One line of a peer's report, "EVENT key=value ...", values percent-encoded: the event's
// fields, and its name under "event".
inline QMap<QString, QString> reportFields(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    QMap<QString, QString> fields{{"event", QString::fromUtf8(words[0])}};
    for (qsizetype i = 1; i < words.size(); ++i) {
        const qsizetype eq = words[i].indexOf('=');
        fields[QString::fromUtf8(words[i].left(eq))] =
            QString::fromUtf8(QByteArray::fromPercentEncoding(words[i].mid(eq + 1)));
    }
    return fields;
}

// What a control reported, in order, with the time of its disconnection.
class EventLog {
public:
    explicit EventLog(RemoteDesktopControl& control)
    {
        clock_.start();
        QObject::connect(&control, &RemoteDesktopControl::OnConnecting,
                         [this] { names << "OnConnecting"; });
        QObject::connect(&control, &RemoteDesktopControl::OnConnected,
                         [this] { names << "OnConnected"; });
        QObject::connect(&control, &RemoteDesktopControl::OnLoginComplete,
                         [this] { names << "OnLoginComplete"; });
        QObject::connect(&control, &RemoteDesktopControl::OnFatalError, [this](qint32 code) {
            names << "OnFatalError";
            fatalError = code;
        });
        QObject::connect(&control, &RemoteDesktopControl::OnDisconnected, [this](qint32 code) {
            names << "OnDisconnected";
            reason = code;
            disconnectedAt = clock_.elapsed();
        });
    }

    bool has(const QString& name) const { return names.contains(name); }
    bool waitFor(const QString& name, int ms) const
    {
        return QTest::qWaitFor([&] { return has(name); }, ms);
    }
    qint64 elapsed() const { return clock_.elapsed(); }

    QStringList names;
    qint32 reason = -1;
    qint32 fatalError = -1;
    qint64 disconnectedAt = -1;

private:
    QElapsedTimer clock_;
};

// tclink-demo-server on one loopback endpoint, stopped (by its PID) when this goes.
class DemoServer {
public:
    static QString binary()
    {
        return qEnvironmentVariable("TCLINK_BINARY_DIR") + "/tclink-demo-server";
    }
    static bool available() { return QFile::exists(binary()); }

    ~DemoServer()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(2000);
        }
    }

    // Starts it (or a test peer built from it, `program`) and waits for its readiness line.
    bool start(const QString& endpoint, const QStringList& extra = {},
               const QString& program = binary())
    {
        reportPath_ = dir_.filePath("report.txt");
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, QStringList{"--listen", endpoint, "--report", reportPath_} + extra);
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (t.elapsed() < 10000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(100);
            out += process_.readAllStandardOutput();
            if (out.contains("listening " + endpoint.toUtf8()))
                return true;
        }
        return false;
    }

    // The report's events of one kind, each as its decoded key=value fields.
    QList<QMap<QString, QString>> events(const QString& kind) const
    {
        QList<QMap<QString, QString>> result;
        QFile file(reportPath_);
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.split(' ').first() != kind.toUtf8())
                continue;
            QMap<QString, QString> fields = reportFields(line);
            fields.remove("event");
            result << fields;
        }
        return result;
    }

private:
    QTemporaryDir dir_;
    QString reportPath_;
    QProcess process_;
};

} // namespace tclink::rdp::test
