#pragma once

// Zip archives through libzip; no other unit sees libzip.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>

struct zip;

namespace velmora {

// Writes a new zip archive. The archive appears at its path, whole, only when Commit succeeds
// (libzip writes a temporary file beside it and renames it); a writer destroyed without a
// successful Commit leaves nothing behind. Failures set a German reason and the system's error
// number where there is one.
class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Starts an archive at `path`, which must not exist yet.
    bool Create(const QString& path);
    // Adds an entry; `compress` deflates it, else it is stored as it is.
    bool Add(const QString& name, const QByteArray& data, bool compress);
    bool Commit();

    const QString& ErrorString() const { return error_; }
    int SystemError() const { return systemError_; }
    // Create failed because the file exists already.
    bool Exists() const { return exists_; }

private:
    struct Discard {
        void operator()(zip* archive) const;
    };

    void SetError(int zipError, int systemError);

    std::unique_ptr<zip, Discard> archive_;
    std::deque<QByteArray> data_;  // libzip reads the entries' bytes only in Commit
    QString error_;
    int systemError_ = 0;
    bool exists_ = false;
};

// Reads the entries of a zip archive, checking its consistency when it opens.
class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool Open(const QString& path);
    QStringList Names() const;
    // The entry's bytes; false when there is no such entry or it cannot be read.
    bool Read(const QString& name, QByteArray* data) const;
    const QString& ErrorString() const { return error_; }

private:
    struct Close {
        void operator()(zip* archive) const;
    };

    std::unique_ptr<zip, Close> archive_;
    QString error_;
};

}  // namespace velmora
