#include "update/frmupdate.h"

#include "platform/desktop.h"
#include "platform/drive_map.h"
#include "platform/file_errors.h"
#include "platform/leading_number.h"
#include "platform/look.h"
#include "platform/message_boxes.h"
#include "platform/runtime_error.h"
#include "settings/settings_paths.h"
#include "startup/Module1.h"
#include "update/inet/transfer_control.h"
#include "update/program_files.h"
#include "update/update_checks.h"
#include "update/update_key.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

Q_LOGGING_CATEGORY(lcUpdate, "tclink.update", QtWarningMsg)

namespace tclink::update {

using platform::MessageBox;

namespace {

constexpr int VersionFilePort = 9002;
constexpr int FtpPort = 21;
const QString FtpUser = QStringLiteral("lantoxz");
const QString FtpPassword = QStringLiteral("k7r3m9t1q5w8");
const QString WinRarOnC = QStringLiteral("C:\\Program Files\\WinRAR\\winrar.exe");
const QString WinRarOnD = QStringLiteral("D:\\Program Files\\WinRAR\\winrar.exe");
const QString DownloadedArchive = QStringLiteral("c:\\windows\\tclink");
const QString DownloadedProgram = QStringLiteral("c:\\windows\\tclink.exe");
const QString DownloadFolder = QStringLiteral("c:\\windows\\");
// A signature lies beside the file it signs, on the server and here.
const QString SignatureSuffix = QStringLiteral(".minisig");
// The unpacker gets this long at most; a program it has not finished is never installed.
constexpr int UnpackTimeoutMs = 60000;
// A larger update is refused, and a download still running after this long is given up,
// both as a transfer error; a sane update meets both on a slow line.
constexpr qint64 MaximumUpdateSize = 256 * 1024 * 1024;
constexpr qint64 DownloadTimeLimitMs = 15 * 60 * 1000;
// How long the new program may take to show its first window; it is put back when it dies
// before that.
constexpr qint64 StartWaitMs = 30000;

// A bound, or a lower one that a test sets in the environment variable `name`.
qint64 bound(const char* name, qint64 standard)
{
    bool ok = false;
    const qint64 value = qEnvironmentVariable(name).toLongLong(&ok);
    return ok && value > 0 && value < standard ? value : standard;
}

const QString StatusChecking = QStringLiteral("正在检测软件是否有新的版本。。。。。。");

QString stateText(int state)
{
    switch (state) {
    case inet::icHostResolvingHost:
        return QStringLiteral("正在查询升级服务器的IP地址。。。。。。");
    case inet::icHostResolved:
        return QStringLiteral("成功地找到升级服务器的IP地址。。。。。。");
    case inet::icConnecting:
        return QStringLiteral("正在与升级服务器连接。。。。。。");
    case inet::icConnected:
        return QStringLiteral("已与升级服务器连接成功。。。。。。");
    case inet::icRequesting:
        return QStringLiteral("正在向升级服务器发送请求。。。。。。");
    case inet::icRequestSent:
        return QStringLiteral("发送升级请求已成功。。。。。。");
    case inet::icReceivingResponse:
        return QStringLiteral("在接收升级服务器的新版本软件。。。。。。");
    case inet::icResponseReceived:
        return QStringLiteral("正在从升级服务器下载新版本软件。。。。。。");
    case inet::icDisconnecting:
        return QStringLiteral("正在解除与升级服务器的连接。。。。。。");
    case inet::icDisconnected:
        return QStringLiteral("已成功地与升级服务器解除了连接。。。。。。");
    case inet::icError:
        return QStringLiteral("与升级服务器通讯时出现了错误。。。。。。");
    default:
        return {};
    }
}

void processEvents()
{
    QCoreApplication::processEvents();
}

// The entries of a folder. Links are not followed.
FolderListing listing(const fs::path& folder)
{
    FolderListing entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) == 0) {
            entries[entry.path().filename().string()] = {
                info.st_ino, std::int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
        }
    }
    return entries;
}

} // namespace

bool acceptableRevision(const QString& text)
{
    return platform::leadingNumber(text) > 0 && !text.isEmpty() && text.size() <= 4;
}

frmupdate::frmupdate(Module1& module)
    : QWidget(nullptr, Qt::FramelessWindowHint), UpdatePublicKey(updatePublicKey()), module_(module)
{
    setWindowTitle(QStringLiteral("升级程序"));
    setWindowIcon(platform::programIcon());
    setAttribute(Qt::WA_DeleteOnClose);
    platform::leaveOffTaskbar(this);
    setFixedSize(platform::pixels(6510), platform::pixels(2385));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(0, 0, 255));
    background.setColor(QPalette::WindowText, platform::highlightTextColour());
    setPalette(background);

    Label1 = new QLabel(StatusChecking, this);
    Label1->move(platform::pixels(480), platform::pixels(720));
    Label1->setFont(platform::simSun(12));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(platform::twipsRect(480, 1320, 5535, 375));
    ProgressBar1->setTextVisible(false);
    Inet1 = module_.services.makeTransfer(this);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &frmupdate::Timer1_Timer);
    connect(Inet1, &inet::InternetTransferControl::StateChanged, this,
            &frmupdate::Inet1_StateChanged);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
    Form_Load();
}

void frmupdate::Form_Load()
{
    setStatus(StatusChecking);
    Timer1->stop();
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    CheckPending = 1;
    removeStagingLeftovers(programFile(), previousProgramFile());
}

fs::path frmupdate::programFile() const
{
    const QDir folder = QFileInfo(module_.services.desktop.programFilePath()).absoluteDir();
    return folder.filePath(QStringLiteral("tclink") + platform::ExecutableSuffix).toStdString();
}

fs::path frmupdate::previousProgramFile() const
{
    const QDir folder = QFileInfo(module_.services.desktop.programFilePath()).absoluteDir();
    return folder.filePath(QStringLiteral("tclinkold") + platform::ExecutableSuffix).toStdString();
}

bool frmupdate::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // The check blocks the window: it starts once the window has been drawn with its text,
    // right after that drawing has gone out, whether or not the window manager activates it.
    // A window that is never drawn does not hold the program up: a window manager that ended
    // after it had taken the window's map request never puts it on screen. Then the check
    // starts a few seconds after the window was shown, and the launcher comes up by itself.
    if (event->type() == QEvent::Paint) {
        scheduleCheck();
    } else if (event->type() == QEvent::Show) {
        QTimer::singleShot(CheckWithoutDrawingMs, this, &frmupdate::scheduleCheck);
    }
    return handled;
}

void frmupdate::scheduleCheck()
{
    if (checkScheduled_) {
        return;
    }
    checkScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        QGuiApplication::sync();
        Form_Activate();
    });
}

void frmupdate::closeEvent(QCloseEvent* event)
{
    // The download and the unpacker are waited for in here, with window events processed;
    // the update has no way out but its end, so a close request meanwhile is ignored.
    if (updating_) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void frmupdate::setStatus(const QString& text)
{
    qCInfo(lcUpdate).noquote() << "status" << text;
    Label1->setText(text);
    Label1->adjustSize();
}

void frmupdate::Form_Activate()
{
    // The check runs once, however often this is called.
    if (activated_) {
        return;
    }
    activated_ = true;
    try {
        if (CheckPending == 1) {
            Inet1->Protocol = inet::icHTTP;
            UpdateServerAddress =
                module_.LineCode == QLatin1String("3") ? NetcomServer : TelecomServer;
            const QString url = QStringLiteral("http://") + UpdateServerAddress +
                                QStringLiteral(":%1/\\").arg(VersionFilePort) + EditionName +
                                QStringLiteral("\\ver.txt");
            const QString revision = settings::trimSpaces(Inet1->OpenURL(url, inet::icString));
            OfferedRevision = revision;
            if (acceptableRevision(revision) &&
                platform::leadingNumber(revision) > double(VersionRevision)) {
                const auto answer = module_.services.boxes.show(MessageBox{
                    QStringLiteral(
                        "有最新版本，是否升级？单击是：软件将自动升级。点否：软件不升级进入系统。"),
                    QString(), MessageBox::Buttons::YesNo, MessageBox::Icon::Information,
                    MessageBox::Answer::Yes});
                if (answer == MessageBox::Answer::Yes) {
                    DownloadUpdate();
                    return;
                }
            }
            module_.showFrmbegin();
        }
        close();
    } catch (const RuntimeError& error) {
        module_.services.boxes.show(platform::errorNotice(error));
        module_.services.desktop.endProgram();
    }
}

bool frmupdate::exists(const QString& windowsPath) const
{
    const auto path = module_.services.drives.resolve(windowsPath);
    std::error_code error;
    return path && fs::exists(*path, error);
}

void frmupdate::remove(const QString& windowsPath) const
{
    std::error_code error;
    if (!fs::remove(module_.services.drives.require(windowsPath), error) && error) {
        throw platform::fileError(error.value());
    }
}

void frmupdate::DownloadUpdate()
{
    updating_ = true;
    Inet1->Protocol = inet::icFTP;
    Inet1->RemoteHost = UpdateServerAddress;
    Inet1->UserName = FtpUser;
    Inet1->Password = FtpPassword;
    Inet1->RemotePort = FtpPort;
    Inet1->TransferTimeLimitMs = bound("TCLINK_TEST_UPDATE_TIME_LIMIT_MS", DownloadTimeLimitMs);
    Timer1->start();
    UseArchive = 1;
    WinRarPath.clear();
    if (exists(WinRarOnC)) {
        WinRarPath = WinRarOnC;
    } else if (exists(WinRarOnD)) {
        WinRarPath = WinRarOnD;
    } else {
        UseArchive = 0;
    }
    if (exists(DownloadedProgram)) {
        remove(DownloadedProgram);
    }
    if (UseArchive == 1 && exists(DownloadedArchive)) {
        remove(DownloadedArchive);
    }
    const QString local = UseArchive == 1 ? DownloadedArchive : DownloadedProgram;
    if (exists(local + SignatureSuffix)) {
        remove(local + SignatureSuffix);
    }
    // The system folder of a Windows machine always exists; a mapped drive may lack it.
    if (const auto folder = module_.services.drives.resolve(DownloadFolder)) {
        std::error_code error;
        fs::create_directories(*folder, error);
    }
    module_.services.desktop.sleep(1000);
    const QString remote =
        QStringLiteral("\\") + EditionName +
        (UseArchive == 1 ? QStringLiteral("\\tclink.rar") : QStringLiteral("\\tclink.exe"));
    if (!UpdatePublicKey.isEmpty()) {
        // The signature first: without one there is nothing worth downloading.
        fetchingSignature_ = true;
        Inet1->MaximumFileSize = MaximumSignatureSize;
        transfer(remote + SignatureSuffix, local + SignatureSuffix);
        fetchingSignature_ = false;
        if (!signatureArrived_) {
            qCInfo(lcUpdate) << "no signature on the update server:" << Inet1->ResponseInfo();
            startPreviousProgram();
            return;
        }
    }
    Inet1->MaximumFileSize = bound("TCLINK_TEST_UPDATE_SIZE_LIMIT", MaximumUpdateSize);
    transfer(remote, local);
    removeDownloads(); // the signature of an update whose transfer failed
    CheckPending = 0;
    module_.services.desktop.endProgram();
}

void frmupdate::transfer(const QString& remote, const QString& local)
{
    Inet1->Execute(QString(), QStringLiteral("get  ") + remote + QStringLiteral("  ") + local);
    // The transfer's notifications and the timer's ticks run in here; waiting sleeps until
    // the next event instead of polling.
    while (Inet1->StillExecuting()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool frmupdate::signatureHolds(const QString& windowsPath) const
{
    if (UpdatePublicKey.isEmpty()) {
        return true;
    }
    const auto open = [this](const QString& path, QFile& file) {
        const auto host = module_.services.drives.resolve(path);
        file.setFileName(host ? QString::fromStdString(host->string()) : QString());
        return file.open(QIODevice::ReadOnly);
    };
    QFile signed_;
    QFile signature;
    if (!open(windowsPath, signed_) || !open(windowsPath + SignatureSuffix, signature)) {
        qCInfo(lcUpdate) << "cannot read" << windowsPath << "or its signature";
        return false;
    }
    // One byte more than a signature may have tells one that is too large.
    const QString problem = signatureProblem(signed_, signature.read(MaximumSignatureSize + 1),
                                             UpdatePublicKey, {EditionName, OfferedRevision});
    if (!problem.isEmpty()) {
        qCInfo(lcUpdate) << "refused" << windowsPath << ":" << problem;
    }
    return problem.isEmpty();
}

void frmupdate::startPreviousProgram()
{
    platform::Desktop& desktop = module_.services.desktop;
    ProgressBar1->setValue(ProgressBar1->maximum());
    removeDownloads();
    setStatus(QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
    processEvents();
    if (!desktop.startProcess(QString::fromStdString(programFile().string()), {})) {
        module_.services.boxes.show(platform::errorNotice(platform::fileNotFound()));
    }
    CheckPending = 0;
    desktop.endProgram();
}

void frmupdate::Inet1_StateChanged(int State)
{
    if (fetchingSignature_) {
        // A small file fetched before the update itself: its steps are not shown.
        signatureArrived_ = State == inet::icResponseCompleted;
        return;
    }
    if (State == inet::icResponseCompleted) {
        completeUpdate();
        return;
    }
    if (const QString text = stateText(State); !text.isEmpty()) {
        setStatus(text);
    }
}

void frmupdate::Timer1_Timer()
{
    if (ProgressBar1->maximum() > ProgressBar1->value()) {
        ProgressBar1->setValue(ProgressBar1->value() + 1);
    } else {
        ProgressBar1->setMaximum(ProgressBar1->value() + 100);
    }
}

void frmupdate::unpack()
{
    setStatus(QStringLiteral("正在解压下载的新版本软件。。。。。。"));
    processEvents();
    // The unpacker is waited for; a program it did not finish unpacking is not installed.
    const auto exitCode = module_.services.desktop.runProcess(
        WinRarPath, {QStringLiteral("e"), QStringLiteral("-o+"), DownloadedArchive, DownloadFolder},
        UnpackTimeoutMs);
    if (exitCode != 0) {
        remove(DownloadedProgram);
    }
    processEvents();
}

void frmupdate::startNewProgram(const fs::path& program, const fs::path& previous)
{
    platform::Desktop& desktop = module_.services.desktop;
    processEvents();
    switch (
        desktop.startWatched(QString::fromStdString(program.string()),
                             static_cast<int>(bound("TCLINK_TEST_START_WAIT_MS", StartWaitMs)))) {
    case platform::Startup::NotStarted:
        throw platform::fileNotFound();
    case platform::Startup::Up:
        return;
    case platform::Startup::Died:
        break;
    }
    // It died before its first window: the previous program takes its place again.
    qCInfo(lcUpdate) << "the new program ended before it showed a window";
    std::error_code error;
    fs::rename(previous, program, error);
    if (error) {
        throw platform::fileError(error.value());
    }
    setStatus(QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
    processEvents();
    if (!desktop.startProcess(QString::fromStdString(program.string()), {})) {
        throw platform::fileNotFound();
    }
}

void frmupdate::removeDownloads()
{
    platform::DriveMap& drives = module_.services.drives;
    std::error_code error;
    // Removing a name never follows a link: a link goes, not what it points to.
    for (const QString& name : {DownloadedArchive, DownloadedArchive + SignatureSuffix,
                                DownloadedProgram, DownloadedProgram + SignatureSuffix}) {
        if (const auto path = drives.resolve(name)) {
            fs::remove(*path, error);
        }
    }
    // And whatever else the unpacker put there: entries that are new, and files it replaced.
    const auto folder = drives.resolve(DownloadFolder);
    if (!beforeUnpacking_ || !folder) {
        return;
    }
    for (const auto& [name, identity] : listing(*folder)) {
        const auto before = beforeUnpacking_->find(name);
        const fs::path entry = *folder / name;
        if (before == beforeUnpacking_->end()) {
            fs::remove_all(entry, error);
        } else if (before->second != identity && !fs::is_directory(fs::symlink_status(entry))) {
            fs::remove(entry, error);
        }
    }
}

bool frmupdate::installable(const fs::path& downloaded) const
{
    std::error_code error;
    if (fs::symlink_status(downloaded, error).type() == fs::file_type::not_found) {
        qCInfo(lcUpdate) << "no new program after the download";
        return false;
    }
    if (!isStartableProgram(downloaded)) {
        qCInfo(lcUpdate) << "the new program is not a program of this platform:"
                         << QString::fromStdString(downloaded.string());
        return false;
    }
    // An archive was checked as a whole before it was unpacked.
    return UseArchive == 1 || signatureHolds(DownloadedProgram);
}

void frmupdate::completeUpdate()
{
    platform::Desktop& desktop = module_.services.desktop;
    try {
        setStatus(QStringLiteral("下载成功，正在关闭老版本软件准备替换。。。。。。"));
        processEvents();
        if (ProgressBar1->maximum() > ProgressBar1->value()) {
            ProgressBar1->setValue(ProgressBar1->maximum() - 2);
        }
        if (ProgressBar1->maximum() > ProgressBar1->value()) {
            ProgressBar1->setValue(ProgressBar1->maximum() - 1);
        }
        if (UseArchive == 1 && signatureHolds(DownloadedArchive)) {
            beforeUnpacking_ = listing(module_.services.drives.require(DownloadFolder));
            unpack(); // a link in the archive is not followed: the check below refuses it
        }
        setStatus(QStringLiteral("正在替换老版本。。。。。。"));
        processEvents();
        const fs::path program = programFile();
        const fs::path previous = previousProgramFile();
        std::error_code error;
        if (!fs::remove(previous, error) && error) {
            throw platform::fileError(error.value());
        }
        desktop.sleep(1000);
        processEvents();
        desktop.sleep(1000);
        ProgressBar1->setValue(ProgressBar1->maximum());
        const auto downloaded = module_.services.drives.resolve(DownloadedProgram);
        if (downloaded && installable(*downloaded)) {
            replaceProgram(*downloaded, program, previous);
            removeDownloads();
            setStatus(QStringLiteral("软件更新成功，正在启动新程序。。。。。。"));
            startNewProgram(program, previous);
        } else {
            removeDownloads(); // a link goes, not what it points to
            setStatus(QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
            if (!desktop.startProcess(QString::fromStdString(program.string()), {})) {
                throw platform::fileNotFound();
            }
        }
    } catch (const RuntimeError& error) {
        module_.services.boxes.show(platform::errorNotice(error));
    }
    CheckPending = 0;
    desktop.endProgram();
}

} // namespace tclink::update
