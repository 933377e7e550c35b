// A model file's header, metadata and tensor table, as the engine helper reads
// them before it lets llama.cpp load the file: read whole, and read from a
// prefix (as the window looks at the first kilobytes). A refusal always says
// why; a usable report of a whole file names its architecture.
#include "ModelFileCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// F32, F16 and Q8_0 (blocks of 32 in 34 bytes); other types are unknown.
uint64_t tensorBytes(uint32_t type, uint64_t elements)
{
    const uint64_t block = type == 8 ? 32 : 1;
    const uint64_t size = type == 0 ? 4 : type == 1 ? 2 : type == 8 ? 34 : 0;
    if (size == 0 || elements % block != 0 || elements / block > UINT64_MAX / size)
        return 0;
    return elements / block * size;
}

void check(const ModelFileCheck::Report &report)
{
    const bool refused = !ModelFileCheck::refusal(report, "model.gguf").empty();
    if (refused != (report.verdict != ModelFileCheck::Verdict::usable))
        std::abort();
    if (report.verdict == ModelFileCheck::Verdict::usable && report.complete && report.architecture.empty())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(ModelFileCheck::inspect(data, size, size, tensorBytes));
    check(ModelFileCheck::inspect(data, size / 2, size));
    // The same bytes as the start of a far longer file.
    check(ModelFileCheck::inspect(data, size, uint64_t(size) * 1000 + 7, tensorBytes));
    return 0;
}
