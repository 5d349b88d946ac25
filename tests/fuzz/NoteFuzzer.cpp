// Note names: any text with any current octave gives 0 and leaves the octave, or a frequency
// of 20..20000 Hz that is the equal-tempered note of a note number 0..121, with the octave
// written back in 0..9.
#include "FuzzSupport.h"

#include "audio/ToneGen.h"

#include <cmath>

using namespace velmora;

namespace {

// Whole hertz of every note number, worked out independently of the parser.
bool IsNoteFrequency(std::int32_t f) {
    for (int n = 0; n <= 121; ++n) {
        if (std::int32_t(std::floor(440.0 * std::exp2((n - 48) / 12.0) + 0.5)) == f) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const auto given = in.Take<std::int32_t>();
    const QString text = in.RestAsText();
    std::int32_t octave = given;
    const std::int32_t f = TToneGen::NoteToFrequency(text, octave);
    if (f == 0) {
        FUZZ_REQUIRE(octave == given);
        return 0;
    }
    FUZZ_REQUIRE(f >= 20 && f <= 20000);
    FUZZ_REQUIRE(IsNoteFrequency(f));
    // The text as the parser sees it: blanks and control characters off both ends.
    qsizetype first = 0;
    while (first < text.size() && text[first].unicode() <= u' ') {
        ++first;
    }
    const QString s = text.mid(first).toUpper();
    if (!s.startsWith(QLatin1Char('N'))) {
        FUZZ_REQUIRE(octave >= 0 && octave <= 9);
    } else {
        FUZZ_REQUIRE(octave == given);  // a note number has no octave
    }
    // The same text gives the same note again from the octave written back, unless it moves
    // the octave relative to the one given.
    if (!s.contains(QLatin1Char('<')) && !s.contains(QLatin1Char('>')) &&
        !s.contains(QLatin1Char('-'))) {
        std::int32_t again = octave;
        FUZZ_REQUIRE(TToneGen::NoteToFrequency(text, again) == f && again == octave);
    }
    return 0;
}
