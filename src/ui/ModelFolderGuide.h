#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// What the views say about the folder the on-device model is read from: its
// path as the user reads it, the line under the on-device model in the
// chooser, and the hint under a refusal that a model file would cure. Opening
// the folder is a desktop action (DesktopActions::openModelFolder).
class ModelFolderGuide : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // The Models folder with the home folder written as "~", e.g.
    // "~/.local/share/Hushwing/Models". Read afresh on every call.
    Q_INVOKABLE static QString folderText();
    // "The on-device model is a .gguf file in <folder>."
    Q_INVOKABLE static QString rowNote();
    // Where to put a model file, for the refusal of a send because the
    // on-device model has none yet; empty for every other refusal, which a
    // model file would not cure.
    Q_INVOKABLE static QString refusalHint(const QString &refusal);
};
