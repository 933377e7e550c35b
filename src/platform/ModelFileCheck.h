#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads a GGUF model file's header, its metadata and its tensor table, as far
// as the bytes given reach, without trusting any count or length in it. Plain
// C++ (no Qt, no llama.cpp), so that the window, the engine helper and the
// fuzz target share it.
//
// The window reads the first kilobytes of each file in the Models folder to
// pick one (a cheap look, on every availability check). The engine helper
// reads the whole metadata before it lets llama.cpp load the file, so that an
// empty, foreign, damaged or incomplete file is refused with a sentence that
// says so instead of an engine error.
namespace ModelFileCheck {

enum class Verdict {
    usable,              // nothing wrong so far (see Report::complete)
    empty,               // no bytes at all
    notGguf,             // does not start with the GGUF magic
    unsupportedVersion,  // a GGUF version this reader does not know
    damaged,             // a count, length or type that cannot be right
    incomplete,          // the file ends before its tensor data does
    notChatModel,        // a GGUF file, but not a language model (an image projector)
};

struct Report
{
    Verdict verdict = Verdict::usable;
    // All of the metadata and tensor table was read (false when the bytes
    // given ended first; the verdict then covers what was read).
    bool complete = false;
    std::string detail;  // for damaged: what is wrong, in a few words
    uint32_t version = 0;
    uint64_t tensorCount = 0;
    uint64_t keyCount = 0;
    std::string architecture;  // general.architecture, when read
    bool hasChatTemplate = false;
    uint64_t contextLength = 0;  // <architecture>.context_length, when read
    uint64_t headerBytes = 0;    // where the tensor data starts (when complete)
    uint64_t dataBytes = 0;      // bytes of tensor data the table describes (when complete)
};

// Bytes that `elements` elements of GGML tensor type `type` take, or 0 when
// the type is unknown or `elements` does not fill whole blocks of it.
using TensorBytes = uint64_t (*)(uint32_t type, uint64_t elements);

// Looks at the first `size` bytes of a file that is `fileSize` bytes long.
// With `tensorBytes`, a complete table is also checked against the file's
// end (an interrupted download is `incomplete`); without it, only the table's
// shape is checked.
Report inspect(const unsigned char *bytes, size_t size, uint64_t fileSize, TensorBytes tensorBytes = nullptr);

// The sentence a user reads about a refused file, e.g. "The model file
// “a.gguf” is empty." Empty for a usable report.
std::string refusal(const Report &report, const std::string &fileName);

} // namespace ModelFileCheck
