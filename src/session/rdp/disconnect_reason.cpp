#include "session/rdp/disconnect_reason.h"

#include <freerdp/error.h>
#include <winpr/error.h>
#include <winpr/wtsapi.h>

namespace tclink::rdp {

namespace {

// Reason codes of the platform control.
enum Reason : qint32 {
    NoInfo = 0,
    LocalDisconnect = 1,
    RemoteByUser = 2,
    RemoteByServer = 3,
    DnsLookupFailed = 260,
    OutOfMemory = 262,
    ConnectionTimedOut = 264,
    SocketConnectFailed = 516,
    HostNotFound = 520,
    InternalError = 1032,
    LogonFailed = 2055,
    LicensingFailed = 2056,
    SocketClosed = 2308,
    InternalSecurityError = 2310,
    NoSuchUser = 2567,
    AccountDisabled = 2823,
    AccountRestriction = 3079,
    AccountLockedOut = 3335,
    AccountExpired = 3591,
    PasswordExpired = 3847,
    PasswordMustChange = 4615,
};

struct ConnectErrorReason {
    quint32 lastError;
    qint32 reason;
};

// FreeRDP's own connection errors (class CONNECT).
constexpr ConnectErrorReason connectErrors[] = {
    {FREERDP_ERROR_DNS_NAME_NOT_FOUND, HostNotFound},
    {FREERDP_ERROR_DNS_ERROR, DnsLookupFailed},
    {FREERDP_ERROR_CONNECT_FAILED, SocketConnectFailed},
    {FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, SocketConnectFailed},
    {FREERDP_ERROR_CONNECT_CANCELLED, LocalDisconnect},
    {FREERDP_ERROR_PRE_CONNECT_FAILED, InternalError},
    {FREERDP_ERROR_POST_CONNECT_FAILED, InternalError},
    {FREERDP_ERROR_CONNECT_UNDEFINED, InternalError},
    {FREERDP_ERROR_MCS_CONNECT_INITIAL_ERROR, InternalError},
    {FREERDP_ERROR_TLS_CONNECT_FAILED, InternalSecurityError},
    {FREERDP_ERROR_SECURITY_NEGO_CONNECT_FAILED, InternalSecurityError},
    {FREERDP_ERROR_CONNECT_CLIENT_REVOKED, InternalSecurityError},
    {FREERDP_ERROR_AUTHENTICATION_FAILED, LogonFailed},
    {FREERDP_ERROR_CONNECT_LOGON_FAILURE, LogonFailed},
    {FREERDP_ERROR_CONNECT_WRONG_PASSWORD, LogonFailed},
    {FREERDP_ERROR_CONNECT_ACCESS_DENIED, LogonFailed},
    {FREERDP_ERROR_CONNECT_NO_OR_MISSING_CREDENTIALS, LogonFailed},
    {FREERDP_ERROR_CONNECT_LOGON_TYPE_NOT_GRANTED, AccountRestriction},
    {FREERDP_ERROR_INSUFFICIENT_PRIVILEGES, AccountRestriction},
    {FREERDP_ERROR_CONNECT_ACCOUNT_RESTRICTION, AccountRestriction},
    {FREERDP_ERROR_CONNECT_ACCOUNT_DISABLED, AccountDisabled},
    {FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT, AccountLockedOut},
    {FREERDP_ERROR_CONNECT_ACCOUNT_EXPIRED, AccountExpired},
    {FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED, PasswordExpired},
    {FREERDP_ERROR_CONNECT_PASSWORD_CERTAINLY_EXPIRED, PasswordExpired},
    {FREERDP_ERROR_CONNECT_PASSWORD_MUST_CHANGE, PasswordMustChange},
};

// The server's error info: who ended the session.
qint32 reasonForErrorInfo(quint32 info)
{
    switch (info) {
    case ERRINFO_RPC_INITIATED_DISCONNECT_BY_USER:
    case ERRINFO_LOGOFF_BY_USER:
        return RemoteByUser;
    case ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES:
        return AccountRestriction;
    case ERRINFO_SERVER_FRESH_CREDENTIALS_REQUIRED:
        return LogonFailed;
    default:
        break;
    }
    if (info >= ERRINFO_LICENSE_INTERNAL && info <= ERRINFO_LICENSE_NO_REMOTE_CONNECTIONS)
        return LicensingFailed;
    return RemoteByServer;
}

} // namespace

qint32 disconnectReason(const DisconnectFacts& facts)
{
    if (facts.localClose)
        return LocalDisconnect;
    // A server that explains itself is believed first, whatever the transport said after.
    if (facts.errorInfo != ERRINFO_SUCCESS && facts.errorInfo != ERRINFO_NONE)
        return reasonForErrorInfo(facts.errorInfo);
    if (facts.linkTimedOut)
        return ConnectionTimedOut;

    const quint32 errorClass = facts.lastError >> 16;
    if (errorClass == FREERDP_ERROR_ERRINFO_CLASS)
        return reasonForErrorInfo(facts.lastError & 0xFFFF);
    if (errorClass == FREERDP_ERROR_CONNECT_CLASS) {
        // Once the connection stood, a failing transport is a dropped connection.
        if (facts.connected && facts.lastError == FREERDP_ERROR_CONNECT_TRANSPORT_FAILED)
            return SocketClosed;
        for (const auto& entry : connectErrors) {
            if (entry.lastError == facts.lastError)
                return entry.reason;
        }
        return facts.connected ? SocketClosed : SocketConnectFailed;
    }
    if (facts.lastError != FREERDP_ERROR_SUCCESS)
        return InternalError;
    return facts.connected ? SocketClosed : SocketConnectFailed;
}

qint32 fatalErrorCode(quint32 channelError, quint32 lastError)
{
    // OnFatalError codes of the platform control.
    constexpr qint32 outOfMemory = 2;
    constexpr qint32 unrecoverableConnectionError = 7;

    switch (channelError) {
    case CHANNEL_RC_OK:
        break;
    case CHANNEL_RC_NO_MEMORY:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return outOfMemory;
    default:
        return unrecoverableConnectionError;
    }
    if (lastError == FREERDP_ERROR_PRE_CONNECT_FAILED ||
        lastError == FREERDP_ERROR_POST_CONNECT_FAILED)
        return unrecoverableConnectionError;
    return 0;
}

} // namespace tclink::rdp
