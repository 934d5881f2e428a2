#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

struct ModelDescriptor;

// What a downloaded file must be before it may stand under its final name:
// exactly the size the server announced, within the bounds its nominal size
// allows, and starting with its format's signature. Every downloader asks
// here, so an error page, a cut-off body or an endless stream is refused alike
// everywhere. Refusals are texts that say what arrived; empty means accepted.
class DownloadAcceptance {
public:
    enum class Format { whisperModel, gguf, zip, safetensors };

    // A transfer that receives nothing for this long is given up.
    static constexpr std::chrono::milliseconds idleTimeout{std::chrono::minutes(2)};
    // Enough of a file's start to recognise every format.
    static constexpr qsizetype signatureBytes = 16;

    // Any size up to maximumBytes. A file is never written past the size its
    // server announced, so refusing a larger announcement bounds what is written.
    DownloadAcceptance(Format format, qint64 maximumBytes);
    // A catalogue model: its format follows from its task, and its size may
    // differ from the nominal one by a little, not by a factor of two.
    static DownloadAcceptance forModel(const ModelDescriptor &model);

    // The span a 200 or 206 reply announces from its headers.
    struct Announcement {
        qint64 offset = 0; // where the body starts in the file
        qint64 end = 0;    // where it stops
        qint64 total = 0;  // the whole file's size
    };
    // Fills `announcement`, or returns why the headers are unusable: a length
    // missing or garbled, or a total beyond the bounds.
    QString readHeaders(int status, const QByteArray &contentLength, const QByteArray &contentRange,
                        Announcement &announcement) const;
    // The file's first bytes (up to signatureBytes) and its announced total.
    QString checkStart(const QByteArray &head, qint64 total) const;
    // A finished file of `size` bytes starting with `head`.
    QString checkComplete(qint64 size, const QByteArray &head, qint64 total) const;
    // Whether `bytes` more fit in `directory` with the free-space margin kept;
    // where the free space cannot be read, nothing is refused.
    static QString checkRoom(qint64 bytes, const QString &directory);
    // The finished file on disk against the total announced for it.
    QString checkFile(const QString &path, qint64 total) const;

private:
    QString what() const;

    Format m_format;
    qint64 m_minimum = 1;
    qint64 m_maximum;
    qint64 m_nominal = 0; // 0: none known
};
