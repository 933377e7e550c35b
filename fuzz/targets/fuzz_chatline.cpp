// A streamed chat body as the reply reader takes it: cut into lines across two
// network reads (the cut chosen by the input), each line decoded as a chunk or,
// failing that, read for a server's error text; the text grows until "done".
#include "OllamaLineSplitter.h"
#include "OllamaWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView body(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = size ? qsizetype(data[0]) % (qsizetype(size) + 1) : 0;
    OllamaLineSplitter lines(1 << 16);
    QString text;
    const auto onLine = [&](QByteArrayView line) {
        if (line.isEmpty())
            return true;
        QString reason;
        const std::optional<OllamaChatChunk> chunk = OllamaChatChunk::decode(line, &reason);
        if (!chunk) {
            if (reason.isEmpty())
                std::abort();  // a refusal always says why
            ollamaErrorText(line);
            return false;  // the reader ends the reply here
        }
        text += chunk->message.content;
        return !chunk->done;
    };
    if (lines.feed(body.first(cut), onLine) == OllamaLineSplitter::Result::more
        && lines.feed(body.sliced(cut), onLine) == OllamaLineSplitter::Result::more)
        onLine(lines.takeRest());
    // The whole input as one line, too.
    OllamaChatChunk::decode(body);
    return 0;
}
