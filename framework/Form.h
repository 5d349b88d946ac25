#pragma once

#include "framework/WinControl.h"

#include <functional>

namespace velmora {

enum TFormBorderStyle { bsSizeable, bsSingleFixed };
enum TBorderIcon : unsigned { biSystemMenu = 1u << 0, biMinimize = 1u << 1, biMaximize = 1u << 2 };
using TBorderIcons = unsigned;
enum TPosition { poDesigned, poScreenCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TComponent* Sender, TCloseAction& Action)>;

// A top-level window. Its bounds are those of the client area (the window manager adds the
// frame); the caption is the title.
//
// - BorderStyle bsSingleFixed keeps the client area at its size (the user cannot resize it);
//   BorderIcons choose the title bar's buttons. Position poScreenCenter centres the window on
//   its screen when it is first shown (where the window system lets a program place windows).
// - OnPaint is the window's own paint event: it runs when the window system exposes the window
//   (first shown, restored after minimising, uncovered), not when a child control repaints,
//   however often that happens. The window's background is painted in any case.
// - Close() asks the window to close, as the title bar's close box does: OnClose runs with
//   caHide, and a handler that answers caNone keeps the window open (caMinimize minimises it).
//   The application ends when its last window has closed.
class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner = nullptr);
    ~TForm() override;

    int ClientWidth() const { return Width(); }
    int ClientHeight() const { return Height(); }
    void SetClientSize(int width, int height);

    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TFormBorderStyle value);
    TBorderIcons BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons value);
    TPosition Position() const { return position_; }
    void SetPosition(TPosition value) { position_ = value; }

    void Close();

    TNotifyEvent OnPaint;
    TCloseEvent OnClose;

protected:
    void TextChanged() override;
    void SetBounds(int left, int top, int width, int height) override;

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplyWindowFlags();
    void WindowPainted();

    TFormBorderStyle borderStyle_ = bsSizeable;
    TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    TPosition position_ = poDesigned;
    bool placed_ = false;
    bool watchingWindow_ = false;
};

}  // namespace velmora
