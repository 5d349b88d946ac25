#pragma once

#include "framework/Canvas.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

namespace velmora {

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// An off-screen image with its drawing canvas, kept as 32-bit RGB pixels whatever the pixel
// format; the pixel format decides how the image is written to a file.
//
// File format: the standard device-independent bitmap ("BM", 14-byte file header, 40-byte
// information header or a longer one of which the first 40 bytes are read). Reading accepts
// 1, 4, 8 (with a colour table), 16 (5-5-5), 24 and 32 bits per pixel, uncompressed, rows
// bottom-up or (negative height) top-down. Writing produces 24 bits per pixel for pf24bit and
// 32 bits per pixel (blue, green, red, 0) otherwise, rows bottom-up, no colour table. A damaged,
// truncated or unsupported file, or a picture of more than 16384 pixels a side or 16777216
// pixels in all, is rejected with a message and leaves the bitmap unchanged; nothing is read
// past the end of the data.
//
// A bitmap that a control keeps for the screen may have a pixel ratio above 1 (PixelRatio):
// its size stays the logical one, its image has the device pixels, and its canvas draws at that
// ratio. A bitmap read from a file, or made without a ratio, has ratio 1.
class TBitmap {
public:
    TBitmap();
    TBitmap(int width, int height);
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);

    int Width() const;
    int Height() const;
    // Resizing keeps the pixels of the overlap; new pixels are white.
    void SetWidth(int w) { SetSize(w, Height()); }
    void SetHeight(int h) { SetSize(Width(), h); }
    void SetSize(int w, int h);
    bool Empty() const { return image_.isNull() || Width() == 0 || Height() == 0; }
    double PixelRatio() const { return ratio_; }
    // A new ratio keeps the size; the pixels are white until drawn again.
    void SetPixelRatio(double ratio);

    TPixelFormat PixelFormat() const { return pixelFormat_; }
    void SetPixelFormat(TPixelFormat f) { pixelFormat_ = f; }

    TCanvas& Canvas() { return canvas_; }
    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }

    // Copies the pixels (and the pixel format) of another bitmap, or of a QImage.
    void Assign(const TBitmap& other);
    void Assign(const QImage& image);

    bool LoadFromBytes(const QByteArray& data, QString* error = nullptr);
    QByteArray SaveToBytes() const;
    bool LoadFromFile(const QString& path, QString* error = nullptr);
    bool SaveToFile(const QString& path, QString* error = nullptr) const;

    // Runs after every change of size or of the whole picture (not after canvas drawing).
    std::function<void()> OnChange;

private:
    void Changed();

    QImage image_;
    TCanvas canvas_;
    TPixelFormat pixelFormat_ = pfDevice;
    double ratio_ = 1;  // kept apart from the image: an empty image holds no ratio
};

// Decodes a device-independent bitmap file; on failure returns a null image and sets *error.
QImage DecodeBitmapFile(const QByteArray& data, TPixelFormat* format, QString* error);
// Encodes an image as a device-independent bitmap file of 24 or 32 bits per pixel.
QByteArray EncodeBitmapFile(const QImage& image, int bitsPerPixel);

}  // namespace velmora
