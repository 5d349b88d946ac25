#include "audio/ToneGen.h"

#include "framework/MessageBox.h"

#include <QtEndian>
#include <algorithm>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <new>
#include <numbers>

namespace velmora {
namespace {

// Shared by every instance: how many exist, and the device volume found by the first one.
std::int32_t instanceCount = 0;
std::uint32_t savedWaveVolume = 0;
bool waveVolumeSaved = false;

// Truncates a frequency value to a 16-bit count of hertz; values beyond the 16-bit range stay at
// its ends instead of wrapping, NaN gives 0.
std::int16_t TruncToInt16(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<std::int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0));
}

// A decimal number with an optional sign; -1 when the text is not one (or does not fit).
std::int32_t ParseDecimal(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) {
        return -1;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
        if (value > 0x7FFFFFFF) {
            return -1;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

constexpr int kSemitone[7] = {0, 2, 3, 5, 7, 8, 10};  // A to G; octaves begin at A

}  // namespace

TToneGen::TToneGen(TComponent* owner, SoundOutput& sound) : TToneGen(owner, &sound) {}

TToneGen::TToneGen(TComponent* owner) : TToneGen(owner, nullptr) {}

TToneGen::TToneGen(TComponent* owner, SoundOutput* sound) : TComponent(owner), sound_(sound) {
    ResetAM();
    const TAMEntry& selected = am_[amLevel_];
    amFrequency_ = selected.frequency;
    amWaveform_ = selected.waveform;
    amAmplitude_ = selected.amplitude;
    for (TAMEntry& e : am_) {
        e.noteOctave = 4;
    }
    deviceId_ = 0;
    if (!sound_) {
        return;  // renders only: no device to save or set
    }
    if (instanceCount == 0 && !IsDesigning()) {
        savedWaveVolume = ReadWaveVolume();
        waveVolumeSaved = true;
        ApplyWaveVolume();  // both channels to full scale while the program runs
    }
    ++instanceCount;
}

TToneGen::~TToneGen() {
    Stop();
    ReleaseImage();
    if (!sound_) {
        return;
    }
    --instanceCount;
    if (instanceCount == 0 && !IsDesigning() && waveVolumeSaved) {
        sound_->SetVolume(deviceId_, savedWaveVolume);
        waveVolumeSaved = false;
    }
}

std::int32_t TToneGen::InstanceCount() {
    return instanceCount;
}

std::uint32_t TToneGen::SavedWaveVolume() {
    return savedWaveVolume;
}

// ---- Properties ----

std::int16_t TToneGen::CheckRange(std::int16_t low, std::int16_t high, std::int16_t value) const {
    if (low <= value && value <= high) {
        return value;
    }
    if (IsDesigning()) {
        MessageBox(QStringLiteral("Value must be between %1 and %2").arg(low).arg(high),
                   QStringLiteral("Error"), MB_OK | MB_ICONERROR);
    }
    return value > high ? high : low;
}

void TToneGen::SetFrequency(std::int16_t value) {
    frequency_ = CheckRange(20, 20000, value);
    waveDirty_ = true;
}

void TToneGen::SetDuration(std::int16_t value) {
    duration_ = CheckRange(10, 32767, value);
    waveDirty_ = true;
}

void TToneGen::SetWaveform(TTGWave value) {
    waveform_ = value;
    waveDirty_ = true;
}

void TToneGen::SetAttack(std::int16_t value) {
    attack_ = CheckRange(0, 100, value);
    envelopeDirty_ = true;
}

void TToneGen::SetHold(std::int16_t value) {
    hold_ = CheckRange(0, 100, value);
    envelopeDirty_ = true;
}

void TToneGen::SetDecay(std::int16_t value) {
    decay_ = CheckRange(0, 100, value);
    envelopeDirty_ = true;
}

void TToneGen::SetSustain(std::int16_t value) {
    sustain_ = CheckRange(0, 100, value);
    envelopeDirty_ = true;
}

void TToneGen::SetRelease(std::int16_t value) {
    release_ = CheckRange(0, 100, value);
    envelopeDirty_ = true;
}

void TToneGen::SetResolution(TTGResolution value) {
    resolution_ = value;
    waveDirty_ = true;
}

void TToneGen::SetQuality(TTGQuality value) {
    quality_ = value;
    waveDirty_ = true;
}

// During a playback the new level waits for the next playback, preparation or preset.
void TToneGen::SetLeftVolume(std::int16_t value) {
    leftVolume_ = CheckRange(0, 100, value);
    if (IsLoading() || finished_) {
        ApplyWaveVolume();
    }
}

void TToneGen::SetRightVolume(std::int16_t value) {
    rightVolume_ = CheckRange(0, 100, value);
    if (IsLoading() || finished_) {
        ApplyWaveVolume();
    }
}

void TToneGen::SetStereo(LongBool value) {
    stereo_ = value;
    waveDirty_ = true;
}

void TToneGen::SetAMLevel(TTGAMLevel value) {
    if (value >= kAMEntries) {
        return;
    }
    amLevel_ = value;
    const TAMEntry entry = am_[amLevel_];
    SetAMAmplitude(entry.amplitude);
    SetAMWaveform(entry.waveform);
    SetAMFrequency(entry.frequency);
}

void TToneGen::SetAMAmplitude(std::int16_t value) {
    amAmplitude_ = CheckRange(0, 100, value);
    am_[amLevel_].amplitude = amAmplitude_;
    waveDirty_ = true;
}

void TToneGen::SetAMWaveform(TTGWave value) {
    amWaveform_ = value;
    am_[amLevel_].waveform = value;
    waveDirty_ = true;
}

void TToneGen::SetAMFrequency(float value) {
    amFrequency_ = value;
    am_[amLevel_].frequency = value;
    waveDirty_ = true;
}

void TToneGen::SetAMUseMultiplier(LongBool value) {
    amUseMultiplier_ = value;
    waveDirty_ = true;
}

void TToneGen::ResetAM() {
    for (std::size_t i = 0; i < am_.size(); ++i) {
        am_[i].amplitude = 0;
        am_[i].waveform = tgSine;
        am_[i].frequency = static_cast<float>(static_cast<double>(i + 1) / 2);
    }
    waveDirty_ = true;
}

void TToneGen::SetAMParameter(std::uint8_t level, std::int16_t amplitude, float frequency,
                              TTGWave waveform) {
    if (level >= kAMEntries) {
        return;
    }
    am_[level].amplitude = amplitude;
    am_[level].frequency = frequency;
    am_[level].waveform = waveform;
    waveDirty_ = true;
}

// ---- Rendering ----

void TToneGen::ReleaseImage() {
    std::vector<std::uint8_t>().swap(image_);
}

ToneDescription TToneGen::Describe() const {
    ToneDescription tone;
    tone.duration = duration_;
    tone.resolution = resolution_;
    tone.quality = quality_;
    tone.stereo = stereo_;
    std::int32_t sum = 0;
    for (const TAMEntry& e : am_) {
        sum += e.amplitude;
    }
    tone.components.push_back({100 - sum, frequency_, waveform_});
    for (const TAMEntry& e : am_) {
        std::int32_t a = e.amplitude;
        if (sum > 100) {
            a = a * 100 / sum;
        }
        std::int16_t f;
        if (amUseMultiplier_) {
            f = CheckRange(
                20, 20000,
                TruncToInt16(static_cast<double>(frequency_) * static_cast<double>(e.frequency)));
        } else {
            f = TruncToInt16(static_cast<double>(e.frequency));
        }
        tone.components.push_back({a, f, e.waveform});
    }
    return tone;
}

bool TToneGen::Synthesize(bool withEnvelope) {
    // The sound player may still be reading the old block.
    Stop();
    ReleaseImage();
    image_ = RenderWaveImage(Describe());
    if (image_.empty()) {
        return false;
    }
    envelopeDirty_ = true;
    waveDirty_ = false;
    envelopeApplied_ = false;
    if (withEnvelope) {
        ApplyEnvelope();
    }
    return true;
}

void TToneGen::ApplyEnvelope() {
    if (image_.empty()) {
        return;
    }
    velmora::ApplyEnvelope(image_, {attack_, hold_, decay_, sustain_, release_});
    envelopeDirty_ = false;
    waveDirty_ = false;
    envelopeApplied_ = true;
}

// ---- Image, playback and volume ----

const std::uint8_t* TToneGen::GetDataBuffer() const {
    return image_.empty() ? nullptr : image_.data();
}

bool TToneGen::ExportFile(const std::filesystem::path& fileName) const {
    if (image_.empty()) {
        return false;
    }
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    file.write(reinterpret_cast<const char*>(image_.data()),
               static_cast<std::streamsize>(image_.size()));
    file.close();
    return !file.fail();
}

void TToneGen::Stop() {
    if (sound_) {
        sound_->PlaySound({}, 0);
    }
    finished_ = true;
}

void TToneGen::StartPlayback() {
    Stop();
    ApplyWaveVolume();
    std::uint32_t flags = SND_MEMORY;
    if (async_) {
        flags |= SND_ASYNC;
    }
    if (loop_) {
        flags = SND_MEMORY | SND_ASYNC | SND_LOOP;  // looping is always asynchronous
    }
    if (sound_ && !image_.empty()) {
        sound_->PlaySound(image_, flags);
    }
}

void TToneGen::Play() {
    if (waveDirty_ || envelopeApplied_) {
        Synthesize(false);
    }
    finished_ = false;
    StartPlayback();
    finished_ = !(async_ || loop_);
}

void TToneGen::PlayADSR() {
    if (waveDirty_ || envelopeDirty_) {
        Synthesize(true);
    }
    finished_ = false;
    StartPlayback();
    finished_ = !(async_ || loop_);
}

void TToneGen::Prepare() {
    ApplyWaveVolume();
    Synthesize(false);
}

void TToneGen::PrepareADSR() {
    ApplyWaveVolume();
    Synthesize(true);
}

void TToneGen::PresetVolume() {
    ApplyWaveVolume();
}

void TToneGen::ApplyWaveVolume() {
    const std::uint32_t left = static_cast<std::uint32_t>(leftVolume_ * 65535 / 100) & 0xFFFFu;
    const std::uint32_t right = static_cast<std::uint32_t>(rightVolume_ * 65535 / 100) & 0xFFFFu;
    if (sound_) {
        sound_->SetVolume(deviceId_, left | right << 16);
    }
}

std::uint32_t TToneGen::ReadWaveVolume() {
    if (!sound_) {
        return 0;
    }
    WaveOutCaps caps;
    sound_->GetDevCaps(deviceId_, &caps);
    std::uint32_t volume = 0;
    sound_->GetVolume(deviceId_, &volume);
    if ((caps.dwSupport & WAVECAPS_LRVOLUME) == 0) {
        volume = (volume & 0xFFFFu) | (volume & 0xFFFFu) << 16;  // one level for both channels
    }
    return volume;
}

// ---- Stored table ----

std::vector<std::uint8_t> TToneGen::WriteAMArrayData() const {
    std::vector<std::uint8_t> out(kAMArrayDataSize);
    qToLittleEndian(static_cast<std::uint32_t>(kAMEntries - 1), &out[0]);
    for (int i = 0; i < kAMEntries; ++i) {
        const TAMEntry& e = am_[static_cast<std::size_t>(i)];
        std::uint8_t* p = &out[static_cast<std::size_t>(4 + 12 * i)];
        qToLittleEndian(static_cast<std::uint32_t>(static_cast<std::int32_t>(e.amplitude)), p);
        qToLittleEndian(static_cast<std::uint32_t>(e.waveform), p + 4);
        qToLittleEndian(std::bit_cast<std::uint32_t>(e.frequency), p + 8);
    }
    return out;
}

bool TToneGen::ReadAMArrayData(std::span<const std::uint8_t> data) {
    if (data.size() < 4) {
        return false;
    }
    const auto highest = static_cast<std::int32_t>(qFromLittleEndian<std::uint32_t>(data.data()));
    if (highest < 0) {
        return true;  // an empty table: nothing to read
    }
    if (highest >= kAMEntries || data.size() < 4 + 12 * static_cast<std::size_t>(highest + 1)) {
        return false;
    }
    for (std::int32_t i = 0; i <= highest; ++i) {
        const std::uint8_t* p = data.data() + 4 + 12 * i;
        TAMEntry& e = am_[static_cast<std::size_t>(i)];
        e.amplitude = static_cast<std::int16_t>(qFromLittleEndian<std::uint32_t>(p) & 0xFFFFu);
        e.waveform = static_cast<TTGWave>(qFromLittleEndian<std::uint32_t>(p + 4) & 0xFFu);
        e.frequency = std::bit_cast<float>(qFromLittleEndian<std::uint32_t>(p + 8));
    }
    return true;
}

// ---- Note names ----

std::int32_t TToneGen::NoteToFrequency(const QString& text, std::int32_t& octave) {
    // Trim blanks and control characters; upper case.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= ' ') {
        ++first;
    }
    while (last > first && text[last - 1].unicode() <= ' ') {
        --last;
    }
    const QString s = text.mid(first, last - first).toUpper();

    // Wide enough that an octave given far outside 0..9 cannot overflow before it is refused.
    std::int64_t oct = octave;
    std::int64_t n = -1;
    qsizetype i = 0;
    auto at = [&](qsizetype j) -> char16_t { return j < s.size() ? s[j].unicode() : u'\0'; };

    if (at(0) == u'N') {
        // A note number; the octave does not apply.
        n = ParseDecimal(QStringView(s).mid(1));
        if (n > 121) {
            n = -1;
        }
        i = s.size();
    } else {
        if (at(0) == u'O') {
            const char16_t digit = at(1);
            if (digit < u'0' || digit > u'9') {
                return 0;
            }
            oct = digit - u'0';
            i = 2;
        } else {
            for (; at(i) == u'<' || at(i) == u'>'; ++i) {
                oct = at(i) == u'<' ? std::max<std::int64_t>(oct - 1, 0)
                                    : std::min<std::int64_t>(oct + 1, 9);
            }
        }
        if (const char16_t letter = at(i); letter >= u'A' && letter <= u'G') {
            n = kSemitone[letter - u'A'];
            ++i;
            if (at(i) == u'+' || at(i) == u'#') {
                ++i;
                n = (n == 2 || n == 7) ? -1 : n + 1;  // no B sharp, no E sharp
            } else if (at(i) == u'-') {
                ++i;
                if (n == 3 || n == 8) {
                    n = -1;  // no C flat, no F flat
                } else if (--n < 0) {
                    n = 11;  // A flat belongs to the octave below
                    if (--oct < 0) {
                        n = -1;
                    }
                }
            }
        }
        if (n >= 0) {
            n += oct * 12;
        }
    }
    if (i < s.size()) {
        n = -1;
    }
    // Note 121 is far above 20000 Hz already; beyond it the power would not fit a number.
    if (n < 0 || n > 121) {
        return 0;
    }
    const auto f = static_cast<std::int32_t>(
        static_cast<std::int64_t>(440 * std::pow(2.0, static_cast<double>(n - 48) / 12) + 0.5));
    if (f < 20 || f > 20000) {
        return 0;
    }
    octave = static_cast<std::int32_t>(oct);
    return f;
}

std::int32_t TToneGen::SetNote(const QString& text) {
    std::int32_t octave = noteOctave_;
    const std::int32_t f = NoteToFrequency(text, octave);
    if (f <= 0) {
        return 0;
    }
    SetFrequency(static_cast<std::int16_t>(f));
    noteOctave_ = octave;
    waveDirty_ = true;
    return f;
}

float TToneGen::SetAMNote(std::uint8_t level, const QString& text) {
    if (level >= kAMEntries) {
        return 0;
    }
    TAMEntry& entry = am_[level];
    std::int32_t octave = entry.noteOctave;
    const std::int32_t f = NoteToFrequency(text, octave);
    if (f <= 0) {
        return 0;
    }
    float value = static_cast<float>(f);
    if (amUseMultiplier_) {
        value = static_cast<float>(static_cast<double>(value) / frequency_);
    }
    entry.frequency = value;
    entry.noteOctave = octave;
    waveDirty_ = true;
    return value;
}

}  // namespace velmora
