#pragma once

#include "framework/TrackBar.h"

namespace velmora {

enum TLabelsFactorOperation { foMul, foDiv };

// A track bar with numeric labels beside its ticks: one label per tick value that is a multiple
// of LabelsInterval, optionally the first and last values at the ends of the channel, each
// value multiplied or divided by LabelsFactor and followed by LabelsText, engraved when the
// bar is disabled. Labels are drawn only with automatic ticks: the first paint with another
// tick style switches Labels off.
class TExTrackBar : public TTrackBar {
public:
    explicit TExTrackBar(TComponent* owner = nullptr);

    bool Labels() const { return labels_; }
    void SetLabels(bool on);
    bool LabelsFirstLast() const { return labelsFirstLast_; }
    void SetLabelsFirstLast(bool on);
    // Distance of the labels from the top edge (horizontal bar) or the left edge (vertical).
    int LabelsLeftTop() const { return labelsLeftTop_; }
    void SetLabelsLeftTop(int value);
    const QString& LabelsText() const { return labelsText_; }
    void SetLabelsText(const QString& text);
    int LabelsFactor() const { return labelsFactor_; }
    void SetLabelsFactor(int value);  // 0 is refused
    TLabelsFactorOperation LabelsFactorOperation() const { return labelsFactorOperation_; }
    void SetLabelsFactorOperation(TLabelsFactorOperation value);
    int LabelsInterval() const { return labelsInterval_; }
    void SetLabelsInterval(int value);  // 0 or less gives 1
    // The platform control's selection-range style; it acts on the running control, not while
    // the stored layout is being loaded, and takes effect at the next paint.
    bool SelEnable() const { return selEnable_; }
    void SetSelEnable(bool on);

    // The text of the label of a value: the value times or divided by LabelsFactor, rounded
    // to the nearest integer (halves to even), followed by LabelsText.
    QString LabelText(int value) const;

    // Where the label of a value is written (its top left corner) in the current geometry:
    // an intermediate value that is a multiple of LabelsInterval, or Min or Max with
    // LabelsFirstLast. False for a value that gets no label.
    bool LabelOrigin(int value, QPoint* origin);

protected:
    void Paint() override;

private:
    void DrawLabel(int x, int y, const QString& text);

    bool labels_ = true;
    bool labelsFirstLast_ = true;
    int labelsLeftTop_ = 30;
    QString labelsText_;
    int labelsFactor_ = 1;
    TLabelsFactorOperation labelsFactorOperation_ = foMul;
    int labelsInterval_;
    bool selEnable_ = false;
};

}  // namespace velmora
