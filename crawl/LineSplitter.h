#pragma once
// Cuts a page body into the lines the crawl reads: a line ends at a line feed or
// after 127 bytes, whichever comes first, so a page without line feeds still
// arrives in short pieces. Carriage returns are taken (and counted among the 127)
// but not kept; a zero byte ends the kept text of its line. Bytes may be fed in
// pieces of any size: the lines do not depend on where the pieces were cut.
//
// A page's text is its lines joined. Join builds it straight from the body's
// pieces, holding back only an unfinished line; Feed and Next hand out the
// lines one by one. One splitter is used one way or the other.
#include <cstddef>
#include <string>
#include <string_view>

class CLineSplitter {
public:
    static constexpr std::size_t kMaxLineBytes = 127;

    // Appends body bytes.
    void Feed(std::string_view bytes);
    // No more bytes will come: the last line may now end without a line feed.
    void Finish() { m_finished = true; }
    bool Finished() const { return m_finished; }

    // Takes the next line into `line`. False (and `line` empty) when no whole line
    // is ready: either more bytes are needed, or, after Finish, nothing is left.
    bool Next(std::string& line);

    // True when Next has a line to give without further bytes.
    bool HasLine() const;
    // Finished and every byte handed out.
    bool Exhausted() const { return m_finished && Pending() == 0; }
    // Bytes fed but not yet handed out.
    std::size_t Pending() const { return m_buffer.size() - m_pos; }

    // Appends the text of every line that `bytes` finishes to `text`, and returns
    // how many bytes of text that was. An unfinished line waits for the next piece.
    std::size_t Join(std::string_view bytes, std::string& text);
    // The body has ended: the unfinished line, if any, is a line too.
    std::size_t JoinRest(std::string& text);

private:
    // Bytes the next line of `bytes` takes, or 0 when it is not ready.
    static std::size_t LineBytes(std::string_view bytes, bool finished);
    // Appends what a line keeps of its bytes; returns how many bytes that is.
    static std::size_t AppendKept(std::string_view line, std::string& text);

    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_finished = false;
};
