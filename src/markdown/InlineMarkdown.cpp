#include "InlineMarkdown.h"

#include "InlineMarkdownScanners.h"

#include <QHash>
#include <algorithm>
#include <limits>

// The parser follows CommonMark's inline algorithm: text is appended as a flat
// list of nodes; runs of "*" and "_" go on a delimiter stack and "[" on a
// bracket stack; "]" followed by an inline link wraps the nodes since its "["
// into a link; "process emphasis" then pairs delimiters into emphasis nodes.
// Nodes live in one vector and are linked by index while the tree is built.
//
// A streamed reply is parsed again every time it grows, so the parser also
// finds where the text it read is settled: a line start before which nothing
// can read differently whatever text follows. That is so when every construct
// begun before it was decided before it: each "*" or "_" that could open was
// paired or dropped by a closer before it, no "[" is waiting for its "]", no
// backticks wait for their closing run, and no link tail or "<" construct
// running across the line break had to look at the end of the text. (What
// cannot cross a line break, such as a character reference or a delimiter
// run, is decided by the line break at the latest.) The parse of a longer
// text can then start at that line and keep what came before.

namespace InlineMarkdown {
namespace {

using Kind = Node::Kind;

struct Item
{
    Kind kind = Kind::Text;
    QString text, destination, title;
    // Delimiter runs and "[" are stored as a count of one character rather than
    // as a string of their own: long replies have thousands of them.
    QChar runChar;
    int runLength = 0;
    qsizetype start = 0;  // where the node's source text begins
    int parent = -1, first = -1, last = -1, prev = -1, next = -1;
};

constexpr qsizetype kNever = std::numeric_limits<qsizetype>::max();

struct Delimiter
{
    QChar ch;
    int node = -1;
    int count = 0, originalCount = 0;
    bool canOpen = false, canClose = false;
    int prev = -1, next = -1;
    qsizetype position = 0;
    qsizetype settledAt = kNever;  // where the delimiter was paired or dropped for good
};

// A line start the parse passed in plain text with no "[" waiting: how many
// delimiters had been met before it, and where in the pending text (which
// becomes the text node starting at pendingStart) it falls.
struct LineStart
{
    qsizetype position;
    size_t delimitersBefore;
    qsizetype pendingStart, pendingOffset;
};

struct Bracket
{
    int node = -1;
    int delimiterBelow = -1;  // top of the delimiter stack when "[" was seen
    bool active = true;
};

// Appends text to `parent`'s children, merged into a text node at their end.
void appendText(Node &parent, const QString &text)
{
    if (text.isEmpty())
        return;
    if (!parent.children.empty() && parent.children.back().kind == Kind::Text)
        parent.children.back().text += text;
    else
        parent.children.push_back({Kind::Text, text, {}, {}, {}});
}

class Parser
{
public:
    Parser(QString text, qsizetype from) : m_text(std::move(text)), m_pos(from), m_from(from)
    {
        m_items.reserve((m_text.size() - from) / 8 + 16);  // fewer reallocations in long replies
        newItem(Kind::Root);
    }

    std::optional<Continuation> run()
    {
        parseInlines();
        processEmphasis(-1, kNever);
        if (maxDepth() > kMaxNesting)
            return std::nullopt;
        Continuation parsed;
        parsed.settled.kind = parsed.rest.kind = Kind::Root;
        const LineStart *line = settledLine();
        parsed.settledEnd = line ? line->position : m_from;
        for (int c = m_items[0].first; c >= 0; c = m_items[c].next) {
            const Item &item = m_items[c];
            if (item.start >= parsed.settledEnd) {
                appendTo(parsed.rest, c);
            } else if (item.start == line->pendingStart && item.runLength == 0 && item.kind == Kind::Text
                       && item.text.size() > line->pendingOffset) {
                // The text running across the line start.
                appendText(parsed.settled, item.text.first(line->pendingOffset));
                appendText(parsed.rest, item.text.sliced(line->pendingOffset));
            } else {
                appendTo(parsed.settled, c);
            }
        }
        return parsed;
    }

private:
    static bool isSpecial(QChar c)
    {
        switch (c.unicode()) {
        case '\\': case '&': case '`': case '*': case '_': case '[': case ']': case '<': case 0:
            return true;
        default:
            return false;
        }
    }

    void parseInlines()
    {
        const qsizetype n = m_text.size();
        while (m_pos < n) {
            if (m_pending.isEmpty())
                m_pendingStart = m_pos;
            const QChar c = m_text[m_pos];
            switch (c.unicode()) {
            case '\\': backslash(); break;
            case '&': characterReference(); break;
            case '`': codeSpan(); break;
            case '*': case '_': delimiterRun(); break;
            case '[': openBracket(); break;
            case ']': closeBracket(); break;
            case '<': angleBracket(); break;
            case 0: m_pending += QChar(0xFFFD); ++m_pos; break;  // NUL is never shown as is
            default: {
                const qsizetype start = m_pos;
                qsizetype lineStart = -1;
                while (m_pos < n && !isSpecial(m_text[m_pos])) {
                    if (m_text[m_pos++] == u'\n')
                        lineStart = m_pos;
                }
                // Of the lines starting here, the last is the one a later parse may begin at.
                if (lineStart > m_from && m_brackets.empty() && lineStart <= m_unsettledFrom)
                    m_lineStarts.push_back({lineStart, m_delimiters.size(), m_pendingStart,
                                            m_pending.size() + (lineStart - start)});
                m_pending += QStringView(m_text).mid(start, m_pos - start);
            }
            }
        }
        flush();
    }

    // --- node list -------------------------------------------------------
    int newItem(Kind kind, QString text = {})
    {
        Item item;
        item.kind = kind;
        item.text = std::move(text);
        m_items.push_back(std::move(item));
        return int(m_items.size() - 1);
    }
    void appendChild(int parent, int child)
    {
        Item &p = m_items[parent];
        Item &c = m_items[child];
        c.parent = parent;
        c.prev = p.last;
        c.next = -1;
        if (p.last >= 0)
            m_items[p.last].next = child;
        else
            p.first = child;
        p.last = child;
    }
    void unlink(int i)
    {
        Item &it = m_items[i];
        if (it.prev >= 0) m_items[it.prev].next = it.next;
        else if (it.parent >= 0) m_items[it.parent].first = it.next;
        if (it.next >= 0) m_items[it.next].prev = it.prev;
        else if (it.parent >= 0) m_items[it.parent].last = it.prev;
        it.prev = it.next = it.parent = -1;
    }
    void insertAfter(int ref, int i)
    {
        Item &it = m_items[i];
        it.parent = m_items[ref].parent;
        it.prev = ref;
        it.next = m_items[ref].next;
        if (it.next >= 0) m_items[it.next].prev = i;
        else m_items[it.parent].last = i;
        m_items[ref].next = i;
    }
    void flush()
    {
        if (m_pending.isEmpty())
            return;
        const int i = newItem(Kind::Text, m_pending);
        m_items[i].start = m_pendingStart;
        appendChild(0, i);
        m_pending.clear();
    }
    int appendRun(QChar c, int length)
    {
        const int i = appendNode(Kind::Text, {});
        m_items[i].runChar = c;
        m_items[i].runLength = length;
        return i;
    }
    int appendNode(Kind kind, QString text)
    {
        flush();
        const int i = newItem(kind, std::move(text));
        m_items[i].start = m_pos;  // every construct is appended before the parse moves past it
        appendChild(0, i);
        return i;
    }

    // --- constructs ------------------------------------------------------
    void backslash()
    {
        const qsizetype next = m_pos + 1;
        if (next < m_text.size() && Scan::isAsciiPunctuation(m_text[next])) {
            m_pending += m_text[next];
            m_pos += 2;
        } else if (next < m_text.size() && m_text[next] == u'\n') {
            m_pending += u'\n';  // a hard line break: the line break is kept anyway
            m_pos += 2;
        } else {
            m_pending += u'\\';
            ++m_pos;
        }
    }

    void characterReference()
    {
        if (auto e = Scan::entity(m_text, m_pos)) {
            m_pending += e->value;
            m_pos = e->end;
        } else {
            m_pending += u'&';
            ++m_pos;
        }
    }

    qsizetype runLength(qsizetype pos, QChar c) const
    {
        qsizetype end = pos;
        while (end < m_text.size() && m_text[end] == c)
            ++end;
        return end - pos;
    }

    // Start of the first backtick run of exactly `length` that starts at or
    // after `from`, or -1. The runs are indexed once, so unclosed backticks in
    // a long reply cost no rescans.
    qsizetype closingBackticks(qsizetype from, qsizetype length)
    {
        if (!m_backtickRunsIndexed) {
            m_backtickRunsIndexed = true;
            for (qsizetype p = m_from; p < m_text.size();) {
                if (m_text[p] != u'`') { ++p; continue; }
                const qsizetype len = runLength(p, u'`');
                m_backtickRuns[len].push_back(p);
                p += len;
            }
        }
        const auto it = m_backtickRuns.constFind(length);
        if (it == m_backtickRuns.constEnd())
            return -1;
        const auto found = std::lower_bound(it->begin(), it->end(), from);
        return found == it->end() ? -1 : *found;
    }

    void codeSpan()
    {
        const qsizetype length = runLength(m_pos, u'`');
        const qsizetype contentStart = m_pos + length;
        const qsizetype close = closingBackticks(contentStart, length);
        if (close < 0) {
            unsettledFrom(m_pos);  // the closing backticks may still come
            m_pending += QStringView(m_text).mid(m_pos, length);
            m_pos = contentStart;
            return;
        }
        QString content = m_text.mid(contentStart, close - contentStart);
        // One space on each side is padding (so that "`` ` ``" can show a
        // backtick), unless the content is nothing but spaces.
        if (content.size() >= 2 && content.front() == u' ' && content.back() == u' '
            && !std::all_of(content.begin(), content.end(), [](QChar c) { return c == u' '; }))
            content = content.mid(1, content.size() - 2);
        appendNode(Kind::Code, content);
        m_pos = close + length;
    }

    char32_t codePointBefore(qsizetype pos) const
    {
        if (pos <= 0)
            return '\n';
        const QChar c = m_text[pos - 1];
        if (c.isLowSurrogate() && pos >= 2 && m_text[pos - 2].isHighSurrogate())
            return QChar::surrogateToUcs4(m_text[pos - 2], c);
        return c.unicode();
    }
    char32_t codePointAt(qsizetype pos) const
    {
        if (pos >= m_text.size())
            return '\n';
        const QChar c = m_text[pos];
        if (c.isHighSurrogate() && pos + 1 < m_text.size() && m_text[pos + 1].isLowSurrogate())
            return QChar::surrogateToUcs4(c, m_text[pos + 1]);
        return c.unicode();
    }

    void delimiterRun()
    {
        const QChar c = m_text[m_pos];
        const qsizetype length = runLength(m_pos, c);
        const char32_t before = codePointBefore(m_pos);
        const char32_t after = codePointAt(m_pos + length);
        const bool spaceBefore = Scan::isUnicodeWhitespace(before), spaceAfter = Scan::isUnicodeWhitespace(after);
        const bool punctBefore = Scan::isPunctuation(before), punctAfter = Scan::isPunctuation(after);
        const bool leftFlanking = !spaceAfter && (!punctAfter || spaceBefore || punctBefore);
        const bool rightFlanking = !spaceBefore && (!punctBefore || spaceAfter || punctAfter);
        bool canOpen = leftFlanking, canClose = rightFlanking;
        if (c == u'_') {  // no emphasis inside words written with underscores
            canOpen = leftFlanking && (!rightFlanking || punctBefore);
            canClose = rightFlanking && (!leftFlanking || punctAfter);
        }
        const int node = appendRun(c, int(length));
        if (canOpen || canClose)
            pushDelimiter({c, node, int(length), int(length), canOpen, canClose, -1, -1, m_pos});
        m_pos += length;
    }

    void pushDelimiter(Delimiter d)
    {
        d.prev = m_delimiterTop;
        m_delimiters.push_back(d);
        const int i = int(m_delimiters.size() - 1);
        if (m_delimiterTop >= 0)
            m_delimiters[m_delimiterTop].next = i;
        m_delimiterTop = i;
    }
    void removeDelimiter(int i, qsizetype settledAt)
    {
        Delimiter &d = m_delimiters[i];
        d.settledAt = settledAt;
        if (d.prev >= 0) m_delimiters[d.prev].next = d.next;
        if (d.next >= 0) m_delimiters[d.next].prev = d.prev;
        if (m_delimiterTop == i) m_delimiterTop = d.prev;
    }

    void openBracket()
    {
        const int node = appendRun(u'[', 1);
        m_brackets.push_back({node, m_delimiterTop, true});
        ++m_pos;
    }

    void closeBracket()
    {
        if (m_brackets.empty()) {
            m_pending += u']';
            ++m_pos;
            return;
        }
        const Bracket opener = m_brackets.back();
        m_brackets.pop_back();
        bool needsMore = false;
        const auto link = opener.active ? Scan::inlineLinkTail(m_text, m_pos + 1, &needsMore) : std::nullopt;
        if (needsMore)
            unsettledFrom(m_items[opener.node].start);  // the rest of the link may still come
        if (!link) {
            m_pending += u']';
            ++m_pos;
            return;
        }
        flush();
        const int linkNode = newItem(Kind::Link);
        m_items[linkNode].start = m_items[opener.node].start;
        m_items[linkNode].destination = link->destination;
        m_items[linkNode].title = link->title;
        for (int i = m_items[opener.node].next; i >= 0;) {
            const int next = m_items[i].next;
            unlink(i);
            appendChild(linkNode, i);
            i = next;
        }
        insertAfter(opener.node, linkNode);
        unlink(opener.node);
        processEmphasis(opener.delimiterBelow, m_pos);
        for (Bracket &b : m_brackets)  // no links inside links
            b.active = false;
        m_pos = link->end;
    }

    void angleBracket()
    {
        bool needsMore = false;
        const auto a = Scan::autolink(m_text, m_pos, &needsMore);
        const auto tag = a ? std::nullopt : Scan::rawHtml(m_text, m_pos, &needsMore);
        if (needsMore)
            unsettledFrom(m_pos);
        if (a) {
            const QString target = a->isEmail ? QStringLiteral("mailto:") + a->address : a->address;
            const int link = appendNode(Kind::Link, {});
            m_items[link].destination = Scan::normaliseUrl(target);
            appendChild(link, newItem(Kind::Text, a->address));
            m_pos = a->end;
        } else if (tag) {
            appendNode(Kind::RawHtml, tag->value);
            m_pos = tag->end;
        } else {
            m_pending += u'<';
            ++m_pos;
        }
    }

    // Pairs the delimiters above `bottom` into emphasis, then drops them; those
    // left unpaired are settled at `end` (a link's end, or never: a longer text
    // may still close them).
    void processEmphasis(int bottom, qsizetype end)
    {
        int openersBottom[2][2][3];
        for (auto &a : openersBottom)
            for (auto &b : a)
                std::fill(std::begin(b), std::end(b), bottom);
        int current = -1;
        for (int d = m_delimiterTop; d != bottom && d >= 0; d = m_delimiters[d].prev)
            current = d;
        while (current >= 0) {
            const Delimiter closer = m_delimiters[current];
            if (!closer.canClose) {
                current = closer.next;
                continue;
            }
            int &lowest = openersBottom[closer.ch == u'_'][closer.canOpen][closer.originalCount % 3];
            int opener = closer.prev;
            for (; opener != bottom && opener != lowest && opener >= 0; opener = m_delimiters[opener].prev) {
                const Delimiter &o = m_delimiters[opener];
                if (o.ch != closer.ch || !o.canOpen)
                    continue;
                // CommonMark's "rule of 3": a delimiter run that can both open
                // and close matches only when the lengths do not sum to a
                // multiple of three (unless both lengths are multiples of three).
                const bool ruleOfThreeForbids = (o.canClose || closer.canOpen)
                    && (o.originalCount + closer.originalCount) % 3 == 0
                    && !(o.originalCount % 3 == 0 && closer.originalCount % 3 == 0);
                if (!ruleOfThreeForbids)
                    break;
            }
            if (opener == bottom || opener == lowest || opener < 0) {
                lowest = closer.prev;
                if (!closer.canOpen)
                    removeDelimiter(current, closer.position);
                current = closer.next;
                continue;
            }
            current = wrapEmphasis(opener, current);
        }
        while (m_delimiterTop != bottom && m_delimiterTop >= 0)
            removeDelimiter(m_delimiterTop, end);
    }

    // Wraps the nodes between a matched opener and closer; returns the
    // delimiter to look at next.
    int wrapEmphasis(int opener, int closer)
    {
        Delimiter &o = m_delimiters[opener];
        Delimiter &c = m_delimiters[closer];
        const int used = (o.count >= 2 && c.count >= 2) ? 2 : 1;
        o.count -= used;
        c.count -= used;
        m_items[o.node].runLength -= used;
        m_items[c.node].runLength -= used;
        const int openerNode = o.node, closerNode = c.node;
        const qsizetype at = c.position;
        const int emphasis = newItem(used == 2 ? Kind::Strong : Kind::Emphasis);
        m_items[emphasis].start = m_items[openerNode].start;
        for (int i = m_items[openerNode].next; i >= 0 && i != closerNode;) {
            const int next = m_items[i].next;
            unlink(i);
            appendChild(emphasis, i);
            i = next;
        }
        insertAfter(openerNode, emphasis);
        for (int d = m_delimiters[closer].prev; d >= 0 && d != opener; d = m_delimiters[d].prev)
            removeDelimiter(d, at);
        if (m_delimiters[opener].count == 0) {
            unlink(openerNode);
            removeDelimiter(opener, at);
        }
        if (m_delimiters[closer].count == 0) {
            unlink(closerNode);
            const int next = m_delimiters[closer].next;
            removeDelimiter(closer, at);
            return next;
        }
        return closer;
    }

    // --- result ----------------------------------------------------------
    int maxDepth() const
    {
        int deepest = 0;
        std::vector<std::pair<int, int>> stack{{0, 0}};
        while (!stack.empty()) {
            const auto [i, depth] = stack.back();
            stack.pop_back();
            deepest = std::max(deepest, depth);
            for (int c = m_items[i].first; c >= 0; c = m_items[c].next)
                if (m_items[c].first >= 0)
                    stack.push_back({c, depth + 1});
        }
        return deepest;
    }

    // The latest line start before which everything is settled, if any.
    const LineStart *settledLine() const
    {
        // Delimiters are met in the order of the text: the latest point at
        // which the first k of them were all settled.
        std::vector<qsizetype> settledBy(m_delimiters.size() + 1, 0);
        for (size_t k = 0; k < m_delimiters.size(); ++k)
            settledBy[k + 1] = std::max(settledBy[k], m_delimiters[k].settledAt);
        for (auto line = m_lineStarts.rbegin(); line != m_lineStarts.rend(); ++line) {
            if (line->position <= m_unsettledFrom && settledBy[line->delimitersBefore] < line->position)
                return &*line;
        }
        return nullptr;
    }

    void unsettledFrom(qsizetype position) { m_unsettledFrom = std::min(m_unsettledFrom, position); }

    // Appends item i to `parent` as a node; adjacent text merges.
    void appendTo(Node &parent, int i) const
    {
        const Item &child = m_items[i];
        const QString text = child.runLength > 0 ? QString(child.runLength, child.runChar) : child.text;
        if (child.kind == Kind::Text) {
            appendText(parent, text);
            return;
        }
        Node node{child.kind, text, child.destination, child.title, {}};
        for (int c = child.first; c >= 0; c = m_items[c].next)
            appendTo(node, c);
        parent.children.push_back(std::move(node));
    }

    const QString m_text;  // never written: a write would copy the whole reply
    qsizetype m_pos = 0;
    const qsizetype m_from = 0;
    QString m_pending;
    qsizetype m_pendingStart = 0;
    qsizetype m_unsettledFrom = kNever;  // the first construct a longer text may read differently
    std::vector<LineStart> m_lineStarts;
    std::vector<Item> m_items;
    std::vector<Delimiter> m_delimiters;
    int m_delimiterTop = -1;
    std::vector<Bracket> m_brackets;
    bool m_backtickRunsIndexed = false;
    QHash<qsizetype, std::vector<qsizetype>> m_backtickRuns;
};

} // namespace

qsizetype Normaliser::append(QString &out, QStringView piece)
{
    qsizetype changedFrom = out.size();
    qsizetype plainFrom = 0;  // the start of the characters copied as they are
    for (qsizetype i = 0; i < piece.size(); ++i) {
        const QChar c = piece[i];
        if (c != u'\r' && !c.isSurrogate() && !(c == u'\n' && m_last == u'\r')) {
            m_last = c;
            continue;
        }
        out.append(piece.sliced(plainFrom, i - plainFrom));
        plainFrom = i + 1;
        if (c == u'\n' && m_last == u'\r') {
            // The CR before it made the line break.
        } else if (c.isLowSurrogate() && m_last.isHighSurrogate()) {
            out.back() = m_last;
            out.append(c);
            changedFrom = std::min(changedFrom, out.size() - 2);
        } else if (c == u'\r') {
            out.append(u'\n');
        } else {
            // A high surrogate shows as U+FFFD until its low half comes.
            out.append(c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c);
        }
        m_last = c;
    }
    out.append(piece.sliced(plainFrom));
    return changedFrom;
}

QString normalised(QStringView text)
{
    QString out;
    Normaliser().append(out, text);
    return out;
}

std::optional<Continuation> parseFrom(const QString &normalisedText, qsizetype from)
{
    return Parser(normalisedText, from).run();
}

std::optional<Node> parse(QStringView text)
{
    if (text.size() > kMaxLength)
        return std::nullopt;
    auto parsed = parseFrom(normalised(text), 0);
    if (!parsed)
        return std::nullopt;
    Node root = std::move(parsed->settled);
    for (Node &child : parsed->rest.children) {
        if (child.kind == Node::Kind::Text)
            appendText(root, child.text);
        else
            root.children.push_back(std::move(child));
    }
    return root;
}

} // namespace InlineMarkdown
