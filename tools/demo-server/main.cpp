// tclink-demo-server: a terminal server that shows a customer-management application, for the
// demo and the tests of tclink. See README.md.

#include "certificate.h"
#include "freerdp_compat.h"
#include "options.h"
#include "report.h"
#include "session.h"

#include <QGuiApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <freerdp/channels/channels.h>
#include <freerdp/listener.h>
#include <iostream>
#include <list>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <winpr/ssl.h>
#include <winpr/wlog.h>
#include <winpr/wtsapi.h>

namespace {

// The sessions' threads: one per client, reaped as new clients come and joined at the end.
class Sessions {
public:
    explicit Sessions(const demo::ServerConfig& config) : config_(config) {}
    ~Sessions() { joinAll(); }

    void start(freerdp_peer* peer)
    {
        const std::lock_guard lock(mutex_);
        workers_.remove_if([](Worker& worker) {
            if (!*worker.done) {
                return false;
            }
            worker.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, peer, done, id = ++lastId_] {
                                demo::serveClient(peer, id, config_);
                                *done = true;
                            }),
                            done});
    }

    void joinAll()
    {
        const std::lock_guard lock(mutex_);
        for (Worker& worker : workers_) {
            worker.thread.join();
        }
        workers_.clear();
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    const demo::ServerConfig& config_;
    std::mutex mutex_;
    std::list<Worker> workers_;
    int lastId_ = 0;
};

// FreeRDP's log goes to stderr, errors only unless WLOG_LEVEL says otherwise, so that stdout
// carries nothing but the readiness lines.
void quietFreeRdpLog()
{
    wLog* root = WLog_GetRoot();
    WLog_SetLogAppenderType(root, WLOG_APPENDER_CONSOLE);
    WLog_ConfigureAppender(WLog_GetLogAppender(root), "outputstream", const_cast<char*>("stderr"));
    if (!std::getenv("WLOG_LEVEL")) {
        WLog_SetLogLevel(root, WLOG_ERROR);
        demo::compat::quietOrdinaryClose();
    }
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = demo::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "tclink-demo-server: " << *error << "\n" << demo::usage();
        return 2;
    }
    const demo::Options& options = std::get<demo::Options>(parsed);
    if (options.help) {
        std::cout << demo::usage();
        return 0;
    }

    // The signals that end the server are taken by one thread; every other thread blocks them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);

    demo::Report report(options.reportPath);
    if (!report.ok()) {
        std::cerr << "tclink-demo-server: cannot open " << options.reportPath << "\n";
        return 1;
    }
    const auto certificate = demo::makeSelfSignedCertificate("tclink-demo-server");
    if (!certificate) {
        std::cerr << "tclink-demo-server: cannot make a certificate\n";
        return 1;
    }

    quietFreeRdpLog();
    winpr_InitializeSSL(WINPR_SSL_INIT_DEFAULT);
    WTSRegisterWtsApiFunctionTable(FreeRDP_InitWtsApi());

    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread signalWaiter([&endSignals, stop] {
        int signal = 0;
        sigwait(&endSignals, &signal);
        SetEvent(stop);
    });

    const demo::ServerConfig config{options, *certificate, report, stop};
    Sessions sessions(config);
    freerdp_listener* listener = freerdp_listener_new();
    listener->info = &sessions;
    listener->PeerAccepted = [](freerdp_listener* self, freerdp_peer* peer) -> BOOL {
        static_cast<Sessions*>(self->info)->start(peer);
        return TRUE;
    };

    int status = 0;
    for (const demo::Endpoint& endpoint : options.endpoints) {
        if (!listener->Open(listener, endpoint.address.c_str(), endpoint.port)) {
            std::cerr << "tclink-demo-server: cannot listen on " << endpoint.text() << "\n";
            status = 1;
            break;
        }
    }
    if (status == 0) {
        for (const demo::Endpoint& endpoint : options.endpoints) {
            std::printf("listening %s\n", endpoint.text().c_str());
        }
        std::fflush(stdout);
    }
    while (status == 0) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        DWORD count = listener->GetEventHandles(listener, handles, MAXIMUM_WAIT_OBJECTS - 1);
        handles[count++] = stop;
        if (WaitForMultipleObjects(count, handles, FALSE, INFINITE) == WAIT_FAILED) {
            status = 1;
        } else if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
            break;
        } else if (!listener->CheckFileDescriptor(listener)) {
            status = 1;
        }
    }

    listener->Close(listener);
    SetEvent(stop);
    sessions.joinAll();
    freerdp_listener_free(listener);
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    CloseHandle(stop);
    return status;
}
