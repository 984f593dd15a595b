#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include <freerdp/freerdp.h>
#include <freerdp/server/rdpsnd.h>

namespace demo {

// A sine tone played to the client through the sound channel (rdpsnd), as 16-bit stereo PCM
// at 44.1 kHz, once the client has answered with its formats. The channel runs on a thread
// of FreeRDP's, paced in real time; `played` is called there, after the last block, with the
// format index used, or -1 when the client takes no PCM.
class TonePlayer {
public:
    TonePlayer(HANDLE vcm, rdpContext* context, int frequency, std::chrono::milliseconds length,
               std::function<void(int format)> played);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    bool start();

    // One block of the tone: `frames` stereo frames from frame `first` on.
    static std::vector<short> samples(int frequency, long first, int frames);

private:
    static void onActivated(RdpsndServerContext* context);
    void play();

    RdpsndServerContext* context_;
    AUDIO_FORMAT format_{};
    int frequency_;
    std::chrono::milliseconds length_;
    std::function<void(int)> played_;
    bool started_ = false;
    std::atomic<bool> stopping_{false}; // the session ends: no more blocks
};

} // namespace demo
