#include "app/RunnerConsole.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/TerminalText.h"

RunnerConsole::RunnerConsole() : m_tty(::isatty(STDERR_FILENO) == 1) {}

void RunnerConsole::Message(const std::string& caption, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearLocked();
    const std::string line = TerminalSafe(caption) + ": " + TerminalSafe(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    DrawLocked(true);
}

void RunnerConsole::Update(const std::string* url, const std::string* status, const std::int32_t* pages,
                           const std::int32_t* hits, const std::int64_t* bytes) {
    if (!m_tty) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (url != nullptr) m_url = *url;
    if (status != nullptr) m_status = *status;
    if (pages != nullptr) m_pages = *pages;
    if (hits != nullptr) m_hits = *hits;
    if (bytes != nullptr) m_bytes = *bytes;
    // Counters change with every line read; a terminal need not see each one.
    DrawLocked(url != nullptr);
}

void RunnerConsole::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearLocked();
    m_url.clear();
}

void RunnerConsole::DrawLocked(bool force) {
    if (!m_tty || m_url.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(50)) return;
    m_lastDraw = now;
    std::string line = "Pages " + std::to_string(m_pages) + "  Hits " + std::to_string(m_hits) + "  Bytes " +
                       std::to_string(m_bytes) + "  " + m_url;
    if (!m_status.empty()) line += "  [" + m_status + "]";
    // Made safe before it is cut, so that the cut counts what the terminal shows.
    line = TerminalSafe(line);
    std::size_t width = 80;
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) width = ws.ws_col;
    // One column short of the edge, or the terminal wraps and \r redraws one line too low.
    if (line.size() > width - 1) line.resize(width - 1);
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void RunnerConsole::ClearLocked() {
    if (!m_tty || !m_drawn) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}

MsgResult ConsoleMessageBox::Show(const std::string& text, const std::string& caption, MsgIcon, MsgButtons buttons) {
    m_console.Message(caption, text);
    return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
}
