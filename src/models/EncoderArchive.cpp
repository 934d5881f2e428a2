#include "EncoderArchive.h"

#include "models/CoreMLEncoderError.h"
#include "support/ByteCountFormat.h"
#include "support/FileWriting.h"
#include "support/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>

#include <memory>
#include <sys/stat.h>
#include <zip.h>

namespace EncoderArchive {

namespace {

constexpr qint64 kChunk = 1024 * 1024;
// where the filesystem cannot tell
constexpr qint64 kDefaultBlockSize = 4096;

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

// What the encoder takes on disk so far, or would take.
struct Usage {
    qint64 bytes = 0;
    qint64 entries = 0;
};

class Budget {
public:
    explicit Budget(const Bounds &bounds)
        : m_bounds(bounds)
        , m_blockSize(bounds.disk && bounds.disk->blockSize > 0 ? bounds.disk->blockSize : kDefaultBlockSize)
        , m_archive(bounds.archiveBytes > 0 ? onDisk(bounds.archiveBytes) : 0)
    {
        if (m_bounds.disk)
            m_bounds.disk->availableBytes += m_archive;
    }

    qint64 blockSize() const { return m_blockSize; }
    // a file's content in whole blocks; even an empty one takes a block
    qint64 onDisk(qint64 content) const { return qMax<qint64>(1, (content + m_blockSize - 1) / m_blockSize) * m_blockSize; }

    // Why `usage` does not fit; empty when it does. `measured`: counted while
    // writing, so only a lower bound of the whole.
    QString refusal(const Usage &usage, bool measured) const
    {
        // names do not lie: entries are counted in full before unpacking
        if (usage.entries > m_bounds.entries) {
            return QStringLiteral("The encoder archive holds %1 files and folders, more than the %2 an encoder may have.")
                .arg(usage.entries)
                .arg(m_bounds.entries);
        }
        if (usage.bytes > m_bounds.bytes) {
            return measured ? QStringLiteral("The encoder archive unpacks to more than the %1 allowed.")
                                  .arg(formatByteCount(m_bounds.bytes))
                            : QStringLiteral("The encoder archive would unpack to %1 on disk, more than the %2 allowed.")
                                  .arg(formatByteCount(usage.bytes), formatByteCount(m_bounds.bytes));
        }
        if (!m_bounds.disk)
            return {};
        const QString bytes = m_bounds.disk->shortfall(m_archive > 0 ? QStringLiteral("the encoder with its archive")
                                                                     : QStringLiteral("the encoder"),
                                                       usage.bytes + m_archive, 0, measured);
        if (!bytes.isEmpty())
            return bytes;
        return m_bounds.disk->shortfall(QStringLiteral("the encoder"), 0, usage.entries, measured);
    }

private:
    Bounds m_bounds;
    qint64 m_blockSize;
    qint64 m_archive; // on disk
};

// The folders an entry lies in, and the entry itself when it is one.
QStringList foldersOf(const Entry &entry)
{
    QStringList parts = entry.name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!entry.isDirectory && !parts.isEmpty())
        parts.removeLast();
    QStringList folders;
    for (qsizetype i = 1; i <= parts.size(); ++i)
        folders.append(parts.first(i).join(QLatin1Char('/')));
    return folders;
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
QList<Entry> listEntries(zip_t *zip, const QString &archive, const QString &encoderName, const Budget &budget)
{
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    if (count <= 0)
        refuse(archive, QStringLiteral("it holds nothing"));
    // before looking at each of what may be millions
    if (const QString why = budget.refusal({0, count}, false); !why.isEmpty())
        throw DescribedError(why);
    QList<Entry> entries;
    QSet<QString> folders;
    Usage claimed;
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
        for (const QString &folder : foldersOf(entry)) {
            if (!folders.contains(folder)) {
                folders.insert(folder);
                claimed.bytes += budget.blockSize();
                ++claimed.entries;
            }
        }
        if (!entry.isDirectory) {
            // sizes past any disk are clamped, not wrapped round
            const auto size = qint64(qMin<zip_uint64_t>((stat.valid & ZIP_STAT_SIZE) ? stat.size : 0, quint64(1) << 60));
            claimed.bytes += budget.onDisk(size);
            ++claimed.entries;
        }
        entries.append(entry);
    }
    // an honest archive that is too large is refused before it fills the disk
    if (const QString why = budget.refusal(claimed, false); !why.isEmpty())
        throw DescribedError(why);
    return entries;
}

} // namespace

void unpack(const QString &archive, const QString &target, const QString &encoderName, const Bounds &bounds,
            const std::atomic<bool> &stopping)
{
    int openError = 0;
    const std::unique_ptr<zip_t, ArchiveCloser> zip(
        zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &openError));
    if (!zip)
        refuse(archive, QStringLiteral("it is not a readable zip archive"));
    const Budget budget(bounds);
    const QList<Entry> entries = listEntries(zip.get(), archive, encoderName, budget);

    // headers can lie about sizes: what is written is what counts
    Usage used;
    const auto take = [&](qint64 bytes, qint64 entries) {
        used.bytes += bytes;
        used.entries += entries;
        if (const QString why = budget.refusal(used, true); !why.isEmpty())
            throw DescribedError(why);
    };
    const QDir into(target);
    QSet<QString> made;
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (const Entry &entry : entries) {
        for (const QString &folder : foldersOf(entry)) {
            if (made.contains(folder))
                continue;
            take(budget.blockSize(), 1);
            if (!into.mkpath(folder))
                throw DescribedError(QStringLiteral("Could not unpack the encoder: cannot create %1.").arg(into.filePath(folder)));
            made.insert(folder);
        }
        if (entry.isDirectory)
            continue;
        const QString path = into.filePath(entry.name);
        const std::unique_ptr<zip_file_t, EntryCloser> source(zip_fopen_index(zip.get(), entry.index, 0));
        if (!source)
            refuse(archive, QStringLiteral("entry \"%1\": %2").arg(entry.name, QString::fromUtf8(zip_strerror(zip.get()))));
        qint64 charged = budget.onDisk(0);
        take(charged, 1);
        QFile out(path);
        // a fresh file only: never through a name an earlier entry left behind
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            throw DescribedError(QStringLiteral("Could not unpack the encoder: %1").arg(out.errorString()));
        qint64 content = 0;
        for (;;) {
            if (stopping)
                throw DescribedError(QStringLiteral("cancelled"));
            const zip_int64_t size = zip_fread(source.get(), chunk.data(), zip_uint64_t(chunk.size()));
            if (size < 0)
                refuse(archive, QStringLiteral("entry \"%1\": %2")
                                    .arg(entry.name, QString::fromUtf8(zip_file_strerror(source.get()))));
            if (size == 0)
                break;
            content += size;
            if (const qint64 cost = budget.onDisk(content); cost > charged) {
                take(cost - charged, 0);
                charged = cost;
            }
            if (!FileWriting::writeAll(out, chunk.constData(), size))
                throw DescribedError(QStringLiteral("Could not unpack the encoder: %1").arg(out.errorString()));
        }
    }
}

} // namespace EncoderArchive
