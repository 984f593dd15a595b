#include "support/doubles.h"

#include <QTimer>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace tclink::test {

TempDrives::TempDrives(bool withDriveD)
    : map_({{QChar('C'), {fs::path(dir_.path().toStdString()) / "C", true}},
            {QChar('D'), {fs::path(dir_.path().toStdString()) / "D", false}}})
{
    if (withDriveD) {
        fs::create_directories(driveD());
    }
}

fs::path TempDrives::root() const
{
    return fs::path(dir_.path().toStdString());
}

fs::path TempDrives::host(const QString& windowsPath) const
{
    const auto path = map_.resolve(windowsPath);
    return path ? *path : fs::path();
}

void TempDrives::write(const QString& windowsPath, const QByteArray& bytes) const
{
    const fs::path path = host(windowsPath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
}

std::optional<QByteArray> TempDrives::read(const QString& windowsPath) const
{
    const fs::path path = host(windowsPath);
    if (path.empty() || !fs::is_regular_file(path)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return QByteArray::fromStdString(bytes);
}

platform::MessageBox::Answer ScriptedMessageBoxes::show(const platform::MessageBox& box)
{
    shown.push_back(box);
    if (answers.empty()) {
        return box.defaultButton;
    }
    const auto answer = answers.front();
    answers.pop_front();
    return answer;
}

bool FakeDesktop::startProcess(const QString& program, const QStringList& arguments)
{
    started.push_back({program, arguments});
    return startSucceeds;
}

platform::Startup FakeDesktop::startWatched(const QString& program, int timeoutMs)
{
    watched.push_back(timeoutMs);
    return startProcess(program, {}) ? startup : platform::Startup::NotStarted;
}

std::optional<int> FakeDesktop::runProcess(const QString& program, const QStringList& arguments,
                                           int)
{
    ran.push_back({program, arguments});
    return onRun ? onRun(ran.back()) : std::optional<int>(0);
}

QString FakeTransfer::OpenURL(const QString& url, int)
{
    openedUrls.push_back(url);
    if (error) {
        throw *error;
    }
    return body;
}

void FakeTransfer::Execute(const QString&, const QString& operation)
{
    operations.push_back(operation);
    if (onExecute) {
        onExecute(*this);
    }
    executing = !states.empty();
    QTimer::singleShot(0, this, [this] {
        const std::vector<int> played = states;
        for (const int state : played) {
            emit StateChanged(state);
        }
        executing = false;
    });
}

TestWorld::TestWorld(bool withDriveD)
    : drives(withDriveD), services{drives.map(),
                                   boxes,
                                   clock,
                                   desktop,
                                   [this](QWidget* parent) {
                                       auto* control = new FakeRemoteDesktop(parent);
                                       controls.push_back(control);
                                       return control;
                                   },
                                   [this](QObject* parent) {
                                       transfer = new FakeTransfer(parent);
                                       return transfer;
                                   },
                                   [this] { ++remoteDesktopPreparations; }},
      module(services)
{
}

} // namespace tclink::test
