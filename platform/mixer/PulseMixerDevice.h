#pragma once

#include "platform/mixer/MixerModelDevice.h"
#include "platform/mixer/PulseMixerModel.h"

#include <QObject>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace velmora {

class PulseContext;
class PulseSoundOutput;

// The PulseAudio server seen as mixer device 0 (no server, no device).
//
// Destinations: the default sink ("speakers", always destination 0, and always whatever sink is
// the default at the time of a call), the other sinks, then the sources that are not monitors
// (recording). Sources of the speakers: first this program's own wave output, whose controls
// are the wave-out volume and the playback mute of `sound` and which is there even while nothing
// plays, then the playback streams of other programs on that sink. Sources of a recording
// destination: its ports, selected through a multiplexer control on the destination. Controls:
// volume (0..65535 per channel, linear onto the server's 0..100 %) and mute of every sink,
// source and stream. Lines with more than two channels are shown with two, left and right; a
// value for the left reaches every channel on the left side, and so on; channels in the middle
// take the larger of the two.
//
// A control addresses the object it was made for by the object's own index (the default sink's
// controls address the default sink); another program's stream is only ever changed through its
// own controls.
//
// The speakers' controls are the speaker level the program holds (the sound output's level
// keeper), put on whatever output is the default; the wave output's are the sound output's own
// level. Both are there with or without a server: while it is away they take their values, which
// a server that comes back gets before any sound, and read what is held.
//
// Lifecycle: `pulse` and `sound` (which must use the same `pulse`) outlive this object. Created
// and used on the user interface thread, which must run a Qt event loop for the notifications:
// the server's change events are compared with what was seen before and become line-change and
// control-change notifications, delivered on that thread. The tree is read from the server
// when it is asked for after a change.
class PulseMixerDevice final : public MixerModelDevice {
public:
    PulseMixerDevice(PulseContext& pulse, PulseSoundOutput& sound);
    ~PulseMixerDevice() override;

    PulseMixerDevice(const PulseMixerDevice&) = delete;
    PulseMixerDevice& operator=(const PulseMixerDevice&) = delete;

    MMRESULT Open(HMIXER* mixer, std::uint32_t deviceId, MixerCallback callback,
                  std::uint32_t instance, std::uint32_t flags) override;
    void SetLevelRestoredHandler(LevelRestoredHandler handler) override;
    void SetLevelHeldHandler(LevelHeldHandler handler) override;
    OutputIdentity SpeakerOutput() override;

protected:
    std::uint32_t DeviceCount() override;
    bool DeviceKnown(std::uint32_t deviceId) override;
    const MixerModel* Model(std::uint32_t deviceId) override;
    MMRESULT ReadValues(std::uint32_t deviceId, const MixerModel::Line& line,
                        const MixerModel::Control& control,
                        std::span<std::uint32_t> values) override;
    MMRESULT WriteValues(std::uint32_t deviceId, const MixerModel::Line& line,
                         const MixerModel::Control& control,
                         std::span<const std::uint32_t> values) override;

private:
    using Snapshot = pulsemixer::Snapshot;
    using Seen = pulsemixer::Seen;

    std::unique_ptr<Snapshot> ReadSnapshot();
    // The levels of the sound output's own playback.
    pulsemixer::HeldLevels Held();
    // The tree of the lines the program holds without a server: the speakers and the wave output.
    MixerModel HeldModel();
    void ProcessChanges();
    // One sink (the default sink, or the one of `index`), source or stream read from the server
    // into `one`; false when the server does not have it.
    bool ReadSink(bool byDefault, std::uint32_t index, Snapshot& one);
    bool ReadSource(std::uint32_t index, Snapshot& one);
    bool ReadStream(std::uint32_t index, Snapshot& one);
    MMRESULT WriteSinkVolume(bool byDefault, std::uint32_t index,
                             std::span<const std::uint32_t> values);

    struct Callbacks;  // the library's callbacks

    PulseContext& pulse_;
    PulseSoundOutput& sound_;
    std::unique_ptr<QObject> receiver_;  // lives on the user interface thread
    int readyHandler_ = 0;
    std::atomic<bool> changePosted_{false};
    std::atomic<bool> modelStale_{true};
    std::optional<MixerModel> model_;
    std::optional<Seen> seen_;
    int changeHandler_ = 0;
};

}  // namespace velmora
