#include "session/rdp/freerdp_loader.h"

#include <cstdio>
#include <cstdlib>

#if TCLINK_LAZY_FREERDP
#include <thread>

#include "session/rdp/lazy_libraries.h"

extern "C" const tclink::lazy::StubTable tclink_freerdp_stubs;
#endif

namespace tclink::rdp {

#if TCLINK_LAZY_FREERDP
namespace {

// Never destroyed: FreeRDP's threads may call through the stubs while the program ends.
lazy::Libraries& freerdp()
{
    static lazy::Libraries& libraries = *new lazy::Libraries(tclink_freerdp_stubs);
    return libraries;
}

} // namespace

const std::string& loadFreeRdp()
{
    return freerdp().load();
}

void preloadFreeRdp()
{
    // Joined when the program returns from main; ending it otherwise (_exit) just ends it.
    static std::jthread preload([] { freerdp().load(); });
}
#else
const std::string& loadFreeRdp()
{
    static const std::string linked;
    return linked;
}

void preloadFreeRdp() {}
#endif

std::string freeRdpMissingLine(const std::string& failure)
{
    return "tclink：无法载入远程桌面组件 FreeRDP（" + failure +
           "），程序不能登录。请重新安装本程序。\n";
}

} // namespace tclink::rdp

#if TCLINK_LAZY_FREERDP
// Where a stub leads before the libraries are loaded: the session's start loads them first and
// reports a failure itself, so reaching a failure here means a call outside it; the program
// ends with the line rather than crash somewhere.
extern "C" void* tclink_freerdp_resolve(std::uint32_t index) noexcept
{
    using namespace tclink::rdp;
    const std::string& failure = loadFreeRdp();
    if (!failure.empty()) {
        std::fputs(freeRdpMissingLine(failure).c_str(), stderr);
        std::_Exit(1);
    }
    return freerdp().function(index);
}
#endif
