#include "WhisperModelWriter.h"

#include <QFloat16>
#include <QSaveFile>

#include <cmath>
#include <utility>
#include <vector>

namespace {
constexpr std::uint32_t kMagic = 0x67676d6c;
constexpr int kTextTokens = 50257; // ids below the end-of-text token
constexpr int kSpaceToken = 220;
constexpr std::int32_t kF32 = 0;
constexpr std::int32_t kF16 = 1;
constexpr std::int32_t kQ5_0 = 6;
constexpr std::int32_t kQ8_0 = 8;
constexpr int kQuantBlock = 32; // elements per block of both
// A quantised file's header carries the quantisation version too.
constexpr std::int32_t kQuantVersionFactor = 1000;
constexpr std::int32_t kQuantVersion = 2;

struct WeightFormat {
    std::int32_t tensorType;
    std::int32_t fileType; // the header's ftype
};

// Bytes per block of kQuantBlock elements: a half-precision scale, then the
// quantised values (5 or 8 bits each).
qsizetype quantisedBlockBytes(std::int32_t type)
{
    return type == kQ5_0 ? 22 : 34;
}

WeightFormat weightFormat(WhisperModelShape::Weights weights)
{
    switch (weights) {
    case WhisperModelShape::Weights::f16:
        break;
    case WhisperModelShape::Weights::q5_0:
        return {kQ5_0, kQuantVersion * kQuantVersionFactor + 8};
    case WhisperModelShape::Weights::q8_0:
        return {kQ8_0, kQuantVersion * kQuantVersionFactor + 7};
    }
    return {kF16, 1};
}

class Random {
public:
    explicit Random(std::uint64_t seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 1)
    {
    }
    // Uniform in [-1, 1).
    float next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return float(m_state >> 40) / float(1 << 23) - 1.0f;
    }

private:
    std::uint64_t m_state;
};

// Vocabulary entries: a lone space where GPT-2 has it, pseudo-words elsewhere
// (every third with a leading space, as word-initial tokens have).
QByteArray token(int id)
{
    if (id == kSpaceToken)
        return " ";
    QByteArray word = id % 3 == 0 ? " " : "";
    int n = id;
    do {
        word += char('a' + n % 26);
        n /= 26;
    } while (n > 0);
    return word;
}

// Appends a model to `out`, remembering where each tensor's data starts.
class ModelStream {
public:
    ModelStream(QByteArray &out, std::uint32_t seed, WhisperModelShape::TensorFault fault = {})
        : m_out(out)
        , m_random(seed)
        , m_fault(std::move(fault))
    {
    }

    void int32(std::int32_t value) { raw(&value, sizeof value); }
    void uint32(std::uint32_t value) { raw(&value, sizeof value); }
    void floats(const std::vector<float> &values) { raw(values.data(), values.size() * sizeof(float)); }
    void raw(const void *data, std::size_t size) { m_out.append(static_cast<const char *>(data), qsizetype(size)); }

    enum class Fill { random, ones, zeros };

    // ne in ggml order (fastest-varying first); `scale` bounds random values.
    void tensor(const QByteArray &name, std::vector<int> ne, std::int32_t type, Fill fill, float scale)
    {
        using Fault = WhisperModelShape::TensorFault::Kind;
        if (name == m_fault.tensor) {
            switch (m_fault.kind) {
            case Fault::none:
            case Fault::added:
                break;
            case Fault::missing:
                return;
            case Fault::f32:
                type = kF32;
                break;
            case Fault::transposed:
                std::swap(ne[0], ne[1]);
                break;
            }
        }
        int32(std::int32_t(ne.size()));
        int32(std::int32_t(name.size()));
        int32(type);
        std::int64_t count = 1;
        for (int extent : ne) {
            int32(extent);
            count *= extent;
        }
        raw(name.constData(), std::size_t(name.size()));
        dataStarts.push_back(m_out.size());
        if (type != kF32 && type != kF16) {
            // zero blocks: only their count and size matter to the tests of such files
            m_out.append(QByteArray(qsizetype(count / kQuantBlock) * quantisedBlockBytes(type), '\0'));
            return;
        }
        std::vector<float> values(static_cast<std::size_t>(count));
        for (float &v : values)
            v = fill == Fill::random ? scale * m_random.next() : fill == Fill::ones ? 1.0f : 0.0f;
        if (type == kF32) {
            floats(values);
        } else {
            std::vector<qfloat16> half(values.size());
            qFloatToFloat16(half.data(), values.data(), qsizetype(values.size()));
            raw(half.data(), half.size() * sizeof(qfloat16));
        }
    }

    // After the last tensor, so that the file is otherwise complete.
    void addedTensor(int extent)
    {
        if (m_fault.kind == WhisperModelShape::TensorFault::Kind::added)
            tensor(m_fault.tensor, {extent}, kF32, Fill::zeros, 0);
    }

    Random &random() { return m_random; }
    std::vector<qint64> dataStarts;

private:
    QByteArray &m_out;
    Random m_random;
    WhisperModelShape::TensorFault m_fault;
};

struct Layout {
    qint64 vocabularyStart = 0;
    qint64 tensorsStart = 0;
    std::vector<qint64> dataStarts;
};

QByteArray build(const WhisperModelShape &m, std::uint32_t seed, Layout &layout, bool withTensors = true)
{
    QByteArray out;
    using Fill = ModelStream::Fill;
    ModelStream s(out, seed, m.tensorFault);
    const WeightFormat weights = weightFormat(m.weights);
    s.uint32(kMagic);
    for (int value : {m.vocabulary, m.audioContext, m.state, m.heads, m.audioLayers, m.textContext, m.state,
                      m.textHeads.value_or(m.heads), m.textLayers, m.mels, int(m.fileType.value_or(weights.fileType))})
        s.int32(value);

    s.int32(m.mels);
    s.int32(m.filterBins);
    std::vector<float> filters(std::size_t(m.mels) * m.filterBins);
    for (float &f : filters)
        f = 0.01f * (1.0f + s.random().next());
    s.floats(filters);

    layout.vocabularyStart = out.size();
    s.int32(kTextTokens);
    for (int id = 0; id < kTextTokens; ++id) {
        const QByteArray word = token(id);
        s.uint32(std::uint32_t(word.size()));
        out.append(word);
    }
    layout.tensorsStart = out.size();
    if (!withTensors)
        return out;

    const int n = m.state;
    const std::int32_t matrixType = weights.tensorType;
    const float matrix = 1.0f / std::sqrt(float(n));
    const float wide = 1.0f / std::sqrt(float(4 * n));
    const float bias = 0.02f;
    auto layerNorm = [&](const QByteArray &prefix) {
        s.tensor(prefix + ".weight", {n}, kF32, Fill::ones, 0);
        s.tensor(prefix + ".bias", {n}, kF32, Fill::zeros, 0);
    };
    auto attention = [&](const QByteArray &prefix) {
        s.tensor(prefix + ".query.weight", {n, n}, matrixType, Fill::random, matrix);
        s.tensor(prefix + ".query.bias", {n}, kF32, Fill::random, bias);
        s.tensor(prefix + ".key.weight", {n, n}, matrixType, Fill::random, matrix);
        s.tensor(prefix + ".value.weight", {n, n}, matrixType, Fill::random, matrix);
        s.tensor(prefix + ".value.bias", {n}, kF32, Fill::random, bias);
        s.tensor(prefix + ".out.weight", {n, n}, matrixType, Fill::random, matrix);
        s.tensor(prefix + ".out.bias", {n}, kF32, Fill::random, bias);
    };
    auto mlp = [&](const QByteArray &prefix) {
        layerNorm(prefix + ".mlp_ln");
        s.tensor(prefix + ".mlp.0.weight", {n, 4 * n}, matrixType, Fill::random, matrix);
        s.tensor(prefix + ".mlp.0.bias", {4 * n}, kF32, Fill::random, bias);
        s.tensor(prefix + ".mlp.2.weight", {4 * n, n}, matrixType, Fill::random, wide);
        s.tensor(prefix + ".mlp.2.bias", {n}, kF32, Fill::random, bias);
    };

    s.tensor("encoder.positional_embedding", {n, m.audioContext}, kF32, Fill::random, 0.1f);
    s.tensor("encoder.conv1.weight", {3, m.mels, n}, kF16, Fill::random, 1.0f / std::sqrt(3.0f * m.mels));
    s.tensor("encoder.conv1.bias", {1, n}, kF32, Fill::random, bias);
    s.tensor("encoder.conv2.weight", {3, n, n}, kF16, Fill::random, 1.0f / std::sqrt(3.0f * n));
    s.tensor("encoder.conv2.bias", {1, n}, kF32, Fill::random, bias);
    for (int i = 0; i < m.audioLayers; ++i) {
        const QByteArray block = "encoder.blocks." + QByteArray::number(i);
        layerNorm(block + ".attn_ln");
        attention(block + ".attn");
        mlp(block);
    }
    layerNorm("encoder.ln_post");

    s.tensor("decoder.positional_embedding", {n, m.textContext}, kF32, Fill::random, 0.1f);
    s.tensor("decoder.token_embedding.weight", {n, m.vocabulary}, matrixType, Fill::random, 0.5f);
    for (int i = 0; i < m.textLayers; ++i) {
        const QByteArray block = "decoder.blocks." + QByteArray::number(i);
        layerNorm(block + ".attn_ln");
        attention(block + ".attn");
        layerNorm(block + ".cross_attn_ln");
        attention(block + ".cross_attn");
        mlp(block);
    }
    layerNorm("decoder.ln");
    s.addedTensor(n);

    layout.dataStarts = s.dataStarts;
    return out;
}

QString saveBytes(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(bytes);
    return file.commit() ? QString() : file.errorString();
}
} // namespace

WhisperModelFamily WhisperModelShape::tinyFamily()
{
    WhisperModelFamily family = WhisperModelFamily::published();
    const WhisperModelShape shape = tiny();
    family.textContext = shape.textContext;
    family.widths = {{shape.state, shape.heads}};
    return family;
}

WhisperModelShape WhisperModelShape::largeV3(Weights weights)
{
    return {.vocabulary = 51866, .state = 1280, .heads = 20, .textContext = 448, .mels = 128, .weights = weights};
}

WhisperModelShape WhisperModelShape::base()
{
    return {.state = 512, .heads = 8, .audioLayers = 6, .textContext = 448, .textLayers = 6};
}

QString WhisperModelWriter::writeModel(const QString &path, const WhisperModelShape &shape, std::uint32_t seed)
{
    Layout layout;
    return saveBytes(path, build(shape, seed, layout));
}

QString WhisperModelWriter::writeDamagedModel(const QString &path, Damage damage)
{
    if (damage == Damage::empty)
        return saveBytes(path, {});

    Layout layout;
    WhisperModelShape shape = WhisperModelShape::tiny();
    if (damage == Damage::foreignMelFilters)
        shape.filterBins = 2000;
    QByteArray bytes = build(shape, 1, layout, damage != Damage::noTensors);

    switch (damage) {
    case Damage::empty:
    case Damage::noTensors:
    case Damage::foreignMelFilters:
        break;
    case Damage::implausibleDimensions: {
        const std::int32_t zero = 0;
        bytes.replace(12, 4, reinterpret_cast<const char *>(&zero), 4); // the state size
        break;
    }
    case Damage::badMagic:
        bytes[0] = 'X';
        break;
    case Damage::truncatedInHeader:
        bytes.truncate(4 + 5 * 4);
        break;
    case Damage::truncatedInVocabulary:
        bytes.truncate((layout.vocabularyStart + layout.tensorsStart) / 2);
        break;
    case Damage::truncatedMidTensor:
        bytes.truncate(layout.dataStarts[layout.dataStarts.size() / 2] + 3);
        break;
    case Damage::truncatedInLastTensor:
        bytes.truncate(bytes.size() - 2);
        break;
    }
    return saveBytes(path, bytes);
}
