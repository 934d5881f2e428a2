// Records numbered sessions into the profile database at argv[1], starting at
// session argv[2], until it is killed. Each session is one batch of words
// ("s<n>w<i>" plus "shared"), one batch of phrases and one log row. After
// every few sessions it waits for the queue and prints "synced <n>": every
// session up to n is then committed.
#include "profile/VoiceProfileStore.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DATABASE FIRST_SESSION\n", argv[0]);
        return 2;
    }
    VoiceProfileStore store(QString::fromLocal8Bit(argv[1]));
    for (long session = std::atol(argv[2]);; ++session) {
        QStringList words{QStringLiteral("shared")};
        QStringList phrases;
        for (int i = 0; i < 25; ++i)
            words.append(QStringLiteral("s%1w%2").arg(session).arg(i));
        for (int i = 0; i < 10; ++i)
            phrases.append(QStringLiteral("s%1 p%2").arg(session).arg(i));
        store.recordWords(words, QStringLiteral("en"));
        store.recordPhrases(phrases, QStringLiteral("en"));
        store.logSession(1.0, 26, QStringLiteral("en"), QStringLiteral("session %1").arg(session), QString());
        if (session % 4 == 0) {
            store.vocabularyCount();
            std::printf("synced %ld\n", session);
            std::fflush(stdout);
        }
    }
}
