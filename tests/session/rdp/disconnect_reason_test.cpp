#include <gtest/gtest.h>

#include <freerdp/error.h>
#include <winpr/wtsapi.h>

#include "session/rdp/disconnect_reason.h"

namespace tclink::rdp {
namespace {

struct Case {
    const char* name;
    DisconnectFacts facts;
    qint32 reason;
};

class DisconnectReasonTest : public ::testing::TestWithParam<Case> {};

TEST_P(DisconnectReasonTest, MapsToThePlatformCode)
{
    EXPECT_EQ(disconnectReason(GetParam().facts), GetParam().reason);
}

constexpr quint32 errinfoClass = FREERDP_ERROR_ERRINFO_CLASS << 16;

INSTANTIATE_TEST_SUITE_P(
    Cases, DisconnectReasonTest,
    ::testing::Values(
        // Before the connection stands.
        Case{"Refused", {FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, 0, false, false, false}, 516},
        Case{"TcpTimeout", {FREERDP_ERROR_CONNECT_FAILED, 0, false, false, false}, 516},
        Case{"NameNotFound", {FREERDP_ERROR_DNS_NAME_NOT_FOUND, 0, false, false, false}, 520},
        Case{"WrongPassword", {FREERDP_ERROR_CONNECT_WRONG_PASSWORD, 0, false, false, false}, 2055},
        Case{"NlaFailed", {FREERDP_ERROR_AUTHENTICATION_FAILED, 0, false, false, false}, 2055},
        Case{"AccountLocked",
             {FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT, 0, false, false, false},
             3335},
        Case{"PasswordExpired",
             {FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED, 0, false, false, false},
             3847},
        Case{"TlsFailed", {FREERDP_ERROR_TLS_CONNECT_FAILED, 0, false, false, false}, 2310},
        Case{"Unknown", {0, 0, false, false, false}, 516},
        // Our own close wins over whatever the library reports then.
        Case{"CancelledMidConnect", {FREERDP_ERROR_CONNECT_CANCELLED, 0, false, true, false}, 1},
        Case{"ClosedWhileLinkFailed",
             {FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, 0, true, true, false},
             1},
        // After the connection stood.
        Case{"Dropped", {FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, 0, true, false, false}, 2308},
        Case{"DroppedSilently", {0, 0, true, false, false}, 2308},
        Case{"Silent", {0, 0, true, false, true}, 264},
        Case{"LogoffByUser",
             {errinfoClass | ERRINFO_LOGOFF_BY_USER, ERRINFO_LOGOFF_BY_USER, true, false, false},
             2},
        Case{"DisconnectByUser",
             {FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, ERRINFO_RPC_INITIATED_DISCONNECT_BY_USER,
              true, false, false},
             2},
        Case{"DisconnectByAdmin", {0, ERRINFO_RPC_INITIATED_DISCONNECT, true, false, false}, 3},
        Case{"IdleTimeout", {0, ERRINFO_IDLE_TIMEOUT, true, false, false}, 3},
        Case{"OtherConnection",
             {errinfoClass | ERRINFO_DISCONNECTED_BY_OTHER_CONNECTION, 0, true, false, false},
             3},
        Case{"Licensing", {0, ERRINFO_LICENSE_NO_LICENSE_SERVER, false, false, false}, 2056},
        Case{"ServerDeniedBeforeConnect",
             {0, ERRINFO_SERVER_DENIED_CONNECTION, false, false, false},
             3}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(FatalErrorCode, ChannelFailuresAndClientSideConnectFailuresAreFatal)
{
    EXPECT_EQ(fatalErrorCode(CHANNEL_RC_OK, FREERDP_ERROR_SUCCESS), 0);
    EXPECT_EQ(fatalErrorCode(CHANNEL_RC_OK, FREERDP_ERROR_CONNECT_TRANSPORT_FAILED), 0);
    EXPECT_EQ(fatalErrorCode(CHANNEL_RC_NO_MEMORY, 0), 2);
    EXPECT_EQ(fatalErrorCode(CHANNEL_RC_INITIALIZATION_ERROR, 0), 7);
    EXPECT_EQ(fatalErrorCode(CHANNEL_RC_OK, FREERDP_ERROR_PRE_CONNECT_FAILED), 7);
}

} // namespace
} // namespace tclink::rdp
