#pragma once

#include <QImage>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>

#include <freerdp/server/cliprdr.h>

#include "report.h"

namespace demo {

// The text and the image the demo's clipboard offers with --offer-clipboard.
QString offeredText();
QImage offeredImage();

// The server's side of the clipboard channel, on FreeRDP's cliprdr server context (which runs
// its own thread): it fetches whatever the client announces (Unicode text, a device-independent
// bitmap) and reports it, and, when offering, announces its own text and
// image and serves them.
class Clipboard {
public:
    struct Settings {
        bool offer = false;  // announce offeredText() and offeredImage() once the client is ready
        bool silent = false; // never answer the client's data requests
        std::chrono::milliseconds delay{0}; // answer them this much later, in order
    };
    // `report` writes one event; it is called on the channel's thread.
    Clipboard(HANDLE vcm, Settings settings, std::function<void(std::string_view, Fields)> report);
    ~Clipboard();

    bool start();

private:
    static Clipboard& of(CliprdrServerContext* context);
    UINT clientFormatList(const CLIPRDR_FORMAT_LIST* list);
    UINT clientDataRequest(const CLIPRDR_FORMAT_DATA_REQUEST* request);
    UINT clientDataResponse(const CLIPRDR_FORMAT_DATA_RESPONSE* response);
    UINT requestNext();

    CliprdrServerContext* context_;
    Settings settings_;
    std::function<void(std::string_view, Fields)> report_;
    bool started_ = false;
    bool offered_ = false;
    std::deque<UINT32> wanted_; // formats of the client's list still to fetch, in order
    UINT32 requested_ = 0;      // the format asked for and not yet answered
};

} // namespace demo
