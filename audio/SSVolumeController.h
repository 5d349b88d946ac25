#pragma once

#include "framework/Component.h"
#include "platform/mixer/MixerDevice.h"

#include <cstdint>

namespace velmora {

// Speaker volume controller: the volume, left/right balance and mute of the speaker destination
// line of mixer device 0. Volume 0..100 and balance -100..100 are sent together as the two
// channel levels of the line's volume control and read back from it; negative balance
// attenuates the right channel, positive the left.
//
// The mixer is borrowed and must outlive the component. Construction opens device 0, finds the
// speaker line's volume and mute controls and unmutes the speakers; destruction leaves the
// speakers as they are and closes the handle.
//
// Without a device, a speaker line or its controls, the setters only store their values and the
// reads return what is stored. While neither control has been found, they are looked for again
// at the next assignment or read, so a sound server that starts later is still found (the stored
// mute is then sent first).
class TssVolumeController : public TComponent {
public:
    // Records fetched at once with all controls of the speaker line. A line with more controls
    // has its volume and mute controls fetched by type instead.
    static constexpr int kControlSlots = 31;

    TssVolumeController(TComponent* owner, MixerDevice& mixer);
    ~TssVolumeController() override;

    bool Mute() const { return mute_; }
    void SetMute(bool value);
    // Read back from the device; refreshes both Volume and Balance.
    std::int32_t Volume();
    void SetVolume(std::int32_t value);
    std::int32_t Balance();
    void SetBalance(std::int32_t value);

    // Whether the speaker line's volume and mute controls were found.
    bool HasVolumeControl() const { return haveVolume_; }
    bool HasMuteControl() const { return haveMute_; }

private:
    void FindControls();
    // Looks for the controls again when none was found; true when the mute control was found.
    bool FindMissingControls();
    void SendVolume();
    void SendMute();
    void ReadBack();

    MixerDevice& mixer_;
    HMIXER handle_ = 0;
    bool open_ = false;
    MIXERCONTROL muteControl_{};
    MIXERCONTROL volumeControl_{};
    bool haveVolume_ = false;
    bool haveMute_ = false;
    bool mute_ = false;
    std::int32_t volume_ = 0;
    std::int32_t balance_ = 0;
};

}  // namespace velmora
