// velmora-tone --play on a real PulseAudio server: the daemon that scripts/test starts
// (tests/support/PulseTestServer.h). The program is run as it would be from a shell, and what
// reaches the null sink's monitor is captured.

#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"

#include "tests/support/PulseTestServer.h"
#include "tests/support/Spawn.h"
#include "tests/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace velmora {
namespace {

using namespace std::chrono_literals;

// Starts velmora-tone with PULSE_SERVER set to `server` (empty: a server that is not there).
pid_t StartTool(const std::string& server, std::vector<std::string> args) {
    std::vector<std::string> env{"PULSE_SERVER=" + server};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("PULSE_SERVER=", 0) != 0 && entry.rfind("VELMORA_SOUND_OUTPUT=", 0) != 0) {
            env.push_back(entry);
        }
    }
    args.insert(args.begin(), VELMORA_TONE_PATH);
    return test::Spawn(VELMORA_TONE_PATH, std::move(args), std::move(env));
}

int ExitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ToneToolPulseTest, PlayIsHeardAtTheAskedFrequencyOnTheAskedEar) {
    VELMORA_REQUIRE_PULSE_SERVER();
    test::PulseTestLock lock;
    ASSERT_TRUE(test::ResetTestSink());
    PulseContext pulse(test::PulseTestServer());
    PulseCapture capture(pulse);
    ASSERT_TRUE(capture.Start()) << "the test sound server is not reachable";

    const pid_t tool = StartTool(test::PulseTestServer(),
                                 {"--play", "--frequency", "2000", "--stereo", "--loop",
                                  "--duration", "10", "--left-volume", "0", "--seconds", "2"});
    ASSERT_GT(tool, 0);
    // Wait for the tone, let it settle, then listen. A gap that a busy machine left in the
    // stream (the tool's own underflows are not visible from here) shows as a jump in the sine:
    // such a recording is made again.
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 40 && samples.empty(); ++i) {
        capture.Record(4800, 1s);
        if (test::Peak(test::Channel(capture.Samples(), 1)) > 10000.0) {
            capture.Record(4800, 1s);
            for (int attempt = 0; attempt < 3; ++attempt) {
                capture.Clear();
                capture.Record(19200, 1s);
                samples = capture.Samples();
                const auto right = test::Channel(samples, 1);
                if (test::LargestSineResidual(right, 2000.0, 96000.0) < 8.0) {
                    break;
                }
            }
        }
    }
    EXPECT_EQ(ExitCode(tool), 0);
    ASSERT_FALSE(samples.empty()) << "velmora-tone was not heard";
    const auto right = test::Channel(samples, 1);
    EXPECT_NEAR(test::Frequency(right, 96000.0), 2000.0, 2.0);
    EXPECT_NEAR(test::Peak(right), 32767.0, 2.0);
    EXPECT_EQ(test::Peak(test::Channel(samples, 0)), 0.0);
}

TEST(ToneToolPulseTest, PlayWithoutAServerSaysSo) {
    const pid_t tool = StartTool("unix:/nonexistent/velmora/native", {"--play", "--seconds", "0"});
    ASSERT_GT(tool, 0);
    EXPECT_EQ(ExitCode(tool), 1);
}

}  // namespace
}  // namespace velmora
