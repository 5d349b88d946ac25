#pragma once

// The console with a link to a practice's software: requests written into an exchange folder of
// the test's own as a practice's software writes them, and the results read back.

#include "tests/app/RecordsWindowFixture.h"

#include "app/GdtLink.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

namespace velmora::test {

// A request as a practice's software writes it, in code page 437 (ü is 0x81, ß is 0xE1).
inline QByteArray Request(const QByteArray& number, const QByteArray& street,
                          const QByteArray& name = "M\x81ller",
                          const QByteArray& firstName = "J\x94rg",
                          const QByteArray& birthDate = "15031962") {
    QByteArray body;
    const auto line = [&body](const char* id, const QByteArray& content) {
        body +=
            QByteArray::number(9 + content.size()).rightJustified(3, '0') + id + content + "\r\n";
    };
    line("8315", "VELMORA");
    line("8316", "PRAXEDV");
    line("9218", "02.10");
    line("3000", number);
    line("3101", name);
    line("3102", firstName);
    line("3103", birthDate);
    line("3106", "53111 Bonn");
    line("3107", street);
    return "01380006302\r\n" + body;  // without 8100, which a reader tolerates
}

class GdtWindow : public RecordsWindowFixture {
protected:
    void SetUp() override {
        RecordsWindowFixture::SetUp();
        settings_.folder = exchange_.path();
    }
    TForm1& OpenGdtWindow() {
        TForm1& f = OpenWindow();
        f.SetGdtLink(std::make_unique<GdtLink>(settings_, pending_.path()));
        return f;
    }
    QString WriteRequest(const QByteArray& bytes) {
        const QString path = QDir(exchange_.path()).filePath(QStringLiteral("VELMPRAX.GDT"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QByteArray Result(const QString& name = QStringLiteral("PRAXVELM.GDT")) {
        QFile file(QDir(settings_.folder).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir exchange_;
    QTemporaryDir pending_;
    GdtSettings settings_;
};

// The content of every line of a record with this field id.
inline QList<QByteArray> Field(const QByteArray& record, const QByteArray& id) {
    QList<QByteArray> found;
    for (const QByteArray& line : record.split('\n')) {
        if (line.mid(3, 4) == id) {
            found << line.mid(7).chopped(line.endsWith('\r') ? 1 : 0);
        }
    }
    return found;
}

}  // namespace velmora::test
