// The words patients are found by.
#include "records/SearchKey.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(SearchKey, FoldsGermanSpellingsCaseAndAccentsIntoWords) {
    const struct {
        const char* text;
        QStringList words;
    } cases[] = {
        {"Müller", {"mueller"}},
        {"MÜLLER", {"mueller"}},
        {"Mueller", {"mueller"}},
        {"Müller-Lüdenscheidt", {"mueller", "luedenscheidt"}},
        {"Straße", {"strasse"}},
        {"GROẞ", {"gross"}},
        {"Öztürk Ünal", {"oeztuerk", "uenal"}},
        {"René D'Artagnan", {"rene", "d", "artagnan"}},
        {"  A-1234/7 ", {"a", "1234", "7"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SearchWords(QString::fromUtf8(c.text)), c.words) << c.text;
    }
    EXPECT_EQ(NormalizedName(QStringLiteral("  Anna-Lena ")), QStringLiteral("anna lena"));
}

TEST(SearchKey, PrefixEndBoundsExactlyTheWordsWithThePrefix) {
    const QString end = PrefixEnd(QStringLiteral("muel"));
    EXPECT_EQ(end, QStringLiteral("muem"));
    for (const char* word : {"muel", "mueller", "muelz"}) {
        EXPECT_TRUE(QString::fromLatin1(word) >= QStringLiteral("muel") &&
                    QString::fromLatin1(word) < end)
            << word;
    }
    for (const char* word : {"mue", "muem", "mufflon", "mud"}) {
        EXPECT_FALSE(QString::fromLatin1(word) >= QStringLiteral("muel") &&
                     QString::fromLatin1(word) < end)
            << word;
    }
    EXPECT_TRUE(PrefixEnd(QString()).isEmpty());
}

}  // namespace
}  // namespace velmora
