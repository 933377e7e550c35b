#include "ModelManager.h"

#include "AppConfig.h"

#include <QQmlEngine>

ModelManager::ModelManager(const OllamaServer &ollama, QObject *parent)
    : QObject(parent), m_ollama(ollama), m_selectedID(QStringLiteral("apple-intelligence")),
      m_aiBackend(makeBackend<AppleIntelligenceBackend>())
{
    QQmlEngine::setObjectOwnership(m_aiBackend.get(), QQmlEngine::CppOwnership);
    refresh();
}

ModelManager::~ModelManager() = default;

QList<std::shared_ptr<ModelBackend>> ModelManager::backends() const
{
    QList<std::shared_ptr<ModelBackend>> list{m_aiBackend};
    for (const auto &b : m_ollamaBackends)
        list.append(b);
    return list;
}

std::shared_ptr<ModelBackend> ModelManager::selected() const
{
    for (const auto &b : backends())
        if (b->info().id == m_selectedID)
            return b;
    return nullptr;
}

QString ModelManager::selectedSubtitle() const
{
    const auto current = selected();
    if (current) {
        const ModelInfo info = current->info();
        if (info.detail)
            return *info.detail;
    }
    return AppConfig::modelLabel();
}

// A model another computer runs is listed but never chosen: nothing may leave
// the device.
void ModelManager::select(const ModelBackend &backend)
{
    const ModelInfo info = backend.info();
    if (!info.isRemote())
        setSelectedID(info.id);
}

void ModelManager::select(ModelBackend *backend)
{
    if (backend)
        select(*backend);
}

void ModelManager::refresh()
{
    setIsRefreshing(true);
    // Runs on this object's thread, and not at all if the manager is gone by then.
    OllamaBackend::discover(m_ollama, this, [this](QList<OllamaModelEntry> entries) {
        applyDiscovered(entries);
        setIsRefreshing(false);
        emit refreshFinished();
    });
}

void ModelManager::applyDiscovered(const QList<OllamaModelEntry> &entries)
{
    const QString subtitleBefore = selectedSubtitle();

    QList<std::shared_ptr<OllamaBackend>> fresh;
    fresh.reserve(entries.size());
    for (const auto &entry : entries) {
        auto backend = makeBackend<OllamaBackend>(entry, m_ollama);
        // The views read these objects; the manager's list owns them, not QML.
        QQmlEngine::setObjectOwnership(backend.get(), QQmlEngine::CppOwnership);
        fresh.append(std::move(backend));
    }
    // The list and the fallback change together, before any observer is told,
    // so nobody sees a selection that names nothing. The selection is an id:
    // it survives when the id is still listed.
    m_ollamaBackends = std::move(fresh);
    const bool fellBack = !selected();
    if (fellBack)
        m_selectedID = m_aiBackend->info().id;

    emit ollamaBackendsChanged();
    if (fellBack)
        emit selectedIDChanged();
    // The selected object may be new, with another detail.
    if (selectedSubtitle() != subtitleBefore)
        emit selectedSubtitleChanged();
}

QList<QObject *> ModelManager::ollamaBackendObjects() const
{
    QList<QObject *> list;
    list.reserve(m_ollamaBackends.size());
    for (const auto &b : m_ollamaBackends)
        list.append(b.get());
    return list;
}

void ModelManager::setSelectedID(const QString &id)
{
    if (id == m_selectedID)
        return;
    const QString subtitleBefore = selectedSubtitle();
    m_selectedID = id;
    emit selectedIDChanged();
    if (selectedSubtitle() != subtitleBefore)
        emit selectedSubtitleChanged();
}

void ModelManager::setIsRefreshing(bool value)
{
    if (value == m_isRefreshing)
        return;
    m_isRefreshing = value;
    emit isRefreshingChanged();
}
