#include "rdp_probe.h"

#include <freerdp/addin.h>
#include <freerdp/client/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>
#include <freerdp/primitives.h>

struct RdpProbe::Context {
    rdpContext base;
    bool redirectDrive;
    bool logonNotice;
    int heartbeats;
};

namespace {

RdpProbe::Context& state(rdpContext* context)
{
    return *reinterpret_cast<RdpProbe::Context*>(context);
}

} // namespace

RdpProbe::RdpProbe(const ProbeSettings& s)
{
    freerdp_register_addin_provider(freerdp_channels_load_static_addin_entry, 0);
    primitives_set_hints(PRIMITIVES_ONLY_CPU);
    instance_ = freerdp_new();
    instance_->ContextSize = sizeof(Context);
    instance_->PreConnect = [](freerdp* instance) -> BOOL {
        instance->heartbeat->ServerHeartbeat = [](freerdp* self, BYTE, BYTE, BYTE) -> BOOL {
            ++state(self->context).heartbeats;
            return TRUE;
        };
        instance->update->SaveSessionInfo = [](rdpContext* context, UINT32, void*) -> BOOL {
            state(context).logonNotice = true;
            return TRUE;
        };
        return !state(instance->context).redirectDrive ||
               freerdp_client_load_addins(instance->context->channels, instance->settings);
    };
    instance_->PostConnect = [](freerdp* instance) -> BOOL {
        // The screen is only read from the buffer: painting needs no more than to succeed.
        instance->update->BeginPaint = [](rdpContext*) -> BOOL { return TRUE; };
        instance->update->EndPaint = [](rdpContext*) -> BOOL { return TRUE; };
        return gdi_init(instance, PIXEL_FORMAT_BGRX32);
    };
    instance_->PostDisconnect = [](freerdp* instance) { gdi_free(instance); };
    freerdp_context_new(instance_);
    context_ = &state(instance_->context);
    context_->redirectDrive = s.redirectDrive;

    rdpSettings* settings = instance_->settings;
    freerdp_settings_set_string(settings, FreeRDP_ServerHostname, s.host.c_str());
    freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, UINT32(s.port));
    freerdp_settings_set_string(settings, FreeRDP_Username, s.user.c_str());
    freerdp_settings_set_string(settings, FreeRDP_Password, s.password.c_str());
    if (!s.shell.empty()) {
        freerdp_settings_set_string(settings, FreeRDP_AlternateShell, s.shell.c_str());
    }
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, UINT32(s.width));
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, UINT32(s.height));
    freerdp_settings_set_uint32(settings, FreeRDP_ColorDepth, 32);
    freerdp_settings_set_bool(settings, FreeRDP_IgnoreCertificate, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_RedirectClipboard, FALSE);
    freerdp_settings_set_bool(settings, FreeRDP_SupportHeartbeatPdu, TRUE);
    if (s.redirectDrive) {
        char drive[] = "drive";
        char name[] = "probe";
        char path[] = "/tmp";
        char* params[] = {drive, name, path};
        freerdp_settings_set_bool(settings, FreeRDP_DeviceRedirection, TRUE);
        freerdp_client_add_device_channel(settings, 3, params);
    }
}

RdpProbe::~RdpProbe()
{
    freerdp_disconnect(instance_);
    freerdp_context_free(instance_);
    freerdp_free(instance_);
}

bool RdpProbe::connect()
{
    return freerdp_connect(instance_);
}

bool RdpProbe::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (disconnected_ || std::chrono::steady_clock::now() >= end) {
            return false;
        }
        HANDLE handles[64];
        const DWORD count = freerdp_get_event_handles(instance_->context, handles, 64);
        WaitForMultipleObjects(count, handles, FALSE, 50);
        if (!freerdp_check_event_handles(instance_->context) ||
            freerdp_shall_disconnect(instance_)) {
            errorInfo_ = freerdp_error_info(instance_);
            disconnected_ = true;
        }
    }
    return true;
}

void RdpProbe::click(int x, int y)
{
    const auto ux = UINT16(x);
    const auto uy = UINT16(y);
    freerdp_input_send_mouse_event(instance_->input, PTR_FLAGS_MOVE, ux, uy);
    freerdp_input_send_mouse_event(instance_->input, PTR_FLAGS_DOWN | PTR_FLAGS_BUTTON1, ux, uy);
    freerdp_input_send_mouse_event(instance_->input, PTR_FLAGS_BUTTON1, ux, uy);
}

QRgb RdpProbe::pixel(int x, int y) const
{
    const rdpGdi* gdi = instance_->context->gdi;
    if (!gdi || x >= int(gdi->width) || y >= int(gdi->height)) {
        return 0;
    }
    const BYTE* p = gdi->primary_buffer + std::size_t(y) * gdi->stride + std::size_t(x) * 4;
    return QRgb(p[2]) << 16 | QRgb(p[1]) << 8 | p[0];
}

bool RdpProbe::logonNotice() const
{
    return context_->logonNotice;
}

int RdpProbe::heartbeats() const
{
    return context_->heartbeats;
}
