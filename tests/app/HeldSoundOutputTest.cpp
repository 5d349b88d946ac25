#include "app/HeldSoundOutput.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velmora {
namespace {

using Kind = SimulatedSoundOutput::CallKind;
using Image = std::vector<std::uint8_t>;

const Image kFirst{1, 2, 3, 4};
const Image kSecond{5, 6, 7, 8};
constexpr std::uint32_t kLoop = SND_MEMORY | SND_ASYNC | SND_LOOP;
constexpr std::uint32_t kToItsEnd = SND_MEMORY;

// What reaches the output from a series of sounds (an empty image stops), given while held or
// not: at once, and on release (twice, which plays nothing more).
TEST(HeldSoundOutput, PlaysAtOnceUnlessHeldAndThenOnlyTheLastOnRelease) {
    struct Call {
        Image image;
        std::uint32_t flags;
    };
    const struct {
        const char* name;
        bool held;
        std::vector<Call> calls;
        std::vector<Image> atOnce;
        std::vector<Image> onRelease;
        bool playingAfter;
    } cases[] = {
        {"not held", false, {{kFirst, kLoop}}, {kFirst}, {}, true},
        {"held: the last loop",
         true,
         {{kFirst, kLoop}, {{}, 0}, {kSecond, kLoop}},
         {},
         {kSecond},
         true},
        {"held: a stop noted last", true, {{kSecond, kLoop}, {{}, 0}}, {}, {{}}, false},
        {"held: a sound played to its end passes and replaces what was noted",
         true,
         {{kFirst, kLoop}, {kSecond, kToItsEnd}},
         {kSecond},
         {},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedSoundOutput output;
        HeldSoundOutput held(output);
        output.ClearCalls();
        if (c.held) {
            held.Hold();
        }
        for (const Call& call : c.calls) {
            EXPECT_TRUE(held.PlaySound(call.image, call.flags));
        }
        // The volume is never held: a sound released later starts with it.
        EXPECT_EQ(held.SetVolume(0, 0x00010001u), MMSYSERR_NOERROR);
        EXPECT_EQ(output.DeviceVolume(), 0x00010001u);
        auto plays = [&output] {
            std::vector<Image> images;
            for (const auto& play : output.CallsOf(Kind::PlaySound)) {
                images.push_back(play.image);
            }
            return images;
        };
        EXPECT_EQ(plays(), c.atOnce);
        held.Release();
        held.Release();
        std::vector<Image> expected = c.atOnce;
        expected.insert(expected.end(), c.onRelease.begin(), c.onRelease.end());
        EXPECT_EQ(plays(), expected);
        EXPECT_EQ(output.IsPlaying(), c.playingAfter);
        if (!c.onRelease.empty() && !c.onRelease.back().empty()) {
            EXPECT_EQ(output.CallsOf(Kind::PlaySound).back().flags, kLoop);
            EXPECT_TRUE(output.IsLooping());
        }
    }
}

}  // namespace
}  // namespace velmora
