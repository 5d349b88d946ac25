#pragma once

#include "audio/ToneSynthesis.h"
#include "framework/Component.h"
#include "platform/sound/SoundOutput.h"

#include <QString>

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace velmora {

// Index into the AM level table (entries 0..7).
enum TTGAMLevel : std::uint8_t {
    tgAMLevel1 = 0,
    tgAMLevel2 = 1,
    tgAMLevel3 = 2,
    tgAMLevel4 = 3,
    tgAMLevel5 = 4,
    tgAMLevel6 = 5,
    tgAMLevel7 = 6,
    tgAMLevel8 = 7,
};

// A 32-bit boolean: 0 is false, any other value true; true is stored as -1.
class LongBool {
public:
    constexpr LongBool(bool value = false) : raw_(value ? -1 : 0) {}
    static constexpr LongBool FromRaw(std::int32_t raw) {
        LongBool b;
        b.raw_ = raw;
        return b;
    }
    constexpr operator bool() const { return raw_ != 0; }
    constexpr std::int32_t Raw() const { return raw_; }

private:
    std::int32_t raw_;
};
static_assert(sizeof(LongBool) == 4);

// One entry of the AM level table: a partial added to the carrier.
struct TAMEntry {
    std::int16_t amplitude = 0;  // percent of full scale
    TTGWave waveform = tgSine;
    float frequency = 0.5f;  // multiplier of Frequency, or hertz (AMUseMultiplier)
    std::int32_t noteOctave = 4;
};

// Tone generator: renders a carrier plus up to eight partials as PCM samples into one in-memory
// wave image (44-byte RIFF/WAVE header, samples, 32 bytes of slack) and plays it through the
// sound output, once, asynchronously or in a loop. The ear is chosen through the per-channel
// wave-out volume, not in the samples.
//
// The samples come from the renderer of ToneSynthesis.h, which knows nothing of playback; this
// component keeps the properties, the image and the playback. The sound output is borrowed and
// must outlive the component. The image is owned here; the component always stops playback
// before it changes or releases the image.
class TToneGen : public TComponent {
public:
    static constexpr int kHeaderSize = kWaveHeaderSize;
    static constexpr int kSlackSize = kWaveSlackSize;
    static constexpr int kAMEntries = 8;
    static constexpr int kAMArrayDataSize = 4 + 12 * kAMEntries;
    static constexpr const char* kAMArrayDataName = "AMArrayData";

    TToneGen(TComponent* owner, SoundOutput& sound);
    // A generator that renders and exports but has no sound output: playing and the wave-out
    // volume do nothing, and it takes no part in saving the device's volume.
    explicit TToneGen(TComponent* owner);
    ~TToneGen() override;

    // Published properties.
    std::int16_t Frequency() const { return frequency_; }
    void SetFrequency(std::int16_t value);
    std::int16_t Duration() const { return duration_; }
    void SetDuration(std::int16_t value);
    TTGWave Waveform() const { return waveform_; }
    void SetWaveform(TTGWave value);
    std::int16_t Attack() const { return attack_; }
    void SetAttack(std::int16_t value);
    std::int16_t Hold() const { return hold_; }
    void SetHold(std::int16_t value);
    std::int16_t Decay() const { return decay_; }
    void SetDecay(std::int16_t value);
    std::int16_t Sustain() const { return sustain_; }
    void SetSustain(std::int16_t value);
    std::int16_t Release() const { return release_; }
    void SetRelease(std::int16_t value);
    LongBool Async() const { return async_; }
    void SetAsync(LongBool value) { async_ = value; }
    LongBool Loop() const { return loop_; }
    void SetLoop(LongBool value) { loop_ = value; }
    TTGResolution Resolution() const { return resolution_; }
    void SetResolution(TTGResolution value);
    TTGQuality Quality() const { return quality_; }
    void SetQuality(TTGQuality value);
    std::int16_t LeftVolume() const { return leftVolume_; }
    void SetLeftVolume(std::int16_t value);
    std::int16_t RightVolume() const { return rightVolume_; }
    void SetRightVolume(std::int16_t value);
    LongBool Stereo() const { return stereo_; }
    void SetStereo(LongBool value);
    TTGAMLevel AMLevel() const { return amLevel_; }
    void SetAMLevel(TTGAMLevel value);
    std::int16_t AMAmplitude() const { return amAmplitude_; }
    void SetAMAmplitude(std::int16_t value);
    TTGWave AMWaveform() const { return amWaveform_; }
    void SetAMWaveform(TTGWave value);
    float AMFrequency() const { return amFrequency_; }
    void SetAMFrequency(float value);
    LongBool AMUseMultiplier() const { return amUseMultiplier_; }
    void SetAMUseMultiplier(LongBool value);

    // Published methods.
    void ResetAM();
    // Writes one table entry unchanged; a level outside 0..7 is ignored.
    void SetAMParameter(std::uint8_t level, std::int16_t amplitude, float frequency,
                        TTGWave waveform);
    void Play();
    void PlayADSR();
    void Stop();
    void Prepare();
    void PrepareADSR();
    void PresetVolume();
    // The wave image, header first, or nullptr; valid until the next rendering.
    const std::uint8_t* GetDataBuffer() const;
    // Total size of the image: 44 + data size + 32, or 0 without an image.
    std::uint32_t GetDataBufferSize() const { return static_cast<std::uint32_t>(image_.size()); }
    bool ExportFile(const std::filesystem::path& fileName) const;

    // Note names: A = 440 Hz, octaves begin at A. 0 for an invalid note.
    static std::int32_t NoteToFrequency(const QString& text, std::int32_t& octave);
    std::int32_t SetNote(const QString& text);
    float SetAMNote(std::uint8_t level, const QString& text);

    // Rendering: fills a fresh image; false when none could be had.
    bool Synthesize(bool withEnvelope);
    // Shapes the samples of the current image in place.
    void ApplyEnvelope();
    std::int16_t CheckRange(std::int16_t low, std::int16_t high, std::int16_t value) const;

    // Wave-out volume of device 0: low word left, high word right.
    void ApplyWaveVolume();
    std::uint32_t ReadWaveVolume();

    // The stored "AMArrayData" property: 100 bytes written; reading rejects the whole property
    // (returns false, changes nothing) when it announces more than eight entries or holds fewer
    // bytes than it announces.
    std::vector<std::uint8_t> WriteAMArrayData() const;
    bool ReadAMArrayData(std::span<const std::uint8_t> data);

    // Inspection.
    const TAMEntry& AMEntry(int index) const { return am_.at(static_cast<std::size_t>(index)); }
    std::int32_t NoteOctave() const { return noteOctave_; }
    bool Finished() const { return finished_; }
    bool WaveDirty() const { return waveDirty_; }
    bool EnvelopeDirty() const { return envelopeDirty_; }
    bool EnvelopeApplied() const { return envelopeApplied_; }
    static std::int32_t InstanceCount();
    static std::uint32_t SavedWaveVolume();

private:
    void StartPlayback();
    void ReleaseImage();
    // The tone the properties describe, partials resolved.
    ToneDescription Describe() const;

    TToneGen(TComponent* owner, SoundOutput* sound);

    SoundOutput* sound_;  // none: render only

    std::int16_t frequency_ = 440;
    std::int16_t duration_ = 100;
    TTGWave waveform_ = tgSine;
    std::int16_t attack_ = 10;
    std::int16_t hold_ = 5;
    std::int16_t decay_ = 20;
    std::int16_t sustain_ = 50;
    std::int16_t release_ = 30;
    LongBool async_ = true;
    LongBool loop_ = false;
    TTGResolution resolution_ = tg16Bit;
    TTGQuality quality_ = tgHiQ;
    std::int16_t leftVolume_ = 100;
    std::int16_t rightVolume_ = 100;
    LongBool stereo_ = false;
    TTGAMLevel amLevel_ = tgAMLevel1;
    std::int16_t amAmplitude_ = 0;
    TTGWave amWaveform_ = tgSine;
    float amFrequency_ = 0.5f;
    LongBool amUseMultiplier_ = true;

    std::array<TAMEntry, kAMEntries> am_{};
    std::int32_t noteOctave_ = 4;

    std::vector<std::uint8_t> image_;
    LongBool waveDirty_ = true;
    LongBool envelopeDirty_ = true;
    LongBool envelopeApplied_ = true;
    LongBool finished_ = true;
    std::uint32_t deviceId_ = 0;
};

}  // namespace velmora
