#pragma once

#include <string>

// Turns the bytes of generated tokens into valid UTF-8 text. A token may end
// inside a character (its next bytes come with the next token): those bytes
// are held back until the character is complete. Bytes that can never form a
// character become U+FFFD. So every piece handed out is valid text and the
// pieces joined are the reply.
class Utf8Pieces
{
public:
    // Adds a token's bytes; returns the text that is now complete.
    std::string take(const std::string &bytes);
    // At the end of a reply: a character still held can no longer be
    // completed, and is dropped.
    void finish();

private:
    std::string m_held;
};
