#include "platform/desktop.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>
#include <array>
#include <cstdint>
#include <cstring>
#include <xcb/xcb.h>

namespace tclink::platform {
namespace {

// The Motif window-manager hints, which X11 window managers read to decide which functions
// and decorations a window gets.
constexpr uint32_t HintsFunctions = 1u << 0;
constexpr uint32_t HintsDecorations = 1u << 1;
constexpr uint32_t FunctionResize = 1u << 1;
constexpr uint32_t FunctionMove = 1u << 2;
constexpr uint32_t DecorBorder = 1u << 1;
constexpr uint32_t DecorResizeHandle = 1u << 2;
constexpr uint32_t DecorTitle = 1u << 3;

// The X connection, or null on other window systems (which take the window flags as they are).
xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 && QGuiApplication::platformName() == QLatin1String("xcb") ? x11->connection()
                                                                          : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// ICCCM's iconic state, which an iconify request asks for.
constexpr uint32_t IconicState = 3;

// Watches the root window for iconify requests about one window. The root window's
// structure changes that watching brings along are Qt's business only where Qt asked for
// them itself; the others are held back from it.
class MinimiseRequests : public QObject, public QAbstractNativeEventFilter {
public:
    MinimiseRequests(QWidget* window, xcb_connection_t* connection, std::function<void()> requested)
        : QObject(window), connection_(connection),
          window_(static_cast<xcb_window_t>(window->winId())),
          root_(xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root),
          changeState_(internAtom(connection, "WM_CHANGE_STATE")), requested_(std::move(requested))
    {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, root_), nullptr);
        qtMask_ = attributes ? attributes->your_event_mask : 0;
        std::free(attributes);
        setRootMask(qtMask_ | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        qGuiApp->installNativeEventFilter(this);
    }

    ~MinimiseRequests() override
    {
        qGuiApp->removeNativeEventFilter(this);
        setRootMask(qtMask_);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto* client = static_cast<const xcb_client_message_event_t*>(message);
            if (client->type == changeState_ && client->window == window_ && client->format == 32 &&
                client->data.data32[0] == IconicState) {
                requested_();
            }
            return false;
        }
        return !(qtMask_ & XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY) &&
               substructureEventOfRoot(type, event);
    }

private:
    // A change of one of the root window's children reported to the root window.
    bool substructureEventOfRoot(uint8_t type, const xcb_generic_event_t* event) const
    {
        // These events all start with the window they are reported to, after the sequence.
        xcb_window_t reportedTo = XCB_WINDOW_NONE;
        switch (type) {
        case XCB_CREATE_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_MAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            std::memcpy(&reportedTo, reinterpret_cast<const char*>(event) + 4, sizeof reportedTo);
            break;
        default:
            return false;
        }
        xcb_window_t changed = XCB_WINDOW_NONE;
        std::memcpy(&changed, reinterpret_cast<const char*>(event) + 8, sizeof changed);
        return reportedTo == root_ && changed != root_;
    }

    void setRootMask(uint32_t mask)
    {
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_;
    xcb_window_t window_;
    xcb_window_t root_;
    xcb_atom_t changeState_;
    uint32_t qtMask_ = 0;
    std::function<void()> requested_;
};

} // namespace

void watchMinimiseRequests(QWidget* window, std::function<void()> requested)
{
    if (xcb_connection_t* connection = x11Connection()) {
        new MinimiseRequests(window, connection, std::move(requested));
    }
}

void leaveOffTaskbar(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return;
    }
    // The window manager reads the state when the window is mapped; Qt keeps the entries it
    // does not manage itself.
    const std::array<xcb_atom_t, 2> states{internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                           internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_APPEND,
                        static_cast<xcb_window_t>(window->winId()),
                        internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    xcb_flush(connection);
}

void clearWindowTitle(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return;
    }
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                        internAtom(connection, "_NET_WM_NAME"),
                        internAtom(connection, "UTF8_STRING"), 8, 0, nullptr);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, nullptr);
    xcb_flush(connection);
}

void removeWindowMenu(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return;
    }
    const xcb_atom_t hintsAtom = internAtom(connection, "_MOTIF_WM_HINTS");
    if (hintsAtom == XCB_ATOM_NONE) {
        return;
    }
    const std::array<uint32_t, 5> hints{HintsFunctions | HintsDecorations,
                                        FunctionMove | FunctionResize,
                                        DecorBorder | DecorResizeHandle | DecorTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), hintsAtom, hintsAtom, 32,
                        static_cast<uint32_t>(hints.size()), hints.data());
    xcb_flush(connection);
}

} // namespace tclink::platform
