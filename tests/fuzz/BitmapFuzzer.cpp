// The bitmap file reader: any bytes are rejected with a message, leaving the bitmap as it was,
// or give an image of the size the header announces, no larger than the reader allows, that
// survives writing and reading again pixel for pixel.
#include "FuzzSupport.h"

#include "framework/Bitmap.h"

#include <QtEndian>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    TBitmap bitmap(3, 2);
    bitmap.SetPixelFormat(pf8bit);
    bitmap.Image().setPixel(1, 1, 0xFF123456);
    const QImage before = bitmap.Image().copy();
    int changes = 0;
    bitmap.OnChange = [&changes] { ++changes; };

    QString error;
    if (!bitmap.LoadFromBytes(bytes, &error)) {
        FUZZ_REQUIRE(!error.isEmpty());
        FUZZ_REQUIRE(changes == 0 && bitmap.Image() == before && bitmap.PixelFormat() == pf8bit);
        return 0;
    }
    FUZZ_REQUIRE(changes == 1);
    const QImage& image = bitmap.Image();
    const std::int32_t width = qFromLittleEndian<std::int32_t>(data + 18);
    const std::int32_t height = qFromLittleEndian<std::int32_t>(data + 22);
    FUZZ_REQUIRE(image.width() == width);
    FUZZ_REQUIRE(std::int64_t(image.height()) == std::abs(std::int64_t(height)));
    FUZZ_REQUIRE(image.format() == QImage::Format_RGB32);
    FUZZ_REQUIRE(std::int64_t(image.width()) * image.height() <= std::int64_t(1) << 24);
    const std::uint16_t bpp = qFromLittleEndian<std::uint16_t>(data + 28);
    const TPixelFormat expected = bpp == 1    ? pf1bit
                                  : bpp == 4  ? pf4bit
                                  : bpp == 8  ? pf8bit
                                  : bpp == 16 ? pf15bit
                                  : bpp == 24 ? pf24bit
                                              : pf32bit;
    FUZZ_REQUIRE(bitmap.PixelFormat() == expected);

    // Written and read again, in both formats the writer knows, the pixels stay.
    for (const int bits : {24, 32}) {
        TPixelFormat format = pfDevice;
        QString why;
        const QImage again = DecodeBitmapFile(EncodeBitmapFile(image, bits), &format, &why);
        FUZZ_REQUIRE(!again.isNull());
        FUZZ_REQUIRE(again == image);
        FUZZ_REQUIRE(format == (bits == 24 ? pf24bit : pf32bit));
    }
    return 0;
}
