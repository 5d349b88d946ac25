#pragma once

#include <QApplication>

#include <gtest/gtest.h>

namespace velmora {

// Fixture base for tests that draw text or make widgets: a QApplication lives for the suite
// (and only for it, so tests that need no application never see one). `Base` is the test class
// it stands on (a parameterised one, say).
template <typename Base = ::testing::Test>
class GuiTestOf : public Base {
protected:
    static void SetUpTestSuite() {
        if (QApplication::instance() == nullptr) {
            app_ = new QApplication(argc_, argv_);
        }
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

private:
    inline static QApplication* app_ = nullptr;
    inline static int argc_ = 1;
    inline static char arg0_[] = "velmora-test";
    inline static char* argv_[] = {arg0_, nullptr};
};

using GuiTest = GuiTestOf<>;

}  // namespace velmora
