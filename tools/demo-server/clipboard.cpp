#include "clipboard.h"

#include "freerdp_compat.h"

#include <QBuffer>
#include <QPainter>
#include <QtEndian>

#include <winpr/user.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

namespace demo {

namespace {

constexpr int kFileHeader = 14;
constexpr quint32 kBitfields = 3; // BI_BITFIELDS: colour masks follow a 40-byte header

QByteArray unicodeText(const QString& text)
{
    QString windows = text;
    windows.replace(u'\n', QStringLiteral("\r\n"));
    QByteArray data(windows.size() * 2 + 2, '\0');
    qToLittleEndian<quint16>(windows.utf16(), windows.size(), data.data());
    return data;
}

QString fromUnicodeText(const QByteArray& data)
{
    QString text(data.size() / 2, Qt::Uninitialized);
    qFromLittleEndian<quint16>(data.constData(), text.size(), text.data());
    text.truncate(text.indexOf(QChar(0)) < 0 ? text.size() : text.indexOf(QChar(0)));
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A device-independent bitmap as Windows' clipboard keeps it: the BMP file without its first
// 14 bytes.
QByteArray dib(const QImage& image)
{
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return file.mid(kFileHeader);
}

QImage fromDib(const QByteArray& data)
{
    if (data.size() < 40) {
        return {};
    }
    const auto headerSize = qFromLittleEndian<quint32>(data.constData());
    const auto bitCount = qFromLittleEndian<quint16>(data.constData() + 14);
    const auto compression = qFromLittleEndian<quint32>(data.constData() + 16);
    if (bitCount < 16 || headerSize > quint32(data.size())) {
        return {}; // the clients' bitmaps have no colour table
    }
    const quint32 offset = headerSize + (headerSize == 40 && compression == kBitfields ? 12 : 0);
    QByteArray file(kFileHeader, '\0');
    file[0] = 'B';
    file[1] = 'M';
    qToLittleEndian<quint32>(quint32(kFileHeader + data.size()), file.data() + 2);
    qToLittleEndian<quint32>(kFileHeader + offset, file.data() + 10);
    return QImage::fromData(file + data, "BMP");
}

} // namespace

QString offeredText()
{
    return QStringLiteral("客户：华东机电设备有限公司\n电话：021-5550-1234");
}

QImage offeredImage()
{
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(QColor(0, 84, 166));
    QPainter(&image).fillRect(24, 16, 24, 16, QColor(200, 60, 40));
    return image;
}

Clipboard::Clipboard(HANDLE vcm, Settings settings,
                     std::function<void(std::string_view, Fields)> report)
    : context_(cliprdr_server_context_new(vcm)), settings_(settings), report_(std::move(report))
{
    if (!context_) {
        return;
    }
    context_->custom = this;
    context_->useLongFormatNames = TRUE;
    context_->autoInitializationSequence = TRUE;
    context_->ClientCapabilities = [](CliprdrServerContext*, const CLIPRDR_CAPABILITIES*) -> UINT {
        return CHANNEL_RC_OK;
    };
    context_->ClientFormatList = [](CliprdrServerContext* c, const CLIPRDR_FORMAT_LIST* list) {
        return of(c).clientFormatList(list);
    };
    context_->ClientFormatListResponse = [](CliprdrServerContext*,
                                            const CLIPRDR_FORMAT_LIST_RESPONSE*) -> UINT {
        return CHANNEL_RC_OK;
    };
    context_->ClientFormatDataRequest = [](CliprdrServerContext* c,
                                           const CLIPRDR_FORMAT_DATA_REQUEST* request) {
        return of(c).clientDataRequest(request);
    };
    context_->ClientFormatDataResponse = [](CliprdrServerContext* c,
                                            const CLIPRDR_FORMAT_DATA_RESPONSE* response) {
        return of(c).clientDataResponse(response);
    };
}

Clipboard::~Clipboard()
{
    if (context_) {
        if (started_) {
            context_->Stop(context_);
        }
        cliprdr_server_context_free(context_);
    }
}

bool Clipboard::start()
{
    started_ = context_ && context_->Start(context_) == CHANNEL_RC_OK;
    return started_;
}

Clipboard& Clipboard::of(CliprdrServerContext* context)
{
    return *static_cast<Clipboard*>(context->custom);
}

UINT Clipboard::clientFormatList(const CLIPRDR_FORMAT_LIST* list)
{
    CLIPRDR_FORMAT_LIST_RESPONSE response{};
    compat::header(response).msgType = CB_FORMAT_LIST_RESPONSE;
    compat::header(response).msgFlags = CB_RESPONSE_OK;
    UINT status = context_->ServerFormatListResponse(context_, &response);

    std::vector<UINT32> formats;
    for (UINT32 i = 0; i < list->numFormats; ++i) {
        formats.push_back(list->formats[i].formatId);
    }
    const auto has = [&](UINT32 id) {
        return std::find(formats.begin(), formats.end(), id) != formats.end();
    };
    wanted_.clear();
    if (has(CF_UNICODETEXT)) {
        wanted_.push_back(CF_UNICODETEXT);
    }
    if (has(CF_DIB)) {
        wanted_.push_back(CF_DIB);
    }
    if (!requested_) {
        status = requestNext();
    }

    // The client has announced its clipboard: the initialisation is over, the server's follows.
    if (settings_.offer && !offered_) {
        offered_ = true;
        CLIPRDR_FORMAT offer[] = {{CF_UNICODETEXT, nullptr}, {CF_DIB, nullptr}};
        CLIPRDR_FORMAT_LIST own{};
        compat::header(own).msgType = CB_FORMAT_LIST;
        own.numFormats = 2;
        own.formats = offer;
        status = context_->ServerFormatList(context_, &own);
    }
    return status;
}

UINT Clipboard::requestNext()
{
    if (wanted_.empty()) {
        return CHANNEL_RC_OK;
    }
    requested_ = wanted_.front();
    wanted_.pop_front();
    CLIPRDR_FORMAT_DATA_REQUEST request{};
    compat::header(request).msgType = CB_FORMAT_DATA_REQUEST;
    compat::header(request).dataLen = 4; // the library writes the header as given
    request.requestedFormatId = requested_;
    return context_->ServerFormatDataRequest(context_, &request);
}

UINT Clipboard::clientDataResponse(const CLIPRDR_FORMAT_DATA_RESPONSE* response)
{
    const QByteArray data =
        (compat::header(*response).msgFlags & CB_RESPONSE_OK) && response->requestedFormatData
            ? QByteArray(reinterpret_cast<const char*>(response->requestedFormatData),
                         qsizetype(compat::header(*response).dataLen))
            : QByteArray();
    const UINT32 format = std::exchange(requested_, 0);
    if (data.isEmpty()) {
        report_("clipboard-in", {{"format", std::to_string(format)}, {"ok", "0"}});
    } else if (format == CF_DIB) {
        const QImage image = fromDib(data);
        char pixel[8] = {};
        if (!image.isNull()) {
            std::snprintf(pixel, sizeof(pixel), "%06X", image.pixel(0, 0) & 0xFFFFFFu);
        }
        report_("clipboard-in", {{"format", "image"},
                                 {"ok", image.isNull() ? "0" : "1"},
                                 {"width", std::to_string(image.width())},
                                 {"height", std::to_string(image.height())},
                                 {"pixel", pixel}});
    } else {
        report_(
            "clipboard-in",
            {{"format", "unicode"}, {"ok", "1"}, {"text", fromUnicodeText(data).toStdString()}});
    }
    return requestNext();
}

UINT Clipboard::clientDataRequest(const CLIPRDR_FORMAT_DATA_REQUEST* request)
{
    const UINT32 format = request->requestedFormatId;
    report_("clipboard-request", {{"format", std::to_string(format)}});
    if (settings_.silent) {
        return CHANNEL_RC_OK;
    }
    // The channel's thread sleeps: later requests wait their turn, as on a busy server.
    std::this_thread::sleep_for(settings_.delay);
    QByteArray data;
    if (format == CF_UNICODETEXT) {
        data = unicodeText(offeredText());
    } else if (format == CF_DIB) {
        data = dib(offeredImage());
    }
    CLIPRDR_FORMAT_DATA_RESPONSE response{};
    compat::header(response).msgType = CB_FORMAT_DATA_RESPONSE;
    compat::header(response).msgFlags = data.isEmpty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    compat::header(response).dataLen = UINT32(data.size());
    response.requestedFormatData = reinterpret_cast<const BYTE*>(data.constData());
    return context_->ServerFormatDataResponse(context_, &response);
}

} // namespace demo
