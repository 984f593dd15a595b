#include "session/rdp/freerdp_log.h"

#include <QtGlobal>

#include <winpr/wlog.h>

namespace tclink::rdp {

Q_LOGGING_CATEGORY(lcRdp, "tclink.rdp", QtFatalMsg)

namespace {

BOOL onMessage(const wLogMessage* message)
{
    const char* function = message->FunctionName ? message->FunctionName : "";
    const char* text = message->TextString ? message->TextString : "";
    if (message->Level >= WLOG_ERROR)
        qCCritical(lcRdp, "%s: %s", function, text);
    else
        qCWarning(lcRdp, "%s: %s", function, text);
    return TRUE;
}

} // namespace

void routeFreeRdpLog()
{
    if (qEnvironmentVariableIsSet("WLOG_LEVEL"))
        return;
    wLog* root = WLog_GetRoot();
    if (!root || !WLog_SetLogAppenderType(root, WLOG_APPENDER_CALLBACK))
        return;
    wLogCallbacks callbacks{};
    callbacks.message = onMessage;
    WLog_ConfigureAppender(WLog_GetLogAppender(root), "callbacks", &callbacks);
    WLog_SetLogLevel(root, WLOG_WARN);
}

} // namespace tclink::rdp
