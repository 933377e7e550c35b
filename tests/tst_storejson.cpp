// The store's list codec against a general JSON library: the same bytes out,
// the same lists back however the text is cut into pieces, and the same
// refusals of anything that is not a JSON array of strings.
#include "StoreJson.h"

#include <QtTest>
#include <nlohmann/json.hpp>

namespace {

QList<ChatMessage> messagesWith(const QStringList &contents)
{
    QList<ChatMessage> messages;
    for (const QString &s : contents)
        messages.append(ChatMessage(ChatMessage::Role::assistant, s));
    return messages;
}

// The list read from `json` handed over in pieces of `pieceSize` bytes.
std::optional<QStringList> readInPieces(const QByteArray &json, qsizetype pieceSize)
{
    QStringList list;
    StoreJson::TextDecoder text;
    StoreJson::ListReader reader([&](QByteArrayView raw, bool hasEscapes) {
        const auto s = text.decode(raw, hasEscapes);
        if (s)
            list.append(*s);
        return s.has_value();
    });
    QByteArray unused;  // the start of a string that runs on into the next piece
    for (qsizetype at = 0; at < json.size(); at += pieceSize) {
        unused += json.mid(at, pieceSize);
        const qsizetype used = reader.read(unused);
        if (used < 0)
            return std::nullopt;
        unused.remove(0, used);
    }
    return unused.isEmpty() && reader.finish() ? std::optional(list) : std::nullopt;
}

} // namespace

class StoreJsonTest : public QObject
{
    Q_OBJECT
private slots:
    void encode_matchesAGeneralWriterAndReadsBackInAnyPieces_data();
    void encode_matchesAGeneralWriterAndReadsBackInAnyPieces();
    void read_acceptsAnyWellFormedArrayOfStrings_data();
    void read_acceptsAnyWellFormedArrayOfStrings();
    void read_refusesEverythingElse_data();
    void read_refusesEverythingElse();
};

void StoreJsonTest::encode_matchesAGeneralWriterAndReadsBackInAnyPieces_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::newRow("empty list") << QStringList{};
    QTest::newRow("empty strings") << QStringList{QString(), QString()};
    QTest::newRow("quotes, backslashes, slashes") << QStringList{QStringLiteral("say \"hi\" \\o/ a/b")};
    QTest::newRow("every control character")
        << QStringList{[] { QString s; for (char16_t c = 0; c < 0x20; ++c) s += QChar(c); return s + QChar(0x7F); }()};
    QTest::newRow("non-ASCII kept as is")
        << QStringList{QStringLiteral("caf\u00e9 \u2014 \u00b7 "), QString::fromUtf8("\xf0\x9f\xa6\x89 owl")};
    QTest::newRow("long runs between escapes")
        << QStringList{QString(1000, u'a') + u'"' + QString(13, u'b') + u'\n', QString(7, u'\\')};
}

void StoreJsonTest::encode_matchesAGeneralWriterAndReadsBackInAnyPieces()
{
    QFETCH(QStringList, list);
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const QString &s : list)
        array.push_back(s.toStdString());
    const QByteArray encoded = StoreJson::encodeContents(messagesWith(list));
    QCOMPARE(encoded, QByteArray::fromStdString(array.dump()));
    for (qsizetype pieceSize : {1, 2, 3, 5, 8, 13, 64, 100000})
        QCOMPARE(readInPieces(encoded, pieceSize), std::optional<QStringList>(list));
}

void StoreJsonTest::read_acceptsAnyWellFormedArrayOfStrings_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("white space around everything") << QByteArray(" \t\r\n[ \"a\" ,\n\"b\" ] \n") << QStringList{"a", "b"};
    QTest::newRow("every short escape") << QByteArray(R"(["\" \\ \/ \b \f \n \r \t"])")
                                         << QStringList{QStringLiteral("\" \\ / \b \f \n \r \t")};
    QTest::newRow("unicode escapes, upper and lower case, a surrogate pair")
        << QByteArray(R"(["\u00E9\u2014\ud83e\uDD89\u0000"])")
        << QStringList{QString::fromUtf8("\xc3\xa9\xe2\x80\x94\xf0\x9f\xa6\x89") + QChar(0)};
}

void StoreJsonTest::read_acceptsAnyWellFormedArrayOfStrings()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, expected);
    for (qsizetype pieceSize : {1, 2, 7, 1000})
        QCOMPARE(readInPieces(json, pieceSize), std::optional<QStringList>(expected));
}

void StoreJsonTest::read_refusesEverythingElse_data()
{
    QTest::addColumn<QByteArray>("json");
    for (const char *bad : {"", "   ", "\"a\"", "{}", "[1]", "[null]", "[\"a\",]", "[,\"a\"]", "[\"a\" \"b\"]",
                            "[\"a\"", "[\"a]", "[\"a\"]x", "[\"a\"][]", "[\"\\x\"]", "[\"\\u12\"]", "[\"\\u12G4\"]",
                            "[\"\\ud800\"]", "[\"\\udc00\"]", "[\"\\ud800\\u0041\"]", "[\"tab\there\"]",
                            "[\"line\nbreak\"]", "[[\"a\"]]", "[\"a\\\"]"})
        QTest::newRow(bad[0] ? bad : "nothing") << QByteArray(bad);
    QTest::newRow("invalid UTF-8") << QByteArray("[\"caf\xc3\"]");
    QTest::newRow("overlong UTF-8") << QByteArray("[\"\xc0\xaf\"]");
    QTest::newRow("a surrogate in UTF-8") << QByteArray("[\"\xed\xa0\x80\"]");
    QTest::newRow("trailing NUL") << QByteArray("[\"a\"]\0", 6);
}

void StoreJsonTest::read_refusesEverythingElse()
{
    QFETCH(QByteArray, json);
    for (qsizetype pieceSize : {1, 3, 1000})
        QVERIFY2(!readInPieces(json, pieceSize), json.constData());
    // The general library refuses them too (it reads a string only up to a NUL).
    if (json.contains('\0'))
        return;
    const auto parsed = nlohmann::json::parse(json.toStdString(), nullptr, false);
    const bool generalAccepts = !parsed.is_discarded() && parsed.is_array()
                                && std::all_of(parsed.begin(), parsed.end(), [](const auto &v) { return v.is_string(); });
    QVERIFY2(!generalAccepts, json.constData());
}

QTEST_GUILESS_MAIN(StoreJsonTest)
#include "tst_storejson.moc"
