#include "AppleIntelligenceBackend.h"

#include <QCoreApplication>

namespace {

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

// One reply of the on-device model. Made on the GUI thread, then moved to the
// backend's worker thread, where generate() runs it to its end and the object
// deletes itself. Its signals reach the reply's stream as queued calls; a
// stream that is gone by then receives nothing. A stop comes the other way as
// a queued call too: between two steps the model looks at the calls posted to
// this reply, so no flag is shared between the threads.
class OnDeviceReply : public QObject
{
    Q_OBJECT
public:
    OnDeviceReply(std::shared_ptr<LanguageModelSession> session, QString prompt)
        : m_session(std::move(session)), m_prompt(std::move(prompt)) {}

    // Called on the worker thread, through a queued connection.
    void stop() { m_stopped = true; }

    void generate()
    {
        // The worker is asked to end (its backend is going) once no one will read.
        const auto stopped = [this] {
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);  // a stop sent meanwhile
            return m_stopped || QThread::currentThread()->isInterruptionRequested();
        };
        const auto error = m_session->streamResponse(
            m_prompt, GenerationOptions{},
            [this](const ResponseSnapshot &snapshot) { emit this->snapshot(snapshot.content); }, stopped);
        if (!error || error->isCancellation())
            emit completed();
        else
            emit failed({ReplyError::Kind::model, error->description});
        deleteLater();
    }

signals:
    void snapshot(const QString &wholeText);
    void completed();
    void failed(const ReplyError &error);

private:
    const std::shared_ptr<LanguageModelSession> m_session;
    const QString m_prompt;
    bool m_stopped = false;  // read and written on the worker thread only
};

AppleIntelligenceBackend::AppleIntelligenceBackend(QObject *parent) : ModelBackend(parent)
{
    m_worker.setObjectName(QStringLiteral("On-device model"));
}

AppleIntelligenceBackend::~AppleIntelligenceBackend()
{
    if (!m_onWorker)
        return;
    // Replies still waiting run now and stop at their first look between steps;
    // the thread ends after the last of them.
    m_worker.requestInterruption();
    QMetaObject::invokeMethod(m_onWorker.get(), [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    m_worker.wait();
}

ModelInfo AppleIntelligenceBackend::info() const
{
    static const ModelInfo fixed(QStringLiteral("apple-intelligence"), QStringLiteral("Apple Intelligence"),
                                 ModelSource::appleIntelligence,
                                 QString::fromUtf8("On-device \u00B7 Private"));
    return fixed;
}

bool AppleIntelligenceBackend::isAvailable() const
{
    return SystemLanguageModel::defaultModel().isAvailable();
}

QString AppleIntelligenceBackend::unavailableText() const
{
    const Availability now = SystemLanguageModel::defaultModel().availability();
    return now.available ? QString() : toString(now.reason.value_or(UnavailableReason::deviceNotEligible));
}

std::unique_ptr<ReplyStream> AppleIntelligenceBackend::streamResponse(const QString &to,
                                                                      const ChatHistory &,
                                                                      const QString &systemPrompt)
{
    Q_ASSERT_X(onMainThread(), "AppleIntelligenceBackend::streamResponse", "called off the main thread");
    // A session that exists keeps its own instructions; the prompt of this turn is ignored then.
    if (!m_session)
        m_session = std::make_shared<LanguageModelSession>(SystemLanguageModel::defaultModel(), systemPrompt);

    auto stream = std::make_unique<ReplyStream>();
    auto *reply = new OnDeviceReply(m_session, to);
    // A stopped reply is not worth generating further: stop the worker too.
    connect(stream.get(), &ReplyStream::stopRequested, reply, &OnDeviceReply::stop, Qt::QueuedConnection);
    connect(reply, &OnDeviceReply::snapshot, stream.get(), &ReplyStream::setText);
    connect(reply, &OnDeviceReply::completed, stream.get(), &ReplyStream::finish);
    connect(reply, &OnDeviceReply::failed, stream.get(), &ReplyStream::fail);
    startWorker();
    reply->moveToThread(&m_worker);
    QMetaObject::invokeMethod(reply, &OnDeviceReply::generate, Qt::QueuedConnection);
    return stream;
}

void AppleIntelligenceBackend::reset()
{
    Q_ASSERT_X(onMainThread(), "AppleIntelligenceBackend::reset", "called off the main thread");
    m_session.reset();
}

void AppleIntelligenceBackend::startWorker()
{
    if (m_onWorker)
        return;
    m_onWorker = std::make_unique<QObject>();
    m_onWorker->moveToThread(&m_worker);
    m_worker.start();
}

#include "AppleIntelligenceBackend.moc"
