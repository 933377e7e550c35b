#pragma once

#include <QString>

// Where the on-device model lives: a folder beside the conversation's store,
// $XDG_DATA_HOME/Hushwing/Models (by default ~/.local/share/Hushwing/Models),
// holding the model as a .gguf file (a symbolic link to one counts).
namespace ModelFolder {

QString path();

} // namespace ModelFolder
