#include "tone.h"

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include <winpr/sysinfo.h>

namespace demo {

namespace {

constexpr UINT32 kRate = 44100;
constexpr UINT16 kChannels = 2;
constexpr UINT16 kBits = 16;
constexpr int kBlockFrames = int(kRate / 10);
constexpr auto kBlockTime = std::chrono::milliseconds(100);
constexpr double kAmplitude = 0.4 * 32767;

} // namespace

TonePlayer::TonePlayer(HANDLE vcm, rdpContext* context, int frequency,
                       std::chrono::milliseconds length, std::function<void(int)> played)
    : context_(rdpsnd_server_context_new(vcm)), frequency_(frequency), length_(length),
      played_(std::move(played))
{
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = kChannels;
    format_.nSamplesPerSec = kRate;
    format_.wBitsPerSample = kBits;
    format_.nBlockAlign = kChannels * kBits / 8;
    format_.nAvgBytesPerSec = kRate * format_.nBlockAlign;
    if (context_) {
        context_->rdpcontext = context;
        context_->data = this;
        context_->server_formats = &format_;
        context_->num_server_formats = 1;
        context_->src_format = &format_;
        context_->latency = 100;
        context_->Activated = onActivated;
    }
}

TonePlayer::~TonePlayer()
{
    if (!context_) {
        return;
    }
    stopping_ = true;
    if (started_) {
        context_->Stop(context_);
    }
    context_->server_formats = nullptr; // ours, not the context's to free
    context_->num_server_formats = 0;
    context_->src_format = nullptr;
    rdpsnd_server_context_free(context_);
}

bool TonePlayer::start()
{
    started_ = context_ && context_->Start(context_) == CHANNEL_RC_OK;
    return started_;
}

std::vector<short> TonePlayer::samples(int frequency, long first, int frames)
{
    std::vector<short> block(std::size_t(frames) * kChannels);
    for (int i = 0; i < frames; ++i) {
        const double t = double(first + i) / kRate;
        const auto value =
            short(std::lround(kAmplitude * std::sin(2 * std::numbers::pi * frequency * t)));
        for (int c = 0; c < kChannels; ++c) {
            block[std::size_t(i) * kChannels + std::size_t(c)] = value;
        }
    }
    return block;
}

void TonePlayer::onActivated(RdpsndServerContext* context)
{
    static_cast<TonePlayer*>(context->data)->play();
}

void TonePlayer::play()
{
    int chosen = -1;
    for (UINT16 i = 0; i < context_->num_client_formats; ++i) {
        const AUDIO_FORMAT& f = context_->client_formats[i];
        if (f.wFormatTag == WAVE_FORMAT_PCM && f.nSamplesPerSec == kRate &&
            f.nChannels == kChannels && f.wBitsPerSample == kBits) {
            chosen = i;
            break;
        }
    }
    if (chosen >= 0 && context_->SelectFormat(context_, UINT16(chosen)) == CHANNEL_RC_OK) {
        // In real time, one block ahead: a client drops what it is sent far too early.
        const long total = long(kRate) * length_.count() / 1000;
        const auto start = std::chrono::steady_clock::now();
        for (long first = 0; first < total && !stopping_; first += kBlockFrames) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(first * 1000 / kRate) -
                                          kBlockTime);
            const int frames = int(std::min<long>(kBlockFrames, total - first));
            const std::vector<short> block = samples(frequency_, first, frames);
            if (context_->SendSamples(context_, block.data(), frames,
                                      UINT16(GetTickCount() & 0xFFFF)) != CHANNEL_RC_OK) {
                break;
            }
        }
    }
    played_(chosen);
}

} // namespace demo
