#pragma once

#include "framework/Bitmap.h"
#include "framework/GraphicControl.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velmora {

enum THemisphereBevel { hbNone = 0, hbLowered = 1, hbRaised = 2 };

// A round push button drawn as a dome lit from the upper left, framed by up to two shaded bevel
// rings, with an optional caption and glyph (laid flat or wrapped around the dome).
//
// Rendering computes every pixel, so it happens only when a property or the size changes: three
// images are built then (out = up, in = pressed, mask = black where the button is). Painting
// only combines the current image with the parent's drawing through the mask. The images can
// be stored with a window description and read back instead of being rendered. Painted at a
// pixel ratio above 1 (a scaled screen) the button is rendered once more at that ratio, from its
// properties, with an antialiased outline; the images above stay those of ratio 1.
//
// With a GroupIndex other than 0 the button latches and belongs to the group of buttons of the
// same owner with the same GroupIndex, of which at most one is down (none with AllowAllUp).
class THemisphereButton : public TGraphicControl {
public:
    explicit THemisphereButton(TComponent* owner = nullptr);

    bool AllowAllUp() const { return allowAllUp_; }
    void SetAllowAllUp(bool value);  // changes the whole group
    double AttenControl() const { return attenControl_; }
    void SetAttenControl(double value);
    THemisphereBevel BevelInner() const { return bevelInner_; }
    void SetBevelInner(THemisphereBevel value);
    THemisphereBevel BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(THemisphereBevel value);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int value);  // 1..kMaxBevelWidth, others ignored
    TColor BorderColor() const { return borderColor_; }
    void SetBorderColor(TColor value);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle value);
    bool Down() const { return down_; }
    void SetDown(bool value);  // paints at once
    // Taken as plain RGB: a system colour is not resolved, its low three bytes are used.
    TColor FaceColor() const { return faceColor_; }
    void SetFaceColor(TColor value);
    bool FaceShaded() const { return faceShaded_; }
    void SetFaceShaded(bool value);
    bool FaceTransparent() const { return faceTransparent_; }
    void SetFaceTransparent(bool value);
    const TBitmap& Glyph() const { return glyph_; }
    // Copies the pixels (nullptr: no glyph, the old pixels are kept but unused); a strip whose
    // width is a multiple of its height becomes that many cells.
    void SetGlyph(const TBitmap* value);
    int GlyphIndex() const { return glyphIndex_; }
    void SetGlyphIndex(int value);  // 1..NumGlyphs (any positive value while loading)
    bool GlyphShaded() const { return glyphShaded_; }
    void SetGlyphShaded(bool value);
    bool GlyphMapped() const { return glyphMapped_; }
    void SetGlyphMapped(bool value);
    bool GlyphTransparent() const { return glyphTransparent_; }
    void SetGlyphTransparent(bool value);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int value);
    // Stored as given; a value below 1 shows the whole glyph as one cell.
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int value);
    bool GlyphValid() const { return glyphValid_; }

    // Caption, Font, Enabled, Hint, ShowHint, ParentFont and Visible are the control's; a new
    // caption or font renders the images again.

    void BuildImages();
    // Whether (x, y) lies on the face (inside the bevels).
    bool HitTest(int x, int y) const;

    const TBitmap& ImageOut() const { return imageOut_; }
    const TBitmap& ImageIn() const { return imageIn_; }
    const TBitmap& ImageMask() const { return imageMask_; }

    // The properties stored with a window description besides the published ones: "GlyphValid"
    // and the images "ImageOut", "ImageIn", "ImageMask" and (with a valid glyph) "ImageGlyph",
    // each a bitmap file of 32 bits per pixel.
    void ReadGlyphValid(bool value);
    QStringList StoredImageNames() const;
    QByteArray WriteStoredImage(const QString& name) const;  // empty for an unknown name
    // Replaces the named image with a stored one. A damaged file or an unknown name returns
    // false with a message and leaves every image as it was.
    bool ReadStoredImage(const QString& name, const QByteArray& data, QString* error = nullptr);

    void SetBounds(int left, int top, int width, int height) override;

    static constexpr int kMaxBevelWidth = 10000;

protected:
    void Paint() override;
    void Loaded() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void FontChanged() override;
    void TextChanged() override;

private:
    int BevelCount() const { return int(bevelInner_ != hbNone) + int(bevelOuter_ != hbNone); }
    // The steps of BuildImages.
    struct Layers;
    // The steps at a pixel ratio.
    void Render(Layers& layers, double ratio) const;
    void MakeMasks(Layers& layers) const;
    void MakeBevelRings(Layers& layers) const;
    void ShadeFace(Layers& layers) const;
    void WriteCaption(Layers& layers) const;
    void Compose(Layers& layers) const;
    void PaintScaled(TCanvas& canvas);

    // BuildImages, then a repaint request: what every rendering property setter ends with.
    void Changed();
    template <typename T>
    void Store(T& field, T value);
    // The other buttons of this button's group, in the owner's component order.
    template <typename F>
    void ForEachInGroup(F f);
    const TBitmap* StoredImage(const QString& name) const;
    TBitmap* StoredImage(const QString& name);

    TBitmap glyph_;
    TBitmap imageOut_;
    TBitmap imageIn_;
    TBitmap imageMask_;
    // The images of the last rendering at a ratio above 1 (device pixels), and how much of each
    // pixel the button's outline covers (black: all).
    struct ScaledImages {
        double ratio = 0;
        QImage out;
        QImage in;
        QImage mask;
        QImage cover;
    };
    ScaledImages scaled_;

    bool allowAllUp_ = false;
    double attenControl_ = 1.0;
    THemisphereBevel bevelInner_ = hbNone;
    THemisphereBevel bevelOuter_ = hbLowered;
    int bevelWidth_ = 2;
    TColor borderColor_ = clGray;
    TBorderStyle borderStyle_ = bsNone;
    bool down_ = false;
    TColor faceColor_ = clGray;
    bool faceShaded_ = true;
    bool faceTransparent_ = false;
    int glyphIndex_ = 1;
    bool glyphShaded_ = true;
    bool glyphMapped_ = false;
    bool glyphTransparent_ = true;
    int groupIndex_ = 0;
    int numGlyphs_ = 1;
    bool glyphValid_ = false;

    int lastWidth_ = -1;
    int lastHeight_ = -1;
    bool tracking_ = false;
    bool downAtPress_ = false;
};

}  // namespace velmora
