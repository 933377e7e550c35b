#include "OllamaLineSplitter.h"
#include "OllamaTestHelpers.h"
#include "OllamaWire.h"

#include <QTest>

// The records exchanged with the server, byte for byte, and the strict reading
// that turns a malformed line into a failure instead of a wrong reply.
class TestOllamaWire : public QObject
{
    Q_OBJECT
private slots:
    void requestIsCompactOrderedAndEscaped()
    {
        const OllamaChatRequest request(
            QStringLiteral("llama3.2:latest"),
            {OllamaMessage(QStringLiteral("system"), QStringLiteral("Be \"brief\"\\terse.")),
             OllamaMessage(QStringLiteral("user"), QStringLiteral("line one\nline two\ttab\u0001")),
             OllamaMessage(QStringLiteral("assistant"), QStringLiteral("Error: it failed \u2014 sorry")),
             OllamaMessage(QStringLiteral("user"), QString::fromUtf8("emoji \xF0\x9F\xA6\x89 <b>&"))});
        const QByteArray expected =
            j("{'model':'llama3.2:latest','messages':["
              "{'role':'system','content':'Be \\'brief\\'\\\\terse.'},"
              "{'role':'user','content':'line one\\nline two\\ttab\\u0001'},"
              "{'role':'assistant','content':'Error: it failed \xE2\x80\x94 sorry'},"
              "{'role':'user','content':'emoji \xF0\x9F\xA6\x89 <b>&'}],"
              "'stream':true}");
        QCOMPARE(request.toJson(), expected);
    }

    void emptyTextsAreWrittenNotLeftOut()
    {
        const OllamaChatRequest request(QString(), {OllamaMessage(QStringLiteral("system"), QString())});
        QCOMPARE(request.toJson(), QByteArray(j("{'model':'','messages':[{'role':'system','content':''}],'stream':true}")));
    }

    void chunkReadsOnlyContentAndDone()
    {
        const auto chunk = OllamaChatChunk::decode(
            j("{'model':'m','created_at':'2024-01-01T00:00:00Z','message':{'role':'assistant','content':'Hi \\u003cb\\u003e','thinking':'hm','images':null},'done':true,'done_reason':'stop','total_duration':123,'eval_count':9}"));
        QVERIFY(chunk);
        QCOMPARE(chunk->message.content, QStringLiteral("Hi <b>"));
        QVERIFY(chunk->done);

        const auto empty = OllamaChatChunk::decode(j("{'done':false,'message':{'content':''}}"));
        QVERIFY(empty);
        QVERIFY(empty->message.content.isEmpty());
        QVERIFY(!empty->done);
    }

    void malformedChunksFailWithAReason_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("error object") << QByteArray(j("{'error':'model not found'}")) << "\"message\" is missing or not an object";
        QTest::newRow("done as string") << QByteArray(j("{'message':{'content':'a'},'done':'true'}")) << "\"done\" is missing or not true or false";
        QTest::newRow("done null") << QByteArray(j("{'message':{'content':'a'},'done':null}")) << "\"done\" is missing or not true or false";
        QTest::newRow("done missing") << QByteArray(j("{'message':{'content':'a'}}")) << "\"done\" is missing or not true or false";
        QTest::newRow("content null") << QByteArray(j("{'message':{'content':null},'done':false}")) << "\"content\" is missing or not a string";
        QTest::newRow("content number") << QByteArray(j("{'message':{'content':7},'done':false}")) << "\"content\" is missing or not a string";
        QTest::newRow("message string") << QByteArray(j("{'message':'a','done':false}")) << "\"message\" is missing or not an object";
        QTest::newRow("cut off") << QByteArray(j("{'message':{'content':'a'},'do")) << "the line is not valid JSON";
        QTest::newRow("two objects") << QByteArray(j("{'message':{'content':'a'},'done':false}{}")) << "the line is not valid JSON";
        QTest::newRow("html") << QByteArray("<html><body>Bad gateway</body></html>") << "the line is not valid JSON";
        QTest::newRow("array") << QByteArray("[1,2]") << "the line is not a JSON object";
        QTest::newRow("bad utf-8") << QByteArray("{\"message\":{\"content\":\"\xC3\x28\"},\"done\":false}") << "the line is not valid UTF-8";
        QTest::newRow("lone continuation") << QByteArray("{\"message\":{\"content\":\"\x80\"},\"done\":false}") << "the line is not valid UTF-8";
    }
    void malformedChunksFailWithAReason()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, reason);
        QString actual;
        QVERIFY(!OllamaChatChunk::decode(line, &actual));
        QCOMPARE(actual, reason);
    }

    void errorTextIsFoundOnlyInAnErrorObject()
    {
        const QByteArray quoted = "{\"error\":\"model \\\"x\\\" not found\"}";
        QCOMPARE(ollamaErrorText(quoted), std::optional<QString>(QStringLiteral("model \"x\" not found")));
        QCOMPARE(ollamaErrorText("{\"error\":42}"), std::nullopt);
        QCOMPARE(ollamaErrorText("{\"error\":\"cut"), std::nullopt);
    }

    void tagsKeepOrderAndExactSizes()
    {
        const auto tags = OllamaTagsResponse::decode(
            j("{'models':[{'name':'qwen3:8b','model':'qwen3:8b','size':4661224676,'digest':'ab','details':{'family':'qwen3'}},"
              "{'name':'big','size':9223372036854775807},{'name':'big','size':-1},{'name':'tiny','size':0}]}"));
        QVERIFY(tags);
        const QList<OllamaModelEntry> expected{{QStringLiteral("qwen3:8b"), 4661224676LL},
                                               {QStringLiteral("big"), std::numeric_limits<qint64>::max()},
                                               {QStringLiteral("big"), -1},
                                               {QStringLiteral("tiny"), 0}};
        QCOMPARE(tags->models, expected);
        const auto empty = OllamaTagsResponse::decode(j("{'models':[]}"));
        QVERIFY(empty && empty->models.isEmpty());
    }

    // What a current server lists: capabilities, details with null members,
    // sizes far beyond 2^53, and cloud models that another computer runs.
    void tagsOfACurrentServerMarkRemoteModelsOnly()
    {
        const auto tags = OllamaTagsResponse::decode(j(
            "{'models':["
            "{'name':'gpt-oss:120b-cloud','model':'gpt-oss:120b-cloud','size':384,'remote_model':'gpt-oss:120b',"
            "'remote_host':'https://ollama.com:443','details':{'family':'','families':null},'capabilities':['completion','tools']},"
            "{'name':'qwen3:8b','size':9007199254740993,'details':{'families':null,'parameter_size':'8.2B'},"
            "'capabilities':['completion','tools','thinking']},"
            "{'name':'nomic-embed-text','size':274302450,'capabilities':['embedding']},"
            "{'name':'blank','size':1,'remote_host':''},{'name':'null','size':1,'remote_host':null},"
            "{'name':'odd','size':1,'remote_host':{'url':'x'}}]}"));
        QVERIFY(tags);
        const QList<OllamaModelEntry> expected{
            {QStringLiteral("gpt-oss:120b-cloud"), 384, QStringLiteral("https://ollama.com:443")},
            {QStringLiteral("qwen3:8b"), 9007199254740993LL, std::nullopt},
            {QStringLiteral("nomic-embed-text"), 274302450, std::nullopt},
            {QStringLiteral("blank"), 1, std::nullopt},
            {QStringLiteral("null"), 1, std::nullopt},
            {QStringLiteral("odd"), 1, QString()}};  // not text: remote, host unknown
        QCOMPARE(tags->models, expected);
    }

    void badTagsFailAsAWhole_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no models") << QByteArray(j("{'model':[]}"));
        QTest::newRow("models null") << QByteArray(j("{'models':null}"));
        QTest::newRow("size missing") << QByteArray(j("{'models':[{'name':'a','size':1},{'name':'b'}]}"));
        QTest::newRow("size string") << QByteArray(j("{'models':[{'name':'a','size':'1'}]}"));
        QTest::newRow("size float") << QByteArray(j("{'models':[{'name':'a','size':1.5}]}"));
        QTest::newRow("size exponent") << QByteArray(j("{'models':[{'name':'a','size':4e9}]}"));
        QTest::newRow("size beyond int64") << QByteArray(j("{'models':[{'name':'a','size':9223372036854775808}]}"));
        QTest::newRow("size beyond uint64") << QByteArray(j("{'models':[{'name':'a','size':99999999999999999999}]}"));
        QTest::newRow("name null") << QByteArray(j("{'models':[{'name':null,'size':1}]}"));
        QTest::newRow("cloud entry without size")
            << QByteArray(j("{'models':[{'name':'a','size':1},{'name':'c','remote_host':'https://ollama.com:443'}]}"));
        QTest::newRow("entry not object") << QByteArray(j("{'models':['a']}"));
        QTest::newRow("not json") << QByteArray("404 page not found");
    }
    void badTagsFailAsAWhole()
    {
        QFETCH(QByteArray, body);
        QVERIFY(!OllamaTagsResponse::decode(body));
    }

    void errorTextsAreExact()
    {
        QCOMPARE(OllamaError::badResponse(500).errorDescription(), QStringLiteral("Ollama returned an unexpected status (500)."));
        QCOMPARE(OllamaError::badResponse(404).errorDescription(), QStringLiteral("Ollama returned an unexpected status (404)."));
        QCOMPARE(OllamaError::notRunning().errorDescription(),
                 QStringLiteral("Ollama is not running. Launch Ollama to use local models."));
        QCOMPARE(OllamaError::badResponse(404).toReplyError().kind, ReplyError::Kind::ollama);
    }

    // The splitter works on bytes: whatever the read boundaries, the lines are the same.
    void splitterIsIndependentOfReadBoundaries()
    {
        const QByteArray stream = "one\r\n\r\nt\xE2\x80\x94o\n\nthree\r\nrest";
        for (int step = 1; step <= stream.size(); ++step) {
            OllamaLineSplitter splitter;
            QList<QByteArray> lines;
            for (int i = 0; i < stream.size(); i += step)
                splitter.feed(stream.mid(i, step), [&](QByteArrayView line) {
                    lines << line.toByteArray();
                    return true;
                });
            QCOMPARE(lines, (QList<QByteArray>{"one", "", "t\xE2\x80\x94o", "", "three"}));
            QCOMPARE(splitter.takeRest(), QByteArray("rest"));
        }
    }

    void splitterStopsWhenToldAndOnOverlongLines()
    {
        OllamaLineSplitter splitter(8);
        QList<QByteArray> lines;
        const auto collect = [&](QByteArrayView line) { lines << line.toByteArray(); return line != "stop"; };
        QCOMPARE(splitter.feed("12345678\r\nstop\nafter\n", collect), OllamaLineSplitter::Result::stopped);
        QCOMPARE(splitter.feed("more\n", collect), OllamaLineSplitter::Result::stopped);
        QCOMPARE(lines, (QList<QByteArray>{"12345678", "stop"}));
        QVERIFY(splitter.takeRest().isEmpty());

        OllamaLineSplitter pending(8);
        QCOMPARE(pending.feed("12345678\r", collect), OllamaLineSplitter::Result::more);
        QCOMPARE(pending.feed("9", collect), OllamaLineSplitter::Result::lineTooLong);
        OllamaLineSplitter whole(8);
        QCOMPARE(whole.feed("123456789\n", collect), OllamaLineSplitter::Result::lineTooLong);
    }
};

QTEST_GUILESS_MAIN(TestOllamaWire)
#include "tst_ollamawire.moc"
