// PLACEHOLDER: replaced by the real implementation.
#include "ModelManager.h"

#include "AppConfig.h"

ModelManager::ModelManager(QObject *parent)
    : QObject(parent), m_selectedID(QStringLiteral("apple-intelligence")),
      m_aiBackend(makeBackend<AppleIntelligenceBackend>())
{
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
    auto s = selected();
    return s && s->info().detail ? *s->info().detail : AppConfig::modelLabel();
}

void ModelManager::select(const ModelBackend &backend) { setSelectedID(backend.info().id); }
void ModelManager::select(ModelBackend *backend) { if (backend) select(*backend); }
void ModelManager::refresh() { emit refreshFinished(); }

QList<QObject *> ModelManager::ollamaBackendObjects() const
{
    QList<QObject *> list;
    for (const auto &b : m_ollamaBackends)
        list.append(b.get());
    return list;
}

void ModelManager::setSelectedID(const QString &id)
{
    if (id == m_selectedID)
        return;
    m_selectedID = id;
    emit selectedIDChanged();
    emit selectedSubtitleChanged();
}

void ModelManager::setIsRefreshing(bool value)
{
    if (value == m_isRefreshing)
        return;
    m_isRefreshing = value;
    emit isRefreshingChanged();
}
