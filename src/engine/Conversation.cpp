#include "Conversation.h"

#include "Channel.h"

#include <llama.h>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string thousands(int n)
{
    std::string digits = std::to_string(n);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(size_t(at), ",");
    return digits;
}

} // namespace

Conversation::Conversation(llama_model *model, llama_context *context, Channel &channel, uint32_t seed)
    : m_model(model), m_context(context), m_channel(channel),
      m_template(llama_model_chat_template(model, nullptr))
{
    // llama.cpp's own default sampling: top-k 40, top-p 0.95, min-p 0.05,
    // temperature 0.8, a random seed (unless one is given).
    m_sampler = llama_sampler_chain_init(llama_sampler_chain_default_params());
    llama_sampler_chain_add(m_sampler, llama_sampler_init_top_k(40));
    llama_sampler_chain_add(m_sampler, llama_sampler_init_top_p(0.95f, 1));
    llama_sampler_chain_add(m_sampler, llama_sampler_init_min_p(0.05f, 1));
    llama_sampler_chain_add(m_sampler, llama_sampler_init_temp(0.8f));
    llama_sampler_chain_add(m_sampler, llama_sampler_init_dist(seed));
    // Stop reaches a long prompt evaluation between two steps of the graph.
    llama_set_abort_callback(
        m_context, [](void *channel) { return static_cast<Channel *>(channel)->stopRequested(); }, &m_channel);
}

Conversation::~Conversation()
{
    llama_sampler_free(m_sampler);
}

void Conversation::open(const std::string &instructions, std::vector<Message> earlier)
{
    forgetCache();
    m_messages.clear();
    if (!instructions.empty())
        m_messages.push_back({"system", instructions});
    for (auto &message : earlier)
        m_messages.push_back(std::move(message));
}

void Conversation::forgetCache()
{
    llama_memory_clear(llama_get_memory(m_context), true);
    m_cached.clear();
    m_past = 0;
}

bool Conversation::format(const std::vector<Message> &messages, std::string &out) const
{
    std::vector<llama_chat_message> chat;
    chat.reserve(messages.size());
    for (const auto &m : messages)
        chat.push_back({m.role.c_str(), m.content.c_str()});
    out.resize(4096);
    int32_t n = llama_chat_apply_template(m_template, chat.data(), chat.size(), true, out.data(), int32_t(out.size()));
    if (n > int32_t(out.size())) {
        out.resize(size_t(n));
        n = llama_chat_apply_template(m_template, chat.data(), chat.size(), true, out.data(), int32_t(out.size()));
    }
    if (n < 0)
        return false;
    out.resize(size_t(n));
    return true;
}

Conversation::Turn Conversation::reply(const std::string &prompt, const std::function<void(const std::string &)> &onPiece)
{
    const auto start = Clock::now();
    Turn turn;
    m_channel.beginReply();
    auto messages = m_messages;
    messages.push_back({"user", prompt});
    std::string formatted;
    if (!format(messages, formatted)) {
        turn.end = Turn::End::failed;
        turn.error = "The model\u2019s chat template cannot be applied to this conversation.";
        return turn;
    }
    // What the cache holds is normally the start of the new transcript; when
    // the template wrote earlier turns differently, everything is evaluated again.
    if (formatted.compare(0, m_cached.size(), m_cached) != 0)
        forgetCache();

    if (!evaluate(formatted.substr(m_cached.size()), turn)) {
        if (turn.end == Turn::End::stopped) {
            // Stopped before any reply: the turn counts with an empty reply.
            m_messages.push_back({"user", prompt});
            m_messages.push_back({"assistant", ""});
        }
        turn.contextUsed = m_past;
        return turn;
    }
    m_cached = formatted;
    turn.promptMs = msSince(start);

    // The transcript keeps the reply's bytes as the cache holds them (a
    // character cut off at the end, or bytes shown as U+FFFD, included), so
    // that the next turn's text still starts with what the cache holds.
    std::string reply;
    generate(turn, [&](const std::string &piece) {
        if (turn.firstPieceMs < 0)
            turn.firstPieceMs = msSince(start);
        onPiece(piece);
    }, reply);
    m_messages.push_back({"user", prompt});
    m_messages.push_back({"assistant", reply});
    turn.contextUsed = m_past;
    return turn;
}

bool Conversation::evaluate(const std::string &text, Turn &turn)
{
    const llama_vocab *vocab = llama_model_get_vocab(m_model);
    const bool first = m_past == 0;
    const int needed = -llama_tokenize(vocab, text.data(), int32_t(text.size()), nullptr, 0, first, true);
    std::vector<llama_token> tokens(size_t(std::max(needed, 0)));
    if (needed <= 0
        || llama_tokenize(vocab, text.data(), int32_t(text.size()), tokens.data(), needed, first, true) != needed) {
        turn.end = Turn::End::failed;
        turn.error = "The message could not be turned into the model\u2019s tokens.";
        return false;
    }
    const int contextSize = int(llama_n_ctx(m_context));
    if (m_past + needed >= contextSize) {
        turn.end = Turn::End::failed;
        turn.error = "The conversation no longer fits in the model\u2019s context (" + thousands(contextSize)
                     + " tokens). Your next message starts a new conversation with the model.";
        return false;
    }

    const int batch = int(llama_n_batch(m_context));
    for (int done = 0; done < needed;) {
        const int n = std::min(batch, needed - done);
        const int32_t status = llama_decode(m_context, llama_batch_get_one(tokens.data() + done, n));
        if (status != 0) {
            // Take back what was evaluated of this text, so the cache matches m_cached.
            if (!llama_memory_seq_rm(llama_get_memory(m_context), 0, m_past, -1))
                forgetCache();
            if (status == 2) {
                turn.end = Turn::End::stopped;
            } else {
                turn.end = Turn::End::failed;
                turn.error = "The model could not evaluate the message (llama.cpp error "
                             + std::to_string(status) + ").";
            }
            return false;
        }
        done += n;
        turn.promptTokens += n;
    }
    m_past += needed;
    return true;
}

void Conversation::generate(Turn &turn, const std::function<void(const std::string &)> &onPiece, std::string &reply)
{
    const llama_vocab *vocab = llama_model_get_vocab(m_model);
    const int contextSize = int(llama_n_ctx(m_context));
    const auto start = Clock::now();
    std::string generated;  // the raw bytes of the tokens the cache now holds
    while (true) {
        if (m_channel.stopRequested()) {
            turn.end = Turn::End::stopped;
            break;
        }
        if (m_past >= contextSize) {
            turn.end = Turn::End::contextFull;
            break;
        }
        llama_token token = llama_sampler_sample(m_sampler, m_context, -1);
        if (llama_vocab_is_eog(vocab, token))
            break;
        char buffer[256];
        const int32_t n = llama_token_to_piece(vocab, token, buffer, sizeof buffer, 0, false);
        const std::string bytes(buffer, size_t(std::max(n, 0)));
        const std::string piece = m_utf8.take(bytes);
        if (!piece.empty())
            onPiece(piece);
        const int32_t status = llama_decode(m_context, llama_batch_get_one(&token, 1));
        if (status != 0) {
            // Stopped or out of room while taking the token in: the reply keeps
            // its text, and the next turn evaluates that token's text again.
            if (!llama_memory_seq_rm(llama_get_memory(m_context), 0, m_past, -1)) {
                forgetCache();
                generated.clear();
            }
            turn.end = status == 2 ? Turn::End::stopped : Turn::End::contextFull;
            break;
        }
        ++m_past;
        ++turn.generatedTokens;
        generated += bytes;
    }
    m_utf8.finish();
    m_cached += generated;
    reply = generated;
    turn.generateMs = msSince(start);
}
