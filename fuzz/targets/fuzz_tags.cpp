// The body of a model-list reply, decoded whole; every entry it yields must
// carry a name (the decoder refuses entries without one).
#include "OllamaWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString reason;
    const auto tags = OllamaTagsResponse::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)),
                                                 &reason);
    if (!tags && reason.isEmpty())
        std::abort();  // a refusal always says why
    return 0;
}
