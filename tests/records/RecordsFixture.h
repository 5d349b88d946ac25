#pragma once

// One fixture for both databases: a SQLite file in a temporary folder, or a fresh database on a
// PostgreSQL server that the suite starts for itself.

#include "records/DatabaseAddress.h"
#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"

#include "tests/support/PostgresServer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <ostream>
#include <string>

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace velmora::test {

enum class DatabaseKind { SQLite, PostgreSQL };

inline std::string KindName(const ::testing::TestParamInfo<DatabaseKind>& info) {
    return info.param == DatabaseKind::SQLite ? "SQLite" : "PostgreSQL";
}

// The suite's server, started at its first use and stopped at the end of the test program.
inline PostgresServer& SharedPostgres(std::string* error) {
    static PostgresServer server;
    static std::string startError;
    static const bool started = server.Start(&startError);
    if (!started) {
        *error = startError;
    }
    return server;
}

class RecordsFixture : public ::testing::TestWithParam<DatabaseKind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        if (GetParam() == DatabaseKind::SQLite) {
            address_ = folder_.filePath(QStringLiteral("records/velmora.sqlite"));
        } else {
            std::string error;
            PostgresServer& server = SharedPostgres(&error);
            ASSERT_TRUE(error.empty()) << error;
            static int counter = 0;
            const std::string uri = server.CreateDatabase("test" + std::to_string(++counter));
            ASSERT_FALSE(uri.empty()) << "createdb failed";
            address_ = QString::fromStdString(uri);
        }
    }

    DatabaseAddress Address() const {
        QString error;
        auto address = DatabaseAddress::Parse(address_, &error);
        EXPECT_TRUE(address) << error.toStdString();
        return address.value_or(DatabaseAddress{});
    }

    // Opens the records as a program would; fails the test when they cannot be opened.
    std::unique_ptr<RecordsDatabase> Open(int schemaUpTo = -1) {
        QString error;
        auto database = RecordsDatabase::Open(Address(), &error, schemaUpTo);
        EXPECT_TRUE(database) << error.toStdString();
        return database;
    }

    bool IsSQLite() const { return GetParam() == DatabaseKind::SQLite; }

    QTemporaryDir folder_;
    QString address_;
};

}  // namespace velmora::test
