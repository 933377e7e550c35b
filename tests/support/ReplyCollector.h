#pragma once

#include "ReplyStream.h"

#include <QStringList>
#include <QTest>
#include <optional>

// What a consumer saw of one reply: the whole text after each delivery, and
// how it ended. Every test that reads a reply stream reads it through this.
struct CollectedReply
{
    QStringList elements;
    bool finished = false;
    std::optional<ReplyError> error;
    bool ended() const { return finished || error.has_value(); }
};

// Collects what a reply delivers until it ends or `timeoutMs` passes.
inline CollectedReply collectReply(ReplyStream *stream, int timeoutMs = 10000)
{
    CollectedReply result;
    QString whole;
    QObject::connect(stream, &ReplyStream::appended, stream, [&](const QString &piece) {
        whole += piece;
        result.elements << whole;
    });
    QObject::connect(stream, &ReplyStream::replaced, stream, [&](const QString &text) {
        whole = text;
        result.elements << whole;
    });
    QObject::connect(stream, &ReplyStream::finished, stream, [&] { result.finished = true; });
    QObject::connect(stream, &ReplyStream::failed, stream, [&](const ReplyError &e) { result.error = e; });
    if (!QTest::qWaitFor([&] { return result.ended(); }, timeoutMs))
        qWarning("the reply did not end in time");
    QObject::disconnect(stream, nullptr, stream, nullptr);
    return result;
}

