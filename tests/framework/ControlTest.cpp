#include "framework/GraphicControl.h"
#include "framework/WinControl.h"
#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

class ControlTest : public GuiTest {};

// Records the virtual handlers in the order they run.
class Recorder : public TWinControl {
public:
    using TWinControl::SetClickEvents;
    using TWinControl::TWinControl;
    std::vector<std::string> log;

protected:
    void MouseDown(TMouseButton b, TShiftState s, int x, int y) override {
        log.push_back("down " + std::to_string(int(b)) + ((s & ssDouble) ? " double" : "") + " " +
                      std::to_string(x) + "," + std::to_string(y));
        TWinControl::MouseDown(b, s, x, y);
    }
    void MouseUp(TMouseButton b, TShiftState s, int x, int y) override {
        log.push_back("up " + std::to_string(int(b)));
        TWinControl::MouseUp(b, s, x, y);
    }
    void MouseMove(TShiftState, int x, int y) override {
        log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void MouseEnter() override { log.push_back("enter"); }
    void MouseLeave() override { log.push_back("leave"); }
    void Click() override {
        log.push_back("click");
        TWinControl::Click();
    }
    void DblClick() override { log.push_back("dblclick"); }
    void Resize() override {
        log.push_back("resize " + std::to_string(Width()) + "x" + std::to_string(Height()));
    }
};

void Send(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint p, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST_F(ControlTest, QtMouseEventsReachTheClassicHandlersInOrder) {
    Recorder r;
    r.SetBounds(0, 0, 50, 30);
    r.log.clear();
    Send(&r, QEvent::MouseButtonPress, Qt::LeftButton, {5, 6}, Qt::LeftButton);
    Send(&r, QEvent::MouseMove, Qt::NoButton, {7, 8}, Qt::LeftButton);
    Send(&r, QEvent::MouseButtonRelease, Qt::LeftButton, {7, 8}, Qt::NoButton);
    EXPECT_EQ(r.log, (std::vector<std::string>{"down 0 5,6", "move 7,8", "click", "up 0"}));

    r.log.clear();  // released outside: no click
    Send(&r, QEvent::MouseButtonPress, Qt::LeftButton, {5, 6}, Qt::LeftButton);
    Send(&r, QEvent::MouseButtonRelease, Qt::LeftButton, {60, 8}, Qt::NoButton);
    EXPECT_EQ(r.log, (std::vector<std::string>{"down 0 5,6", "up 0"}));

    r.log.clear();  // the right button clicks nothing
    Send(&r, QEvent::MouseButtonPress, Qt::RightButton, {5, 6}, Qt::RightButton);
    Send(&r, QEvent::MouseButtonRelease, Qt::RightButton, {5, 6}, Qt::NoButton);
    EXPECT_EQ(r.log, (std::vector<std::string>{"down 1 5,6", "up 1"}));

    r.log.clear();  // double click: DblClick, then MouseDown with ssDouble; its release clicks not
    Send(&r, QEvent::MouseButtonDblClick, Qt::LeftButton, {5, 6}, Qt::LeftButton);
    Send(&r, QEvent::MouseButtonRelease, Qt::LeftButton, {5, 6}, Qt::NoButton);
    EXPECT_EQ(r.log, (std::vector<std::string>{"dblclick", "down 0 double 5,6", "up 0"}));

    r.log.clear();
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&r, &enter);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&r, &leave);
    EXPECT_EQ(r.log, (std::vector<std::string>{"enter", "leave"}));
}

TEST_F(ControlTest, EventsGetTheSenderAndClickEventsCanBeTurnedOff) {
    Recorder r;
    r.SetBounds(0, 0, 20, 20);
    TComponent* sender = nullptr;
    int clicks = 0;
    int x = -1;
    r.OnClick = [&](TComponent* s) {
        sender = s;
        ++clicks;
    };
    r.OnMouseDown = [&](TComponent*, TMouseButton, TShiftState, int px, int) { x = px; };
    r.DispatchMouseDown(mbLeft, ssLeft, 3, 4);
    r.DispatchMouseUp(mbLeft, 0, 3, 4);
    EXPECT_EQ(sender, &r);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(x, 3);
    r.SetClickEvents(false);
    r.DispatchMouseDown(mbLeft, ssLeft, 3, 4);
    r.DispatchMouseUp(mbLeft, 0, 3, 4);
    EXPECT_EQ(clicks, 1);
}

TEST_F(ControlTest, BoundsChangesResizeOnceAndReadBack) {
    Recorder r;
    r.SetBounds(4, 5, 30, 20);
    r.SetLeft(8);  // a move is no resize
    r.SetWidth(31);
    EXPECT_EQ(r.log, (std::vector<std::string>{"resize 30x20", "resize 31x20"}));
    EXPECT_EQ(r.Left(), 8);
    EXPECT_EQ(r.Top(), 5);
    EXPECT_EQ(r.BoundsRect(), Rect(8, 5, 39, 25));
    r.resize(40, 10);  // from outside (a hidden widget gets the event later): the same path
    QResizeEvent resized(QSize(40, 10), QSize(31, 20));
    QApplication::sendEvent(&r, &resized);
    EXPECT_EQ(r.log.back(), "resize 40x10");
}

class Painter : public TWinControl {
public:
    using TWinControl::TWinControl;
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        Canvas().Pen().SetColor(clRed);
        Canvas().MoveTo(0, 0);
        Canvas().LineTo(Width(), 0);
    }
};

class Dot : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;

protected:
    void Paint() override { Canvas().SetPixels(1, 1, clBlue); }
};

TEST_F(ControlTest, WindowedControlsFillTheirColourAndWindowlessOnesShowTheirParent) {
    Painter parent;
    parent.SetBounds(0, 0, 20, 10);
    parent.SetColor(clLime);
    Dot child;
    child.SetParent(&parent);
    child.SetBounds(5, 0, 4, 4);

    const QImage p = parent.RenderImage();
    EXPECT_EQ(FromQRgb(p.pixel(0, 0)), clRed);
    EXPECT_EQ(FromQRgb(p.pixel(3, 5)), clLime);

    const QImage c = child.RenderImage();
    ASSERT_EQ(c.size(), QSize(4, 4));
    EXPECT_EQ(FromQRgb(c.pixel(0, 0)), clRed);  // the parent's line beneath
    EXPECT_EQ(FromQRgb(c.pixel(0, 1)), clLime);
    EXPECT_EQ(FromQRgb(c.pixel(1, 1)), clBlue);
}

TEST_F(ControlTest, DrawingOutsidePaintIsKeptUntilTheNextPaint) {
    Painter p;
    p.SetBounds(0, 0, 10, 10);
    p.RenderImage();
    p.Canvas().SetPixels(5, 5, clYellow);
    EXPECT_EQ(p.Canvas().Pixels(5, 5), clYellow);
    EXPECT_EQ(FromQRgb(p.RenderImage().pixel(5, 5)), ColorToRGB(clBtnFace));  // Paint() redraws
}

TEST_F(ControlTest, ParentColourAndFontFlowDownUntilSetExplicitly) {
    TWinControl group;
    group.SetColor(clLime);
    group.Font().SetName(QStringLiteral("Arial"));
    TWinControl inner;
    inner.SetParent(&group);
    Dot leaf;
    leaf.SetParent(&inner);
    EXPECT_EQ(inner.Color(), clLime);
    EXPECT_EQ(leaf.Color(), clLime);
    EXPECT_EQ(leaf.Font().Name(), QStringLiteral("Arial"));
    EXPECT_TRUE(leaf.ParentFont());

    group.SetColor(clYellow);
    group.Font().SetHeight(-16);
    EXPECT_EQ(leaf.Color(), clYellow);
    EXPECT_EQ(leaf.Font().Height(), -16);

    inner.SetColor(clRed);  // explicit: stops following, passes its own on
    EXPECT_FALSE(inner.ParentColor());
    group.SetColor(clBlue);
    EXPECT_EQ(inner.Color(), clRed);
    EXPECT_EQ(leaf.Color(), clRed);

    leaf.Font().SetColor(clNavy);
    EXPECT_FALSE(leaf.ParentFont());
    group.Font().SetHeight(-20);
    EXPECT_EQ(leaf.Font().Height(), -16);
    EXPECT_EQ(inner.Font().Height(), -20);
}

TEST_F(ControlTest, Ctl3DFollowsTheParentUntilSet) {
    TWinControl group;
    TWinControl inner;
    inner.SetParent(&group);
    group.SetCtl3D(false);
    EXPECT_FALSE(inner.Ctl3D());
    inner.SetCtl3D(true);
    group.SetCtl3D(true);
    group.SetCtl3D(false);
    EXPECT_TRUE(inner.Ctl3D());
}

TEST_F(ControlTest, StateFlagsAndCaption) {
    Recorder r;
    EXPECT_TRUE(r.Enabled());
    r.SetEnabled(false);
    EXPECT_FALSE(r.Enabled());
    EXPECT_FALSE(r.isEnabled());
    r.SetVisible(false);  // a top-level control is never shown by this
    EXPECT_FALSE(r.Visible());
    EXPECT_FALSE(r.isVisible());
    r.SetCaption(QStringLiteral("Stumm "));
    EXPECT_EQ(r.Caption(), QStringLiteral("Stumm "));
    TComponent owner;
    Recorder owned(&owner);
    owned.SetName(QStringLiteral("DsGroup1"));
    EXPECT_EQ(owner.FindComponent(QStringLiteral("dsgroup1")), &owned);
}

// Records key handlers; KeyPress turns "." into "," and swallows "x".
class KeyRecorder : public TWinControl {
public:
    using TWinControl::TWinControl;
    std::vector<std::string> log;

protected:
    void KeyDown(int& key, TShiftState shift) override {
        log.push_back("down " + std::to_string(key) + ((shift & ssCtrl) ? " ctrl" : ""));
        if (key == VK_ESCAPE) {
            key = 0;
        }
    }
    void KeyUp(int& key, TShiftState) override { log.push_back("up " + std::to_string(key)); }
    void KeyPress(QChar& key) override {
        log.push_back("press " + std::to_string(key.unicode()));
        if (key == QLatin1Char('.')) {
            key = QLatin1Char(',');
        } else if (key == QLatin1Char('x')) {
            key = QChar();
        }
    }

public:
    bool Route(int qtKey, const QString& text, Qt::KeyboardModifiers mods, QChar* typed) {
        QKeyEvent e(QEvent::KeyPress, qtKey, mods, text);
        return RouteKeyPress(&e, typed);
    }
};

TEST_F(ControlTest, EveryTypedCharacterReachesKeyPressAndHandlersCanSwallowOrChangeIt) {
    KeyRecorder r;
    QChar typed;
    // "," and "-" have no virtual key code but type a character.
    EXPECT_TRUE(r.Route(Qt::Key_Comma, QStringLiteral(","), Qt::NoModifier, &typed));
    EXPECT_EQ(typed, QLatin1Char(','));
    EXPECT_TRUE(r.Route(Qt::Key_Minus, QStringLiteral("-"), Qt::NoModifier, &typed));
    EXPECT_EQ(typed, QLatin1Char('-'));
    EXPECT_EQ(r.log, (std::vector<std::string>{"press 44", "press 45"}));
    r.log.clear();

    EXPECT_TRUE(r.Route(Qt::Key_Period, QStringLiteral("."), Qt::NoModifier, &typed));
    EXPECT_EQ(typed, QLatin1Char(','));
    EXPECT_FALSE(r.Route(Qt::Key_X, QStringLiteral("x"), Qt::NoModifier, &typed));
    EXPECT_TRUE(typed.isNull());
    EXPECT_EQ(r.log, (std::vector<std::string>{"press 46", "down 88", "press 120"}));
    r.log.clear();

    // Backspace and Ctrl+V type control characters; Delete and the arrows type none; a key
    // swallowed in KeyDown types nothing.
    EXPECT_TRUE(r.Route(Qt::Key_Backspace, QStringLiteral("\b"), Qt::NoModifier, &typed));
    EXPECT_EQ(typed, QChar(8));
    EXPECT_TRUE(r.Route(Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier, &typed));
    EXPECT_EQ(typed, QChar(0x16));
    EXPECT_TRUE(r.Route(Qt::Key_Delete, QStringLiteral("\x7f"), Qt::NoModifier, &typed));
    EXPECT_TRUE(typed.isNull());
    EXPECT_TRUE(r.Route(Qt::Key_Left, QString(), Qt::NoModifier, &typed));
    EXPECT_FALSE(r.Route(Qt::Key_Escape, QStringLiteral("\x1b"), Qt::NoModifier, &typed));
    EXPECT_EQ(r.log, (std::vector<std::string>{"down 8", "press 8", "down 86 ctrl", "press 22",
                                               "down 46", "down 37", "down 27"}));
    r.log.clear();

    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&r, &release);
    EXPECT_EQ(r.log, (std::vector<std::string>{"up 65"}));
}

}  // namespace
}  // namespace velmora
