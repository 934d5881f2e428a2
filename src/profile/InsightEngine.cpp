#include "InsightEngine.h"

#include "platform/LexicalTagger.h"
#include "platform/Platform.h"
#include "support/Handover.h"
#include "support/SerialExecutor.h"
#include "support/SharedInstance.h"
#include "support/TextUtils.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>

InsightEngine &InsightEngine::shared()
{
    if (InsightEngine *installed = SharedInstance<InsightEngine>::installed())
        return *installed;
    static InsightEngine *engine = new InsightEngine; // lives as long as the process
    return *engine;
}

void InsightEngine::setShared(InsightEngine *engine)
{
    SharedInstance<InsightEngine>::install(engine);
}

InsightEngine::InsightEngine(LexicalTagger *tagger, QObject *parent)
    : QObject(parent)
    , m_tagger(tagger)
    , m_tagging(std::make_unique<SerialExecutor>(QStringLiteral("noun tagging")))
{
}

InsightEngine::~InsightEngine()
{
    SharedInstance<InsightEngine>::release(this);
    m_tagging.reset();
}

LexicalTagger &InsightEngine::tagger() const
{
    return m_tagger ? *m_tagger : Platform::instance().lexicalTagger();
}

void InsightEngine::recordSession(const QString &text, int wordCount, double duration, const QString &language)
{
    Q_UNUSED(wordCount);
    Q_UNUSED(duration);
    LexicalTagger *tagger = &this->tagger();
    QPointer<InsightEngine> guard(this);
    m_tagging->post([guard, tagger, text, language] {
        const QStringList nouns = extractNouns(text, language, *tagger);
        if (auto *app = QCoreApplication::instance()) {
            Handover::post(app, [guard, nouns] {
                if (guard)
                    guard->addToNounBuffer(nouns);
            });
        }
    });
}

QString InsightEngine::taggingLanguage(const QString &code)
{
    static const QRegularExpression languageCode(QStringLiteral("^[A-Za-z]{2,3}$"));
    return languageCode.match(code).hasMatch() ? code.toLower() : QStringLiteral("en");
}

QStringList InsightEngine::extractNouns(const QString &text, const QString &code, const LexicalTagger &tagger)
{
    using Tag = LexicalTagger::Tag;
    QStringList nouns;
    for (const LexicalTagger::Token &token : tagger.tag(text, taggingLanguage(code))) {
        if (token.tag != Tag::noun && token.tag != Tag::personalName && token.tag != Tag::organizationName
            && token.tag != Tag::placeName)
            continue;
        const QString noun = TextUtils::normalizedWord(token.text);
        if (TextUtils::graphemeCount(noun) >= 3)
            nouns.append(noun);
    }
    return nouns;
}

void InsightEngine::addToNounBuffer(const QStringList &nouns)
{
    for (const QString &noun : nouns)
        ++m_sessionNounBuffer[noun];
}
