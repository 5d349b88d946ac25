#pragma once

#include "framework/Canvas.h"
#include "framework/Color.h"
#include "framework/Component.h"
#include "framework/Font.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

namespace velmora {

enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftStateFlag : unsigned {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
    ssDouble = 1u << 6,
};
using TShiftState = unsigned;

// Border of the controls that draw one: none, or a single line.
enum TBorderStyle { bsNone, bsSingle };

// Event handler types; the sender comes first. An unassigned event does nothing.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TMouseEvent =
    std::function<void(TComponent* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TComponent* Sender, TShiftState Shift, int X, int Y)>;
// Key is a virtual key code (VK_*); setting it to 0 swallows the key.
using TKeyEvent = std::function<void(TComponent* Sender, int& Key, TShiftState Shift)>;
// Key is the typed character; setting it to 0 swallows it.
using TKeyPressEvent = std::function<void(TComponent* Sender, QChar& Key)>;

// Virtual key codes used by key events.
enum TVirtualKey : int {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
};

// Horizontal alignment of a caption or text.
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// Base of the visual components: a QWidget that is also a TComponent, with the classic control
// model on top.
//
// - Bounds: Left, Top, Width, Height are the widget's geometry in its parent; SetBounds is the
//   one virtual path through which every change of place or size goes (a resize from outside
//   is routed through it too); Resize() follows every change of size.
// - Colour and font: Color and Font with ParentColor/ParentFont (both on at first): while set,
//   the control takes the colour or font of a parent control, and follows it. Setting Color or
//   Font clears the flag. Caption, Enabled, Visible, Hint.
// - Painting: Paint() draws on Canvas(), a canvas on the control's own surface image. Before
//   Paint() the surface gets the background (PaintBackground: a windowed control fills it with
//   Color, a windowless one copies its parent's drawing beneath it), after it the surface goes
//   to the screen.
//   While the control is loading, Canvas() serves to measure text only: what is drawn on it
//   then is not kept. Invalidate() asks for a paint later, Repaint() paints at once when the
//   control is shown. Drawing on Canvas() outside Paint() shows at the next paint without running
//   Paint() (as drawing straight onto the screen would). RenderImage() runs the same steps off
//   screen (tests, hidden controls, pictures for documents) and returns the surface.
// - Pixel ratio: on the screen the surface has the ratio of the screen the window is on
//   (PixelRatio(): 2 on a desktop scaled to 200 %), so that the canvas draws at the screen's own
//   resolution; a change of ratio (the window moved to another screen, the desktop's scale
//   changed) is followed at the next paint. RenderImage() draws at ratio 1 unless asked for
//   another: pictures for documents keep their classic size.
// - Input: mouse and key events are routed to the virtual handlers with the classic meaning;
//   each default handler raises its event. A left press followed by a release over the control
//   calls Click() before MouseUp(); a double click calls DblClick() and then MouseDown() with
//   ssDouble. Subclasses that handle clicks themselves turn this off with SetClickEvents(false).
//   MouseEnter()/MouseLeave() follow the pointer.
class TControl : public QWidget, public TComponent {
public:
    explicit TControl(TComponent* owner = nullptr);
    ~TControl() override;

    // The parent control (display parent); nullptr for a top-level control or another widget.
    TControl* ParentControl() const;
    void SetParent(QWidget* parent);

    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }
    void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
    void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
    void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
    void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Rect(Left(), Top(), Left() + Width(), Top() + Height()); }
    TRect ClientRect() const { return Rect(0, 0, Width(), Height()); }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);

    TColor Color() const { return color_; }
    void SetColor(TColor color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool on);

    TFont& Font() { return font_; }
    const TFont& Font() const { return font_; }
    void SetFont(const TFont& font) { font_.Assign(font); }
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool on);

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool on);

    void Invalidate();
    void Repaint();
    TCanvas& Canvas();
    QImage RenderImage(double ratio = 1.0);
    // The device pixel ratio of the screen the control is on (1 when not above 1).
    double PixelRatio() const;

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TNotifyEvent OnResize;

    // Entry points of the input routing, public so that tests and composite controls can drive
    // a control exactly as the window system does.
    void DispatchMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void DispatchMouseDoubleClick(TShiftState shift, int x, int y);
    void DispatchMouseMove(TShiftState shift, int x, int y);
    void DispatchMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    void DispatchMouseEnter();
    void DispatchMouseLeave();

protected:
    virtual void Paint() {}
    virtual void PaintBackground(TCanvas& canvas) = 0;

    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseEnter();
    virtual void MouseLeave();
    virtual void Click();
    virtual void DblClick();
    virtual void KeyDown(int& key, TShiftState shift);
    virtual void KeyUp(int& key, TShiftState shift);
    virtual void KeyPress(QChar& key);

    // After the control has come to a screen of another pixel ratio, before it paints there: for
    // a control whose platform widget draws text in the control's font (TFont::ToQFont(ratio)).
    virtual void PixelRatioChanged() {}

    // Notifications after a change; the defaults repaint (Resize raises OnResize).
    virtual void Resize();
    virtual void FontChanged();
    virtual void ColorChanged();
    virtual void TextChanged();
    virtual void EnabledChanged();

    // Runs KeyDown and, for a key that types a character, KeyPress (any character, also one
    // without a virtual key code such as "," or "-"). Returns false when a handler swallowed the
    // key; *typed is the character that KeyPress left (null when the key types none).
    bool RouteKeyPress(const QKeyEvent* event, QChar* typed);
    void RouteKeyRelease(const QKeyEvent* event);

    void SetClickEvents(bool on) { clickEvents_ = on; }
    bool IsPainting() const { return painting_; }
    // The surface as last painted at a ratio (for a windowless child that shows this control's
    // drawing).
    const QImage& Surface(double ratio);
    static const QImage& ParentSurfaceOf(TControl* parent, double ratio) {
        return parent->Surface(ratio);
    }

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RenderSurface(double ratio);
    // Whether the surface has the size and ratio to be painted at `ratio`.
    bool SurfaceFits(double ratio) const;
    void ReleaseSurface();
    bool HasWindowlessChildren() const;
    const TControl* LastVisibleWindowlessChild() const;
    void AdoptParentColor(TColor color);
    void AdoptParentFont(const TFont& font);
    template <typename F>
    void ForEachChildControl(F f);

    QImage surface_;
    TCanvas canvas_;
    bool painting_ = false;
    bool surfaceValid_ = false;
    bool drawnOutsidePaint_ = false;
    bool everDrawnOutsidePaint_ = false;  // drawing outside Paint() builds on the kept picture
    bool clickEvents_ = true;
    bool clicked_ = false;
    bool enabled_ = true;
    bool visible_ = true;
    bool parentColor_ = true;
    bool parentFont_ = true;
    bool adopting_ = false;
    bool showHint_ = false;
    TColor color_ = clBtnFace;
    TFont font_;
    QString caption_;
    QString hint_;
    QSize notifiedSize_;
    double paintedRatio_ = 1;  // the pixel ratio of the last paint on the screen
};

// Maps a Qt key to the virtual key code (0 for keys without one).
int VirtualKeyFromQt(int qtKey);
// The character a key event types, as a character message would carry it (printable characters
// and control characters such as backspace, return or Ctrl+letter; not Delete); false for none.
bool TypedCharacter(const QKeyEvent& event, QChar* typed);

}  // namespace velmora
