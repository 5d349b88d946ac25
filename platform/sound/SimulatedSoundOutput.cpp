#include "platform/sound/SimulatedSoundOutput.h"

#include <cstring>

namespace velmora {

SimulatedSoundOutput::SimulatedSoundOutput() {
    std::strncpy(caps_.szPname, "Simulated wave output", sizeof caps_.szPname - 1);
    caps_.wChannels = 2;
    caps_.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
}

bool SimulatedSoundOutput::PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) {
    Call call{CallKind::PlaySound};
    call.flags = flags;
    call.image.assign(image.begin(), image.end());
    calls_.push_back(call);

    if (image.empty()) {
        playing_ = false;
        currentImage_.clear();
        return true;
    }
    // A synchronous sound has ended when the call returns.
    playing_ = (flags & SND_ASYNC) != 0;
    currentFlags_ = flags;
    currentImage_ = std::move(call.image);
    return true;
}

MMRESULT SimulatedSoundOutput::GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) {
    calls_.push_back(Call{CallKind::GetDevCaps, deviceId});
    if (!available_ || deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    *caps = caps_;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedSoundOutput::GetVolume(std::uint32_t deviceId, std::uint32_t* volume) {
    Call call{CallKind::GetVolume, deviceId};
    call.volume = volume_;
    calls_.push_back(call);
    if (!available_ || deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    *volume = volume_;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedSoundOutput::SetVolume(std::uint32_t deviceId, std::uint32_t volume) {
    Call call{CallKind::SetVolume, deviceId};
    call.volume = volume;
    calls_.push_back(call);
    if (!available_ || deviceId != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    // A device with one volume for both channels keeps only the low word.
    volume_ = (caps_.dwSupport & WAVECAPS_LRVOLUME) != 0 ? volume : (volume & 0xFFFFu);
    return MMSYSERR_NOERROR;
}

void SimulatedSoundOutput::SetSeparateChannelVolume(bool separate) {
    if (separate) {
        caps_.dwSupport |= WAVECAPS_LRVOLUME;
    } else {
        caps_.dwSupport &= ~WAVECAPS_LRVOLUME;
    }
}

std::vector<SimulatedSoundOutput::Call> SimulatedSoundOutput::CallsOf(CallKind kind) const {
    std::vector<Call> result;
    for (const Call& call : calls_) {
        if (call.kind == kind) {
            result.push_back(call);
        }
    }
    return result;
}

void SimulatedSoundOutput::LoseSound() {
    if (!IsLooping()) {
        return;
    }
    playing_ = false;
    if (lostHandler_) {
        lostHandler_();
    }
}

void SimulatedSoundOutput::BringSoundBack() {
    if (playing_ || (currentFlags_ & SND_LOOP) == 0 || currentImage_.empty()) {
        return;
    }
    playing_ = true;
    if (backHandler_) {
        backHandler_();
    }
}

}  // namespace velmora
