// libFuzzer target: the store's reader of the Access reader's stream
// (store/accessstream.h) fed arbitrary bytes, whole and in pieces. Whatever
// the bytes, it must end in AccessStreamError or a complete stream, never
// in a crash, a hang or an allocation beyond the protocol's limits.
#include "store/accessstream.h"

#include <cstddef>
#include <cstdint>

namespace {

// Touches everything the parser hands on, as the conversion does.
struct Sink : store::AccessStreamParser::Handler {
    size_t seen = 0;
    void columns(const std::vector<store::AccessColumn> &columns, quint64 hint) override
    {
        for (const auto &c : columns)
            seen += size_t(c.name.size()) + c.jetType + c.scale;
        seen += size_t(hint & 0xFF);
    }
    void row(const std::vector<store::AccessValue> &values) override
    {
        for (const auto &v : values)
            seen += size_t(v.kind) + size_t(v.integer & 1) + size_t(v.bytes.size())
                    + (v.bytes.isEmpty() ? 0 : size_t(uint8_t(v.bytes.back())));
    }
};

void parse(QByteArrayView data, size_t piece)
{
    Sink sink;
    store::AccessStreamParser parser(sink);
    try {
        for (qsizetype at = 0; at < data.size(); at += qsizetype(piece))
            parser.feed(data.sliced(at, std::min<qsizetype>(qsizetype(piece), data.size() - at)));
        parser.finish();
    } catch (const store::AccessStreamError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    parse(bytes, size ? size : 1);
    // The same bytes arriving in pieces, as they come from a pipe.
    parse(bytes, 1 + (size ? data[0] % 64 : 0));
    return 0;
}
