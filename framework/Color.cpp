#include "Color.h"

#include <QPalette>

#include <array>

namespace velmora {
namespace {

constexpr std::array<TColor, kSystemColorCount> kClassicScheme = {
    RGB(212, 208, 200),  // scroll bar
    RGB(58, 110, 165),   // desktop
    RGB(10, 36, 106),    // active caption
    RGB(128, 128, 128),  // inactive caption
    RGB(212, 208, 200),  // menu
    RGB(255, 255, 255),  // window
    RGB(0, 0, 0),        // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(255, 255, 255),  // caption text
    RGB(212, 208, 200),  // active border
    RGB(212, 208, 200),  // inactive border
    RGB(128, 128, 128),  // application work space
    RGB(10, 36, 106),    // highlight
    RGB(255, 255, 255),  // highlight text
    RGB(212, 208, 200),  // button face
    RGB(128, 128, 128),  // button shadow
    RGB(128, 128, 128),  // grey text
    RGB(0, 0, 0),        // button text
    RGB(212, 208, 200),  // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(64, 64, 64),     // 3D dark shadow
    RGB(212, 208, 200),  // 3D light
    RGB(0, 0, 0),        // info text
    RGB(255, 255, 225),  // info background
    RGB(181, 181, 181),  // (unused slot)
    RGB(0, 0, 128),      // hot light
    RGB(166, 202, 240),  // gradient active caption
    RGB(192, 192, 192),  // gradient inactive caption
    RGB(49, 106, 197),   // menu highlight
    RGB(236, 233, 216),  // menu bar
};

std::array<TColor, kSystemColorCount>& Palette() {
    static std::array<TColor, kSystemColorCount> palette = kClassicScheme;
    return palette;
}

TColor FromQColor(const QColor& c) {
    return RGB(c.red(), c.green(), c.blue());
}

}  // namespace

TColor ColorToRGB(TColor c) {
    if (IsSystemColor(c)) {
        const int index = int(c & 0xFF);
        return index < kSystemColorCount ? Palette()[index] : clBlack;
    }
    return c & 0x00FFFFFF;
}

TColor SystemColor(int index) {
    return index >= 0 && index < kSystemColorCount ? Palette()[index] : clBlack;
}

void SetSystemColor(int index, TColor rgb) {
    if (index >= 0 && index < kSystemColorCount) {
        Palette()[index] = ColorToRGB(rgb);
    }
}

void ResetSystemColors() {
    Palette() = kClassicScheme;
}

void LoadSystemColors(const QPalette& p) {
    auto set = [](TColor sys, const QColor& c) { Palette()[sys & 0xFF] = FromQColor(c); };
    set(clWindow, p.color(QPalette::Base));
    set(clWindowText, p.color(QPalette::WindowText));
    set(clHighlight, p.color(QPalette::Highlight));
    set(clHighlightText, p.color(QPalette::HighlightedText));
    set(clBtnFace, p.color(QPalette::Button));
    set(clBtnText, p.color(QPalette::ButtonText));
    set(clBtnShadow, p.color(QPalette::Dark));
    set(clBtnHighlight, p.color(QPalette::Light));
    set(cl3DDkShadow, p.color(QPalette::Shadow));
    set(cl3DLight, p.color(QPalette::Midlight));
    set(clGrayText, p.color(QPalette::Disabled, QPalette::Text));
    set(clInfoBk, p.color(QPalette::ToolTipBase));
    set(clInfoText, p.color(QPalette::ToolTipText));
}

QRgb ToQRgb(TColor c) {
    const TColor rgb = ColorToRGB(c);
    return qRgb(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QColor ToQColor(TColor c) {
    return QColor(ToQRgb(c));
}

TColor FromQRgb(QRgb rgb) {
    return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

}  // namespace velmora
