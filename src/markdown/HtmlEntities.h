#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// The named character references of HTML5 ("&amp;", "&copy;", ...).
namespace HtmlEntities {
// The text a reference stands for, given its name without "&" and ";".
std::optional<QString> lookup(QStringView name);
}
