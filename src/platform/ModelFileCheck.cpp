#include "ModelFileCheck.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ModelFileCheck {
namespace {

// GGUF value types.
enum : uint32_t { u8, i8, u16, i16, u32, i32, f32, boolean, string, array, u64, i64, f64, typeCount };

constexpr uint64_t maxStringBytes = 64ull << 20;  // a chat template or a token is far smaller
constexpr uint64_t maxTensorNameBytes = 63;       // GGML's name limit, less its terminator
constexpr uint32_t maxDimensions = 4;

uint64_t fixedSize(uint32_t type)
{
    switch (type) {
    case u8: case i8: case boolean: return 1;
    case u16: case i16: return 2;
    case u32: case i32: case f32: return 4;
    case u64: case i64: case f64: return 8;
    default: return 0;
    }
}

// Stops at the first problem. `stopped` is set when the given bytes ran out
// before the file did: nothing wrong, just not all read.
class Reader
{
public:
    Reader(const unsigned char *bytes, size_t size, uint64_t fileSize, Report &report)
        : m_bytes(bytes), m_size(size), m_fileSize(fileSize), m_report(report) {}

    bool ok() const { return !m_stopped && m_report.verdict == Verdict::usable; }
    bool stopped() const { return m_stopped; }
    uint64_t position() const { return m_pos; }
    uint64_t left() const { return m_fileSize - m_pos; }

    void fail(Verdict verdict, const char *detail = "")
    {
        if (m_report.verdict == Verdict::usable && !m_stopped) {
            m_report.verdict = verdict;
            m_report.detail = detail;
        }
    }

    // True when `n` more bytes are there to read.
    bool need(uint64_t n)
    {
        if (!ok())
            return false;
        if (n > left()) {
            fail(Verdict::incomplete);  // the file ends inside its own header
            return false;
        }
        if (n > m_size - m_pos) {
            m_stopped = true;
            return false;
        }
        return true;
    }

    template <typename T> bool read(T &value)
    {
        if (!need(sizeof(T)))
            return false;
        std::memcpy(&value, m_bytes + m_pos, sizeof(T));  // GGUF is little-endian, as are our targets
        m_pos += sizeof(T);
        return true;
    }

    bool skip(uint64_t n)
    {
        if (!need(n))
            return false;
        m_pos += n;
        return true;
    }

    bool readString(std::string *out, uint64_t limit)
    {
        uint64_t length = 0;
        if (!read(length))
            return false;
        if (length > limit) {
            fail(Verdict::damaged, "a text in it is too long");
            return false;
        }
        if (!need(length))
            return false;
        if (out)
            out->assign(reinterpret_cast<const char *>(m_bytes + m_pos), size_t(length));
        m_pos += length;
        return true;
    }

private:
    const unsigned char *m_bytes;
    size_t m_size;
    uint64_t m_fileSize;
    Report &m_report;
    uint64_t m_pos = 0;
    bool m_stopped = false;
};

bool readUnsigned(Reader &in, uint32_t type, uint64_t &value)
{
    if (type == u32) {
        uint32_t v = 0;
        if (!in.read(v))
            return false;
        value = v;
        return true;
    }
    if (type == u64)
        return in.read(value);
    return in.skip(fixedSize(type));
}

bool skipValue(Reader &in, uint32_t type)
{
    if (type == string)
        return in.readString(nullptr, maxStringBytes);
    if (type == array) {
        uint32_t elementType = 0;
        uint64_t count = 0;
        if (!in.read(elementType) || !in.read(count))
            return false;
        if (elementType >= typeCount || elementType == array) {
            in.fail(Verdict::damaged, "a list in it has an unknown kind of value");
            return false;
        }
        if (elementType == string) {
            // Each string takes at least its 8-byte length.
            if (count > in.left() / 8) {
                in.fail(Verdict::incomplete);  // cut short, or a count that cannot be right
                return false;
            }
            for (uint64_t i = 0; i < count; ++i)
                if (!in.readString(nullptr, maxStringBytes))
                    return false;
            return true;
        }
        const uint64_t each = fixedSize(elementType);
        if (count > in.left() / each) {
            in.fail(Verdict::incomplete);
            return false;
        }
        return in.skip(count * each);
    }
    if (fixedSize(type) == 0) {
        in.fail(Verdict::damaged, "a value in it has an unknown kind");
        return false;
    }
    return in.skip(fixedSize(type));
}

void readKeyValues(Reader &in, Report &report, uint64_t &alignment)
{
    for (uint64_t i = 0; i < report.keyCount && in.ok(); ++i) {
        std::string key;
        uint32_t type = 0;
        if (!in.readString(&key, 1 << 16) || !in.read(type))
            return;
        if (key == "general.architecture" && type == string) {
            if (!in.readString(&report.architecture, 256))
                return;
        } else if (key == "general.alignment" && type == u32) {
            uint32_t value = 0;
            if (!in.read(value))
                return;
            if (value == 0 || (value & (value - 1)) != 0) {
                in.fail(Verdict::damaged, "its data alignment is not a power of two");
                return;
            }
            alignment = value;
        } else if (key == "tokenizer.chat_template" && type == string) {
            report.hasChatTemplate = true;
            if (!skipValue(in, type))
                return;
        } else if (!report.architecture.empty() && key == report.architecture + ".context_length"
                   && (type == u32 || type == u64)) {
            if (!readUnsigned(in, type, report.contextLength))
                return;
        } else if (!skipValue(in, type)) {
            return;
        }
    }
}

void readTensorTable(Reader &in, Report &report, TensorBytes tensorBytes, uint64_t alignment, uint64_t &lastDataEnd)
{
    for (uint64_t i = 0; i < report.tensorCount && in.ok(); ++i) {
        uint32_t dimensions = 0, type = 0;
        uint64_t offset = 0;
        if (!in.readString(nullptr, maxTensorNameBytes) || !in.read(dimensions))
            return;
        if (dimensions == 0 || dimensions > maxDimensions) {
            in.fail(Verdict::damaged, "a tensor in it has an impossible shape");
            return;
        }
        uint64_t elements = 1;
        for (uint32_t d = 0; d < dimensions; ++d) {
            int64_t extent = 0;
            if (!in.read(extent))
                return;
            if (extent < 0 || (extent > 0 && elements > uint64_t(std::numeric_limits<int64_t>::max()) / uint64_t(extent))) {
                in.fail(Verdict::damaged, "a tensor in it has an impossible shape");
                return;
            }
            elements *= uint64_t(extent);
        }
        if (!in.read(type) || !in.read(offset))
            return;
        if (offset % alignment != 0) {
            in.fail(Verdict::damaged, "a tensor in it is out of line with the others");
            return;
        }
        if (!tensorBytes)
            continue;
        const uint64_t bytes = tensorBytes(type, elements);
        if (bytes == 0 && elements != 0) {
            in.fail(Verdict::damaged, "a tensor in it has a type this version cannot read");
            return;
        }
        if (offset > std::numeric_limits<uint64_t>::max() - bytes) {
            in.fail(Verdict::damaged, "a tensor in it lies outside the file");
            return;
        }
        lastDataEnd = std::max(lastDataEnd, offset + bytes);
        report.dataBytes += bytes;
    }
}

} // namespace

Report inspect(const unsigned char *bytes, size_t size, uint64_t fileSize, TensorBytes tensorBytes)
{
    Report report;
    if (fileSize == 0) {
        report.verdict = Verdict::empty;
        return report;
    }
    if (size > fileSize)
        size = size_t(fileSize);
    Reader in(bytes, size, fileSize, report);
    char magic[4] = {};
    if (!in.read(magic)) {
        if (!in.stopped())
            report.verdict = Verdict::notGguf;  // shorter than the magic
        return report;
    }
    if (std::memcmp(magic, "GGUF", 4) != 0) {
        report.verdict = Verdict::notGguf;
        return report;
    }
    if (!in.read(report.version))
        return report;
    if (report.version < 2 || report.version > 3) {
        report.verdict = Verdict::unsupportedVersion;
        return report;
    }
    if (!in.read(report.tensorCount) || !in.read(report.keyCount))
        return report;
    // Each entry takes some bytes, so no count can exceed the file's size.
    if (report.keyCount > in.left() / 12 || report.tensorCount > in.left() / 32) {
        in.fail(Verdict::damaged, "it counts more entries than it can hold");
        return report;
    }

    uint64_t alignment = 32;
    readKeyValues(in, report, alignment);
    uint64_t lastDataEnd = 0;
    readTensorTable(in, report, tensorBytes, alignment, lastDataEnd);
    if (!in.ok())
        return report;

    report.complete = true;
    report.headerBytes = (in.position() + alignment - 1) / alignment * alignment;
    if (report.architecture.empty()) {
        report.verdict = Verdict::damaged;
        report.detail = "it does not say which kind of model it holds";
    } else if (report.architecture == "clip") {
        report.verdict = Verdict::notChatModel;
    } else if (tensorBytes && (report.headerBytes > fileSize || lastDataEnd > fileSize - report.headerBytes)) {
        report.verdict = Verdict::incomplete;
    }
    return report;
}

std::string refusal(const Report &report, const std::string &fileName)
{
    const std::string file = "The model file \u201C" + fileName + "\u201D";
    switch (report.verdict) {
    case Verdict::usable: return {};
    case Verdict::empty: return file + " is empty.";
    case Verdict::notGguf: return file + " is not a GGUF model file.";
    case Verdict::unsupportedVersion:
        return file + " uses a GGUF version (" + std::to_string(report.version) + ") that Hushwing cannot read.";
    case Verdict::damaged: return file + " is damaged: " + report.detail + ".";
    case Verdict::incomplete: return file + " is incomplete: it ends before its data does (was the download finished?).";
    case Verdict::notChatModel: return file + " holds no language model (it is an image projector).";
    }
    return {};
}

} // namespace ModelFileCheck
