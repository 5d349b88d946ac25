#include "audio/ToneGen.h"

#include "framework/MessageBox.h"
#include "framework/Random.h"

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

void PutU16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
    PutU16(p, v & 0xFFFFu);
    PutU16(p + 2, v >> 16);
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::array<std::uint8_t, TToneGen::kHeaderSize> BuildWaveHeader(int channels, int bits, int rate,
                                                                std::uint32_t dataSize) {
    std::array<std::uint8_t, TToneGen::kHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutU32(&h[4], dataSize + 36);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    PutU32(&h[16], 16);
    PutU16(&h[20], 1);
    PutU16(&h[22], static_cast<std::uint32_t>(channels));
    PutU32(&h[24], static_cast<std::uint32_t>(rate));
    PutU32(&h[28], static_cast<std::uint32_t>(channels * rate * (bits / 8)));
    PutU16(&h[32], static_cast<std::uint32_t>(bits / 8 * channels));
    PutU16(&h[34], static_cast<std::uint32_t>(bits));
    std::memcpy(&h[36], "data", 4);
    PutU32(&h[40], dataSize);
    return h;
}

std::int64_t Trunc(double v) {
    return static_cast<std::int64_t>(v);
}

// Truncates a frequency value to a 16-bit count of hertz; values beyond the 16-bit range stay at
// its ends instead of wrapping, NaN gives 0.
std::int16_t TruncToInt16(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<std::int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0));
}

// Adds one component to every frame of the data, starting at its first byte, while the byte
// position is below the data size (so the last frame may run into the slack). next() yields the
// value to add: for 16-bit Trunc(v), for 8-bit Trunc(v + 128) - 128.
template <bool k16Bit, bool kStereo, class Next>
void AddFrames(std::uint8_t* data, std::uint32_t dataSize, Next next) {
    constexpr std::uint32_t kFrame = (k16Bit ? 2 : 1) * (kStereo ? 2 : 1);
    for (std::uint32_t pos = 0; pos < dataSize; pos += kFrame) {
        const std::int32_t add = next();
        std::uint8_t* p = data + pos;
        if constexpr (k16Bit) {
            const auto s = static_cast<std::uint16_t>((p[0] | p[1] << 8) + add);
            p[0] = static_cast<std::uint8_t>(s);
            p[1] = static_cast<std::uint8_t>(s >> 8);
            if constexpr (kStereo) {
                p[2] = p[0];
                p[3] = p[1];
            }
        } else {
            p[0] = static_cast<std::uint8_t>(p[0] + add);
            if constexpr (kStereo) {
                p[1] = p[0];
            }
        }
    }
}

template <class Next>
void AddFrames(bool is16Bit, bool stereo, std::uint8_t* data, std::uint32_t dataSize, Next next) {
    if (is16Bit) {
        stereo ? AddFrames<true, true>(data, dataSize, next)
               : AddFrames<true, false>(data, dataSize, next);
    } else {
        stereo ? AddFrames<false, true>(data, dataSize, next)
               : AddFrames<false, false>(data, dataSize, next);
    }
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

TToneGen::TToneGen(TComponent* owner, SoundOutput& sound) : TComponent(owner), sound_(sound) {
    ResetAM();
    const TAMEntry& selected = am_[amLevel_];
    amFrequency_ = selected.frequency;
    amWaveform_ = selected.waveform;
    amAmplitude_ = selected.amplitude;
    for (TAMEntry& e : am_) {
        e.noteOctave = 4;
    }
    deviceId_ = 0;
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
    --instanceCount;
    if (instanceCount == 0 && !IsDesigning() && waveVolumeSaved) {
        sound_.SetVolume(deviceId_, savedWaveVolume);
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

std::uint32_t TToneGen::DataSize() const {
    const std::int64_t samplesPer10ms = Rate() / 100;
    std::int64_t size =
        BytesPerSample() * static_cast<std::int64_t>(duration_) * samplesPer10ms / 10;
    if (stereo_) {
        size *= 2;
    }
    return static_cast<std::uint32_t>(std::max<std::int64_t>(size, 0));
}

void TToneGen::ReleaseImage() {
    std::vector<std::uint8_t>().swap(image_);
}

bool TToneGen::Synthesize(bool withEnvelope) {
    const std::uint32_t savedSeed = RandSeed();
    SetRandSeed(1);

    const std::uint32_t dataSize = DataSize();
    const int bits = BytesPerSample() * 8;
    const auto header = BuildWaveHeader(Channels(), bits, Rate(), dataSize);

    // The sound player may still be reading the old block.
    Stop();
    ReleaseImage();

    const std::uint8_t silence = resolution_ == tg16Bit ? 0 : 128;
    if (dataSize == 0) {
        SetRandSeed(savedSeed);
        return false;
    }
    try {
        image_.assign(std::size_t{kHeaderSize} + dataSize + kSlackSize, silence);
    } catch (const std::bad_alloc&) {
        ReleaseImage();
        SetRandSeed(savedSeed);
        return false;
    }
    std::memcpy(image_.data(), header.data(), header.size());

    std::int32_t sum = 0;
    for (const TAMEntry& e : am_) {
        sum += e.amplitude;
    }
    RenderComponent(100 - sum, frequency_, waveform_);
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
        RenderComponent(a, f, e.waveform);
    }

    envelopeDirty_ = true;
    waveDirty_ = false;
    envelopeApplied_ = false;
    if (withEnvelope) {
        ApplyEnvelope();
    }
    SetRandSeed(savedSeed);
    return true;
}

void TToneGen::RenderComponent(int amplitude, int frequency, TTGWave waveform) {
    if (amplitude <= 0 || frequency <= 0) {
        return;
    }
    const bool is16 = resolution_ == tg16Bit;
    const std::int64_t a = amplitude;
    double span = is16 ? static_cast<double>(a * 65534) / 100 : static_cast<double>(a * 254) / 100;
    const double low =
        is16 ? -static_cast<double>(a * 32767) / 100 : -static_cast<double>(a * 127) / 100;
    const double p = static_cast<double>(Rate()) / frequency;
    std::int64_t length = Trunc(p);  // at least 1: frequency <= 32767 < rate
    const std::int64_t half = Trunc(p + 0.5) / 2;

    auto toAdd = [is16](double v) -> std::int32_t {
        return static_cast<std::int32_t>(is16 ? Trunc(v) : Trunc(v + 128) - 128);
    };

    std::uint8_t* data = image_.data() + kHeaderSize;
    const std::uint32_t dataSize =
        static_cast<std::uint32_t>(image_.size()) - kHeaderSize - kSlackSize;

    if (waveform > tgSawtooth) {
        const auto range = static_cast<std::uint32_t>(Trunc(span + 1));
        AddFrames(is16, stereo_, data, dataSize,
                  [&] { return toAdd(static_cast<double>(Random(range)) + low); });
        return;
    }

    // The other waveforms restart at phase 0 with every period, so the value added depends only
    // on the position k within the period: compute it once per k.
    const double angleStep = 2 * std::numbers::pi / static_cast<double>(length);
    if (waveform == tgSquare) {
        span = span / 2;
    }
    double rampStep = 0;
    if (waveform == tgTriangle) {
        rampStep = half > 0 ? span / static_cast<double>(half) : 0;
    } else if (waveform == tgSawtooth) {
        rampStep = span / static_cast<double>(length);
    }
    std::vector<std::int32_t> table;
    auto fillTable = [&](std::int64_t size) {
        table.resize(static_cast<std::size_t>(size));
        double r = low;
        for (std::int64_t k = 0; k < size; ++k) {
            double v;
            switch (waveform) {
                case tgSine:
                    v = static_cast<double>(
                        Trunc(std::sin(static_cast<double>(k) * angleStep) / 2 * span));
                    break;
                case tgSquare:
                    v = k < half ? low : span;
                    break;
                case tgTriangle:
                    v = static_cast<double>(Trunc(r));
                    r = k < half ? r + rampStep : r - rampStep;
                    if (r < low) {
                        r = low;
                    }
                    break;
                default:  // sawtooth
                    v = static_cast<double>(Trunc(r));
                    r = r + rampStep;
                    break;
            }
            table[static_cast<std::size_t>(k)] = toAdd(v);
        }
    };
    // Periods are Trunc(p) or Trunc(p) + 1 samples long.
    fillTable(length + 1);

    std::int64_t k = 0;
    std::int64_t n = 1;
    AddFrames(is16, stereo_, data, dataSize, [&] {
        const std::int32_t add = table[static_cast<std::size_t>(k)];
        if (++k == length) {
            k = 0;
            ++n;
            length = Trunc(static_cast<double>(n) * p - std::trunc(static_cast<double>(n - 1) * p));
            if (length > static_cast<std::int64_t>(table.size())) {
                fillTable(length);
            }
        }
        return add;
    });
}

void TToneGen::ApplyEnvelope() {
    if (image_.empty()) {
        return;
    }
    // The format of the image, which the properties may have left since it was rendered.
    const bool is16 = image_[34] == 16;
    const bool stereo = image_[22] == 2;
    const std::int64_t bytesPerSample = is16 ? 2 : 1;
    const std::int64_t frameBytes = bytesPerSample * (stereo ? 2 : 1);
    const std::int64_t dataSize =
        static_cast<std::int64_t>(image_.size()) - kHeaderSize - kSlackSize;
    const std::int64_t frames = dataSize / frameBytes;
    std::uint8_t* data = image_.data() + kHeaderSize;

    std::int32_t attack = attack_, hold = hold_, decay = decay_, release = release_;
    const std::int32_t total = attack + hold + decay + release;
    if (total > 100) {
        attack = attack * 100 / total;
        hold = hold * 100 / total;
        decay = decay * 100 / total;
        release = 100 - attack - hold - decay;
    }
    const std::int32_t sustainShare = 100 - (attack + hold + decay + release);
    const double s = static_cast<double>(sustain_) / 100;

    auto phaseFrames = [&](std::int32_t share) {
        return static_cast<std::int64_t>(share) * dataSize / (frameBytes * 100);
    };
    std::int64_t pos = 0;
    // Runs frames pos..pos+n (none past the last frame) through shape(k, x), then moves on.
    auto phase = [&](std::int64_t n, auto shape) {
        for (std::int64_t k = 0; k <= n && pos + k < frames; ++k) {
            std::uint8_t* p = data + (pos + k) * frameBytes;
            std::int64_t x;
            if (is16) {
                x = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
            } else {
                x = static_cast<std::int64_t>(p[0]) - 128;
            }
            const std::int64_t y = shape(k, x);
            if (is16) {
                p[0] = static_cast<std::uint8_t>(y);
                p[1] = static_cast<std::uint8_t>(y >> 8);
            } else {
                p[0] = static_cast<std::uint8_t>(y + 128);
            }
            if (stereo) {
                std::memcpy(p + bytesPerSample, p, static_cast<std::size_t>(bytesPerSample));
            }
        }
        pos += n + 1;
    };

    if (const std::int64_t n = phaseFrames(attack); n != 0) {
        const double g = 1.0 / static_cast<double>(n);
        phase(n, [g](std::int64_t k, std::int64_t x) {
            return Trunc(static_cast<double>(k * x) * g);
        });
    }
    if (const std::int64_t n = phaseFrames(hold); n != 0) {
        pos += n + 1;  // unchanged
    }
    if (const std::int64_t n = phaseFrames(decay); n != 0) {
        const double g = static_cast<double>(100 - sustain_) / static_cast<double>(n) / 100;
        phase(n, [g](std::int64_t k, std::int64_t x) {
            return x - Trunc(static_cast<double>(k * x) * g);
        });
    }
    if (sustainShare != 0) {
        const std::int64_t n =
            release != 0 ? phaseFrames(sustainShare) : std::max<std::int64_t>(frames - pos, 0);
        phase(n, [s](std::int64_t, std::int64_t x) { return Trunc(static_cast<double>(x) * s); });
    }
    if (release != 0) {
        if (const std::int64_t n = frames - pos; n > 0) {
            const double g = s / static_cast<double>(n);
            phase(n, [g, n](std::int64_t k, std::int64_t x) {
                return Trunc(static_cast<double>((n - k) * x) * g);
            });
        }
    }

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
    sound_.PlaySound({}, 0);
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
    if (!image_.empty()) {
        sound_.PlaySound(image_, flags);
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
    sound_.SetVolume(deviceId_, left | right << 16);
}

std::uint32_t TToneGen::ReadWaveVolume() {
    WaveOutCaps caps;
    sound_.GetDevCaps(deviceId_, &caps);
    std::uint32_t volume = 0;
    sound_.GetVolume(deviceId_, &volume);
    if ((caps.dwSupport & WAVECAPS_LRVOLUME) == 0) {
        volume = (volume & 0xFFFFu) | (volume & 0xFFFFu) << 16;  // one level for both channels
    }
    return volume;
}

// ---- Stored table ----

std::vector<std::uint8_t> TToneGen::WriteAMArrayData() const {
    std::vector<std::uint8_t> out(kAMArrayDataSize);
    PutU32(&out[0], static_cast<std::uint32_t>(kAMEntries - 1));
    for (int i = 0; i < kAMEntries; ++i) {
        const TAMEntry& e = am_[static_cast<std::size_t>(i)];
        std::uint8_t* p = &out[static_cast<std::size_t>(4 + 12 * i)];
        PutU32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(e.amplitude)));
        PutU32(p + 4, e.waveform);
        PutU32(p + 8, std::bit_cast<std::uint32_t>(e.frequency));
    }
    return out;
}

bool TToneGen::ReadAMArrayData(std::span<const std::uint8_t> data) {
    if (data.size() < 4) {
        return false;
    }
    const auto highest = static_cast<std::int32_t>(GetU32(data.data()));
    if (highest < 0) {
        return true;  // an empty table: nothing to read
    }
    if (highest >= kAMEntries || data.size() < 4 + 12 * static_cast<std::size_t>(highest + 1)) {
        return false;
    }
    for (std::int32_t i = 0; i <= highest; ++i) {
        const std::uint8_t* p = data.data() + 4 + 12 * i;
        TAMEntry& e = am_[static_cast<std::size_t>(i)];
        e.amplitude = static_cast<std::int16_t>(GetU32(p) & 0xFFFFu);
        e.waveform = static_cast<TTGWave>(GetU32(p + 4) & 0xFFu);
        e.frequency = std::bit_cast<float>(GetU32(p + 8));
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

    std::int32_t oct = octave;
    std::int32_t n = -1;
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
                oct = at(i) == u'<' ? std::max(oct - 1, 0) : std::min(oct + 1, 9);
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
    if (n < 0) {
        return 0;
    }
    const auto f = static_cast<std::int32_t>(
        Trunc(440 * std::pow(2.0, static_cast<double>(n - 48) / 12) + 0.5));
    if (f < 20 || f > 20000) {
        return 0;
    }
    octave = oct;
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
