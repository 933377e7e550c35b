#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// One writing preset. Modes are compared by id, which is the label.
struct WritingMode
{
    Q_GADGET
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString label MEMBER label CONSTANT)
    Q_PROPERTY(QString icon MEMBER icon CONSTANT)
    Q_PROPERTY(QString systemPrompt MEMBER systemPrompt CONSTANT)
public:
    WritingMode() = default;
    WritingMode(QString label, QString icon, QString systemPrompt)
        : label(std::move(label)), icon(std::move(icon)), systemPrompt(std::move(systemPrompt)) {}

    QString label;
    QString icon;
    QString systemPrompt;

    QString id() const { return label; }
};


// The program's fixed texts and its table of writing modes. Every value is made
// once, on first use (thread-safe static initialisation), and never changes.
class AppConfig
{
public:
    using WritingMode = ::WritingMode;

    static const QString &appName();
    static const QString &tagline();
    static const QString &welcomeMessage();
    static const QString &modelLabel();
    static const QString &website();
    static const QString &copyright();
    static const QString &appDescription();
    static const QString &disclaimer();
    static const QString &defaultSystemPrompt();
    // A copy of the table, in display order.
    static QList<WritingMode> writingModes();
};
Q_DECLARE_METATYPE(WritingMode)

// The same constants for the views, as the QML singleton `AppConfig`.
class AppConfigQml : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(AppConfig)
    QML_SINGLETON
    Q_PROPERTY(QString appName READ appName CONSTANT)
    Q_PROPERTY(QString tagline READ tagline CONSTANT)
    Q_PROPERTY(QString welcomeMessage READ welcomeMessage CONSTANT)
    Q_PROPERTY(QString modelLabel READ modelLabel CONSTANT)
    Q_PROPERTY(QString website READ website CONSTANT)
    Q_PROPERTY(QString copyright READ copyright CONSTANT)
    Q_PROPERTY(QString appDescription READ appDescription CONSTANT)
    Q_PROPERTY(QString disclaimer READ disclaimer CONSTANT)
    Q_PROPERTY(QVariantList writingModes READ writingModes CONSTANT)
    Q_PROPERTY(QString version READ version CONSTANT)
public:
    using QObject::QObject;
    QString appName() const { return AppConfig::appName(); }
    QString tagline() const { return AppConfig::tagline(); }
    QString welcomeMessage() const { return AppConfig::welcomeMessage(); }
    QString modelLabel() const { return AppConfig::modelLabel(); }
    QString website() const { return AppConfig::website(); }
    QString copyright() const { return AppConfig::copyright(); }
    QString appDescription() const { return AppConfig::appDescription(); }
    QString disclaimer() const { return AppConfig::disclaimer(); }
    QVariantList writingModes() const;
    // The program's version as built, "1.0" when none was compiled in.
    QString version() const;
};
