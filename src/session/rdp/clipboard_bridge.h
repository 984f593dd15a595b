#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include <freerdp/client/cliprdr.h>

class QMimeData;

namespace tclink::rdp {

// The local clipboard (QClipboard, on the UI thread) and the server's, through FreeRDP's
// clipboard channel: text and images both ways, the data fetched only when pasted.
//
// The channel's side (attach, detach and the channel's callbacks) runs on the session's
// thread; everything else on the UI thread, which waits for the server's data at most
// `answerLimit`: a request the server never answers leaves the paste empty.
class ClipboardBridge : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds answerLimit{2000};

    ClipboardBridge();
    ~ClipboardBridge() override;

    // The channel came up or went away (session thread).
    void attach(CliprdrClientContext* channel);
    void detach();

    // The server's data in one format, or nothing when it fails or does not answer in time.
    std::optional<QByteArray> fetch(quint32 format);

signals:
    // From the channel's callbacks to the UI thread.
    void monitorReady();
    void serverFormatsChanged(const QList<quint32>& formats);
    void dataRequested(quint32 format);

private:
    void announceLocal();
    void takeServerFormats(const QList<quint32>& formats);
    void answer(quint32 format);

    static ClipboardBridge* of(CliprdrClientContext* channel);
    static UINT onMonitorReady(CliprdrClientContext* channel, const CLIPRDR_MONITOR_READY*);
    static UINT onServerCapabilities(CliprdrClientContext*, const CLIPRDR_CAPABILITIES*);
    static UINT onServerFormatList(CliprdrClientContext* channel, const CLIPRDR_FORMAT_LIST* list);
    static UINT onServerFormatListResponse(CliprdrClientContext*,
                                           const CLIPRDR_FORMAT_LIST_RESPONSE*);
    static UINT onServerFormatDataRequest(CliprdrClientContext* channel,
                                          const CLIPRDR_FORMAT_DATA_REQUEST* request);
    static UINT onServerFormatDataResponse(CliprdrClientContext* channel,
                                           const CLIPRDR_FORMAT_DATA_RESPONSE* response);

    std::mutex mutex_;
    std::condition_variable answered_;
    CliprdrClientContext* channel_ = nullptr; // guarded by mutex_
    bool waiting_ = false;                    // fetch() waits for an answer
    int abandoned_ = 0;                       // requests given up on, not answered yet
    std::optional<QByteArray> answer_;        // the answer it waits for

    // UI thread: what this bridge put on the local clipboard for the server's contents.
    QPointer<QMimeData> offered_;
};

} // namespace tclink::rdp
