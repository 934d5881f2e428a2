#pragma once

#include "pipeline/RewriteService.h"
#include "support/FutureWatch.h"

#include <QObject>
#include <QPointer>
#include <QPromise>

#include <deque>
#include <memory>

class QNetworkAccessManager;

// Rewrites a text through the cloud API's "rewrite" endpoint, one request at a
// time in call order. Never fails: every problem gives back the trimmed input.
// Main thread only.
class CloudRewriteService : public QObject, public RewriteService {
    Q_OBJECT

public:
    // Longer inputs are returned as they are rather than rewritten in part.
    static constexpr qsizetype maxInputCharacters = 4000;

    struct RewriteResponse {
        bool success = false;
        QString text;
        // Throws CloudReplyFormatError.
        static RewriteResponse fromJson(const QByteArray &json);
    };

    explicit CloudRewriteService(QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);

    QFuture<QString> rewrite(const QString &text, RewritePreset preset, LanguageOption language) override;

private:
    struct Job {
        QString trimmed;
        RewritePreset preset;
        LanguageOption language;
        std::shared_ptr<QPromise<QString>> promise;
    };

    void runNext();
    QFuture<QString> send(const Job &job);

    QPointer<QNetworkAccessManager> m_network;
    std::deque<Job> m_queue;
    bool m_running = false;
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};
