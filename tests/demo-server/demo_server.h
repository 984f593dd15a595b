#pragma once

// Runs the real tclink-demo-server for a test and reads its report.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ReportEvent {
    std::string name;
    std::map<std::string, std::string> fields; // values decoded

    std::string operator[](const std::string& key) const
    {
        const auto it = fields.find(key);
        return it == fields.end() ? std::string("<missing>") : it->second;
    }
};

inline std::string percentDecode(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

class DemoServer {
public:
    explicit DemoServer(QStringList arguments) : arguments_(std::move(arguments)) {}
    ~DemoServer()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished();
            }
        }
    }

    // Starts the server and waits for its readiness lines; returns them.
    QStringList start(int endpoints)
    {
        const QString program = qEnvironmentVariable("TCLINK_BINARY_DIR") + "/tclink-demo-server";
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(program, arguments_ + QStringList{"--report", reportPath()});
        QStringList ready;
        while (ready.size() < endpoints && process_.waitForReadyRead(10000)) {
            while (process_.canReadLine()) {
                ready << QString::fromUtf8(process_.readLine()).trimmed();
            }
        }
        return ready;
    }

    // Ends the server with SIGTERM; returns its exit code, or -1 if it did not end in 5 s.
    int stop()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    QString reportPath() const { return dir_.filePath("report.log"); }

    std::vector<ReportEvent> events() const
    {
        std::vector<ReportEvent> events;
        QFile file(reportPath());
        if (!file.open(QIODevice::ReadOnly)) {
            return events;
        }
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (line.isEmpty()) {
                continue;
            }
            ReportEvent event{words[0].toStdString(), {}};
            for (qsizetype i = 1; i < words.size(); ++i) {
                const auto eq = words[i].indexOf('=');
                event.fields[words[i].left(eq).toStdString()] =
                    percentDecode(words[i].mid(eq + 1).toStdString());
            }
            events.push_back(event);
        }
        return events;
    }

    std::optional<ReportEvent> find(const std::string& name) const
    {
        for (const ReportEvent& event : events()) {
            if (event.name == name) {
                return event;
            }
        }
        return std::nullopt;
    }

private:
    QStringList arguments_;
    QTemporaryDir dir_;
    QProcess process_;
};
