#pragma once

#include "Utf8Pieces.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct llama_context;
struct llama_model;
struct llama_sampler;
class Channel;

// One conversation with the loaded model, kept in llama.cpp's KV cache: each
// turn formats the whole conversation through the model's own chat template,
// and evaluates only the text after what the cache already holds. The system
// prompt is taken when the conversation is opened, never later.
class Conversation
{
public:
    struct Message
    {
        std::string role;  // "system", "user" or "assistant"
        std::string content;
    };

    // How a turn ended, and what it cost.
    struct Turn
    {
        enum class End { complete, stopped, contextFull, failed };
        End end = End::complete;
        std::string error;        // for failed: the sentence the user reads
        int promptTokens = 0;     // tokens evaluated for this turn's prompt
        int generatedTokens = 0;  // tokens of the reply taken into the cache
        int contextUsed = 0;      // tokens in the cache afterwards
        double promptMs = 0;      // evaluating the prompt
        double firstPieceMs = -1; // from the start of the turn to the first text handed out
        double generateMs = 0;    // from the first generated token to the end
    };

    Conversation(llama_model *model, llama_context *context, Channel &channel, uint32_t seed);
    ~Conversation();
    Conversation(const Conversation &) = delete;
    Conversation &operator=(const Conversation &) = delete;

    // Starts afresh: an empty cache, `instructions` as the system prompt
    // (none when empty), and `earlier` as turns already made (evaluated with
    // the next prompt).
    void open(const std::string &instructions, std::vector<Message> earlier);

    // Answers `prompt`, handing out each piece of text as it is generated
    // (pieces are valid UTF-8). Stops between two tokens when the channel
    // asks; the reply then keeps what it has, as it does when the context is
    // full. A prompt that does not fit fails and changes nothing.
    Turn reply(const std::string &prompt, const std::function<void(const std::string &)> &onPiece);

private:
    bool format(const std::vector<Message> &messages, std::string &out) const;
    // Evaluates `text` after what the cache holds; false when it was stopped or failed.
    bool evaluate(const std::string &text, Turn &turn);
    // Hands out the reply's text; `reply` gets the bytes the cache took in.
    void generate(Turn &turn, const std::function<void(const std::string &)> &onPiece, std::string &reply);
    void forgetCache();

    llama_model *m_model;
    llama_context *m_context;
    llama_sampler *m_sampler;
    Channel &m_channel;
    const char *m_template;
    std::vector<Message> m_messages;
    std::string m_cached;  // the text whose tokens the cache holds
    int m_past = 0;        // how many tokens that is
    Utf8Pieces m_utf8;
};
