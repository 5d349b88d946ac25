#include "platform/sound/PulseSoundOutput.h"

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseShared.h"
#include "platform/sound/PulseLevelKeeper.h"
#include "platform/sound/PulsePlayback.h"
#include "platform/sound/WaveImage.h"

#include <pulse/pulseaudio.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

namespace {

// Two-channel frames in the image's sample format; a mono image is copied to both channels.
std::vector<std::uint8_t> StereoFrames(const WaveImage& wave) {
    if (wave.channels == 2) {
        return {wave.data.begin(), wave.data.end()};
    }
    const std::size_t bytes = wave.bitsPerSample / 8u;
    std::vector<std::uint8_t> frames(wave.data.size() * 2);
    for (std::size_t i = 0, o = 0; i < wave.data.size(); i += bytes, o += 2 * bytes) {
        std::memcpy(&frames[o], &wave.data[i], bytes);
        std::memcpy(&frames[o + bytes], &wave.data[i], bytes);
    }
    return frames;
}

struct ServerInfo {
    std::string name;
    std::string version;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* out) {
    auto* result = static_cast<ServerInfo*>(out);
    result->name = info->server_name ? info->server_name : "";
    result->version = info->server_version ? info->server_version : "";
}

}  // namespace

PulseSoundOutput::PulseSoundOutput(PulseContext& pulse)
    : pulse_(pulse), keeper_(std::make_unique<PulseLevelKeeper>(pulse)) {}

PulseSoundOutput::~PulseSoundOutput() = default;

void PulseSoundOutput::SetSoundLostHandler(SoundLostHandler handler) {
    keeper_->SetLostHandler(std::move(handler));
}

void PulseSoundOutput::SetSoundBackHandler(SoundBackHandler handler) {
    keeper_->SetBackHandler(std::move(handler));
}

bool PulseSoundOutput::PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) {
    if (image.empty()) {
        keeper_->Stop();
        return true;
    }
    if ((flags & SND_MEMORY) == 0) {
        keeper_->Stop();
        qCWarning(lcPulse) << "PlaySound: only sounds in memory are supported";
        return false;
    }
    const std::optional<WaveImage> wave = ParseWaveImage(image);
    if (!wave || wave->Frames() == 0) {
        keeper_->Stop();
        qCWarning(lcPulse) << "PlaySound: not a playable wave image";
        return false;
    }
    PulseSound sound{StereoFrames(*wave), {}, (flags & SND_LOOP) != 0};
    sound.format.format = wave->bitsPerSample == 16 ? PA_SAMPLE_S16LE : PA_SAMPLE_U8;
    sound.format.rate = wave->sampleRate;
    sound.format.channels = 2;
    return keeper_->Play(std::move(sound), (flags & SND_ASYNC) != 0);
}

bool PulseSoundOutput::IsPlaying() {
    return keeper_->IsPlaying();
}

bool PulseSoundOutput::IsAvailable() {
    return keeper_->IsAvailable();
}

std::uint64_t PulseSoundOutput::Underflows() {
    return keeper_->Underflows();
}

std::string PulseSoundOutput::PlayingSink() {
    return keeper_->PlayingSink();
}

MMRESULT PulseSoundOutput::GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) {
    if (deviceId != 0 || !caps) {
        return deviceId != 0 ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALPARAM;
    }
    std::unique_lock lock(pulse_.Loop());
    if (!pulse_.ConnectLocked(lock)) {
        return MMSYSERR_BADDEVICEID;
    }
    ServerInfo info;
    if (!pulse_.Request(lock, [&](pa_context* c) {
            return pa_context_get_server_info(c, &OnServerInfo, &info);
        })) {
        return MMSYSERR_ERROR;
    }
    *caps = WaveOutCaps{};
    caps->vDriverVersion = DriverVersionOf(info.version);
    std::snprintf(caps->szPname, sizeof caps->szPname, "%s", info.name.c_str());
    // 8 and 16 bit, mono and stereo, at 44.1 and 96 kHz.
    caps->dwFormats = 0x00000F00u | 0x000F0000u;
    caps->wChannels = 2;
    caps->dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::GetVolume(std::uint32_t deviceId, std::uint32_t* volume) {
    if (deviceId != 0 || !volume) {
        return deviceId != 0 ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALPARAM;
    }
    *volume = keeper_->PlaybackVolume();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::SetVolume(std::uint32_t deviceId, std::uint32_t volume) {
    if (deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    keeper_->SetPlaybackVolume(volume);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::GetPlaybackMute(bool* mute) {
    if (!mute) {
        return MMSYSERR_INVALPARAM;
    }
    *mute = keeper_->PlaybackMute();
    return MMSYSERR_NOERROR;
}

MMRESULT PulseSoundOutput::SetPlaybackMute(bool mute) {
    keeper_->SetPlaybackMute(mute);
    return MMSYSERR_NOERROR;
}

}  // namespace velmora
