// tclink-input-recorder MARKERS: an X program for a remote session in the tests. It shows a
// window that takes the keyboard focus and appends what it receives to MARKERS/recorder.log,
// one line per event, flushed at once (values percent-encoded as in the demo server's report):
//   ready                                 the window is mapped and has the focus
//   key keysym=NAME text=T state=MODS     a key press: its keysym and text with the modifiers
//                                         and locks in effect (shift,lock,ctrl,alt,num)
//   pasted text=T | pasted none           the CLIPBOARD's UTF-8 text, on request
//   owned text=T                          it took the CLIPBOARD with this text
// Requests come as files the recorder polls for (it cannot delete them: the folder is sticky),
// numbered from 1: MARKERS/recorder-paste.N asks for a paste, MARKERS/recorder-copy.N holds
// UTF-8 text to copy.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/select.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string encode(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c <= 0x20 || c == '%' || c == '=' || c >= 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%%%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

bool readFile(const std::string& path, std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

std::string modifiers(unsigned state)
{
    std::string out;
    const auto add = [&](unsigned mask, const char* name) {
        if (state & mask)
            out += (out.empty() ? "" : ",") + std::string(name);
    };
    add(ShiftMask, "shift");
    add(LockMask, "lock");
    add(ControlMask, "ctrl");
    add(Mod1Mask, "alt");
    add(Mod2Mask, "num");
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string markers = argv[1];
    std::FILE* log = std::fopen((markers + "/recorder.log").c_str(), "a");
    Display* display = XOpenDisplay(nullptr);
    if (!log || !display)
        return 1;
    const auto write = [log](const std::string& line) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
    };

    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(
        display, RootWindow(display, screen), 0, 0, unsigned(DisplayWidth(display, screen)),
        unsigned(DisplayHeight(display, screen)), 0, BlackPixel(display, screen),
        WhitePixel(display, screen));
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask | PropertyChangeMask);
    XMapRaised(display, window);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom property = XInternAtom(display, "TCLINK_RECORDER", False);

    std::string owned;
    int nextPaste = 1;
    int nextCopy = 1;
    const int fd = ConnectionNumber(display);
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) {
                XSetInputFocus(display, window, RevertToParent, CurrentTime);
                XSync(display, False);
                write("ready");
            } else if (event.type == KeyPress) {
                char text[32] = {};
                KeySym keysym = NoSymbol;
                const int length =
                    XLookupString(&event.xkey, text, sizeof(text) - 1, &keysym, nullptr);
                const char* name = XKeysymToString(keysym);
                write("key keysym=" + encode(name ? name : "") +
                      " text=" + encode(std::string(text, size_t(std::max(length, 0)))) +
                      " state=" + modifiers(event.xkey.state));
            } else if (event.type == SelectionNotify) {
                if (event.xselection.property == None) {
                    write("pasted none");
                    continue;
                }
                Atom type = None;
                int format = 0;
                unsigned long items = 0;
                unsigned long after = 0;
                unsigned char* data = nullptr;
                XGetWindowProperty(display, window, property, 0, 1 << 20, True, AnyPropertyType,
                                   &type, &format, &items, &after, &data);
                write("pasted text=" +
                      encode(data ? std::string(reinterpret_cast<char*>(data), items) : ""));
                if (data)
                    XFree(data);
            } else if (event.type == SelectionRequest) {
                const XSelectionRequestEvent& request = event.xselectionrequest;
                XSelectionEvent reply{};
                reply.type = SelectionNotify;
                reply.requestor = request.requestor;
                reply.selection = request.selection;
                reply.target = request.target;
                reply.time = request.time;
                reply.property = request.property ? request.property : request.target;
                if (request.target == targets) {
                    const Atom offered[] = {targets, utf8};
                    XChangeProperty(display, request.requestor, reply.property, XA_ATOM, 32,
                                    PropModeReplace,
                                    reinterpret_cast<const unsigned char*>(offered), 2);
                } else if (request.target == utf8) {
                    XChangeProperty(
                        display, request.requestor, reply.property, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(owned.data()), int(owned.size()));
                } else {
                    reply.property = None;
                }
                XSendEvent(display, request.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
                XFlush(display);
            }
        }

        std::string content;
        if (readFile(markers + "/recorder-paste." + std::to_string(nextPaste), content)) {
            ++nextPaste;
            XConvertSelection(display, clipboard, utf8, property, window, CurrentTime);
            XFlush(display);
        }
        if (readFile(markers + "/recorder-copy." + std::to_string(nextCopy), content)) {
            ++nextCopy;
            owned = content;
            XSetSelectionOwner(display, clipboard, window, CurrentTime);
            XFlush(display);
            write("owned text=" + encode(owned));
        }

        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 100000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
}
