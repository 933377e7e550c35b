#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
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
// The stream holds the reply text. The producer appends pieces (Ollama) or sets
// whole snapshots (the on-device model), then calls finish() or fail() once.
// The consumer gets element() with the whole text so far, then exactly one of
// finished() or failed().
//
// element() is emitted only when the text changed and at most once per frame
// (16 ms): the first change at once, later ones coalesced, and the newest text
// always before the end. This is the one place where a fast reply is thinned
// out: each element is a copy of the whole text (its holders keep it while
// the text grows), and once per frame instead of once per line keeps a reply
// of tens of thousands of lines from costing a copy per line.
//
// cancel(): the consumer sees no further element, the producer is told to stop
// (stopRequested), and finished() follows from the event loop, never from
// within cancel(). Destroying a running stream tells the producer too. Delete a
// stream with deleteLater() from inside its own signals.
class ReplyStream : public QObject
{
    Q_OBJECT
public:
    static constexpr int frameIntervalMs = 16;

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
    void element(const QString &wholeText);
    void finished();
    void failed(const ReplyError &error);
    // To the producer: the consumer cancelled or went away; stop working.
    void stopRequested();

private:
    bool acceptsInput() const { return !m_cancelled && !m_producerEnded; }
    void textChanged();
    void deliverPending();
    void emitText();
    void endLater();
    void deliverEnd();

    QString m_text;  // the reply so far; no element shares it, so appending never copies it
    QString m_copies[3];  // buffers of the last elements handed out
    int m_lastCopy = 0;
    bool m_pending = false;  // the text changed since the last element
    QTimer m_frame;          // runs for one frame after each element
    bool m_cancelled = false;
    bool m_producerEnded = false;
    bool m_endScheduled = false;
    bool m_ended = false;
    std::optional<ReplyError> m_error;
};
