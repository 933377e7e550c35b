#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

// Where a backend's model comes from.
enum class ModelSource { appleIntelligence, ollama };

// The description of one backend. Equality compares the id alone.
struct ModelInfo
{
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(QString detail READ detailText CONSTANT)
    Q_PROPERTY(bool hasDetail READ hasDetail CONSTANT)
public:
    ModelInfo() = default;
    ModelInfo(QString id, QString name, ModelSource source, std::optional<QString> detail)
        : id(std::move(id)), name(std::move(name)), source(source), detail(std::move(detail)) {}

    QString id;
    QString name;
    ModelSource source = ModelSource::appleIntelligence;
    std::optional<QString> detail;
    // Set for a model that another computer runs (an Ollama cloud model): the
    // host, possibly empty when unknown. Such a model is listed, never chosen
    // and never sent anything.
    std::optional<QString> remoteHost;

    QString detailText() const { return detail.value_or(QString()); }
    bool hasDetail() const { return detail.has_value(); }
    bool isRemote() const { return remoteHost.has_value(); }

    friend bool operator==(const ModelInfo &a, const ModelInfo &b) { return a.id == b.id; }
};
Q_DECLARE_METATYPE(ModelInfo)
