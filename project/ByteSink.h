#pragma once
// Where a writer puts a file's bytes, piece by piece: the file itself (see
// AtomicFile.h), or a string.
#include <string>
#include <string_view>

class IByteSink {
public:
    virtual ~IByteSink() = default;
    virtual void Write(std::string_view bytes) = 0;
    // False once nothing more can be written (a failed or cancelled write): a
    // writer stops making output nobody will keep.
    virtual bool Good() const = 0;
};

class StringSink : public IByteSink {
public:
    explicit StringSink(std::string& out) : m_out(out) {}
    void Write(std::string_view bytes) override { m_out.append(bytes); }
    bool Good() const override { return true; }

private:
    std::string& m_out;
};
