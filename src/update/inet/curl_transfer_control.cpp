#include "update/inet/curl_transfer_control.h"

#include "platform/ansi_text.h"

#include "platform/runtime_error.h"

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcTransfer, "tclink.update", QtWarningMsg)

namespace tclink::inet {
namespace {

constexpr long kBufferSize = 102400;
constexpr long kConnectTimeoutSeconds = 20;
// A transfer slower than this over RequestTimeout seconds is given up: a server that trickles
// must not hold the program for ever.
constexpr long kMinimumBytesPerSecond = 1024;
constexpr qsizetype kTextCap = 64 * 1024;

void initialiseCurl()
{
    static const CURLcode status = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (status != CURLE_OK) {
        qCInfo(lcTransfer) << "curl_global_init:" << curl_easy_strerror(status);
        throw RuntimeError(icInetOpenFailed, QStringLiteral("无法打开传输连接"));
    }
}

// libcurl takes the URL as bytes: the UTF-8 of the text with controls, spaces and every
// non-ASCII byte percent-encoded; everything else (backslashes too) goes out as written.
QByteArray encodeUrl(const QString& url)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray encoded;
    for (const char c : url.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

RuntimeError transferError(CURLcode code, const char* detail, int serverReply)
{
    int number = icRequestFailed;
    QString text = QStringLiteral("向远程主机发送的请求失败");
    switch (code) {
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
        number = icInetOpenFailed;
        text = QStringLiteral("无法打开传输连接");
        break;
    case CURLE_URL_MALFORMAT:
        number = icBadUrl;
        text = QStringLiteral("URL 格式不正确");
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        number = icProtMismatch;
        text = QStringLiteral("不支持此协议");
        break;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        number = icConnectFailed;
        text = QStringLiteral("找不到主机");
        break;
    case CURLE_COULDNT_CONNECT:
        number = icConnectFailed;
        text = QStringLiteral("无法连接到远程主机");
        break;
    case CURLE_OPERATION_TIMEDOUT:
        number = icInetTimeout;
        text = QStringLiteral("请求超时");
        break;
    default:
        break;
    }
    // What libcurl and the server said is for diagnostics; the user reads Chinese only.
    qCInfo(lcTransfer).noquote() << "transfer failed:" << code
                                 << (*detail ? detail : curl_easy_strerror(code));
    if (serverReply != 0) {
        text += QStringLiteral("；服务器回答：%1").arg(serverReply);
    }
    return RuntimeError(number, text);
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

EasyHandle newEasy()
{
    initialiseCurl();
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        throw RuntimeError(icInetOpenFailed, QStringLiteral("无法打开传输连接"));
    }
    return easy;
}

// Options shared by both kinds of request.
void setCommonOptions(CURL* easy, const QByteArray& url, const InternetTransferControl& control,
                      char* errorText)
{
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp,http");
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kMinimumBytesPerSecond);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(control.RequestTimeout));
    if (!control.UserName.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, control.UserName.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, control.Password.toUtf8().constData());
    }
}

struct TextSink {
    QByteArray body;
    bool capped = false;
};

size_t collectText(char* data, size_t, size_t size, void* sink)
{
    auto& text = *static_cast<TextSink*>(sink);
    const auto room = static_cast<size_t>(kTextCap - text.body.size());
    text.body.append(data, static_cast<qsizetype>(std::min(room, size)));
    if (size > room) {
        text.capped = true;
        return 0; // ends the transfer
    }
    return size;
}

struct Operation {
    QString verb;
    QString remote;
    QString local;
};

// "GET  remote  local": the names are separated by a run of two or more spaces, or by a
// single space when the text has no such run.
Operation parseOperation(const QString& text)
{
    const QString trimmed = text.trimmed();
    const qsizetype verbEnd = trimmed.indexOf(u' ');
    if (verbEnd < 0) {
        return {trimmed, {}, {}};
    }
    const QString names = trimmed.mid(verbEnd).trimmed();
    qsizetype gap = names.indexOf(QStringLiteral("  "));
    if (gap < 0) {
        gap = names.indexOf(u' ');
    }
    if (gap < 0) {
        return {trimmed.left(verbEnd), names, {}};
    }
    return {trimmed.left(verbEnd), names.left(gap), names.mid(gap).trimmed()};
}

} // namespace

// One running Execute: the easy handle, the file being written and what the transfer has
// reached so far. curl's callbacks only record and queue states; the control delivers them
// once curl has returned, so that handlers may run event loops.
struct CurlTransferControl::Download {
    explicit Download(CurlTransferControl& owner) : control(owner) {}
    ~Download()
    {
        if (easy) {
            curl_multi_remove_handle(control.multi_, easy);
            curl_easy_cleanup(easy);
        }
        curl_slist_free_all(quote);
    }

    // Where the steps come from, all through libcurl's API: resolving (resolver-start
    // callback), resolved (the control connection's socket is opened), connecting (its
    // socket options are set), connected (CURLINFO_CONNECT_TIME_T), requesting and request
    // sent (HTTP: the pre-request callback; FTP: the greeting answered with the login, and
    // CURLINFO_PRETRANSFER_TIME_T once RETR is answered), receiving (HTTP: the first header;
    // FTP: with the answer to RETR), received (HTTP: the blank line after the headers; FTP: a
    // 2xx reply after that), disconnecting (FTP: the goodbye, 221, to QUIT, or a connection
    // that ends in good order) and disconnected (the control connection's socket is closed).
    //
    // Each step is reported once, and never after a later one.
    void reach(int state)
    {
        if (state > reached) {
            reached = state;
            control.queueState(state);
        }
    }

    static int resolverStarted(void*, void*, void* download)
    {
        static_cast<Download*>(download)->reach(icHostResolvingHost);
        return 0;
    }

    static curl_socket_t openSocket(void* download, curlsocktype, curl_sockaddr* address)
    {
        auto& self = *static_cast<Download*>(download);
        const curl_socket_t socket =
            ::socket(address->family, address->socktype, address->protocol);
        if (socket != CURL_SOCKET_BAD && self.controlSocket == CURL_SOCKET_BAD) {
            self.controlSocket = socket;
            self.reach(icHostResolved);
        }
        return socket;
    }

    static int socketCreated(void* download, curl_socket_t socket, curlsocktype)
    {
        auto& self = *static_cast<Download*>(download);
        if (socket == self.controlSocket) {
            self.reach(icConnecting);
        }
        return CURL_SOCKOPT_OK;
    }

    static int closeSocket(void* download, curl_socket_t socket)
    {
        auto& self = *static_cast<Download*>(download);
        if (socket == self.controlSocket && self.reached >= icConnected) {
            self.observe();
            if (self.ftp && (self.lastReply == FtpGoodbye || self.endsInGoodOrder())) {
                self.reach(icDisconnecting);
            }
            self.reach(icDisconnected);
        }
        return ::close(socket);
    }

    // FTP: whether the control connection ends in good order, the server's latest reply having
    // closed a request after the login: the file sent whole, or refused. libcurl 7 says goodbye
    // on such a connection (QUIT, answered 221) before it closes it; libcurl 8 closes it without
    // a word, and the goodbye's step is reported all the same.
    bool endsInGoodOrder()
    {
        if (!loggedIn) {
            return false;
        }
        if (lastReply == FtpTransferComplete) {
            curl_off_t announced = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            return announced < 0 || received == announced;
        }
        return refusal != 0 && refusal == lastReply;
    }

    // What libcurl's transfer times say the transfer has reached.
    void observe()
    {
        curl_off_t connected = 0;
        curl_off_t pretransfer = 0;
        curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
        curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        if (connected > 0) {
            reach(icConnected);
        }
        if (ftp && lastReply != 0) {
            reach(icRequesting); // the greeting is answered with the login at once
        }
        if (ftp && pretransfer > 0) {
            // The server has answered RETR and the data begins.
            reach(icRequestSent);
            reach(icReceivingResponse);
        }
    }

    // HTTP: called once the connection is ready, right before the request goes out.
    static int requestReady(void* download, char*, char*, int, int)
    {
        auto& self = *static_cast<Download*>(download);
        self.observe();
        self.reach(icRequesting);
        self.reach(icRequestSent);
        return CURL_PREREQFUNC_OK;
    }

    static int progress(void* download, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        static_cast<Download*>(download)->observe();
        return 0;
    }

    // HTTP: each header line of the response, the blank line last. FTP: each server reply.
    static size_t header(char* data, size_t, size_t size, void* download)
    {
        auto& self = *static_cast<Download*>(download);
        const QByteArray line = QByteArray(data, static_cast<qsizetype>(size)).trimmed();
        if (!self.ftp) {
            self.reach(icReceivingResponse);
            if (line.isEmpty()) {
                self.reach(icResponseReceived);
            }
            return size;
        }
        // A multi-line reply ends with the line whose code is followed by a space.
        if (line.size() < 3 || (line.size() > 3 && line[3] != ' ')) {
            return size;
        }
        self.lastReply = line.left(3).toInt();
        self.loggedIn = self.loggedIn || self.lastReply == FtpLoggedIn;
        // The refusal worth reporting is one that nothing but the goodbye followed (a refused
        // "*OPTS" is forgotten by the next reply).
        if (self.lastReply >= 400) {
            self.refusal = self.lastReply;
        } else if (self.lastReply != FtpGoodbye) {
            self.refusal = 0;
        }
        self.observe();
        if (self.reached >= icRequestSent && self.lastReply >= 200 && self.lastReply < 300) {
            self.reach(icResponseReceived); // the reply that ends the transfer
        }
        return size;
    }

    static size_t write(char* data, size_t, size_t size, void* download)
    {
        auto& self = *static_cast<Download*>(download);
        if (self.maximumSize > 0 && self.received + static_cast<qint64>(size) > self.maximumSize) {
            self.tooLarge = true;
            return 0;
        }
        if (self.file.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) {
            self.writeFailed = true;
            return 0;
        }
        self.received += static_cast<qint64>(size);
        return size;
    }

    CurlTransferControl& control;
    CURL* easy = nullptr;
    curl_slist* quote = nullptr;
    QByteArray url;
    bool ftp = false;
    QString local;       // the local file as the operation names it
    QString target;      // the local file on this machine
    QTemporaryFile file; // beside it; removed unless renamed into place
    char errorText[CURL_ERROR_SIZE] = {};
    curl_socket_t controlSocket = CURL_SOCKET_BAD;
    int reached = icNone;
    int lastReply = 0;     // FTP: the code of the server's latest reply
    int refusal = 0;       // FTP: the code of a refusal not followed by a success
    bool loggedIn = false; // FTP: the server has accepted the login
    static constexpr int FtpGoodbye = 221;
    static constexpr int FtpTransferComplete = 226;
    static constexpr int FtpLoggedIn = 230;
    qint64 received = 0;
    qint64 maximumSize = 0; // 0: any size
    bool writeFailed = false;
    bool tooLarge = false;
};

CurlTransferControl::CurlTransferControl(PathResolver resolveLocalPath, QObject* parent)
    : InternetTransferControl(parent), resolveLocalPath_(std::move(resolveLocalPath))
{
    initialiseCurl();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlTransferControl::onSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlTransferControl::onTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    // curl sets no timer for a server's overdue reply; it notices one only when woken on the
    // connection's socket. Wake it every second, as its own blocking loop does.
    heartbeat_.setInterval(1000);
    connect(&heartbeat_, &QTimer::timeout, this, [this] {
        if (download_ && download_->controlSocket != CURL_SOCKET_BAD) {
            act(download_->controlSocket, 0);
        }
    });
}

CurlTransferControl::~CurlTransferControl()
{
    download_.reset();
    curl_multi_cleanup(multi_);
}

QString CurlTransferControl::OpenURL(const QString& url, int dataType)
{
    if (busy_) {
        throw RuntimeError(icExecuting, QStringLiteral("上一个请求仍在执行"));
    }
    const EasyHandle easy = newEasy();
    const QByteArray target = encodeUrl(url);
    char errorText[CURL_ERROR_SIZE] = {};
    TextSink sink;
    setCommonOptions(easy.get(), target, *this, errorText);
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, static_cast<long>(RequestTimeout));
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &collectText);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(easy.get());
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && sink.capped)) {
        throw transferError(code, errorText, 0);
    }
    return dataType == icByteArray ? QString::fromLatin1(sink.body) : platform::fromAnsi(sink.body);
}

void CurlTransferControl::Execute(const QString& url, const QString& operation)
{
    if (busy_) {
        throw RuntimeError(icExecuting, QStringLiteral("上一个请求仍在执行"));
    }
    const Operation op = parseOperation(operation);
    if (op.verb.compare(QStringLiteral("GET"), Qt::CaseInsensitive) != 0) {
        throw RuntimeError(icUnsupportedCommand, QStringLiteral("不支持的命令：%1").arg(op.verb));
    }
    if (op.remote.isEmpty() || op.local.isEmpty()) {
        throw RuntimeError(icInvalidOperation, QStringLiteral("无效的操作参数：%1").arg(operation));
    }
    QString base = url;
    if (base.isEmpty()) {
        if (RemoteHost.trimmed().isEmpty()) {
            throw RuntimeError(icNoRemoteHost, QStringLiteral("未指定远程主机"));
        }
        if (Protocol != icFTP && Protocol != icHTTP) {
            throw RuntimeError(icProtMismatch, QStringLiteral("不支持此协议"));
        }
        const QString host = RemoteHost.trimmed();
        base = QStringLiteral("%1://%2").arg(Protocol == icFTP ? "ftp" : "http",
                                             host.contains(u':') ? '[' + host + ']' : host);
        if (RemotePort != 0) {
            base += QStringLiteral(":%1").arg(RemotePort);
        }
    }
    while (base.endsWith(u'/')) {
        base.chop(1);
    }

    auto download = std::make_unique<Download>(*this);
    Download& d = *download;
    d.url = encodeUrl(base + (op.remote.startsWith(u'/') ? "" : "/") + op.remote);
    d.ftp = d.url.left(4).toLower() == "ftp:";
    d.local = op.local;
    d.target = QString::fromStdString(resolveLocalPath_(op.local).string());
    d.file.setFileTemplate(d.target + QStringLiteral(".XXXXXX"));
    if (!d.file.open()) {
        qCInfo(lcTransfer) << "cannot write" << d.target << ":" << d.file.errorString();
        throw RuntimeError(icRequestFailed, QStringLiteral("无法写入本地文件 %1").arg(d.local));
    }
    // Temporary files are private; the download gets the usual permissions.
    d.file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadGroup | QFileDevice::ReadOther);
    d.easy = newEasy().release();
    CURL* easy = d.easy;
    setCommonOptions(easy, d.url, *this, d.errorText);
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(RequestTimeout));
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    // A size the server announces above the bound ends the transfer before it begins; the
    // write callback ends one that does not announce it.
    d.maximumSize = MaximumFileSize;
    if (MaximumFileSize > 0) {
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaximumFileSize));
    }
    if (TransferTimeLimitMs > 0) {
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(TransferTimeLimitMs));
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Download::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &d);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Download::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &d);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Download::progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &d);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &Download::resolverStarted);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, &d);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Download::openSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &d);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Download::socketCreated);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &d);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &Download::closeSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &d);
    if (d.ftp) {
        // The star: a server that refuses the option does not fail the transfer.
        d.quote = curl_slist_append(nullptr, "*OPTS UTF8 ON");
        curl_easy_setopt(easy, CURLOPT_QUOTE, d.quote);
    } else {
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Download::requestReady);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &d);
    }

    responseCode_ = 0;
    responseInfo_.clear();
    download_ = std::move(download);
    busy_ = true;
    heartbeat_.start();
    curl_multi_add_handle(multi_, easy);
}

int CurlTransferControl::onSocket(CURL*, curl_socket_t socket, int what, void* control, void*)
{
    static_cast<CurlTransferControl*>(control)->watchSocket(socket, what);
    return 0;
}

int CurlTransferControl::onTimer(CURLM*, long timeoutMs, void* control)
{
    QTimer& timer = static_cast<CurlTransferControl*>(control)->timer_;
    if (timeoutMs < 0) {
        timer.stop();
    } else {
        timer.start(static_cast<int>(timeoutMs));
    }
    return 0;
}

void CurlTransferControl::watchSocket(curl_socket_t socket, int what)
{
    // A notifier may be the one whose signal is running: disable it now, delete it later.
    const auto retire = [](QSocketNotifier*& notifier) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
            notifier = nullptr;
        }
    };
    if (what == CURL_POLL_REMOVE) {
        if (const auto found = sockets_.find(socket); found != sockets_.end()) {
            retire(found->second.read);
            retire(found->second.write);
            sockets_.erase(found);
        }
        return;
    }
    SocketWatch& watch = sockets_[socket];
    const auto want = [this, socket](QSocketNotifier*& notifier, QSocketNotifier::Type type,
                                     bool wanted, int event) {
        if (!wanted) {
            if (notifier) {
                notifier->setEnabled(false);
            }
            return;
        }
        if (!notifier) {
            notifier = new QSocketNotifier(socket, type, this);
            connect(notifier, &QSocketNotifier::activated, this,
                    [this, socket, event] { act(socket, event); });
        }
        notifier->setEnabled(true);
    };
    want(watch.read, QSocketNotifier::Read, (what & CURL_POLL_IN) != 0, CURL_CSELECT_IN);
    want(watch.write, QSocketNotifier::Write, (what & CURL_POLL_OUT) != 0, CURL_CSELECT_OUT);
}

void CurlTransferControl::act(curl_socket_t socket, int eventMask)
{
    int running = 0;
    curl_multi_socket_action(multi_, socket, eventMask, &running);
    if (download_) {
        download_->observe();
    }
    deliverStates(); // the steps the transfer took, before its result touches the file
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && download_ && message->easy_handle == download_->easy) {
            finish(message->data.result);
        }
    }
    deliverStates();
}

void CurlTransferControl::finish(CURLcode code)
{
    Download& d = *download_;
    curl_off_t announced = -1;
    curl_easy_getinfo(d.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    long status = 0;
    curl_easy_getinfo(d.easy, CURLINFO_RESPONSE_CODE, &status);

    const auto fail = [&](int number, const QString& info) {
        responseCode_ = number;
        responseInfo_ = info;
    };
    const QString cannotWrite = QStringLiteral("无法写入本地文件 %1").arg(d.local);
    if (d.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        qCInfo(lcTransfer) << "the file is larger than" << d.maximumSize << "bytes";
        fail(icRequestFailed,
             QStringLiteral("向远程主机发送的请求失败（文件超过了 %1 字节）").arg(d.maximumSize));
    } else if (d.writeFailed) {
        qCInfo(lcTransfer) << "cannot write" << d.target << ":" << d.file.errorString();
        fail(icRequestFailed, cannotWrite);
    } else if (code != CURLE_OK) {
        const RuntimeError error = transferError(code, d.errorText, d.refusal);
        fail(error.number(), error.description());
    } else if (!d.ftp && status >= 400) {
        fail(icRequestFailed,
             QStringLiteral("向远程主机发送的请求失败；服务器回答：%1").arg(status));
    } else if (announced >= 0 && d.received != announced) {
        fail(icRequestFailed, QStringLiteral("向远程主机发送的请求失败（%2 字节只收到了 %1 字节）")
                                  .arg(d.received)
                                  .arg(announced));
    } else {
        // No sync: a download that a crash loses is simply fetched again.
        d.file.close();
        std::error_code error;
        std::filesystem::rename(d.file.fileName().toStdString(), d.target.toStdString(), error);
        if (error) {
            qCInfo(lcTransfer) << "cannot rename to" << d.target << ":" << error.message().c_str();
            fail(icRequestFailed, cannotWrite);
        } else {
            d.file.setAutoRemove(false);
        }
    }
    download_.reset();
    heartbeat_.stop();
    queueState(responseCode_ != 0 ? icError : icResponseCompleted);
}

void CurlTransferControl::deliverStates()
{
    if (delivering_) {
        return;
    }
    delivering_ = true;
    const auto done = qScopeGuard([this] { delivering_ = false; });
    while (!pendingStates_.empty()) {
        const int state = pendingStates_.front();
        pendingStates_.erase(pendingStates_.begin());
        emit StateChanged(state);
        if (state == icError || state == icResponseCompleted) {
            // A handler may have started the next transfer already.
            busy_ = download_ != nullptr;
        }
    }
}

} // namespace tclink::inet
