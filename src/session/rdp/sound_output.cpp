#include "session/rdp/sound_output.h"

#include <chrono>
#include <vector>

#include <alsa/asoundlib.h>
#include <freerdp/client/cmdline.h>
#include <pulse/pulseaudio.h>

namespace tclink::rdp {

namespace {

// A sound server that accepts but never answers is given up after this long.
constexpr auto pulseAnswerLimit = std::chrono::seconds(2);

bool pulseAnswers()
{
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return false;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "tclink");
    bool ready = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + pulseAnswerLimit;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                ready = true;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state) || Clock::now() >= deadline)
                break;
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (pa_mainloop_prepare(loop, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    return ready;
}

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

bool alsaOpens()
{
    snd_lib_error_set_handler(quietAlsa); // no "cannot find card" lines on the terminal
    snd_pcm_t* pcm = nullptr;
    const bool opens =
        snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) == 0;
    if (opens)
        snd_pcm_close(pcm);
    snd_lib_error_set_handler(nullptr);
    return opens;
}

} // namespace

std::string soundSystem()
{
    if (pulseAnswers())
        return "pulse";
    if (alsaOpens())
        return "alsa";
    return {};
}

bool enableSound(rdpSettings* settings, const std::string& system)
{
    if (system.empty())
        return true;
    std::string name = "rdpsnd";
    std::string backend = "sys:" + system;
    char* params[] = {name.data(), backend.data()};
    return freerdp_client_add_static_channel(settings, 2, params) &&
           freerdp_client_add_dynamic_channel(settings, 2, params) &&
           freerdp_settings_set_bool(settings, FreeRDP_AudioPlayback, TRUE);
}

} // namespace tclink::rdp
