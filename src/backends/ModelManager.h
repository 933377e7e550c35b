#pragma once

#include "AppleIntelligenceBackend.h"
#include "OllamaBackend.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The backends the user can choose from (the on-device one first, then the
// models of the local Ollama server) and the current choice, kept as an id.
class ModelManager : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the chat view model")
    Q_PROPERTY(QList<QObject *> ollamaBackends READ ollamaBackendObjects NOTIFY ollamaBackendsChanged)
    Q_PROPERTY(QString selectedID READ selectedID NOTIFY selectedIDChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(ModelBackend *aiBackend READ aiBackendObject CONSTANT)
    Q_PROPERTY(QString selectedSubtitle READ selectedSubtitle NOTIFY selectedSubtitleChanged)
public:
    // Starts one refresh without waiting for it: isRefreshing is true on return.
    // The Ollama models are those `ollama` lists.
    explicit ModelManager(const OllamaServer &ollama, QObject *parent = nullptr);
    ~ModelManager() override;

    const QList<std::shared_ptr<OllamaBackend>> &ollamaBackends() const { return m_ollamaBackends; }
    QString selectedID() const { return m_selectedID; }
    bool isRefreshing() const { return m_isRefreshing; }
    const std::shared_ptr<AppleIntelligenceBackend> &aiBackend() const { return m_aiBackend; }

    // Derived on every read.
    QList<std::shared_ptr<ModelBackend>> backends() const;
    std::shared_ptr<ModelBackend> selected() const;
    QString selectedSubtitle() const;

    // Ignores a model that another computer runs.
    void select(const ModelBackend &backend);
    Q_INVOKABLE void select(ModelBackend *backend);
    // Rediscovers the Ollama models; refreshFinished() follows when it ends.
    // Overlapping refreshes all run; the one that ends last decides the list.
    Q_INVOKABLE void refresh();

signals:
    void ollamaBackendsChanged();
    void selectedIDChanged();
    void isRefreshingChanged();
    void selectedSubtitleChanged();
    void refreshFinished();

private:
    QList<QObject *> ollamaBackendObjects() const;
    ModelBackend *aiBackendObject() const { return m_aiBackend.get(); }
    void setSelectedID(const QString &id);
    void setIsRefreshing(bool value);
    void applyDiscovered(const QList<OllamaModelEntry> &entries);

    const OllamaServer m_ollama;
    QList<std::shared_ptr<OllamaBackend>> m_ollamaBackends;
    QString m_selectedID;
    bool m_isRefreshing = false;
    std::shared_ptr<AppleIntelligenceBackend> m_aiBackend;
};
