#include "Control.h"

#include "framework/GraphicControl.h"
#include "framework/ScaledRaster.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <sys/mman.h>

#include <cstddef>

namespace velmora {
namespace {

// A control's picture is made for a paint and mostly let go after it. A large one takes memory
// of its own from the system, which goes back when the picture does: the heap would keep what
// the largest picture once took, and the program's resident memory with it.
constexpr std::size_t kOwnMemoryBytes = 128 * 1024;
constexpr std::size_t kOwnMemoryHeader = 64;  // the mapping's length, before the pixels

void UnmapPicture(void* base) {
    munmap(base, *static_cast<std::size_t*>(base));
}

QImage NewPicture(const QSize& size) {
    const auto bytesPerLine = std::size_t(size.width()) * 4;
    const std::size_t bytes = bytesPerLine * std::size_t(size.height());
    if (bytes < kOwnMemoryBytes) {
        return QImage(size, QImage::Format_RGB32);
    }
    const std::size_t length = kOwnMemoryHeader + bytes;
    // With its pages at once: the picture is filled right away, and one call maps them sooner
    // than a fault per page (some 600 pages at the window's first paint).
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (base == MAP_FAILED) {
        return QImage(size, QImage::Format_RGB32);
    }
    *static_cast<std::size_t*>(base) = length;
    return QImage(static_cast<uchar*>(base) + kOwnMemoryHeader, size.width(), size.height(),
                  qsizetype(bytesPerLine), QImage::Format_RGB32, &UnmapPicture, base);
}

TShiftState ShiftOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons) {
    TShiftState s = 0;
    if (mods & Qt::ShiftModifier) {
        s |= ssShift;
    }
    if (mods & Qt::AltModifier) {
        s |= ssAlt;
    }
    if (mods & Qt::ControlModifier) {
        s |= ssCtrl;
    }
    if (buttons & Qt::LeftButton) {
        s |= ssLeft;
    }
    if (buttons & Qt::RightButton) {
        s |= ssRight;
    }
    if (buttons & Qt::MiddleButton) {
        s |= ssMiddle;
    }
    return s;
}

bool ButtonOf(Qt::MouseButton b, TMouseButton& out) {
    switch (b) {
        case Qt::LeftButton:
            out = mbLeft;
            return true;
        case Qt::RightButton:
            out = mbRight;
            return true;
        case Qt::MiddleButton:
            out = mbMiddle;
            return true;
        default:
            return false;
    }
}

}  // namespace

int VirtualKeyFromQt(int k) {
    if (k >= Qt::Key_0 && k <= Qt::Key_9) {
        return k;  // same codes
    }
    if (k >= Qt::Key_A && k <= Qt::Key_Z) {
        return k;
    }
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) {
        return VK_F1 + (k - Qt::Key_F1);
    }
    switch (k) {
        case Qt::Key_Backspace:
            return VK_BACK;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Shift:
            return VK_SHIFT;
        case Qt::Key_Control:
            return VK_CONTROL;
        case Qt::Key_Alt:
            return VK_MENU;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_PageUp:
            return VK_PRIOR;
        case Qt::Key_PageDown:
            return VK_NEXT;
        case Qt::Key_End:
            return VK_END;
        case Qt::Key_Home:
            return VK_HOME;
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Up:
            return VK_UP;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Down:
            return VK_DOWN;
        case Qt::Key_Insert:
            return VK_INSERT;
        case Qt::Key_Delete:
            return VK_DELETE;
        default:
            return 0;
    }
}

TControl::TControl(TComponent* owner) : QWidget(nullptr), TComponent(owner), canvas_(&surface_) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    font_.OnChange = [this] {
        if (!adopting_) {
            parentFont_ = false;
        }
        FontChanged();
        ForEachChildControl([this](TControl* c) {
            if (c->parentFont_) {
                c->AdoptParentFont(font_);
            }
        });
    };
}

TControl::~TControl() {
    font_.OnChange = nullptr;
}

TControl* TControl::ParentControl() const {
    return dynamic_cast<TControl*>(parentWidget());
}

void TControl::SetParent(QWidget* parent) {
    setParent(parent);
    if (parent != nullptr && visible_) {
        QWidget::setVisible(true);
    }
    if (TControl* p = ParentControl()) {
        if (parentColor_) {
            AdoptParentColor(p->color_);
        }
        if (parentFont_) {
            AdoptParentFont(p->font_);
        }
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    const QSize before = size();
    setGeometry(left, top, width, height);
    if (size() != before || notifiedSize_ != size()) {
        notifiedSize_ = size();
        Resize();
    }
}

void TControl::SetEnabled(bool enabled) {
    if (enabled_ != enabled) {
        enabled_ = enabled;
        QWidget::setEnabled(enabled);
        EnabledChanged();
    }
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (parentWidget() != nullptr) {
        QWidget::setVisible(visible);
    }
}

void TControl::SetColor(TColor color) {
    parentColor_ = false;
    AdoptParentColor(color);
}

void TControl::SetParentColor(bool on) {
    parentColor_ = on;
    if (TControl* p = ParentControl(); on && p != nullptr) {
        AdoptParentColor(p->color_);
    }
}

void TControl::AdoptParentColor(TColor color) {
    if (color_ != color) {
        color_ = color;
        ColorChanged();
        ForEachChildControl([this](TControl* c) {
            if (c->parentColor_) {
                c->AdoptParentColor(color_);
            }
        });
    }
}

void TControl::SetParentFont(bool on) {
    parentFont_ = on;
    if (TControl* p = ParentControl(); on && p != nullptr) {
        AdoptParentFont(p->font_);
    }
}

void TControl::AdoptParentFont(const TFont& font) {
    if (font_ == font) {
        return;
    }
    adopting_ = true;
    font_.Assign(font);
    adopting_ = false;
}

void TControl::SetCaption(const QString& caption) {
    if (caption_ != caption) {
        caption_ = caption;
        TextChanged();
    }
}

void TControl::SetHint(const QString& hint) {
    hint_ = hint;
    setToolTip(showHint_ ? hint_ : QString());
}

void TControl::SetShowHint(bool on) {
    showHint_ = on;
    setToolTip(showHint_ ? hint_ : QString());
}

void TControl::Invalidate() {
    drawnOutsidePaint_ = false;
    surfaceValid_ = false;
    update();
}

void TControl::Repaint() {
    drawnOutsidePaint_ = false;
    surfaceValid_ = false;
    if (isVisible()) {
        repaint();
    }
}

TCanvas& TControl::Canvas() {
    // While a stored layout is read nothing is shown yet: the canvas serves to measure only.
    if (!painting_ && !IsLoading()) {
        // Drawing from outside Paint(): keep what is drawn and show it at the next paint.
        if (!SurfaceFits(PixelRatio())) {
            RenderSurface(PixelRatio());
        }
        drawnOutsidePaint_ = true;
        everDrawnOutsidePaint_ = true;
        update();
    }
    return canvas_;
}

double TControl::PixelRatio() const {
    const double ratio = devicePixelRatio();
    return ratio > 1 ? ratio : 1.0;
}

bool TControl::SurfaceFits(double ratio) const {
    return PictureRatio(surface_) == ratio &&
           surface_.size() == DeviceGrid(ratio).DeviceSize(width(), height());
}

const QImage& TControl::Surface(double ratio) {
    if (!surfaceValid_ || !SurfaceFits(ratio)) {
        RenderSurface(ratio);
    }
    return surface_;
}

QImage TControl::RenderImage(double ratio) {
    RenderSurface(ratio > 1 ? ratio : 1.0);
    return surface_;
}

void TControl::RenderSurface(double ratio) {
    if (!SurfaceFits(ratio)) {
        surface_ = NewPicture(DeviceGrid(ratio).DeviceSize(width(), height()));
        surface_.fill(Qt::white);
        if (ratio > 1) {
            surface_.setDevicePixelRatio(ratio);
        }
    }
    PaintBackground(canvas_);
    painting_ = true;
    Paint();
    painting_ = false;
    surfaceValid_ = true;
    drawnOutsidePaint_ = false;
}

void TControl::paintEvent(QPaintEvent*) {
    const double ratio = PixelRatio();
    if (ratio != paintedRatio_) {
        paintedRatio_ = ratio;
        PixelRatioChanged();
    }
    if (!(drawnOutsidePaint_ && SurfaceFits(ratio))) {
        RenderSurface(ratio);
    }
    drawnOutsidePaint_ = false;
    {
        QPainter painter(this);
        painter.drawImage(0, 0, surface_);
    }
    // A control over which no windowless child draws needs its picture only while it paints: it
    // is not kept, which saves a picture per control and, at the first paint, the sum of them
    // all. Except a small one that is drawn on from outside Paint(), whose further drawing adds
    // to what is kept (a large one paints seldom and is drawn anew).
    constexpr qsizetype kKeptPixels = 256 * 256;
    const bool large = qsizetype(width()) * height() >= kKeptPixels;
    if ((large || !everDrawnOutsidePaint_) && !HasWindowlessChildren()) {
        ReleaseSurface();
    }
    // Windowless children copy their parent's picture beneath them, and Qt paints them right
    // after their parent, in their order: the last of them lets the parent's picture go. One
    // that paints alone later has it drawn anew.
    if (dynamic_cast<TGraphicControl*>(this) != nullptr) {
        TControl* parent = ParentControl();
        if (parent != nullptr && !parent->everDrawnOutsidePaint_ &&
            parent->LastVisibleWindowlessChild() == this) {
            parent->ReleaseSurface();
        }
    }
}

void TControl::ReleaseSurface() {
    surface_ = QImage();
    surfaceValid_ = false;
}

bool TControl::HasWindowlessChildren() const {
    for (QObject* child : children()) {
        if (dynamic_cast<TGraphicControl*>(child) != nullptr) {
            return true;
        }
    }
    return false;
}

const TControl* TControl::LastVisibleWindowlessChild() const {
    const QObjectList& list = children();
    for (auto it = list.crbegin(); it != list.crend(); ++it) {
        if (auto* child = dynamic_cast<TGraphicControl*>(*it);
            child != nullptr && !child->isHidden()) {
            return child;
        }
    }
    return nullptr;
}

template <typename F>
void TControl::ForEachChildControl(F f) {
    for (QObject* child : children()) {
        if (auto* c = dynamic_cast<TControl*>(child)) {
            f(c);
        }
    }
}

// ----- input routing

void TControl::DispatchMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft && clickEvents_) {
        clicked_ = true;
    }
    MouseDown(button, shift, x, y);
}

void TControl::DispatchMouseDoubleClick(TShiftState shift, int x, int y) {
    if (clickEvents_) {
        DblClick();
    }
    MouseDown(mbLeft, shift | ssDouble, x, y);
}

void TControl::DispatchMouseMove(TShiftState shift, int x, int y) {
    MouseMove(shift, x, y);
}

void TControl::DispatchMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == mbLeft && clicked_) {
        clicked_ = false;
        if (ClientRect().Contains(x, y)) {
            Click();
        }
    }
    MouseUp(button, shift, x, y);
}

void TControl::DispatchMouseEnter() {
    MouseEnter();
}
void TControl::DispatchMouseLeave() {
    MouseLeave();
}

void TControl::mousePressEvent(QMouseEvent* e) {
    TMouseButton b;
    if (ButtonOf(e->button(), b)) {
        const QPoint p = e->position().toPoint();
        DispatchMouseDown(b, ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y());
    }
}

void TControl::mouseDoubleClickEvent(QMouseEvent* e) {
    TMouseButton b;
    if (!ButtonOf(e->button(), b)) {
        return;
    }
    const QPoint p = e->position().toPoint();
    const TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
    if (b == mbLeft) {
        DispatchMouseDoubleClick(shift, p.x(), p.y());
    } else {
        DispatchMouseDown(b, shift | ssDouble, p.x(), p.y());
    }
}

void TControl::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    DispatchMouseMove(ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y());
}

void TControl::mouseReleaseEvent(QMouseEvent* e) {
    TMouseButton b;
    if (ButtonOf(e->button(), b)) {
        const QPoint p = e->position().toPoint();
        DispatchMouseUp(b, ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y());
    }
}

void TControl::enterEvent(QEnterEvent*) {
    DispatchMouseEnter();
}
void TControl::leaveEvent(QEvent*) {
    DispatchMouseLeave();
}

bool TypedCharacter(const QKeyEvent& e, QChar* typed) {
    const QString text = e.text();
    if (text.isEmpty() || text.at(0) == QChar(0x7F)) {
        return false;
    }
    *typed = text.at(0);
    return true;
}

bool TControl::RouteKeyPress(const QKeyEvent* e, QChar* typed) {
    *typed = QChar();
    int key = VirtualKeyFromQt(e->key());
    if (key != 0) {
        KeyDown(key, ShiftOf(e->modifiers(), Qt::NoButton));
        if (key == 0) {
            return false;
        }
    }
    QChar c;
    if (TypedCharacter(*e, &c)) {
        KeyPress(c);
        if (c.isNull()) {
            return false;
        }
        *typed = c;
    }
    return true;
}

void TControl::RouteKeyRelease(const QKeyEvent* e) {
    int key = VirtualKeyFromQt(e->key());
    if (key != 0) {
        KeyUp(key, ShiftOf(e->modifiers(), Qt::NoButton));
    }
}

void TControl::keyPressEvent(QKeyEvent* e) {
    QChar typed;
    RouteKeyPress(e, &typed);
}

void TControl::keyReleaseEvent(QKeyEvent* e) {
    RouteKeyRelease(e);
}

void TControl::resizeEvent(QResizeEvent*) {
    if (notifiedSize_ != size()) {
        // A resize from outside (layout, window manager) takes the same path as SetBounds.
        SetBounds(Left(), Top(), Width(), Height());
    }
}

// ----- default handlers

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) {
        OnMouseDown(this, button, shift, x, y);
    }
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) {
        OnMouseMove(this, shift, x, y);
    }
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) {
        OnMouseUp(this, button, shift, x, y);
    }
}

void TControl::MouseEnter() {
    if (OnMouseEnter) {
        OnMouseEnter(this);
    }
}

void TControl::MouseLeave() {
    if (OnMouseLeave) {
        OnMouseLeave(this);
    }
}

void TControl::Click() {
    if (OnClick) {
        OnClick(this);
    }
}

void TControl::DblClick() {
    if (OnDblClick) {
        OnDblClick(this);
    }
}

void TControl::KeyDown(int& key, TShiftState shift) {
    if (OnKeyDown) {
        OnKeyDown(this, key, shift);
    }
}

void TControl::KeyUp(int& key, TShiftState shift) {
    if (OnKeyUp) {
        OnKeyUp(this, key, shift);
    }
}

void TControl::KeyPress(QChar& key) {
    if (OnKeyPress) {
        OnKeyPress(this, key);
    }
}

void TControl::Resize() {
    Invalidate();
    if (OnResize) {
        OnResize(this);
    }
}

void TControl::FontChanged() {
    Invalidate();
}
void TControl::ColorChanged() {
    Invalidate();
}
void TControl::TextChanged() {
    Invalidate();
}
void TControl::EnabledChanged() {
    Invalidate();
}

}  // namespace velmora
