#pragma once

#include <QString>

// A model reply of about `length` characters that reads like a real one: inline
// Markdown (strong, emphasis, code, links, a lone asterisk), line breaks and runs
// of spaces, so a bubble renders it styled, which is its costliest path.
inline QString sampleReply(qsizetype length)
{
    const QString paragraph = QStringLiteral(
        "Here is **a summary** of the change, with `code_spans()` and *emphasis*.\n"
        "1. Open [the guide](https://docs.example/guide \"Guide\") and read it.\n"
        "2. Compute 2 * 3 * 7 = 42; see [1] and snake_case_names \u2014 then check.\n"
        "   Indented line  with  double  spaces & an <tag> in it.\n\n");
    QString text;
    text.reserve(length + paragraph.size());
    while (text.size() < length)
        text += paragraph;
    text.truncate(length);
    return text;
}
