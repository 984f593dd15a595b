#include "session/rdp/clipboard_bridge.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <utility>
#include <vector>

#include "session/rdp/clipboard_formats.h"
#include "session/rdp/freerdp_compat.h"

namespace tclink::rdp {

namespace {

const QString imageMime = QStringLiteral("application/x-qt-image");
const QString textMime = QStringLiteral("text/plain");

// The server's clipboard contents on the local clipboard: what it offers is announced, the data
// is fetched when something here pastes it, once per format.
class ServerMimeData final : public QMimeData {
public:
    ServerMimeData(ClipboardBridge* bridge, ServerFormats formats)
        : bridge_(bridge), formats_(formats)
    {
    }

    QStringList formats() const override
    {
        QStringList result;
        if (formats_.text)
            result << textMime;
        if (formats_.image)
            result << imageMime;
        return result;
    }

    bool hasFormat(const QString& mime) const override { return formats().contains(mime); }

protected:
    QVariant retrieveData(const QString& mime, QMetaType) const override
    {
        if (mime == textMime && formats_.text) {
            if (!text_)
                text_ = decodeText(formats_.text, fetch(formats_.text));
            return *text_;
        }
        if (mime == imageMime && formats_.image) {
            if (!image_)
                image_ = decodeDib(fetch(formats_.image));
            return image_->isNull() ? QVariant() : QVariant(*image_);
        }
        return {};
    }

private:
    QByteArray fetch(quint32 format) const
    {
        return bridge_ ? bridge_->fetch(format).value_or(QByteArray()) : QByteArray();
    }

    QPointer<ClipboardBridge> bridge_;
    ServerFormats formats_;
    mutable std::optional<QString> text_;
    mutable std::optional<QImage> image_;
};

} // namespace

ClipboardBridge::ClipboardBridge()
{
    connect(this, &ClipboardBridge::monitorReady, this, [this] {
        connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
                &ClipboardBridge::announceLocal, Qt::UniqueConnection);
        announceLocal();
    });
    connect(this, &ClipboardBridge::serverFormatsChanged, this,
            &ClipboardBridge::takeServerFormats);
    connect(this, &ClipboardBridge::dataRequested, this, &ClipboardBridge::answer);
}

ClipboardBridge::~ClipboardBridge() = default;

ClipboardBridge* ClipboardBridge::of(CliprdrClientContext* channel)
{
    return static_cast<ClipboardBridge*>(channel->custom);
}

void ClipboardBridge::attach(CliprdrClientContext* channel)
{
    channel->custom = this;
    channel->MonitorReady = onMonitorReady;
    channel->ServerCapabilities = onServerCapabilities;
    channel->ServerFormatList = onServerFormatList;
    channel->ServerFormatListResponse = onServerFormatListResponse;
    channel->ServerFormatDataRequest = onServerFormatDataRequest;
    channel->ServerFormatDataResponse = onServerFormatDataResponse;
    std::lock_guard lock(mutex_);
    channel_ = channel;
}

void ClipboardBridge::detach()
{
    {
        std::lock_guard lock(mutex_);
        channel_ = nullptr;
    }
    answered_.notify_all();
}

UINT ClipboardBridge::onMonitorReady(CliprdrClientContext* channel, const CLIPRDR_MONITOR_READY*)
{
    CLIPRDR_GENERAL_CAPABILITY_SET general{};
    general.capabilitySetType = CB_CAPSTYPE_GENERAL;
    general.capabilitySetLength = CB_CAPSTYPE_GENERAL_LEN;
    general.version = CB_CAPS_VERSION_2;
    general.generalFlags = CB_USE_LONG_FORMAT_NAMES;
    CLIPRDR_CAPABILITIES capabilities{};
    capabilities.cCapabilitiesSets = 1;
    capabilities.capabilitySets = reinterpret_cast<CLIPRDR_CAPABILITY_SET*>(&general);
    const UINT status = channel->ClientCapabilities(channel, &capabilities);
    // The protocol wants the client's format list next: the UI thread reads the clipboard.
    emit of(channel)->monitorReady();
    return status;
}

UINT ClipboardBridge::onServerCapabilities(CliprdrClientContext*, const CLIPRDR_CAPABILITIES*)
{
    return CHANNEL_RC_OK;
}

UINT ClipboardBridge::onServerFormatList(CliprdrClientContext* channel,
                                         const CLIPRDR_FORMAT_LIST* list)
{
    QList<quint32> formats;
    for (UINT32 i = 0; i < list->numFormats; ++i)
        formats << list->formats[i].formatId;
    emit of(channel)->serverFormatsChanged(formats);
    CLIPRDR_FORMAT_LIST_RESPONSE response{};
    compat::header(response).msgType = CB_FORMAT_LIST_RESPONSE;
    compat::header(response).msgFlags = CB_RESPONSE_OK;
    return channel->ClientFormatListResponse(channel, &response);
}

UINT ClipboardBridge::onServerFormatListResponse(CliprdrClientContext*,
                                                 const CLIPRDR_FORMAT_LIST_RESPONSE*)
{
    return CHANNEL_RC_OK;
}

UINT ClipboardBridge::onServerFormatDataRequest(CliprdrClientContext* channel,
                                                const CLIPRDR_FORMAT_DATA_REQUEST* request)
{
    emit of(channel)->dataRequested(request->requestedFormatId);
    return CHANNEL_RC_OK;
}

UINT ClipboardBridge::onServerFormatDataResponse(CliprdrClientContext* channel,
                                                 const CLIPRDR_FORMAT_DATA_RESPONSE* response)
{
    ClipboardBridge* self = of(channel);
    {
        // Answers come in the order of the requests. Those to requests given up on come first
        // and are dropped: taken for a newer request's, another format's data would be pasted.
        std::lock_guard lock(self->mutex_);
        if (self->abandoned_ > 0) {
            --self->abandoned_;
            return CHANNEL_RC_OK;
        }
        if (!self->waiting_ || self->answer_)
            return CHANNEL_RC_OK;
        self->answer_ = QByteArray();
        if ((compat::header(*response).msgFlags & CB_RESPONSE_OK) && response->requestedFormatData)
            self->answer_ = QByteArray(reinterpret_cast<const char*>(response->requestedFormatData),
                                       qsizetype(compat::header(*response).dataLen));
    }
    self->answered_.notify_all();
    return CHANNEL_RC_OK;
}

std::optional<QByteArray> ClipboardBridge::fetch(quint32 format)
{
    std::unique_lock lock(mutex_);
    if (!channel_)
        return std::nullopt;
    CLIPRDR_FORMAT_DATA_REQUEST request{};
    compat::header(request).msgType = CB_FORMAT_DATA_REQUEST;
    compat::header(request).dataLen = 4; // the library writes the header as given
    request.requestedFormatId = format;
    answer_.reset();
    if (channel_->ClientFormatDataRequest(channel_, &request) != CHANNEL_RC_OK)
        return std::nullopt;
    waiting_ = true;
    if (!answered_.wait_for(lock, answerLimit, [this] { return answer_ || !channel_; }))
        ++abandoned_;
    waiting_ = false;
    std::optional<QByteArray> result = std::exchange(answer_, std::nullopt);
    if (result && result->isEmpty())
        result.reset();
    return result;
}

// The local clipboard changed (or the channel just came up): the server learns what it holds.
void ClipboardBridge::announceLocal()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data && data == offered_)
        return; // the server's own contents
    const QList<quint32> ids =
        data ? localFormats(data->hasText(), data->hasImage()) : QList<quint32>();
    std::vector<CLIPRDR_FORMAT> formats;
    for (const quint32 id : ids)
        formats.push_back({id, nullptr});
    CLIPRDR_FORMAT_LIST list{};
    compat::header(list).msgType = CB_FORMAT_LIST;
    list.numFormats = UINT32(formats.size());
    list.formats = formats.data();
    std::lock_guard lock(mutex_);
    if (channel_)
        channel_->ClientFormatList(channel_, &list);
}

void ClipboardBridge::takeServerFormats(const QList<quint32>& formats)
{
    const ServerFormats picked = pickServerFormats(formats);
    auto* data = new ServerMimeData(this, picked);
    offered_ = data;
    QGuiApplication::clipboard()->setMimeData(data);
}

// The server pastes the local clipboard in one format.
void ClipboardBridge::answer(quint32 format)
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QByteArray bytes;
    if (data && data != offered_) {
        if ((format == formatUnicodeText || format == formatText || format == formatOemText) &&
            data->hasText())
            bytes = encodeText(format, data->text());
        else if (format == formatDib && data->hasImage())
            bytes = encodeDib(qvariant_cast<QImage>(data->imageData()));
    }
    CLIPRDR_FORMAT_DATA_RESPONSE response{};
    compat::header(response).msgType = CB_FORMAT_DATA_RESPONSE;
    compat::header(response).msgFlags = bytes.isEmpty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    compat::header(response).dataLen = UINT32(bytes.size());
    response.requestedFormatData = reinterpret_cast<const BYTE*>(bytes.constData());
    std::lock_guard lock(mutex_);
    if (channel_)
        channel_->ClientFormatDataResponse(channel_, &response);
}

} // namespace tclink::rdp
