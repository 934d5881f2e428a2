#include "ViewServices.h"

ViewServices::ViewServices(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_voice(collaborators.voice)
    , m_customTerms(collaborators.store)
    , m_topWords(collaborators.store)
    , m_snippets(collaborators.store)
    , m_models(collaborators.modelManager, std::move(collaborators.makeDownloadService),
               std::move(collaborators.catalogue))
    , m_loginItems(collaborators.loginItems)
    , m_accessibility(collaborators.accessibility)
{
}
