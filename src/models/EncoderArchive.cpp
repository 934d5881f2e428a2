#include "EncoderArchive.h"

#include "models/CoreMLEncoderError.h"
#include "support/ByteCountFormat.h"
#include "support/FileWriting.h"
#include "support/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <memory>
#include <sys/stat.h>
#include <zip.h>

namespace EncoderArchive {

namespace {

constexpr qint64 kBlock = 1024 * 1024;

struct ArchiveCloser {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t *entry) const { zip_fclose(entry); }
};

struct Entry {
    zip_uint64_t index = 0;
    QString name;
    bool isDirectory = false;
};

[[noreturn]] void refuse(const QString &archive, const QString &why)
{
    logLine("CoreML", QStringLiteral("Refusing %1: %2").arg(QFileInfo(archive).fileName(), why));
    throw CoreMLEncoderError::unzipFailed();
}

// A relative name inside encoderName/: anything else could write outside it.
bool isInside(const QString &name, const QString &encoderName)
{
    if (name.contains(QLatin1Char('\\')) || name.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'));
    return parts.first() == encoderName && !parts.contains(QStringLiteral(".."));
}

// The entries to unpack, after every one of them was looked at.
QList<Entry> listEntries(zip_t *zip, const QString &archive, const QString &encoderName, qint64 room)
{
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    if (count <= 0)
        refuse(archive, QStringLiteral("it holds nothing"));
    QList<Entry> entries;
    quint64 claimed = 0;
    for (zip_uint64_t index = 0; index < zip_uint64_t(count); ++index) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME))
            refuse(archive, QStringLiteral("entry %1 cannot be read").arg(index));
        Entry entry{index, QString::fromUtf8(stat.name), false};
        entry.isDirectory = entry.name.endsWith(QLatin1Char('/'));
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(zip, index, 0, &system, &attributes);
        // Unix archives record the file type; others can hold only files and directories
        const mode_t type = system == ZIP_OPSYS_UNIX ? mode_t(attributes >> 16) & S_IFMT : 0;
        const bool plain = type == 0 || (entry.isDirectory ? type == S_IFDIR : type == S_IFREG);
        if (!plain || !isInside(entry.name, encoderName))
            refuse(archive, QStringLiteral("entry \"%1\" is not a file or directory inside %2/").arg(entry.name, encoderName));
        // reading one would need a password, and nobody is there to give it
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            refuse(archive, QStringLiteral("entry \"%1\" is encrypted").arg(entry.name));
        if (stat.valid & ZIP_STAT_SIZE)
            claimed += stat.size;
        entries.append(entry);
    }
    // an honest archive that is too large is refused before it fills the disk
    if (claimed > quint64(room))
        throw DescribedError(QStringLiteral("The encoder archive would unpack to %1, more than there is room for.")
                                 .arg(formatByteCount(qint64(qMin<quint64>(claimed, quint64(INT64_MAX))))));
    return entries;
}

} // namespace

void unpack(const QString &archive, const QString &target, const QString &encoderName, qint64 room,
            const std::atomic<bool> &stopping)
{
    int openError = 0;
    const std::unique_ptr<zip_t, ArchiveCloser> zip(
        zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &openError));
    if (!zip)
        refuse(archive, QStringLiteral("it is not a readable zip archive"));
    const QList<Entry> entries = listEntries(zip.get(), archive, encoderName, room);

    const QDir into(target);
    QByteArray block(kBlock, Qt::Uninitialized);
    qint64 written = 0;
    for (const Entry &entry : entries) {
        const QString path = into.filePath(entry.name);
        if (entry.isDirectory) {
            if (!into.mkpath(entry.name))
                throw DescribedError(QStringLiteral("Could not unpack the encoder: cannot create %1.").arg(path));
            continue;
        }
        if (!into.mkpath(QFileInfo(entry.name).path()))
            throw DescribedError(QStringLiteral("Could not unpack the encoder: cannot create %1.").arg(QFileInfo(path).path()));
        const std::unique_ptr<zip_file_t, EntryCloser> source(zip_fopen_index(zip.get(), entry.index, 0));
        if (!source)
            refuse(archive, QStringLiteral("entry \"%1\": %2").arg(entry.name, QString::fromUtf8(zip_strerror(zip.get()))));
        QFile out(path);
        // a fresh file only: never through a name an earlier entry left behind
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            throw DescribedError(QStringLiteral("Could not unpack the encoder: %1").arg(out.errorString()));
        for (;;) {
            if (stopping)
                throw DescribedError(QStringLiteral("cancelled"));
            const zip_int64_t size = zip_fread(source.get(), block.data(), zip_uint64_t(block.size()));
            if (size < 0)
                refuse(archive, QStringLiteral("entry \"%1\": %2")
                                    .arg(entry.name, QString::fromUtf8(zip_file_strerror(source.get()))));
            if (size == 0)
                break;
            // headers can lie about sizes: what is written is what counts
            written += size;
            if (written > room)
                throw DescribedError(QStringLiteral("The encoder archive unpacks to more than the %1 there is room for.")
                                         .arg(formatByteCount(room)));
            if (!FileWriting::writeAll(out, block.constData(), size))
                throw DescribedError(QStringLiteral("Could not unpack the encoder: %1").arg(out.errorString()));
        }
    }
}

} // namespace EncoderArchive
