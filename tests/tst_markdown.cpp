#include "CommonMarkHtml.h"
#include "DesktopActions.h"
#include "MessageRuns.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QtTest>

// The inline parser on the kind of text a model writes in a chat, and the
// bubble's presentation rules built on it.
class TestMarkdown : public QObject
{
    Q_OBJECT

    static QString html(const QString &markdown)
    {
        const auto root = InlineMarkdown::parse(markdown);
        return root ? InlineMarkdown::toCommonMarkHtml(*root) : QStringLiteral("<rejected>");
    }

    // The shown text with its styles marked: [b]..[/b], [i], [code], [a href].
    static QString described(const QString &text, const std::vector<StyledRun> &runs)
    {
        QString out;
        for (size_t i = 0; i < runs.size(); ++i) {
            const StyledRun &run = runs[i];
            const qsizetype end = i + 1 < runs.size() ? runs[i + 1].start : text.size();
            QString open, close;
            if (run.style & StyledRun::Link) { open += "[a " + run.href + "]"; close.prepend("[/a]"); }
            if (run.style & StyledRun::Bold) { open += "[b]"; close.prepend("[/b]"); }
            if (run.style & StyledRun::Italic) { open += "[i]"; close.prepend("[/i]"); }
            if (run.style & StyledRun::Code) { open += "[code]"; close.prepend("[/code]"); }
            out += open + text.sliced(run.start, end - run.start) + close;
        }
        return out;
    }
    static QString described(const MessageRuns::Presented &shown) { return described(shown.text, shown.runs); }

    // One entry a character: the character and its style.
    static QStringList styledCharacters(const QString &text, const std::vector<StyledRun> &runs)
    {
        QStringList out;
        size_t run = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            while (run + 1 < runs.size() && runs[run + 1].start <= i)
                ++run;
            out << text.at(i) + QString::number(runs[run].style) + runs[run].href;
        }
        return out;
    }

public:
    QStringList openedUrls;

public slots:
    void recordUrl(const QUrl &url) { openedUrls << url.toString(); }

private slots:
    void chatText_data()
    {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("expected");
        QTest::newRow("multiplication sign") << "2 * 3 = 6" << "2 * 3 = 6";
        QTest::newRow("two multiplications") << "2 * 3 * 4" << "2 * 3 * 4";
        QTest::newRow("numeric references") << "as shown in [1] and [2]." << "as shown in [1] and [2].";
        QTest::newRow("snake case") << "call snake_case_name()" << "call snake_case_name()";
        QTest::newRow("snake case emphasised") << "_snake_case_" << "<em>snake_case</em>";
        QTest::newRow("unclosed strong while streaming") << "This is **bol" << "This is **bol";
        QTest::newRow("unclosed code while streaming") << "Run `make te" << "Run `make te";
        QTest::newRow("unclosed link while streaming") << "see [the docs](https://exa" << "see [the docs](https://exa";
        QTest::newRow("strong then code") << "**Note:** run `ls -l`" << "<strong>Note:</strong> run <code>ls -l</code>";
        QTest::newRow("rule of three") << "*foo**bar*" << "<em>foo**bar</em>";
        QTest::newRow("nested") << "***both***" << "<em><strong>both</strong></em>";
        QTest::newRow("heading and list signs stay") << "# Title\n- item" << "# Title\n- item";
        QTest::newRow("spaces and line breaks kept") << "a  b\n\n   c *d*  \n" << "a  b\n\n   c <em>d</em>  \n";
        QTest::newRow("CRLF is one line break") << "a\r\nb\rc" << "a\nb\nc";
        QTest::newRow("raw html kept apart") << "*<b title=\"*\">x</b>" << "*<b title=\"*\">x</b>";
        QTest::newRow("entity and ampersand") << "&copy; AT&T &#65; &bogus;" << "\u00A9 AT&amp;T A &amp;bogus;";
        QTest::newRow("link with title") << "[site](https://a.example/x \"Home\")"
                                         << "<a href=\"https://a.example/x\" title=\"Home\">site</a>";
        QTest::newRow("autolink") << "<https://a.example>" << "<a href=\"https://a.example\">https://a.example</a>";
        QTest::newRow("email autolink") << "<me@a.example>" << "<a href=\"mailto:me@a.example\">me@a.example</a>";
        QTest::newRow("emoji beside emphasis") << "\U0001F600*yes*" << "\U0001F600<em>yes</em>";
        QTest::newRow("lone surrogate replaced") << QString(QChar(0xD800)) + "<b>*x*" << "\uFFFD<b><em>x</em>";
        QTest::newRow("NUL replaced") << QString(QChar(0)) + "x" << "\uFFFDx";
    }
    void chatText()
    {
        QFETCH(QString, markdown);
        QFETCH(QString, expected);
        QCOMPARE(html(markdown), expected);
    }

    void runsKeepWhiteSpaceAndShowHtmlAsText()
    {
        const QString text = "line one  with  runs\n\n    indented `code  span`\n<script>alert(1)</script> **bold**";
        const MessageRuns::Presented shown = MessageRuns::present(text, "assistant");
        QVERIFY(shown.styled);
        QCOMPARE(described(shown),
                 "line one  with  runs\n\n    indented [code]code  span[/code]\n<script>alert(1)</script> [b]bold[/b]");
        QCOMPARE(shown.text, "line one  with  runs\n\n    indented code  span\n<script>alert(1)</script> bold");
        QCOMPARE(described(MessageRuns::present("***both*** [x **y**](https://a.example)", "assistant")),
                 "[b][i]both[/i][/b] [a https://a.example]x [/a][a https://a.example][b]y[/b][/a]");
    }

    void rejectedInputFallsBackToRawText()
    {
        // Emphasis nested 40 deep is refused rather than rendered.
        const QString deep = QString(80, u'*') + "x" + QString(80, u'*');
        QVERIFY(!InlineMarkdown::parse(deep));
        auto shown = MessageRuns::present(deep, "assistant");
        QCOMPARE(shown.styled, false);
        QCOMPARE(shown.text, deep);
        QCOMPARE(described(shown), deep);

        const QString huge = QString(InlineMarkdown::kMaxLength + 1, u'a') + "**b**";
        QVERIFY(!InlineMarkdown::parse(huge));
        shown = MessageRuns::present(huge, "assistant");
        QCOMPARE(shown.styled, false);
        QCOMPARE(described(shown), huge);

        // Just inside the limit still parses.
        QVERIFY(InlineMarkdown::parse(QString(20, u'*') + "x" + QString(20, u'*')));
    }

    void markdownTestFollowsTheFiveMarkers_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("markdown");
        QTest::newRow("strong") << "a **b**" << true;
        QTest::newRow("underscores") << "__init__" << true;
        QTest::newRow("asterisk") << "2 * 3" << true;
        QTest::newRow("backtick") << "use `x`" << true;
        QTest::newRow("bracket") << "see [1]" << true;
        QTest::newRow("single underscore") << "snake_case" << false;
        QTest::newRow("heading and list") << "# Title\n- item" << false;
        QTest::newRow("empty") << "" << false;
    }
    void markdownTestFollowsTheFiveMarkers()
    {
        QFETCH(QString, content);
        QFETCH(bool, markdown);
        QCOMPARE(MessageRuns::looksLikeMarkdown(content), markdown);
    }

    void presentationByRole()
    {
        auto shown = MessageRuns::present("**hi**", "user");
        QCOMPARE(shown.styled, false);
        QCOMPARE(described(shown), "**hi**");

        shown = MessageRuns::present("**hi** <i>", "assistant");
        QCOMPARE(shown.styled, true);
        QCOMPARE(shown.text, "hi <i>");
        QCOMPARE(described(shown), "[b]hi[/b] <i>");

        shown = MessageRuns::present("", "assistant");
        QCOMPARE(shown.text, " ");
        QCOMPARE(described(shown), " ");

        // Plain assistant text is verbatim too: no entity is decoded.
        QCOMPARE(described(MessageRuns::present("a &amp; b", "assistant")), "a &amp; b");
        // One character of the runs is one document position: CR LF and CR are one break.
        QCOMPARE(described(MessageRuns::present("a\r\nb\rc", "user")), "a\nb\nc");
        QCOMPARE(described(MessageRuns::present("*a*\r\nb", "assistant")), "[i]a[/i]\nb");
    }

    // A reply presented again as it grows, by one presenter that parses only
    // what follows the settled text, shows exactly what presenting each text
    // afresh shows: random texts of the markers that open and close across
    // lines, cut anywhere (inside a marker, a reference, a CR LF, a surrogate pair).
    void growingReplyIsPresentedAsTheWholeText()
    {
        const QStringList pieces = {
            "*", "**", "***", "_", "__", "`", "``", "[", "]", "(", ")", "](", "](https://a.b/c", " \"t\"", "\")",
            "<", ">", "<b title=\"x\n\">", "</b>", "<!--", "-->", "<?", "?>", "<![CDATA[", "]]>", "<!X", "<https://a.b>",
            "<me@a.example>", "&amp;", "&#13;", "&#10;", "&copy", ";", "\\", "\\*", "\\\n", "\n", "\n", "\n\n", " ", " ",
            "\t", "word", "x", "2 * 3", "snake_case", "\r", "\r\n", "\u00e9", "\U0001F600", QString(QChar(0xD83D)),
            QString(QChar(0xDE00)), "- ", "1. ", "**bold** ", "`code` ", "[link](https://a.example) ", "](\n", "(\n", "\n)"};
        QRandomGenerator random(20261208);
        int presented = 0;
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int length = 1 + int(random.bounded(80));
            for (int i = 0; i < length; ++i)
                text += pieces.at(random.bounded(int(pieces.size())));
            MessagePresenter presenter(true);
            QStringList previous;
            for (qsizetype end = 0; end < text.size();) {
                const qsizetype start = end;
                end = std::min(text.size(), end + 1 + qsizetype(random.bounded(12)));
                presenter.append(QStringView(text).sliced(start, end - start));
                const qsizetype changedFrom = presenter.present();
                const MessageRuns::Presented whole = MessageRuns::present(text.left(end), "assistant");
                const QStringList now = styledCharacters(whole.text, whole.runs);
                const qsizetype expectedChange
                    = std::mismatch(previous.begin(), previous.end(), now.begin(), now.end()).first - previous.begin();
                ++presented;
                // The text and runs are those of the whole text, the text as
                // given is kept, and the change reported is where the shown
                // characters or styles first differ from the last presentation's.
                if (described(presenter.text(), presenter.runs()) != described(whole) || presenter.styled() != whole.styled
                    || styledCharacters(presenter.text(), presenter.runs()) != now
                    || presenter.source() != text.left(end) || changedFrom != expectedChange)
                    QFAIL(qPrintable(QStringLiteral("grown to %1 of %2 characters (change reported at %3, not %4): %5\nshown %6\nwhole %7")
                                         .arg(end).arg(text.size()).arg(changedFrom).arg(expectedChange)
                                         .arg(QString::fromLatin1(text.toUtf8().toPercentEncoding()),
                                              described(presenter.text(), presenter.runs()), described(whole))));
                previous = now;
            }
        }

        // A long chat reply grown in pieces shows what it shows whole, and
        // presenting it again without a change reports none.
        const QString reply = QStringLiteral("Here is **a summary**, with `code()` and *emphasis*.\n"
                                             "1. Open [the guide](https://a.example/guide \"Guide\").\n"
                                             "2. Compute 2 * 3 = 6 in snake_case & <tag> it.\n\n").repeated(400);
        MessagePresenter presenter(true);
        for (qsizetype end = 0; end < reply.size(); end += 997) {
            presenter.append(QStringView(reply).sliced(end, std::min<qsizetype>(997, reply.size() - end)));
            presenter.present();
        }
        QCOMPARE(described(presenter.text(), presenter.runs()), described(MessageRuns::present(reply, "assistant")));
        QCOMPARE(presenter.present(), presenter.text().size());
    }

    void copyReplacesClipboardWithRawText()
    {
        QGuiApplication::clipboard()->setText("before");
        DesktopActions::copyToClipboard("**bold** and `code`");
        QCOMPARE(QGuiApplication::clipboard()->text(), "**bold** and `code`");
    }

    void onlyWebAndMailLinksOpen()
    {
        for (const char *scheme : {"http", "https", "mailto", "javascript", "file", "ftp", "data"})
            QDesktopServices::setUrlHandler(scheme, this, "recordUrl");
        QVERIFY(DesktopActions::openLink("https://a.example/page"));
        QVERIFY(DesktopActions::openLink("http://a.example"));
        QVERIFY(DesktopActions::openLink("mailto:me@a.example"));
        QVERIFY(!DesktopActions::openLink("javascript:alert(1)"));
        QVERIFY(!DesktopActions::openLink("JavaScript:alert(1)"));
        QVERIFY(!DesktopActions::openLink("file:///etc/passwd"));
        QVERIFY(!DesktopActions::openLink("data:text/html,hi"));
        QVERIFY(!DesktopActions::openLink("/relative/path"));
        QVERIFY(!DesktopActions::openLink("https://"));
        QCOMPARE(openedUrls, QStringList({"https://a.example/page", "http://a.example", "mailto:me@a.example"}));
        for (const char *scheme : {"http", "https", "mailto", "javascript", "file", "ftp", "data"})
            QDesktopServices::unsetUrlHandler(scheme);

        // A javascript: link in a reply parses as a link, but opening it is refused.
        QCOMPARE(html("[x](javascript:alert(1))"), "<a href=\"javascript:alert(1)\">x</a>");
    }
};

QTEST_MAIN(TestMarkdown)
#include "tst_markdown.moc"
