#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <optional>

// The store's list columns: a JSON array of strings in UTF-8, compact, with
// non-ASCII text written as is. A conversation of a megabyte is written after
// every reply and read at every start on the GUI thread, so this codec works
// on the bytes SQLite holds, with no document tree and no UTF-16 copy of the
// whole text in between.
namespace StoreJson {

// The same bytes a general JSON writer produces for the list: quotes,
// backslashes and control characters escaped ("\n", "\u001f", ...).
QByteArray encode(const QStringList &list);

// Strict (RFC 8259): valid UTF-8 holding one array of strings and nothing
// else but white space; any other value, a lone surrogate escape, a raw
// control character or trailing bytes make the whole text unreadable.
std::optional<QStringList> decode(QByteArrayView utf8);

} // namespace StoreJson
