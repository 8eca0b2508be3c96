// The lines a client writes to the running copy's local socket ("MSG WPARAM\n"), as the socket
// receives them: in pieces of any size, a line's bytes split anywhere. The first two bytes of the
// input choose the pieces' sizes; the rest is what the client sends.
//
// Checks: however the bytes are cut, the client gets exactly the messages, and is dropped exactly
// where, a reading of the whole stream at once by the rules written out here says; what waits for
// a line end never grows beyond one line.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"

#include "platform/OutsideMessages.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace {
struct Received {
    std::vector<std::pair<quint32, quint64>> Messages;
    bool Dropped = false;
};

// Up to 20 decimal digits, nothing else, at most limit.
bool ReferenceNumber(std::string_view text, unsigned __int128 limit, unsigned __int128& value)
{
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= limit;
}

bool ReferenceLine(std::string_view line, quint32& message, quint64& wParam)
{
    if (line.size() > static_cast<size_t>(kMaxOutsideLine)) return false;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    unsigned __int128 m = 0, w = 0;
    if (!ReferenceNumber(line.substr(0, space), 0xFFFFFFFFu, m) ||
        !ReferenceNumber(line.substr(space + 1), ~quint64(0), w))
        return false;
    message = static_cast<quint32>(m);
    wParam = static_cast<quint64>(w);
    return true;
}

Received ReadWhole(std::string_view stream)
{
    Received out;
    for (;;) {
        const size_t end = stream.find('\n');
        if (end == std::string_view::npos) {
            out.Dropped = stream.size() > static_cast<size_t>(kMaxOutsideLine);
            return out;
        }
        quint32 message = 0;
        quint64 wParam = 0;
        if (!ReferenceLine(stream.substr(0, end), message, wParam)) {
            out.Dropped = true;
            return out;
        }
        out.Messages.emplace_back(message, wParam);
        stream.remove_prefix(end + 1);
    }
}

// The socket's receiver: each piece is added to what waits, then every whole line is taken.
Received ReadInPieces(std::string_view stream, size_t largestPiece, uint32_t seed)
{
    Received out;
    QByteArray pending;
    uint32_t state = seed | 1;
    while (!stream.empty()) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const size_t piece = std::min(stream.size(), 1 + state % largestPiece);
        pending.append(stream.data(), static_cast<qsizetype>(piece));
        stream.remove_prefix(piece);
        for (;;) {
            quint32 message = 0;
            quint64 wParam = 0;
            const OutsideLineStep step = TakeOutsideMessage(pending, message, wParam);
            if (step == OutsideLineStep::Malformed) {
                out.Dropped = true;
                return out;
            }
            if (step == OutsideLineStep::NeedMore) break;
            out.Messages.emplace_back(message, wParam);
        }
        GX_FUZZ_CHECK(pending.size() <= kMaxOutsideLine);
        GX_FUZZ_CHECK(!pending.contains('\n'));
    }
    return out;
}
}  // namespace

void FuzzOutsideMessages(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const size_t largestPiece = 1 + input.Byte() % 96;
    const uint32_t seed = input.Byte();
    const std::vector<uint8_t> bytes = input.Bytes(input.Left());
    const std::string_view stream(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    const Received expected = ReadWhole(stream);
    const Received received = ReadInPieces(stream, largestPiece, seed);
    GX_FUZZ_CHECK(received.Messages == expected.Messages);
    GX_FUZZ_CHECK(received.Dropped == expected.Dropped);
    for (const auto& [message, wParam] : received.Messages) {
        quint32 m = 0;
        quint64 w = 0;
        const QByteArray line = QByteArray::number(message) + ' ' + QByteArray::number(wParam);
        GX_FUZZ_CHECK(ParseOutsideMessageLine(line, m, w) && m == message && w == wParam);
    }
}
