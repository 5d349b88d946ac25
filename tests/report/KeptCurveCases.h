#pragma once

// The sequences of clicks after which a kept curve picture must still show what was measured:
// a change of ear or a reset starts a new, empty curve of the ear, which never takes the kept
// picture's place. Run through each report path.

#include "app/Unit1.h"

#include "controls/ExTrackBar.h"
#include "framework/RadioButton.h"

#include <gtest/gtest.h>

#include <QImage>

#include <functional>
#include <vector>

namespace velmora::test {

struct KeptCurveCase {
    const char* name;
    bool left;  // the ear kept: "Links", else "Beide"
    std::function<void(TForm1&)> then;
};

inline const std::vector<KeptCurveCase>& KeptCurveCases() {
    static const std::vector<KeptCurveCase> cases = {
        {"Links, Rechts, Links", true,
         [](TForm1& f) {
             f.RadioButton2->SetChecked(true);
             f.RadioButton1->SetChecked(true);
         }},
        {"Links, Zurücksetzen, Links", true,
         [](TForm1& f) {
             f.janColorButton5click(nullptr);
             f.RadioButton1->SetChecked(true);
         }},
        {"Beide, Zurücksetzen", false, [](TForm1& f) { f.janColorButton5click(nullptr); }},
    };
    return cases;
}

// The ear of a case selected and 1000 Hz taken at level 5 (the marker's centre on row 62).
inline void MeasureAtLevelFive(TForm1& form, const KeptCurveCase& c) {
    if (c.left) {
        form.RadioButton1->SetChecked(true);
    }
    form.ExTrackBar1->SetPosition(5);
    form.HemisphereButton2Click(nullptr);
}

// The picture in the report shows the measured marker, not the emptied curve's.
inline void ExpectMeasuredCurve(const QImage& picture, const KeptCurveCase& c) {
    ASSERT_FALSE(picture.isNull());
    const QRgb ear = c.left ? qRgb(135, 0, 255) : qRgb(95, 95, 95);
    EXPECT_EQ(picture.pixel(172, 62), ear) << "the measured marker is gone";
    EXPECT_NE(picture.pixel(172, 2), ear) << "the emptied curve took its place";
}

}  // namespace velmora::test
