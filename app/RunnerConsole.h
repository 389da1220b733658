#pragma once
// The runner's terminal: a one-line progress display on standard error, and
// the messages that the windowed program shows in message boxes.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "ui/MessageBox.h"

// Shared by the progress line and the messages, so that a message never lands
// in the middle of the line. Everything it prints passes the terminal-safe rule.
class RunnerConsole {
public:
    RunnerConsole();

    // "caption: text" on a line of its own on standard error.
    void Message(const std::string& caption, const std::string& text);
    // Null arguments keep their last value. Only on a terminal.
    void Update(const std::string* url, const std::string* status, const std::int32_t* pages, const std::int32_t* hits,
                const std::int64_t* bytes);
    // Removes the progress line for good, before the summary is printed.
    void Clear();

private:
    void DrawLocked(bool force);
    void ClearLocked();

    const bool m_tty;
    std::mutex m_mutex;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::string m_url;
    std::string m_status;
    std::int32_t m_pages = 0;
    std::int32_t m_hits = 0;
    std::int64_t m_bytes = 0;
};

// Messages go to the console; a question is answered Yes, as a user who keeps
// what was found would.
class ConsoleMessageBox : public IMessageBox {
public:
    explicit ConsoleMessageBox(RunnerConsole& console) : m_console(console) {}
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon, MsgButtons buttons) override;

private:
    RunnerConsole& m_console;
};
