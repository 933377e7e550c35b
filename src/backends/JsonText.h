#pragma once

#include <QByteArray>
#include <QByteArrayView>

// JSON strings written as a general JSON writer writes them, compact: '"', '\\'
// and the control characters escaped (\b \f \n \r \t, others as \u00XX with
// lower-case digits), every other byte, non-ASCII UTF-8 included, as it is.
// Eight bytes are looked at a time, so tens of megabytes of messages encode in
// tens of milliseconds. Used by the store's list columns and the Ollama request.
namespace JsonText {

// Appends `utf8` as a quoted JSON string.
void appendString(QByteArray &out, QByteArrayView utf8);

// The first byte at or after `from` that a JSON string cannot hold as it
// stands ('"', '\\' or below 0x20), or `size` when there is none.
qsizetype nextSpecial(const char *data, qsizetype from, qsizetype size);

} // namespace JsonText
