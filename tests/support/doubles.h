#pragma once

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/drive_map.h"
#include "platform/message_boxes.h"
#include "platform/runtime_error.h"
#include "platform/services.h"
#include "session/rdp/remote_desktop_control.h"
#include "startup/Module1.h"
#include "update/inet/transfer_control.h"

#include <QByteArray>
#include <QPointer>
#include <QTemporaryDir>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tclink::test {

// Drives C: and D: in a temporary folder. D: exists only when asked for.
class TempDrives {
public:
    explicit TempDrives(bool withDriveD = false);

    platform::DriveMap& map() { return map_; }
    std::filesystem::path root() const;
    std::filesystem::path driveC() const { return root() / "C"; }
    std::filesystem::path driveD() const { return root() / "D"; }

    // Host path of a Windows path (the folders need not exist).
    std::filesystem::path host(const QString& windowsPath) const;
    void write(const QString& windowsPath, const QByteArray& bytes) const;
    // Content of the file, or nothing when it does not exist.
    std::optional<QByteArray> read(const QString& windowsPath) const;

private:
    QTemporaryDir dir_;
    platform::DriveMap map_;
};

// Records each box and answers it from a script; an unscripted box gets its default button.
class ScriptedMessageBoxes : public platform::MessageBoxes {
public:
    platform::MessageBox::Answer show(const platform::MessageBox& box) override;

    std::deque<platform::MessageBox::Answer> answers;
    std::vector<platform::MessageBox> shown;
};

class TestClock : public platform::Clock {
public:
    QDateTime now() const override { return current; }
    QDateTime current = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0));
};

class FakeDesktop : public platform::Desktop {
public:
    struct Started {
        QString program;
        QStringList arguments;
    };

    QRect taskbarRect() const override { return taskbar; }
    QString programFilePath() const override { return programPath; }
    bool startProcess(const QString& program, const QStringList& arguments) override;
    // Recorded in `started` as well, with the program's coming up in `watched`.
    platform::Startup startWatched(const QString& program, int timeoutMs) override;
    std::optional<int> runProcess(const QString& program, const QStringList& arguments,
                                  int timeoutMs) override;
    void sleep(int milliseconds) override { sleeps.push_back(milliseconds); }
    void endProgram() override { ++ends; }

    QRect taskbar = QRect(0, 0, 0, 0);
    QString programPath = QStringLiteral("/opt/tclink/tclink");
    bool startSucceeds = true;
    std::vector<Started> started;
    // How a watched program comes up (when it can be started); its wait is recorded.
    platform::Startup startup = platform::Startup::Up;
    std::vector<int> watched;
    std::vector<Started> ran;
    // Runs in place of a waited-for program; its result is the exit code.
    std::function<std::optional<int>(const Started&)> onRun;
    std::vector<int> sleeps;
    int ends = 0;
};

// A remote-desktop control that connects nowhere: it records what the window does with it,
// and the test raises its events.
class FakeRemoteDesktop : public rdp::RemoteDesktopControl {
public:
    using RemoteDesktopControl::RemoteDesktopControl;

    QString Version() const override { return version; }
    void Connect() override { ++connects; }
    void RequestClose() override { ++closeRequests; }
    void Disconnect() override { ++disconnects; }
    qint32 ExtendedDisconnectReason() const override { return 0; }
    void setClearTextPassword(const QString& value) override { password = value; }

    QString version = QStringLiteral("2.11.7");
    QString password;
    int connects = 0;
    int closeRequests = 0;
    int disconnects = 0;
};

// A transfer control that transfers nothing: OpenURL answers from a script (a body, or an
// error to throw), Execute records the operation and plays the scripted notifications.
class FakeTransfer : public inet::InternetTransferControl {
public:
    using InternetTransferControl::InternetTransferControl;

    QString OpenURL(const QString& url, int dataType) override;
    void Execute(const QString& url, const QString& operation) override;
    bool StillExecuting() const override { return executing; }
    int ResponseCode() const override { return 0; }
    QString ResponseInfo() const override { return {}; }

    QString body;
    std::optional<RuntimeError> error;
    std::vector<QString> openedUrls;
    std::vector<QString> operations;
    // Runs inside Execute.
    std::function<void(FakeTransfer&)> onExecute;
    // Raised one after the other once Execute has returned, as the real transfer does;
    // the transfer is busy until the last one.
    std::vector<int> states;
    bool executing = false;
};

// The whole program's state with every platform piece doubled.
class TestWorld {
public:
    explicit TestWorld(bool withDriveD = false);

    TempDrives drives;
    ScriptedMessageBoxes boxes;
    TestClock clock;
    FakeDesktop desktop;
    std::vector<FakeRemoteDesktop*> controls; // in the order they were created
    // The last one created; the update window owns it, so it is null once the window is gone.
    QPointer<FakeTransfer> transfer;
    int remoteDesktopPreparations = 0;
    platform::Services services;
    Module1 module;
};

} // namespace tclink::test
