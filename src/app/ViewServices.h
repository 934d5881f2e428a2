#pragma once

#include "app/AccessibilityStatus.h"
#include "app/CustomTermListModel.h"
#include "app/LoginItemService.h"
#include "app/ModelsCardModel.h"
#include "app/SnippetListModel.h"
#include "app/TopWordListModel.h"
#include "app/VoiceSettings.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

class Accessibility;
class LoginItems;
class ModelManager;
class VoiceProfileStore;

// What the dictionary, snippets and settings views use beside the menu-bar
// view model, handed to the window in one object. Main thread.
class ViewServices : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application")
    Q_PROPERTY(CustomTermListModel *customTerms READ customTerms CONSTANT)
    Q_PROPERTY(TopWordListModel *topWords READ topWords CONSTANT)
    Q_PROPERTY(SnippetListModel *snippets READ snippets CONSTANT)
    Q_PROPERTY(ModelsCardModel *models READ models CONSTANT)
    Q_PROPERTY(LoginItemService *loginItems READ loginItems CONSTANT)
    Q_PROPERTY(VoiceSettings *voice READ voice CONSTANT)
    Q_PROPERTY(AccessibilityStatus *accessibility READ accessibility CONSTANT)

public:
    struct Collaborators {
        VoiceProfileStore &store;
        ModelManager &modelManager; // the coordinator's
        ModelDownloadService::Factory makeDownloadService;
        LoginItems &loginItems;
        Accessibility &accessibility;
        VoiceSettings &voice;
        QList<ModelDescriptor> catalogue = ModelDescriptor::all();
    };

    explicit ViewServices(Collaborators collaborators, QObject *parent = nullptr);

    CustomTermListModel *customTerms() { return &m_customTerms; }
    TopWordListModel *topWords() { return &m_topWords; }
    SnippetListModel *snippets() { return &m_snippets; }
    ModelsCardModel *models() { return &m_models; }
    LoginItemService *loginItems() { return &m_loginItems; }
    VoiceSettings *voice() { return &m_voice; }
    AccessibilityStatus *accessibility() { return &m_accessibility; }

private:
    VoiceSettings &m_voice;
    CustomTermListModel m_customTerms;
    TopWordListModel m_topWords;
    SnippetListModel m_snippets;
    ModelsCardModel m_models;
    LoginItemService m_loginItems;
    AccessibilityStatus m_accessibility;
};
