#include "Bitmap.h"
#include "framework/German.h"
#include "framework/ScaledRaster.h"

#include <cerrno>

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstdint>
#include <limits>

namespace velmora {
namespace {

// The largest picture the program has a use for (a control or a curve as large as any screen,
// 4096 x 4096 at most): 64 MiB as 32-bit pixels. Larger files are refused before anything is
// allocated, so a small file cannot make a huge image.
constexpr std::int64_t kMaxSide = 16384;
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 24;

std::uint32_t U16(const uchar* p) {
    return qFromLittleEndian<std::uint16_t>(p);
}
std::uint32_t U32(const uchar* p) {
    return qFromLittleEndian<std::uint32_t>(p);
}
std::int32_t I32(const uchar* p) {
    return qFromLittleEndian<std::int32_t>(p);
}

template <typename T>
void PutLittleEndian(QByteArray& out, std::uint32_t v) {
    uchar bytes[sizeof(T)];
    qToLittleEndian(static_cast<T>(v), bytes);
    out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
void Put16(QByteArray& out, std::uint32_t v) {
    PutLittleEndian<std::uint16_t>(out, v);
}
void Put32(QByteArray& out, std::uint32_t v) {
    PutLittleEndian<std::uint32_t>(out, v);
}

QImage Fail(QString* error, const char* message) {
    if (error != nullptr) {
        *error = QString::fromUtf8(message);
    }
    return QImage();
}

}  // namespace

QImage DecodeBitmapFile(const QByteArray& data, TPixelFormat* format, QString* error) {
    const auto size = std::int64_t(data.size());
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    if (size < 14 + 40) {
        return Fail(error, "Bitmap file too short");
    }
    if (bytes[0] != 'B' || bytes[1] != 'M') {
        return Fail(error, "Not a bitmap file (no \"BM\" signature)");
    }
    const std::int64_t offBits = U32(bytes + 10);
    const std::int64_t headerSize = U32(bytes + 14);
    if (headerSize < 40 || 14 + headerSize > size) {
        return Fail(error, "Bitmap information header damaged");
    }
    const std::int32_t width = I32(bytes + 18);
    const std::int32_t rawHeight = I32(bytes + 22);
    const std::uint32_t planes = U16(bytes + 26);
    const std::uint32_t bpp = U16(bytes + 28);
    const std::uint32_t compression = U32(bytes + 30);
    std::uint32_t colorsUsed = U32(bytes + 46);
    if (planes != 1) {
        return Fail(error, "Bitmap with more than one plane");
    }
    if (compression != 0) {
        return Fail(error, "Compressed bitmaps are not supported");
    }
    if (width <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<std::int32_t>::min()) {
        return Fail(error, "Bitmap size invalid");
    }
    const bool topDown = rawHeight < 0;
    const std::int64_t height = topDown ? -std::int64_t(rawHeight) : rawHeight;
    if (width > kMaxSide || height > kMaxSide || std::int64_t(width) * height > kMaxPixels) {
        return Fail(error,
                    "Bitmap too large: at most 16384 pixels a side and 16777216 pixels in all");
    }
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        return Fail(error, "Unsupported bits per pixel");
    }
    std::vector<std::uint32_t> table;
    if (bpp <= 8) {
        const std::uint32_t maxColors = 1u << bpp;
        if (colorsUsed == 0 || colorsUsed > maxColors) {
            colorsUsed = maxColors;
        }
        const std::int64_t tableStart = 14 + headerSize;
        if (tableStart + 4 * std::int64_t(colorsUsed) > size) {
            return Fail(error, "Bitmap colour table truncated");
        }
        for (std::uint32_t i = 0; i < colorsUsed; ++i) {
            const uchar* e = bytes + tableStart + 4 * i;
            table.push_back(qRgb(e[2], e[1], e[0]));
        }
    }
    const std::int64_t stride = ((std::int64_t(width) * bpp + 31) / 32) * 4;
    if (offBits < 14 + headerSize || offBits > size || stride * height > size - offBits) {
        return Fail(error, "Bitmap pixel data truncated");
    }
    QImage image(width, int(height), QImage::Format_RGB32);
    if (image.isNull()) {
        return Fail(error, "Out of memory for bitmap");
    }
    for (std::int64_t row = 0; row < height; ++row) {
        const uchar* src = bytes + offBits + stride * row;
        const int y = int(topDown ? row : height - 1 - row);
        auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            switch (bpp) {
                case 32:
                    out[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
                    break;
                case 24:
                    out[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                    break;
                case 16: {
                    const std::uint32_t v = U16(src + 2 * x);
                    auto expand = [](std::uint32_t c) { return int((c << 3) | (c >> 2)); };
                    out[x] = qRgb(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
                    break;
                }
                default: {
                    const std::int64_t bit = std::int64_t(x) * bpp;
                    const uchar byte = src[bit / 8];
                    const unsigned shift = unsigned(8 - bpp - (bit % 8));
                    const std::uint32_t index = (byte >> shift) & ((1u << bpp) - 1);
                    if (index >= table.size()) {
                        return Fail(error, "Bitmap colour index outside the colour table");
                    }
                    out[x] = table[index];
                    break;
                }
            }
        }
    }
    if (format != nullptr) {
        switch (bpp) {
            case 1:
                *format = pf1bit;
                break;
            case 4:
                *format = pf4bit;
                break;
            case 8:
                *format = pf8bit;
                break;
            case 16:
                *format = pf15bit;
                break;
            case 24:
                *format = pf24bit;
                break;
            default:
                *format = pf32bit;
                break;
        }
    }
    return image;
}

QByteArray EncodeBitmapFile(const QImage& source, int bitsPerPixel) {
    const QImage image = source.format() == QImage::Format_RGB32
                             ? source
                             : source.convertToFormat(QImage::Format_RGB32);
    const int bpp = bitsPerPixel == 24 ? 24 : 32;
    const int width = image.width();
    const int height = image.height();
    const int stride = ((width * bpp + 31) / 32) * 4;
    const std::uint32_t imageSize = std::uint32_t(stride) * std::uint32_t(height);
    QByteArray out;
    out.reserve(int(54 + imageSize));
    out.append("BM", 2);
    Put32(out, 54 + imageSize);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, std::uint32_t(width));
    Put32(out, std::uint32_t(height));
    Put16(out, 1);
    Put16(out, std::uint32_t(bpp));
    Put32(out, 0);  // uncompressed
    Put32(out, imageSize);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        const qsizetype start = out.size();
        for (int x = 0; x < width; ++x) {
            out.append(char(qBlue(line[x])));
            out.append(char(qGreen(line[x])));
            out.append(char(qRed(line[x])));
            if (bpp == 32) {
                out.append(char(0));
            }
        }
        while (out.size() - start < stride) {
            out.append(char(0));
        }
    }
    return out;
}

TBitmap::TBitmap() : canvas_(&image_) {}

TBitmap::TBitmap(int width, int height) : TBitmap() {
    SetSize(width, height);
}

TBitmap::TBitmap(const TBitmap& other)
    : image_(other.image_),
      canvas_(&image_),
      pixelFormat_(other.pixelFormat_),
      ratio_(other.ratio_) {}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    Assign(other);
    return *this;
}

int TBitmap::Width() const {
    return ratio_ > 1 ? DeviceGrid(ratio_).Logical(image_.width()) : image_.width();
}

int TBitmap::Height() const {
    return ratio_ > 1 ? DeviceGrid(ratio_).Logical(image_.height()) : image_.height();
}

void TBitmap::SetPixelRatio(double ratio) {
    ratio = ratio > 1 ? ratio : 1.0;
    if (ratio == ratio_) {
        return;
    }
    const int w = Width();
    const int h = Height();
    ratio_ = ratio;
    image_ = NewScaledPicture(w, h, ratio);
    Changed();
}

void TBitmap::SetSize(int w, int h) {
    w = std::max(0, w);
    h = std::max(0, h);
    if (w == Width() && h == Height() && !image_.isNull()) {
        return;
    }
    QImage resized = NewScaledPicture(w, h, ratio_);
    const int cw = std::min(resized.width(), image_.width());
    const int ch = std::min(resized.height(), image_.height());
    for (int y = 0; y < ch; ++y) {
        std::memcpy(resized.scanLine(y), image_.constScanLine(y), std::size_t(cw) * 4);
    }
    image_ = resized;
    Changed();
}

void TBitmap::Assign(const TBitmap& other) {
    if (this == &other) {
        return;
    }
    image_ = other.image_;
    image_.detach();
    pixelFormat_ = other.pixelFormat_;
    ratio_ = other.ratio_;
    Changed();
}

void TBitmap::Assign(const QImage& image) {
    image_ = image.convertToFormat(QImage::Format_RGB32);
    ratio_ = PictureRatio(image_);
    Changed();
}

bool TBitmap::LoadFromBytes(const QByteArray& data, QString* error) {
    TPixelFormat format = pfDevice;
    QImage decoded = DecodeBitmapFile(data, &format, error);
    if (decoded.isNull()) {
        return false;
    }
    image_ = decoded;
    ratio_ = 1;
    pixelFormat_ = format;
    Changed();
    return true;
}

QByteArray TBitmap::SaveToBytes() const {
    return EncodeBitmapFile(image_, pixelFormat_ == pf24bit ? 24 : 32);
}

bool TBitmap::LoadFromFile(const QString& path, QString* error) {
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr) {
            *error = errno != 0 ? ReasonOf(errno) : file.errorString();
        }
        return false;
    }
    return LoadFromBytes(file.readAll(), error);
}

bool TBitmap::SaveToFile(const QString& path, QString* error) const {
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly) || file.write(SaveToBytes()) < 0 || !file.commit()) {
        if (error != nullptr) {
            *error = errno != 0 ? ReasonOf(errno) : file.errorString();
        }
        return false;
    }
    return true;
}

void TBitmap::Changed() {
    if (OnChange) {
        OnChange();
    }
}

}  // namespace velmora
