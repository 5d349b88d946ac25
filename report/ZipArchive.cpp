#include "ZipArchive.h"
#include "framework/German.h"
#include "framework/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace velmora {
namespace {

// The German reason for a libzip error code; libzip's own text for the rare ones.
QString ZipReason(int zipError, int systemError) {
    QString reason;
    switch (zipError) {
        case ZIP_ER_EXISTS:
            reason = QStringLiteral("Die Datei ist schon vorhanden.");
            break;
        case ZIP_ER_NOENT:
            reason = QStringLiteral("Die Datei wurde nicht gefunden.");
            break;
        case ZIP_ER_OPEN:
        case ZIP_ER_TMPOPEN:
            reason = QStringLiteral("Die Datei kann nicht angelegt werden.");
            break;
        case ZIP_ER_WRITE:
        case ZIP_ER_CLOSE:
            reason = QStringLiteral("Beim Schreiben der Datei ist ein Fehler aufgetreten.");
            break;
        case ZIP_ER_RENAME:
            reason = QStringLiteral("Die fertige Datei kann nicht an ihren Platz gelegt werden.");
            break;
        case ZIP_ER_MEMORY:
            reason = QStringLiteral("Nicht genügend Speicher.");
            break;
        default: {
            zip_error_t error;
            zip_error_init_with_code(&error, zipError);
            reason = QString::fromUtf8(zip_error_strerror(&error));
            zip_error_fini(&error);
            return reason;
        }
    }
    if (systemError != 0) {
        reason += QLatin1Char(' ') + ReasonOf(systemError);
    }
    return reason;
}

}  // namespace

void ZipWriter::Discard::operator()(zip* archive) const {
    zip_discard(archive);
}

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    archive_.reset();
    RemoveTemporary();
}

void ZipWriter::SetError(int zipError, int systemError) {
    systemError_ = systemError;
    error_ = ZipReason(zipError, systemError);
}

void ZipWriter::RemoveTemporary() {
    if (!temporary_.isEmpty()) {
        ::unlink(QFile::encodeName(temporary_).constData());
        temporary_.clear();
    }
}

bool ZipWriter::Create(const QString& path, bool replace) {
    archive_.reset();
    RemoveTemporary();
    data_.clear();
    exists_ = false;
    path_ = path;
    replace_ = replace;
    if (!replace && QFileInfo::exists(path)) {
        exists_ = true;
        SetError(ZIP_ER_EXISTS, 0);
        return false;
    }
    // A name of its own beside the archive's, on the same file system, so that it can be moved.
    const QFileInfo info(path);
    QByteArray pattern =
        QFile::encodeName(info.dir().filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        SetError(ZIP_ER_OPEN, errno);
        return false;
    }
    ::close(fd);
    temporary_ = QFile::decodeName(pattern);
    int code = 0;
    zip* archive = zip_open(pattern.constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) {
        // Taken at once: the system's error number of a system error is errno's now.
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        SetError(code, zip_error_code_system(&error));
        zip_error_fini(&error);
        RemoveTemporary();
        return false;
    }
    archive_.reset(archive);
    return true;
}

bool ZipWriter::Add(const QString& name, const QByteArray& data, bool compress) {
    if (!archive_) {
        return false;
    }
    data_.push_back(data);
    const QByteArray& kept = data_.back();
    zip_source_t* source =
        zip_source_buffer(archive_.get(), kept.constData(), zip_uint64_t(kept.size()), 0);
    if (source == nullptr) {
        const zip_error_t* error = zip_get_error(archive_.get());
        SetError(zip_error_code_zip(error), zip_error_code_system(error));
        return false;
    }
    const zip_int64_t index =
        zip_file_add(archive_.get(), name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        const zip_error_t* error = zip_get_error(archive_.get());
        SetError(zip_error_code_zip(error), zip_error_code_system(error));
        return false;
    }
    zip_set_file_compression(archive_.get(), zip_uint64_t(index),
                             compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    return true;
}

bool ZipWriter::Commit() {
    if (!archive_) {
        return false;
    }
    if (zip_close(archive_.get()) != 0) {
        // The archive stays open after a failed close; the deleter discards it.
        zip_error_t* error = zip_get_error(archive_.get());
        SetError(zip_error_code_zip(error), zip_error_code_system(error));
        archive_.reset();
        RemoveTemporary();
        return false;
    }
    (void)archive_.release();  // zip_close freed it
    data_.clear();
    int error = 0;
    if (!MoveIntoPlace(temporary_, path_, replace_, &error)) {
        exists_ = error == EEXIST;
        SetError(exists_ ? ZIP_ER_EXISTS : ZIP_ER_RENAME, exists_ ? 0 : error);
        RemoveTemporary();
        return false;
    }
    temporary_.clear();
    return true;
}

void ZipReader::Close::operator()(zip* archive) const {
    zip_discard(archive);
}

ZipReader::ZipReader() = default;
ZipReader::~ZipReader() = default;

bool ZipReader::Open(const QString& path) {
    archive_.reset();
    int code = 0;
    zip* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (archive == nullptr) {
        error_ = ZipReason(code, 0);
        return false;
    }
    archive_.reset(archive);
    return true;
}

QStringList ZipReader::Names() const {
    QStringList names;
    if (!archive_) {
        return names;
    }
    const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        if (const char* name = zip_get_name(archive_.get(), zip_uint64_t(i), ZIP_FL_ENC_GUESS)) {
            names << QString::fromUtf8(name);
        }
    }
    return names;
}

bool ZipReader::Read(const QString& name, QByteArray* data) const {
    data->clear();
    if (!archive_) {
        return false;
    }
    const QByteArray utf8 = name.toUtf8();
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive_.get(), utf8.constData(), 0, &stat) != 0 ||
        (stat.valid & ZIP_STAT_SIZE) == 0 || stat.size > zip_uint64_t(512) * 1024 * 1024) {
        return false;
    }
    zip_file_t* file = zip_fopen(archive_.get(), utf8.constData(), 0);
    if (file == nullptr) {
        return false;
    }
    data->resize(qsizetype(stat.size));
    const zip_int64_t read = zip_fread(file, data->data(), stat.size);
    zip_fclose(file);
    if (read < 0 || zip_uint64_t(read) != stat.size) {
        data->clear();
        return false;
    }
    return true;
}

}  // namespace velmora
