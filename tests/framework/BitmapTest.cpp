#include "framework/Bitmap.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>

namespace velmora {
namespace {

TBitmap Pattern(int w, int h) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b.Canvas().SetPixels(x, y, RGB(x * 7, y * 11, (x + y) * 3));
        }
    }
    return b;
}

void PutU32(QByteArray& d, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        d[at + i] = char((v >> (8 * i)) & 0xFF);
    }
}

TEST(BitmapTest, ThirtyTwoBitFilesHaveTheClassicLayout) {
    TBitmap b = Pattern(41, 41);
    const QByteArray data = b.SaveToBytes();
    ASSERT_EQ(data.size(), 6778);  // 54 + 41 * 41 * 4
    EXPECT_EQ(data.left(2), QByteArray("BM"));
    EXPECT_EQ(std::uint8_t(data[10]), 54);
    EXPECT_EQ(std::uint8_t(data[14]), 40);
    EXPECT_EQ(std::uint8_t(data[28]), 32);
    // first stored row is the bottom row: pixel (0, 40) as blue, green, red, 0
    EXPECT_EQ(std::uint8_t(data[54]), 120);
    EXPECT_EQ(std::uint8_t(data[55]), uint8_t(440));
    EXPECT_EQ(std::uint8_t(data[56]), 0);
    EXPECT_EQ(std::uint8_t(data[57]), 0);
    EXPECT_EQ(Pattern(37, 37).SaveToBytes().size(), 5530);
}

TEST(BitmapTest, RoundTripKeepsEveryPixelIn24And32Bits) {
    for (TPixelFormat pf : {pf24bit, pf32bit}) {
        TBitmap b = Pattern(13, 5);  // odd width: 24-bit rows are padded
        b.SetPixelFormat(pf);
        const QByteArray data = b.SaveToBytes();
        EXPECT_EQ(data.size(), pf == pf24bit ? 54 + 40 * 5 : 54 + 13 * 4 * 5);
        TBitmap back;
        QString error;
        ASSERT_TRUE(back.LoadFromBytes(data, &error)) << error.toStdString();
        EXPECT_EQ(back.PixelFormat(), pf);
        EXPECT_EQ(back.Image(), b.Image());
    }
}

TEST(BitmapTest, FileRoundTrip) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("curve.bmp"));
    TBitmap b = Pattern(20, 9);
    ASSERT_TRUE(b.SaveToFile(path));
    TBitmap back;
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(back.Image(), b.Image());
    QString error;
    EXPECT_FALSE(back.LoadFromFile(dir.filePath(QStringLiteral("missing.bmp")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(BitmapTest, ReadsPaletteAndTopDownFiles) {
    // 3 x 2, 8 bits per pixel, two colours, top-down
    QByteArray d(54 + 8 + 2 * 4, '\0');
    d[0] = 'B';
    d[1] = 'M';
    PutU32(d, 2, std::uint32_t(d.size()));
    PutU32(d, 10, 54 + 8);
    PutU32(d, 14, 40);
    PutU32(d, 18, 3);
    PutU32(d, 22, std::uint32_t(-2));
    d[26] = 1;
    d[28] = 8;
    PutU32(d, 46, 2);
    PutU32(d, 54, 0x000000FF);  // entry 0: blue (B, G, R, 0)
    PutU32(d, 58, 0x00FF0000);  // entry 1: red
    d[62] = 0;
    d[63] = 1;
    d[64] = 0;
    d[66] = 1;
    TBitmap b;
    QString error;
    ASSERT_TRUE(b.LoadFromBytes(d, &error)) << error.toStdString();
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Canvas().Pixels(0, 0), clBlue);
    EXPECT_EQ(b.Canvas().Pixels(1, 0), clRed);
    EXPECT_EQ(b.Canvas().Pixels(0, 1), clRed);
    EXPECT_EQ(b.PixelFormat(), pf8bit);

    d[64] = 7;  // an index outside the two-entry table
    EXPECT_FALSE(b.LoadFromBytes(d, &error));
}

TEST(BitmapTest, DamagedFilesAreRejectedAndLeaveTheBitmapAlone) {
    const QByteArray good = Pattern(4, 3).SaveToBytes();
    TBitmap target = Pattern(2, 2);
    const QImage before = target.Image();
    int changes = 0;
    target.OnChange = [&] { ++changes; };

    auto rejects = [&](QByteArray data, const char* what) {
        QString error;
        EXPECT_FALSE(target.LoadFromBytes(data, &error)) << what;
        EXPECT_FALSE(error.isEmpty()) << what;
    };
    rejects(QByteArray(), "empty");
    rejects(good.left(20), "header cut");
    rejects(good.left(good.size() - 1), "pixel data one byte short");
    QByteArray d = good;
    d[0] = 'X';
    rejects(d, "signature");
    d = good;
    PutU32(d, 10, 0x7FFFFFF0);
    rejects(d, "pixel offset past the end");
    d = good;
    PutU32(d, 14, 0xFFFFFFF0);
    rejects(d, "header size");
    d = good;
    PutU32(d, 18, 0);
    rejects(d, "zero width");
    d = good;
    PutU32(d, 18, 0x7FFFFFFF);
    PutU32(d, 22, 0x7FFFFFFF);
    rejects(d, "huge size");
    d = good;
    PutU32(d, 22, 0x80000000);
    rejects(d, "most negative height");
    d = good;
    d[28] = 12;
    rejects(d, "bit count");
    d = good;
    d[30] = 1;
    rejects(d, "compressed");

    EXPECT_EQ(target.Image(), before);
    EXPECT_EQ(changes, 0);
}

// A one-bit file with a two-colour table and zero pixels, of the size given.
QByteArray OneBitFile(std::int32_t width, std::int32_t height) {
    const std::int64_t stride = ((std::int64_t(width) + 31) / 32) * 4;
    QByteArray d(54 + 8, '\0');
    d[0] = 'B';
    d[1] = 'M';
    PutU32(d, 10, 62);
    PutU32(d, 14, 40);
    PutU32(d, 18, std::uint32_t(width));
    PutU32(d, 22, std::uint32_t(height));
    d[26] = 1;
    d[28] = 1;
    PutU32(d, 58, 0x00FFFFFF);  // colour 1 white, colour 0 black
    d.append(QByteArray(qsizetype(stride * std::abs(std::int64_t(height))), '\0'));
    return d;
}

TEST(BitmapTest, PicturesLargerThanTheProgramCanUseAreRefusedBeforeAllocating) {
    // 32 MiB of one-bit pixels would be a 1 GiB image.
    QString error;
    EXPECT_TRUE(DecodeBitmapFile(OneBitFile(16384, 16384), nullptr, &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("16777216"))) << error.toStdString();
    for (const auto& [w, h] : {std::pair(16385, 1), std::pair(1, -16385), std::pair(4097, 4096)}) {
        error.clear();
        EXPECT_TRUE(DecodeBitmapFile(OneBitFile(w, h), nullptr, &error).isNull()) << w << "x" << h;
        EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << w << "x" << h;
    }
    // The limits themselves are pictures the program takes.
    for (const auto& [w, h] : {std::pair(16384, 1), std::pair(1024, -16384)}) {
        const QImage image = DecodeBitmapFile(OneBitFile(w, h), nullptr, &error);
        EXPECT_EQ(image.size(), QSize(w, std::abs(h))) << error.toStdString();
    }
}

TEST(BitmapTest, ResizeKeepsTheOverlapAndWhitensTheRest) {
    TBitmap b = Pattern(3, 3);
    int changes = 0;
    b.OnChange = [&] { ++changes; };
    b.SetSize(5, 2);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(b.Canvas().Pixels(2, 1), RGB(14, 11, 9));
    EXPECT_EQ(b.Canvas().Pixels(4, 0), clWhite);
    b.SetSize(5, 2);
    EXPECT_EQ(changes, 1);
    TBitmap copy(b);
    copy.Canvas().SetPixels(0, 0, clRed);
    EXPECT_NE(b.Canvas().Pixels(0, 0), clRed);  // copies do not share pixels
}

}  // namespace
}  // namespace velmora
