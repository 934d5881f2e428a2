#include "ModelDescriptor.h"

#include <QJsonValue>

#include <cmath>

namespace {

const QString kModelHost = QStringLiteral("https://huggingface.co/");

QUrl modelFileURL(const QString &repository, const QString &file)
{
    return QUrl(kModelHost + repository + QStringLiteral("/resolve/main/") + file);
}

QUrl modelLicenseURL(const QString &repository)
{
    return QUrl(kModelHost + repository + QStringLiteral("/blob/main/LICENSE"));
}

const QUrl &whisperLicenseURL()
{
    static const QUrl url(QStringLiteral("https://github.com/openai/whisper/blob/main/LICENSE"));
    return url;
}

ModelDescriptor entry(const QString &id, ModelTask task, const QString &name, const QUrl &downloadURL,
                      qint64 expectedBytes, const QString &licenseName, const QUrl &licenseURL)
{
    return ModelDescriptor{id, task, name, QStringLiteral("1.0.0"), downloadURL, QString(),
                           expectedBytes, licenseName, licenseURL};
}

std::optional<QString> stringField(const QJsonObject &json, const QString &key)
{
    const QJsonValue value = json.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QUrl> urlField(const QJsonObject &json, const QString &key)
{
    const auto text = stringField(json, key);
    if (!text)
        return std::nullopt;
    QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

} // namespace

QJsonObject ModelDescriptor::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("task"), Enums::toString(task)},
        {QStringLiteral("name"), name},
        {QStringLiteral("version"), version},
        {QStringLiteral("downloadURL"), downloadURL.toString(QUrl::FullyEncoded)},
        {QStringLiteral("checksumSHA256"), checksumSHA256},
        {QStringLiteral("expectedBytes"), expectedBytes},
        {QStringLiteral("licenseName"), licenseName},
        {QStringLiteral("licenseURL"), licenseURL.toString(QUrl::FullyEncoded)},
    };
}

std::optional<ModelDescriptor> ModelDescriptor::fromJson(const QJsonObject &json)
{
    const auto id = stringField(json, QStringLiteral("id"));
    const auto taskName = stringField(json, QStringLiteral("task"));
    const auto name = stringField(json, QStringLiteral("name"));
    const auto version = stringField(json, QStringLiteral("version"));
    const auto downloadURL = urlField(json, QStringLiteral("downloadURL"));
    const auto checksum = stringField(json, QStringLiteral("checksumSHA256"));
    const auto licenseName = stringField(json, QStringLiteral("licenseName"));
    const auto licenseURL = urlField(json, QStringLiteral("licenseURL"));
    const QJsonValue bytes = json.value(QStringLiteral("expectedBytes"));
    if (!id || !taskName || !name || !version || !downloadURL || !checksum || !licenseName || !licenseURL
        || !bytes.isDouble())
        return std::nullopt;
    const auto task = Enums::fromString<ModelTask>(*taskName);
    const double bytesValue = bytes.toDouble();
    // An integer, not 1.5 or 1e300; the range is checked before converting,
    // as converting a double outside it is undefined.
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (!task || !(bytesValue >= -kLimit && bytesValue < kLimit) || bytesValue != std::trunc(bytesValue))
        return std::nullopt;
    return ModelDescriptor{*id, *task, *name, *version, *downloadURL, *checksum,
                           qint64(bytesValue), *licenseName, *licenseURL};
}

const ModelDescriptor &ModelDescriptor::whisperBase()
{
    static const ModelDescriptor descriptor = entry(
        QStringLiteral("ggml-base.bin"), ModelTask::speechToText, QStringLiteral("Whisper Base (quick test)"),
        modelFileURL(QStringLiteral("ggerganov/whisper.cpp"), QStringLiteral("ggml-base.bin")),
        148000000, QStringLiteral("MIT"), whisperLicenseURL());
    return descriptor;
}

const ModelDescriptor &ModelDescriptor::whisperLargeV3()
{
    static const ModelDescriptor descriptor = entry(
        QStringLiteral("ggml-large-v3-q5_0.bin"), ModelTask::speechToText, QStringLiteral("Whisper Large v3 (Q5_0)"),
        modelFileURL(QStringLiteral("ggerganov/whisper.cpp"), QStringLiteral("ggml-large-v3-q5_0.bin")),
        1100000000, QStringLiteral("MIT"), whisperLicenseURL());
    return descriptor;
}

const ModelDescriptor &ModelDescriptor::qwenRewrite()
{
    static const ModelDescriptor descriptor = entry(
        QStringLiteral("qwen2.5-3b-instruct-q4_k_m.gguf"), ModelTask::rewrite,
        QStringLiteral("Qwen2.5 3B Instruct (Q4_K_M)"),
        modelFileURL(QStringLiteral("Qwen/Qwen2.5-3B-Instruct-GGUF"), QStringLiteral("qwen2.5-3b-instruct-q4_k_m.gguf")),
        2070000000, QStringLiteral("Apache-2.0"), modelLicenseURL(QStringLiteral("Qwen/Qwen2.5-3B-Instruct")));
    return descriptor;
}

const ModelDescriptor &ModelDescriptor::kokoroTTS()
{
    static const ModelDescriptor descriptor = entry(
        QStringLiteral("kokoro-v1_0.safetensors"), ModelTask::textToSpeech, QStringLiteral("Kokoro TTS (82M)"),
        // the v1.0 weights are published in the model's main repository
        modelFileURL(QStringLiteral("hexgrad/Kokoro-82M"), QStringLiteral("kokoro-v1_0.safetensors")),
        330000000, QStringLiteral("Apache-2.0"), modelLicenseURL(QStringLiteral("hexgrad/Kokoro-82M")));
    return descriptor;
}

const QList<ModelDescriptor> &ModelDescriptor::all()
{
    static const QList<ModelDescriptor> entries = {whisperBase(), whisperLargeV3(), qwenRewrite(), kokoroTTS()};
    return entries;
}
