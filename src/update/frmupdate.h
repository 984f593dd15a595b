#pragma once

#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

class QLabel;
class QProgressBar;
class QTimer;

namespace tclink {
class Module1;
}
namespace tclink::inet {
class InternetTransferControl;
}

namespace tclink::update {

// The entries of a folder by name, each with what tells it from another file or from itself
// changed: its inode and its change time (nanoseconds).
using FolderListing = std::map<std::string, std::pair<std::uint64_t, std::int64_t>>;

// How long after it was shown the update window starts its check when it has not been drawn.
inline constexpr int CheckWithoutDrawingMs = 3000;

// The update window, the first window of a run. Once it is on screen with its text (or a few
// seconds after it was shown, if it is never drawn) it asks the update server of the remembered
// line for the newest revision; if the server has a newer one and the user agrees, it
// downloads, unpacks and installs it and starts it. Otherwise it opens the launcher and closes.
class frmupdate : public QWidget {
    Q_OBJECT
public:
    explicit frmupdate(Module1& module);

    void Form_Activate();
    void DownloadUpdate();
    void Inet1_StateChanged(int State);
    void Timer1_Timer();

    QLabel* Label1;
    QProgressBar* ProgressBar1;
    inet::InternetTransferControl* Inet1;
    QTimer* Timer1;

    int CheckPending = 0;
    QString UpdateServerAddress;
    int UseArchive = 0;
    QString WinRarPath;
    // The revision the update server offered; a signed update must be signed for it.
    QString OfferedRevision;
    // Updates are installed only with a valid signature by this minisign key; with none,
    // unsigned.
    QString UpdatePublicKey;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void completeUpdate();
    void unpack();
    void transfer(const QString& remote, const QString& local);
    bool signatureHolds(const QString& windowsPath) const;
    bool installable(const std::filesystem::path& downloaded) const;
    void startPreviousProgram();
    void startNewProgram(const std::filesystem::path& program,
                         const std::filesystem::path& previous);
    void removeDownloads();
    std::filesystem::path programFile() const;
    std::filesystem::path previousProgramFile() const;
    void setStatus(const QString& text);
    void scheduleCheck();
    bool exists(const QString& windowsPath) const;
    void remove(const QString& windowsPath) const;

    Module1& module_;
    bool checkScheduled_ = false;
    bool activated_ = false;
    bool fetchingSignature_ = false;
    bool signatureArrived_ = false;
    // From the start of the download on, every way out ends the program.
    bool updating_ = false;
    // What c:\windows held before the unpacker ran.
    std::optional<FolderListing> beforeUnpacking_;
};

// Whether a revision text from the update server names a usable revision (the text is
// already trimmed): a positive value and one to four characters.
bool acceptableRevision(const QString& text);

} // namespace tclink::update
