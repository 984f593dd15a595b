#pragma once

#include "update/inet/transfer_control.h"

#include <QTimer>
#include <curl/curl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace tclink::inet {

// The transfer control on libcurl.
//
// OpenURL runs one blocking request (curl_easy_perform): no window events are processed
// while it waits. The text is decoded as GB18030, the Chinese ANSI code page's superset.
//
// Execute drives curl's multi interface from the Qt event loop (socket notifiers and a
// single-shot timer), on the calling thread. The local file is written under a temporary
// name beside it and renamed into place only after the whole file (the size the server
// announced) has arrived; a failed transfer leaves neither that file nor the temporary one.
class CurlTransferControl final : public InternetTransferControl {
    Q_OBJECT
public:
    // Turns the operation's local Windows path (e.g. "c:\windows\tclink") into a host path.
    using PathResolver = std::function<std::filesystem::path(const QString& windowsPath)>;

    explicit CurlTransferControl(PathResolver resolveLocalPath, QObject* parent = nullptr);
    ~CurlTransferControl() override;

    QString OpenURL(const QString& url, int dataType = icString) override;
    void Execute(const QString& url, const QString& operation) override;
    bool StillExecuting() const override { return busy_; }
    int ResponseCode() const override { return responseCode_; }
    QString ResponseInfo() const override { return responseInfo_; }

private:
    struct Download;
    struct SocketWatch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* control, void*);
    static int onTimer(CURLM* multi, long timeoutMs, void* control);
    void watchSocket(curl_socket_t socket, int what);
    void act(curl_socket_t socket, int eventMask);
    void finish(CURLcode code);
    void queueState(int state) { pendingStates_.push_back(state); }
    void deliverStates();

    PathResolver resolveLocalPath_;
    CURLM* multi_ = nullptr;
    QTimer timer_;
    QTimer heartbeat_;
    std::unordered_map<curl_socket_t, SocketWatch> sockets_;
    std::unique_ptr<Download> download_;
    std::vector<int> pendingStates_;
    bool delivering_ = false;
    bool busy_ = false;
    int responseCode_ = 0;
    QString responseInfo_;
};

} // namespace tclink::inet
