#pragma once

#include <QObject>
#include <QString>

namespace tclink::inet {

// Values of the control's Protocol property.
enum ProtocolConstants : int {
    icFTP = 2,
    icHTTP = 4,
};

// Data types of OpenURL: text decoded from the ANSI code page, or each byte as one character.
enum DataTypeConstants : int {
    icString = 0,
    icByteArray = 1,
};

// Codes of the StateChanged notification.
enum StateConstants : int {
    icNone = 0,
    icHostResolvingHost = 1,
    icHostResolved = 2,
    icConnecting = 3,
    icConnected = 4,
    icRequesting = 5,
    icRequestSent = 6,
    icReceivingResponse = 7,
    icResponseReceived = 8,
    icDisconnecting = 9,
    icDisconnected = 10,
    icError = 11,
    icResponseCompleted = 12,
};

// Error numbers: thrown by OpenURL and Execute (as tclink::RuntimeError) and reported by
// ResponseCode after icError.
//
// | number | name                  | when                                                      |
// |--------|-----------------------|-----------------------------------------------------------|
// | 35750  | icInetOpenFailed      | the transfer library could not be set up                  |
// | 35752  | icBadUrl              | the URL cannot be parsed                                  |
// | 35753  | icProtMismatch        | Protocol is neither FTP nor HTTP, or the URL's scheme is  |
// |        |                       | not one of them                                           |
// | 35754  | icConnectFailed       | host not found, connection refused or unreachable         |
// | 35755  | icNoRemoteHost        | Execute without a URL and without RemoteHost              |
// | 35756  | icRequestFailed       | the server refused the request (login denied, no such     |
// |        |                       | file), the transfer broke off or came up short, or the    |
// |        |                       | local file could not be written, or the file is larger    |
// |        |                       | than MaximumFileSize                                      |
// | 35761  | icInetTimeout         | connect, reply or data did not come within the time-outs, |
// |        |                       | or the transfer took longer than TransferTimeLimitMs      |
// | 35762  | icUnsupportedCommand  | the operation's verb is not GET                           |
// | 35763  | icInvalidOperation    | the operation does not name a remote and a local file     |
// | 35764  | icExecuting           | a transfer is still running                               |
enum ErrorConstants : int {
    icInetOpenFailed = 35750,
    icBadUrl = 35752,
    icProtMismatch = 35753,
    icConnectFailed = 35754,
    icNoRemoteHost = 35755,
    icRequestFailed = 35756,
    icInetTimeout = 35761,
    icUnsupportedCommand = 35762,
    icInvalidOperation = 35763,
    icExecuting = 35764,
};

// An Internet transfer control: a blocking text fetch (OpenURL) and an asynchronous file
// download (Execute) over HTTP or FTP.
//
// Execute returns at once; the transfer then runs on the UI thread's event loop and reports
// its progress with StateChanged in the order the steps happen: 1..10 as far as the transfer
// got, then icResponseCompleted (the local file is in place) or icError (ResponseCode and
// ResponseInfo say why). StillExecuting is true until that last notification has been
// delivered. OpenURL raises no notifications.
class InternetTransferControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    ProtocolConstants Protocol = icHTTP;
    QString RemoteHost;
    int RemotePort = 0; // 0: the protocol's own port
    QString UserName;
    QString Password;
    int RequestTimeout = 60; // seconds
    // Bounds of one Execute: a file larger than this many bytes, and a transfer that has not
    // ended this many milliseconds after it started, end in icError. 0: no bound.
    qint64 MaximumFileSize = 0;
    qint64 TransferTimeLimitMs = 0;

    // Fetches the URL and returns the response body, whatever the status of the response.
    // Blocks without processing window events. Throws tclink::RuntimeError on failure.
    virtual QString OpenURL(const QString& url, int dataType = icString) = 0;

    // Starts the operation "GET  remote  local". With the URL left empty the control
    // connects to RemoteHost and RemotePort with Protocol, UserName and Password. Throws
    // tclink::RuntimeError when the transfer cannot be started.
    virtual void Execute(const QString& url, const QString& operation) = 0;

    virtual bool StillExecuting() const = 0;

    // The error number and its description after icError; 0 and empty otherwise.
    virtual int ResponseCode() const = 0;
    virtual QString ResponseInfo() const = 0;

signals:
    void StateChanged(int state);
};

} // namespace tclink::inet
