#include "WhisperModelFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdint>
#include <optional>

namespace {
constexpr std::uint32_t kMagic = 0x67676d6c; // "ggml"

// Elements per block and bytes per block of the tensor types whisper models use.
struct TensorType {
    std::int32_t id;
    std::int64_t blockElements;
    std::int64_t blockBytes;
};
constexpr TensorType kTensorTypes[] = {
    {0, 1, 4}, // f32
    {1, 1, 2}, // f16
    {2, 32, 18}, // q4_0
    {3, 32, 20}, // q4_1
    {6, 32, 22}, // q5_0
    {7, 32, 24}, // q5_1
    {8, 32, 34}, // q8_0
    {10, 256, 84}, // q2_k
    {11, 256, 110}, // q3_k
    {12, 256, 144}, // q4_k
    {13, 256, 176}, // q5_k
    {14, 256, 210}, // q6_k
};

const TensorType *tensorType(std::int32_t id)
{
    for (const TensorType &t : kTensorTypes) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

class Reader {
public:
    explicit Reader(QFile &file)
        : m_file(file)
        , m_size(file.size())
    {
    }

    std::optional<std::int32_t> int32()
    {
        std::int32_t value = 0;
        if (m_file.read(reinterpret_cast<char *>(&value), sizeof value) != sizeof value)
            return std::nullopt;
        return value;
    }

    bool skip(std::int64_t bytes)
    {
        if (bytes < 0 || bytes > remaining())
            return false;
        return m_file.seek(m_file.pos() + bytes);
    }

    std::optional<QByteArray> bytes(std::int64_t count)
    {
        if (count < 0 || count > remaining())
            return std::nullopt;
        QByteArray data = m_file.read(count);
        if (data.size() != count)
            return std::nullopt;
        return data;
    }

    std::int64_t remaining() const { return m_size - m_file.pos(); }

private:
    QFile &m_file;
    std::int64_t m_size;
};

// The largest shapes of the Whisper family (large: 32 layers of 1280 wide
// with 20 heads; a 448-token text window and a 30 s, 1500-position audio one).
// Tokens: the English-only, multilingual and large-v3 vocabularies.
constexpr struct {
    std::int32_t low, high;
} kVocabulary{51864, 51866};
constexpr std::int32_t kMaxAudioContext = 1500;
constexpr std::int32_t kMaxTextContext = 448;
constexpr std::int32_t kMaxState = 1280;
constexpr std::int32_t kMaxHeads = 20;
constexpr std::int32_t kMaxLayers = 32;

bool inRange(std::int32_t value, std::int32_t low, std::int32_t high)
{
    return value >= low && value <= high;
}
} // namespace

QString WhisperModelFile::problemWith(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: %1").arg(file.errorString());
    Reader in(file);

    std::uint32_t magic = 0;
    if (file.read(reinterpret_cast<char *>(&magic), sizeof magic) != sizeof magic || magic != kMagic)
        return QStringLiteral("not a ggml model (bad magic)");

    // vocab, audio ctx, audio state, audio heads, audio layers, text ctx,
    // text state, text heads, text layers, mels, ftype
    std::int32_t h[11];
    for (std::int32_t &value : h) {
        const auto read = in.int32();
        if (!read)
            return QStringLiteral("truncated in the header");
        value = *read;
    }
    // The library sizes its buffers from these without a check: a shape
    // outside the Whisper family can ask for more memory than there is, and
    // it does not survive failing to get it.
    const bool plausible = inRange(h[0], kVocabulary.low, kVocabulary.high)
        && inRange(h[1], 1, kMaxAudioContext) && inRange(h[2], 1, kMaxState) && inRange(h[3], 1, kMaxHeads)
        && inRange(h[4], 1, kMaxLayers) && inRange(h[5], 1, kMaxTextContext) && inRange(h[6], 1, kMaxState)
        && inRange(h[7], 1, kMaxHeads) && inRange(h[8], 1, kMaxLayers) && (h[9] == 80 || h[9] == 128)
        && h[10] >= 0 && h[2] == h[6] && h[2] % h[3] == 0 && h[6] % h[7] == 0;
    if (!plausible)
        return QStringLiteral("implausible model dimensions");

    const auto melCount = in.int32();
    const auto fftCount = in.int32();
    if (!melCount || !fftCount || *melCount != h[9] || !inRange(*fftCount, 1, 1 << 14)
        || !in.skip(std::int64_t(*melCount) * *fftCount * 4))
        return QStringLiteral("damaged mel filters");

    const auto tokenCount = in.int32();
    if (!tokenCount || !inRange(*tokenCount, 0, 1 << 20))
        return QStringLiteral("damaged vocabulary");
    for (std::int32_t i = 0; i < *tokenCount; ++i) {
        const auto length = in.int32();
        if (!length || !inRange(*length, 0, 1 << 16) || !in.skip(*length))
            return QStringLiteral("truncated in the vocabulary");
    }

    QSet<QByteArray> names;
    while (in.remaining() > 0) {
        const auto dims = in.int32();
        const auto nameLength = in.int32();
        const auto typeId = in.int32();
        if (!dims || !nameLength || !typeId)
            return QStringLiteral("truncated in a tensor header");
        const TensorType *type = tensorType(*typeId);
        if (!inRange(*dims, 1, 4) || !inRange(*nameLength, 1, 1024) || !type)
            return QStringLiteral("damaged tensor header");
        std::int64_t elements = 1;
        for (std::int32_t d = 0; d < *dims; ++d) {
            const auto extent = in.int32();
            if (!extent || !inRange(*extent, 1, 1 << 24))
                return QStringLiteral("damaged tensor shape");
            elements *= *extent;
            if (elements > (std::int64_t(1) << 34))
                return QStringLiteral("damaged tensor shape");
        }
        if (elements % type->blockElements != 0)
            return QStringLiteral("damaged tensor shape");
        const auto name = in.bytes(*nameLength);
        if (!name)
            return QStringLiteral("truncated in a tensor name");
        if (names.contains(*name))
            return QStringLiteral("tensor %1 appears twice").arg(QString::fromUtf8(*name));
        names.insert(*name);
        if (!in.skip(elements / type->blockElements * type->blockBytes))
            return QStringLiteral("truncated in tensor %1").arg(QString::fromUtf8(*name));
    }
    if (names.isEmpty())
        return QStringLiteral("holds no tensors");
    return {};
}
