#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <optional>
#include <string>

// The helper's side of its pipes to the window: one JSON object per line in
// both directions (stdin from the window, stdout to it). The wire format is
// described in the window's EngineProcess.h.
//
// Single-threaded: the helper reads a command when it is idle, and while it
// computes it looks at its input between two steps without waiting
// (stopRequested), so a stop reaches it within one token, or within a few
// milliseconds of prompt evaluation.
class Channel
{
public:
    // Waits for the next command; no value once the window has closed the pipe.
    std::optional<nlohmann::json> next();

    // Replies are numbered from 1 in the order they are asked for; a stop
    // names the reply it is for, so that one arriving after its reply ended
    // does not stop the next.
    void beginReply() { ++m_reply; }
    // True once a stop for the current reply has come, or the window has gone.
    // Never waits; looks at the pipe at most once every few milliseconds.
    // Commands other than stop that arrive meanwhile are kept for next().
    bool stopRequested();
    bool closed() const { return m_closed; }

    // Writes one line. False when the window is gone.
    bool send(const nlohmann::json &message);

private:
    // Reads what the pipe holds; waits for it when `wait`. False at its end.
    bool fill(bool wait);
    void splitLines();

    std::string m_buffer;
    std::deque<nlohmann::json> m_commands;
    long long m_reply = 0;
    long long m_stoppedReply = 0;  // the highest reply number a stop named
    bool m_closed = false;
    std::chrono::steady_clock::time_point m_lastLook;
};
