#pragma once

// Fixture base of the tests on the sound servers that scripts/test starts
// (tests/support/PulseTestServer.h), parameterised by the server: the lock that keeps them apart,
// the test sink back at full volume, a connected context and a sound output on it, and where a
// test listens, a capture of the sink's monitor.

#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/PulseTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::test {

// The rate of the test sink and of what is captured from its monitor.
inline constexpr double kSinkRate = 96000.0;

// Frames of `ms` milliseconds at the sink's rate.
inline std::size_t FramesOf(int ms) {
    return static_cast<std::size_t>(ms * kSinkRate / 1000);
}

class PulseServerTest : public ::testing::TestWithParam<SoundServer> {
protected:
    SoundServer Server() const { return GetParam(); }
    std::string Address() const { return PulseTestServer(Server()); }
    double Tolerance(double amplitude) const { return AmplitudeTolerance(Server(), amplitude); }

    // A fixture that adds to this returns early when IsSkipped() or HasFatalFailure().
    void SetUp() override {
        VELMORA_REQUIRE_PULSE_SERVER_OF(Server());
        lock_ = std::make_unique<PulseTestLock>();
        ASSERT_TRUE(ResetTestSink(Server()));
        pulse_ = std::make_unique<PulseContext>(Address());
        ASSERT_TRUE(pulse_->Connect())
            << "the test sound server " << Address() << " is not reachable";
        sound_ = std::make_unique<PulseSoundOutput>(*pulse_);
    }

    void StartCapture() {
        capture_ = std::make_unique<PulseCapture>(*pulse_);
        ASSERT_TRUE(capture_->Start());
    }

    // What the sink's monitor receives during `ms` milliseconds, after the sound has had time
    // to reach it. The server must not have run out of the sound's frames meanwhile (it reports
    // each such gap): a gap is heard.
    std::vector<std::int16_t> Listen(int ms) {
        using namespace std::chrono_literals;
        EXPECT_TRUE(capture_->Record(FramesOf(60), 2s));
        const std::uint64_t underflows = sound_->Underflows();
        capture_->Clear();
        EXPECT_TRUE(capture_->Record(FramesOf(ms), 2s));
        EXPECT_EQ(sound_->Underflows(), underflows) << "gaps in the sound";
        return capture_->Samples();
    }

    std::unique_ptr<PulseTestLock> lock_;
    std::unique_ptr<PulseContext> pulse_;
    std::unique_ptr<PulseSoundOutput> sound_;
    std::unique_ptr<PulseCapture> capture_;  // after StartCapture
};

// Fixture of a test that starts a server of its own (tests/support/PulseDaemon.h) of the kind its
// parameter names; run only where scripts/test started the shared servers.
class OwnServerTest : public ::testing::TestWithParam<SoundServer> {
protected:
    void SetUp() override { VELMORA_REQUIRE_PULSE_SERVER_OF(GetParam()); }
};

}  // namespace velmora::test
