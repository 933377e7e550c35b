#pragma once

#include <QString>
#include <QStringList>

// Random-weight GGUF models for the on-device engine's tests, made with
// llama.cpp itself by hushwing-testmodel (a real tokenizer, the ChatML
// template). Made once per test program into a temporary folder.
namespace TestModels {

// Whether this build has the engine and the tokenizer the models need.
bool available();
// A llama-architecture model, 64 wide and 2 layers (17 MB, about a thousand
// tokens a second here).
QString tiny();
// A well-formed GGUF file of an architecture llama.cpp does not know.
QString foreignArchitecture();
// Runs hushwing-testmodel with these arguments; true when it made the file.
bool make(const QStringList &arguments);

} // namespace TestModels
