#include "audio/SSVolumeController.h"

#include <algorithm>
#include <array>

namespace velmora {

namespace {

// Every call addresses mixer device 0 by its identifier.
constexpr std::uint32_t kDevice = 0;

// A value request for one control: `channels` records of `size` bytes at `values`.
MIXERCONTROLDETAILS ValueDetails(const MIXERCONTROL& control, std::uint32_t channels,
                                 std::uint32_t size, void* values) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(MIXERCONTROLDETAILS);
    details.dwControlID = control.dwControlID;
    details.cChannels = channels;
    details.cMultipleItems = 0;
    details.cbDetails = size;
    details.paDetails = values;
    return details;
}

}  // namespace

TssVolumeController::TssVolumeController(TComponent* owner, MixerDevice& mixer)
    : TComponent(owner), mixer_(mixer) {
    FindControls();
    mute_ = false;
    SendMute();
    ReadBack();
}

TssVolumeController::~TssVolumeController() {
    if (open_) {
        mixer_.Close(handle_);
    }
}

void TssVolumeController::FindControls() {
    if (!open_) {
        open_ = mixer_.Open(&handle_, kDevice, {}, 0, 0) == MMSYSERR_NOERROR;
    }
    MIXERLINE line{};
    line.cbStruct = sizeof(MIXERLINE);
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (mixer_.GetLineInfo(kDevice, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR) {
        return;
    }

    std::array<MIXERCONTROL, kControlSlots> controls{};
    if (line.cControls <= static_cast<std::uint32_t>(kControlSlots)) {
        MIXERLINECONTROLS request{};
        request.cbStruct = sizeof(MIXERLINECONTROLS);
        request.dwLineID = line.dwLineID;
        request.cControls = line.cControls;
        request.cbmxctrl = sizeof(MIXERCONTROL);
        request.pamxctrl = controls.data();
        if (mixer_.GetLineControls(kDevice, &request, MIXER_GETLINECONTROLSF_ALL) !=
            MMSYSERR_NOERROR) {
            controls.fill(MIXERCONTROL{});
        }
    } else {
        // More controls than slots: the two that matter, each the first of its type.
        const std::uint32_t types[] = {MIXERCONTROL_CONTROLTYPE_VOLUME,
                                       MIXERCONTROL_CONTROLTYPE_MUTE};
        for (std::size_t i = 0; i < 2; ++i) {
            MIXERLINECONTROLS request{};
            request.cbStruct = sizeof(MIXERLINECONTROLS);
            request.dwLineID = line.dwLineID;
            request.dwControlType = types[i];
            request.cControls = 1;
            request.cbmxctrl = sizeof(MIXERCONTROL);
            request.pamxctrl = &controls[i];
            if (mixer_.GetLineControls(kDevice, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
                MMSYSERR_NOERROR) {
                controls[i] = MIXERCONTROL{};
            }
        }
    }

    // From the last slot down, so that the lowest of several controls of a type wins; empty
    // slots match no type.
    for (int i = kControlSlots - 1; i >= 0; --i) {
        const MIXERCONTROL& control = controls[static_cast<std::size_t>(i)];
        if (control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            volumeControl_ = control;
            haveVolume_ = true;
        } else if (control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE) {
            muteControl_ = control;
            haveMute_ = true;
        }
    }
}

bool TssVolumeController::FindMissingControls() {
    // A line that has one of the two is taken as it is; only a missing line is looked for again.
    if (haveVolume_ || haveMute_) {
        return false;
    }
    FindControls();
    return haveMute_;
}

void TssVolumeController::SetMute(bool value) {
    mute_ = value;
    FindMissingControls();
    SendMute();
}

void TssVolumeController::SetVolume(std::int32_t value) {
    if (value < 0 || value > 100) {
        return;
    }
    volume_ = value;
    if (FindMissingControls()) {
        SendMute();
    }
    SendVolume();
}

void TssVolumeController::SetBalance(std::int32_t value) {
    if (value < -100 || value > 100) {
        return;
    }
    balance_ = value;
    if (FindMissingControls()) {
        SendMute();
    }
    SendVolume();
}

std::int32_t TssVolumeController::Volume() {
    if (FindMissingControls()) {
        SendMute();
    }
    ReadBack();
    return volume_;
}

std::int32_t TssVolumeController::Balance() {
    if (FindMissingControls()) {
        SendMute();
    }
    ReadBack();
    return balance_;
}

void TssVolumeController::SendVolume() {
    if (!haveVolume_) {
        return;
    }
    const std::uint32_t x = static_cast<std::uint32_t>(volume_) * 65535u / 100u;
    std::array<MIXERCONTROLDETAILS_UNSIGNED, 2> values{};
    if (balance_ < 0) {
        values[0].dwValue = x;
        values[1].dwValue = static_cast<std::uint32_t>(balance_ + 100) * x / 100u;
    } else {
        values[0].dwValue = x * static_cast<std::uint32_t>(100 - balance_) / 100u;
        values[1].dwValue = x;
    }
    MIXERCONTROLDETAILS details =
        ValueDetails(volumeControl_, 2, sizeof(MIXERCONTROLDETAILS_UNSIGNED), values.data());
    mixer_.SetControlDetails(kDevice, &details, MIXER_SETCONTROLDETAILSF_VALUE);
}

void TssVolumeController::SendMute() {
    if (!haveMute_) {
        return;
    }
    MIXERCONTROLDETAILS_BOOLEAN value{mute_ ? 1 : 0};
    MIXERCONTROLDETAILS details =
        ValueDetails(muteControl_, 1, sizeof(MIXERCONTROLDETAILS_BOOLEAN), &value);
    mixer_.SetControlDetails(kDevice, &details, MIXER_SETCONTROLDETAILSF_VALUE);
}

void TssVolumeController::ReadBack() {
    if (!haveVolume_) {
        return;
    }
    std::array<MIXERCONTROLDETAILS_UNSIGNED, 2> values{};
    MIXERCONTROLDETAILS details =
        ValueDetails(volumeControl_, 2, sizeof(MIXERCONTROLDETAILS_UNSIGNED), values.data());
    // A failed read leaves the stored values as they are.
    if (mixer_.GetControlDetails(kDevice, &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
        return;
    }
    const std::int64_t left = values[0].dwValue;
    const std::int64_t right = values[1].dwValue;
    const std::int64_t larger = std::max(left, right);
    // The volume whose level is at least this one: the level that a volume sends reads back as
    // that volume, so a read followed by an assignment does not lower the volume step by step.
    volume_ = static_cast<std::int32_t>((larger * 100 + 100) / 65535);
    balance_ = volume_ == 0 ? 0 : static_cast<std::int32_t>((right - left) * 100 / larger);
}

}  // namespace velmora
