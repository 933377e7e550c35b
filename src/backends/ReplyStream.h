#pragma once

#include <QObject>
#include <QString>
#include <optional>

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

// One streamed reply, between the backend that produces it and the chat view
// model that shows it. A plain GUI-thread object: producer and consumer both
// call it there.
//
// A reply only grows, so the stream hands on what was added, not the whole
// text. The producer appends pieces (Ollama) or sets whole snapshots (the
// on-device model): a snapshot that continues the one before becomes the piece
// it adds; one that does not replaces the text. Then it calls finish() or
// fail() once. The consumer gets appended() and replaced() in order, then
// exactly one of finished() or failed().
//
// Everything reaches the consumer from the event loop: what a producer adds in
// one go (the lines of one network read) arrives as one piece, and a consumer
// is never called from within a producer's call.
//
// cancel(): the consumer sees nothing more, the producer is told to stop
// (stopRequested), and finished() follows from the event loop. Destroying a
// running stream tells the producer too. Delete a stream with deleteLater()
// from inside its own signals.
class ReplyStream : public QObject
{
    Q_OBJECT
public:
    explicit ReplyStream(QObject *parent = nullptr);
    ~ReplyStream() override;

    // The consumer's side.
    void cancel();

    // The producer's side. Whatever arrives after finish(), fail() or the
    // consumer's cancel() is ignored.
    void append(QStringView piece);
    void setText(const QString &wholeText);
    void finish();
    // A cancellation error ends the stream normally.
    void fail(const ReplyError &error);

signals:
    void appended(const QString &piece);
    void replaced(const QString &text);
    void finished();
    void failed(const ReplyError &error);
    // To the producer: the consumer cancelled or went away; stop working.
    void stopRequested();

private:
    bool acceptsInput() const { return !m_cancelled && !m_producerEnded; }
    void deliverLater();
    void deliver();
    void endLater();
    void deliverEnd();

    QString m_snapshot;                  // the producer's last whole text (shared with it, not copied)
    QString m_added;                     // appended since the last delivery
    std::optional<QString> m_replacement;  // the text replaced since the last delivery
    bool m_deliveryScheduled = false;
    bool m_cancelled = false;
    bool m_producerEnded = false;
    bool m_endScheduled = false;
    bool m_ended = false;
    std::optional<ReplyError> m_error;
};
