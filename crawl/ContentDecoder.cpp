#include "crawl/ContentDecoder.h"

#include "crawl/DecodeStage.h"

#include <algorithm>
#include <cctype>
#include <tuple>
#include <utility>

namespace {

// A coding name shown in an error text is cut here: the header comes from the server.
constexpr std::size_t kMaxShownNameBytes = 40;

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered;
}

std::unique_ptr<CDecodeStage> StageFor(const std::string& coding) {
    if (coding == "gzip" || coding == "x-gzip") return MakeGzipStage();
    if (coding == "deflate") return MakeDeflateStage();
    if (coding == "br") return MakeBrotliStage();
    if (coding == "zstd") return MakeZstdStage();
    return nullptr;
}

}  // namespace

CContentDecoder::CContentDecoder(std::string_view contentEncoding) {
    std::vector<std::string> applied;
    std::size_t at = 0;
    while (at <= contentEncoding.size()) {
        const std::size_t comma = std::min(contentEncoding.find(',', at), contentEncoding.size());
        const std::string_view entry = TrimBlanks(contentEncoding.substr(at, comma - at));
        at = comma + 1;
        std::string coding = Lowered(entry);
        if (coding.empty() || coding == "identity") continue;
        if (applied.size() == kMaxCodings) {
            Fail("more than " + std::to_string(kMaxCodings) + " content codings");
            return;
        }
        applied.push_back(std::move(coding));
    }
    // The coding applied last is undone first.
    for (auto coding = applied.rbegin(); coding != applied.rend(); ++coding) {
        std::unique_ptr<CDecodeStage> codec = StageFor(*coding);
        if (codec == nullptr) {
            Fail("unknown content coding \"" + coding->substr(0, kMaxShownNameBytes) + "\"");
            return;
        }
        if (codec->Failed()) {
            Fail(*coding + ": " + codec->Error());
            return;
        }
        Stage stage;
        stage.coding = *coding;
        stage.codec = std::move(codec);
        m_stages.push_back(std::move(stage));
    }
}

CContentDecoder::~CContentDecoder() = default;

void CContentDecoder::Feed(std::string_view raw) {
    if (raw.empty() || Failed()) return;
    m_fedAny = true;
    // Past the end of the coded stream: not part of the body.
    if (!m_stages.empty() && m_stages.front().ended) return;
    if (m_rawPos > 0 && m_rawPos >= m_raw.size() / 2) {
        m_raw.erase(0, m_rawPos);
        m_rawPos = 0;
    }
    m_raw.append(raw);
}

std::size_t CContentDecoder::Decode(std::size_t maxOutput, const std::function<void(std::string_view)>& out) {
    if (Failed()) return 0;
    std::size_t given = 0;
    if (m_stages.empty()) {
        while (given < maxOutput && m_rawPos < m_raw.size()) {
            const std::size_t piece = std::min({maxOutput - given, m_raw.size() - m_rawPos, kStepBytes});
            out(std::string_view(m_raw).substr(m_rawPos, piece));
            m_rawPos += piece;
            given += piece;
        }
        if (m_rawPos == m_raw.size()) DropRawBytes();
        return given;
    }

    const std::size_t lastIndex = m_stages.size() - 1;
    while (given < maxOutput && !m_stages[lastIndex].ended) {
        StepBuffer& buffer = m_stages[lastIndex].buffer;
        if (buffer.empty()) buffer.Make();
        const std::size_t room = std::min(kStepBytes, maxOutput - given);
        unsigned char* cursor = buffer.data();
        std::size_t left = room;
        Produce(lastIndex, cursor, left);
        if (Failed()) break;
        if (left < room) {
            out(std::string_view(reinterpret_cast<const char*>(buffer.data()), room - left));
            given += room - left;
        }
        if (left > 0) break;
    }
    // Nothing more can come out: the buffers go.
    if (m_stages[lastIndex].ended) ReleaseBuffers();
    return given;
}

void CContentDecoder::Produce(std::size_t index, unsigned char*& out, std::size_t& outLeft) {
    Stage& stage = m_stages[index];
    while (outLeft > 0 && !stage.ended && !Failed()) {
        CDecodeStage& codec = *stage.codec;
        const auto input = [&]() -> std::pair<const unsigned char*, std::size_t> {
            if (index == 0)
                return {reinterpret_cast<const unsigned char*>(m_raw.data()) + m_rawPos, m_raw.size() - m_rawPos};
            const Stage& before = m_stages[index - 1];
            return {before.buffer.data() + before.begin, before.end - before.begin};
        };
        auto [in, inLeft] = input();
        if (inLeft == 0 && !codec.MayHoldOutput()) {
            if (index == 0 || !Refill(index - 1)) return;
            std::tie(in, inLeft) = input();
        }

        const std::size_t inGiven = inLeft;
        const std::size_t outGiven = outLeft;
        codec.Run(in, inLeft, out, outLeft);
        const std::size_t taken = inGiven - inLeft;
        if (index == 0) {
            m_rawPos += taken;
            if (m_rawPos == m_raw.size()) DropRawBytes();
        } else {
            m_stages[index - 1].begin += taken;
        }

        if (codec.Failed()) {
            Fail(stage.coding + ": " + codec.Error());
            return;
        }
        if (codec.Ended()) {
            EndStage(index);
            return;
        }
        // A library that neither takes nor gives while it could would spin here forever.
        if (taken == 0 && outLeft == outGiven && (inLeft > 0 || codec.MayHoldOutput())) {
            Fail(stage.coding + ": the decoder is stuck");
            return;
        }
    }
}

bool CContentDecoder::Refill(std::size_t index) {
    Stage& stage = m_stages[index];
    stage.begin = stage.end = 0;
    if (stage.ended) {
        stage.buffer.Release();
        return false;
    }
    if (stage.buffer.empty()) stage.buffer.Make();
    unsigned char* cursor = stage.buffer.data();
    std::size_t left = kStepBytes;
    Produce(index, cursor, left);
    if (Failed()) return false;
    stage.end = kStepBytes - left;
    return stage.end > 0;
}

void CContentDecoder::EndStage(std::size_t index) {
    m_stages[index].ended = true;
    m_stages[index].codec.reset();
    // Whatever the codings before it still hold or would make follows the end.
    for (std::size_t before = 0; before < index; ++before) {
        Stage& stage = m_stages[before];
        stage.ended = true;
        stage.codec.reset();
        stage.buffer.Release();
        stage.begin = stage.end = 0;
    }
    DropRawBytes();
}

void CContentDecoder::Fail(std::string error) {
    m_error = std::move(error);
    for (Stage& stage : m_stages) {
        stage.ended = true;
        stage.codec.reset();
    }
    ReleaseBuffers();
    DropRawBytes();
}

void CContentDecoder::ReleaseBuffers() {
    for (Stage& stage : m_stages) {
        stage.buffer.Release();
        stage.begin = stage.end = 0;
    }
}

void CContentDecoder::DropRawBytes() {
    // A buffer that grew while decoding waited is not kept for the rest of the body.
    if (m_raw.capacity() > kStepBytes)
        std::string().swap(m_raw);
    else
        m_raw.clear();
    m_rawPos = 0;
}

bool CContentDecoder::Pending() const {
    if (Failed()) return false;
    if (m_rawPos < m_raw.size()) return true;
    return std::any_of(m_stages.begin(), m_stages.end(), [](const Stage& stage) {
        return stage.begin < stage.end || (!stage.ended && stage.codec->MayHoldOutput());
    });
}

bool CContentDecoder::Finish() {
    if (Failed()) return false;
    if (!m_fedAny || m_stages.empty()) return true;
    if (Pending()) {
        Fail("the body ended while decoded bytes were still due");
        return false;
    }
    // From the coding undone last back to the first: one whose stream ended makes
    // the rest trailing bytes; one that is not whole means the body was cut off.
    for (std::size_t index = m_stages.size(); index-- > 0;) {
        const Stage& stage = m_stages[index];
        if (stage.ended) return true;
        if (!stage.codec->Complete()) {
            Fail(stage.coding + ": the body ends inside the compressed stream");
            return false;
        }
    }
    return true;
}

std::size_t CContentDecoder::MemoryUse() const {
    std::size_t bytes = m_raw.capacity();
    for (const Stage& stage : m_stages) {
        bytes += stage.buffer.capacity();
        if (stage.codec != nullptr) bytes += stage.codec->MemoryUse();
    }
    return bytes;
}
