#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// The error a reply ends with. The kind tells errors apart; the description is
// the sentence the user reads after "Error: ". A cancellation is recognised by
// its kind alone and never reaches a consumer: it ends a stream normally.
struct ReplyError
{
    enum class Kind { cancelled, ollama, network, decoding, model };

    Kind kind = Kind::model;
    QString description;

    static ReplyError cancellation() { return {Kind::cancelled, QStringLiteral("The reply was cancelled.")}; }
    bool isCancellation() const { return kind == Kind::cancelled; }
};
Q_DECLARE_METATYPE(ReplyError)

namespace detail { struct ReplyChannel; }
class ReplySink;

// The consumer's side of a streamed reply. It lives on the GUI thread and emits,
// in the order the producer sent them, any number of element() signals (each the
// whole reply text so far) and then exactly one of finished() or failed().
// Buffering is unbounded, so a slow consumer loses nothing. After cancel() the
// consumer sees no further element and the stream ends with finished(), shortly
// after (never from within cancel() itself).
class ReplyStream : public QObject
{
    Q_OBJECT
public:
    // A new stream and the producer's handle to it.
    static std::pair<std::unique_ptr<ReplyStream>, ReplySink> create();
    ~ReplyStream() override;

    void cancel();
    bool isCancelled() const;
    bool isFinished() const { return m_ended; }

signals:
    void element(const QString &text);
    void finished();
    void failed(const ReplyError &error);

private:
    explicit ReplyStream(std::shared_ptr<detail::ReplyChannel> channel);
    void drain();
    void endWith(bool ok, const ReplyError &error);

    std::shared_ptr<detail::ReplyChannel> m_channel;
    bool m_ended = false;
    friend class ReplySink;
    friend struct detail::ReplyChannel;
};

// The producer's side. Copyable and usable from any thread. Whatever is sent
// after the consumer cancelled or went away is dropped.
class ReplySink
{
public:
    ReplySink() = default;

    void yield(const QString &wholeText) const;
    void finish() const;
    // A cancellation error ends the stream normally.
    void fail(const ReplyError &error) const;

    // True once the consumer cancelled or destroyed its stream.
    bool isCancelled() const;
    // Runs once when the consumer cancels or goes away (on the consumer's
    // thread), or at once if that already happened. Use it to stop the work.
    void onCancel(std::function<void()> handler) const;

private:
    explicit ReplySink(std::shared_ptr<detail::ReplyChannel> channel) : m_channel(std::move(channel)) {}
    std::shared_ptr<detail::ReplyChannel> m_channel;
    friend class ReplyStream;
};
