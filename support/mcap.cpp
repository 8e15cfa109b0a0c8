#include "support/mcap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace mcap {

const unsigned char kMagic[8] = {0x89, 'M', 'C', 'A', 'P', '0', '\r', '\n'};

namespace {

struct CrcTable {
    std::uint32_t entry[256];
    CrcTable()
    {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[n] = c;
        }
    }
};
const CrcTable kCrc;

// A record's opcode and length come before its content.
const std::size_t kRecordHead = 9;
// No record of ours comes near this; a larger one is a damaged length.
const std::uint64_t kMaxRecord = 1ull << 30;

void put8(std::vector<unsigned char>& out, std::uint8_t v) { out.push_back(v); }
void put16(std::vector<unsigned char>& out, std::uint16_t v)
{
    for (int i = 0; i < 2; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void put64(std::vector<unsigned char>& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void putBytes(std::vector<unsigned char>& out, const void* data, std::size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out.insert(out.end(), p, p + size);
}
void putString(std::vector<unsigned char>& out, const std::string& s)
{
    put32(out, static_cast<std::uint32_t>(s.size()));
    putBytes(out, s.data(), s.size());
}
void putMap(std::vector<unsigned char>& out, const KeyValues& map)
{
    std::uint32_t bytes = 0;
    for (const auto& kv : map)
        bytes += static_cast<std::uint32_t>(8 + kv.first.size() + kv.second.size());
    put32(out, bytes);
    for (const auto& kv : map) {
        putString(out, kv.first);
        putString(out, kv.second);
    }
}

// A record: its opcode, then the content's length, filled in by finishRecord.
std::size_t beginRecord(std::vector<unsigned char>& out, std::uint8_t op)
{
    out.push_back(op);
    const std::size_t at = out.size();
    put64(out, 0);
    return at;
}
void finishRecord(std::vector<unsigned char>& out, std::size_t lengthAt)
{
    const std::uint64_t length = out.size() - lengthAt - 8;
    for (int i = 0; i < 8; ++i)
        out[lengthAt + i] = static_cast<unsigned char>(length >> (8 * i));
}

std::uint64_t get64(const unsigned char* p)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// Reads the fields of one record's content, never past its end.
class Fields {
public:
    Fields(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    bool ok() const { return m_ok; }
    std::size_t at() const { return m_at; }
    std::uint64_t number(int bytes)
    {
        if (!take(static_cast<std::size_t>(bytes)))
            return 0;
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | m_data[m_at - static_cast<std::size_t>(bytes) + static_cast<std::size_t>(i)];
        return v;
    }
    const unsigned char* bytes(std::uint64_t size)
    {
        if (m_ok && size > m_size - m_at)
            m_ok = false;
        if (!take(static_cast<std::size_t>(size)))
            return nullptr;
        return m_data + m_at - static_cast<std::size_t>(size);
    }
    std::string text()
    {
        const std::uint64_t n = number(4);
        const unsigned char* p = bytes(n);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
    }
    void map(KeyValues& out)
    {
        const std::uint64_t n = number(4);
        const unsigned char* p = bytes(n);
        if (!p)
            return;
        Fields inner(p, static_cast<std::size_t>(n));
        while (inner.ok() && inner.at() < n) {
            std::string key = inner.text();
            std::string value = inner.text();
            if (inner.ok())
                out.emplace_back(std::move(key), std::move(value));
        }
        m_ok = m_ok && inner.ok();
    }
    const unsigned char* rest(std::size_t& size)
    {
        size = m_ok ? m_size - m_at : 0;
        const unsigned char* p = m_data + m_at;
        m_at = m_size;
        return p;
    }

private:
    bool take(std::size_t n)
    {
        if (!m_ok || n > m_size - m_at) {
            m_ok = false;
            return false;
        }
        m_at += n;
        return true;
    }
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

// "a Footer record", or "a record" for one this reader passes over.
std::string aRecord(std::uint8_t op)
{
    switch (op) {
    case kHeader: return "a Header record";
    case kFooter: return "a Footer record";
    case kSchema: return "a Schema record";
    case kChannel: return "a Channel record";
    case kMessage: return "a Message record";
    case kChunk: return "a Chunk record";
    case kMetadata: return "a Metadata record";
    case kDataEnd: return "a DataEnd record";
    default: return "a record";
    }
}

} // namespace

std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = kCrc.entry[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

const std::string* lookup(const KeyValues& values, const char* key)
{
    for (const auto& kv : values)
        if (kv.first == key)
            return &kv.second;
    return nullptr;
}

// --- Writer ------------------------------------------------------------------

Writer::Writer(Sink sink, void* context) : m_sink(sink), m_context(context) {}

bool Writer::emit(const void* data, std::size_t size)
{
    if (m_failed)
        return false;
    if (!m_sink(m_context, data, size)) {
        m_failed = true;
        return false;
    }
    if (!m_finished)
        m_dataCrc = crc32(data, size, m_dataCrc);
    m_offset += size;
    return true;
}

bool Writer::emit(const std::vector<unsigned char>& bytes) { return emit(bytes.data(), bytes.size()); }

bool Writer::start(const std::string& profile, const std::string& library)
{
    m_scratch.assign(kMagic, kMagic + sizeof kMagic);
    const std::size_t at = beginRecord(m_scratch, kHeader);
    putString(m_scratch, profile);
    putString(m_scratch, library);
    finishRecord(m_scratch, at);
    return emit(m_scratch);
}

std::uint16_t Writer::addSchema(const std::string& name, const std::string& encoding, const std::string& data)
{
    const std::uint16_t id = static_cast<std::uint16_t>(m_schemas.size() + 1);
    m_schemas.push_back(Schema{id, name, encoding, data});
    return id;
}

std::uint16_t Writer::addChannel(std::uint16_t schemaId, const std::string& topic, const std::string& encoding,
                                 KeyValues metadata)
{
    std::sort(metadata.begin(), metadata.end());
    Channel c;
    c.id = static_cast<std::uint16_t>(m_channels.size() + 1);
    c.schemaId = schemaId;
    c.topic = topic;
    c.encoding = encoding;
    c.metadata = std::move(metadata);
    m_channels.push_back(std::move(c));
    return m_channels.back().id;
}

namespace {
void schemaRecord(std::vector<unsigned char>& out, std::uint16_t id, const std::string& name,
                  const std::string& encoding, const std::string& data)
{
    const std::size_t at = beginRecord(out, kSchema);
    put16(out, id);
    putString(out, name);
    putString(out, encoding);
    putString(out, data);
    finishRecord(out, at);
}
void channelRecord(std::vector<unsigned char>& out, std::uint16_t id, std::uint16_t schemaId,
                   const std::string& topic, const std::string& encoding, const KeyValues& metadata)
{
    const std::size_t at = beginRecord(out, kChannel);
    put16(out, id);
    put16(out, schemaId);
    putString(out, topic);
    putString(out, encoding);
    putMap(out, metadata);
    finishRecord(out, at);
}
} // namespace

void Writer::openChunk()
{
    m_chunk.clear();
    for (const Schema& s : m_schemas)
        schemaRecord(m_chunk, s.id, s.name, s.encoding, s.data);
    for (const Channel& c : m_channels)
        channelRecord(m_chunk, c.id, c.schemaId, c.topic, c.encoding, c.metadata);
}

bool Writer::message(std::uint16_t channel, std::uint32_t sequence, std::uint64_t logTime, std::uint64_t publishTime,
                     const void* data, std::size_t size)
{
    if (m_failed || channel < 1 || channel > m_channels.size())
        return false;
    if (m_chunkMessages == 0) {
        openChunk();
        m_chunkStart = m_chunkEnd = logTime;
    }
    Channel& c = m_channels[channel - 1u];
    c.index.emplace_back(logTime, m_chunk.size());
    ++c.messages;
    const std::size_t at = beginRecord(m_chunk, kMessage);
    put16(m_chunk, channel);
    put32(m_chunk, sequence);
    put64(m_chunk, logTime);
    put64(m_chunk, publishTime);
    putBytes(m_chunk, data, size);
    finishRecord(m_chunk, at);
    m_chunkStart = std::min(m_chunkStart, logTime);
    m_chunkEnd = std::max(m_chunkEnd, logTime);
    if (m_messageCount == 0) {
        m_firstTime = m_lastTime = logTime;
    } else {
        m_firstTime = std::min(m_firstTime, logTime);
        m_lastTime = std::max(m_lastTime, logTime);
    }
    ++m_messageCount;
    ++m_chunkMessages;
    return true;
}

bool Writer::closeChunk()
{
    if (m_chunkMessages == 0) {
        m_chunk.clear();
        return !m_failed;
    }
    ChunkIndex index;
    index.start = m_chunkStart;
    index.end = m_chunkEnd;
    index.offset = m_offset;
    index.recordsSize = m_chunk.size();

    std::vector<unsigned char>& out = m_scratch;
    out.clear();
    const std::size_t at = beginRecord(out, kChunk);
    put64(out, m_chunkStart);
    put64(out, m_chunkEnd);
    put64(out, m_chunk.size());
    put32(out, crc32(m_chunk.data(), m_chunk.size()));
    putString(out, std::string());
    put64(out, m_chunk.size());
    putBytes(out, m_chunk.data(), m_chunk.size());
    finishRecord(out, at);
    index.length = out.size();

    for (Channel& c : m_channels) {
        if (c.index.empty())
            continue;
        index.indexOffsets.emplace_back(c.id, m_offset + out.size());
        const std::size_t mat = beginRecord(out, kMessageIndex);
        put16(out, c.id);
        put32(out, static_cast<std::uint32_t>(16 * c.index.size()));
        for (const auto& entry : c.index) {
            put64(out, entry.first);
            put64(out, entry.second);
        }
        finishRecord(out, mat);
        c.index.clear();
    }
    index.indexLength = out.size() - index.length;
    m_chunk.clear();
    m_chunkMessages = 0;
    if (!emit(out))
        return false;
    m_chunkIndexes.push_back(std::move(index));
    return true;
}

bool Writer::metadata(const std::string& name, KeyValues values)
{
    if (!closeChunk())
        return false;
    std::sort(values.begin(), values.end());
    std::vector<unsigned char>& out = m_scratch;
    out.clear();
    const std::size_t at = beginRecord(out, kMetadata);
    putString(out, name);
    putMap(out, values);
    finishRecord(out, at);
    const MetadataIndex index{m_offset, out.size(), name};
    if (!emit(out))
        return false;
    m_metadataIndexes.push_back(index);
    return true;
}

void Writer::summary(std::vector<unsigned char>& out, std::uint64_t at)
{
    struct Group {
        std::uint8_t op;
        std::uint64_t start, length;
    };
    std::vector<Group> groups;
    auto group = [&](std::uint8_t op, std::size_t from) {
        if (out.size() > from)
            groups.push_back(Group{op, at + from, out.size() - from});
    };
    std::size_t from = out.size();
    for (const Schema& s : m_schemas)
        schemaRecord(out, s.id, s.name, s.encoding, s.data);
    group(kSchema, from);

    from = out.size();
    for (const Channel& c : m_channels)
        channelRecord(out, c.id, c.schemaId, c.topic, c.encoding, c.metadata);
    group(kChannel, from);

    from = out.size();
    std::size_t rec = beginRecord(out, kStatistics);
    put64(out, m_messageCount);
    put16(out, static_cast<std::uint16_t>(m_schemas.size()));
    put32(out, static_cast<std::uint32_t>(m_channels.size()));
    put32(out, 0); // attachments
    put32(out, static_cast<std::uint32_t>(m_metadataIndexes.size()));
    put32(out, static_cast<std::uint32_t>(m_chunkIndexes.size()));
    put64(out, m_messageCount ? m_firstTime : 0);
    put64(out, m_messageCount ? m_lastTime : 0);
    put32(out, static_cast<std::uint32_t>(10 * m_channels.size()));
    for (const Channel& c : m_channels) {
        put16(out, c.id);
        put64(out, c.messages);
    }
    finishRecord(out, rec);
    group(kStatistics, from);

    from = out.size();
    for (const ChunkIndex& c : m_chunkIndexes) {
        rec = beginRecord(out, kChunkIndex);
        put64(out, c.start);
        put64(out, c.end);
        put64(out, c.offset);
        put64(out, c.length);
        put32(out, static_cast<std::uint32_t>(10 * c.indexOffsets.size()));
        for (const auto& entry : c.indexOffsets) {
            put16(out, entry.first);
            put64(out, entry.second);
        }
        put64(out, c.indexLength);
        putString(out, std::string());
        put64(out, c.recordsSize);
        put64(out, c.recordsSize);
        finishRecord(out, rec);
    }
    group(kChunkIndex, from);

    from = out.size();
    for (const MetadataIndex& m : m_metadataIndexes) {
        rec = beginRecord(out, kMetadataIndex);
        put64(out, m.offset);
        put64(out, m.length);
        putString(out, m.name);
        finishRecord(out, rec);
    }
    group(kMetadataIndex, from);

    const std::uint64_t offsetsAt = at + out.size();
    for (const Group& g : groups) {
        rec = beginRecord(out, kSummaryOffset);
        put8(out, g.op);
        put64(out, g.start);
        put64(out, g.length);
        finishRecord(out, rec);
    }
    // The CRC covers the footer's own fields before it, its length included.
    out.push_back(kFooter);
    put64(out, 8 + 8 + 4);
    put64(out, at);
    put64(out, offsetsAt);
    put32(out, crc32(out.data(), out.size()));
    putBytes(out, kMagic, sizeof kMagic);
}

bool Writer::finish()
{
    if (m_finished)
        return !m_failed;
    if (!closeChunk())
        return false;
    std::vector<unsigned char>& out = m_scratch;
    out.clear();
    const std::size_t at = beginRecord(out, kDataEnd);
    put32(out, m_dataCrc);
    finishRecord(out, at);
    m_finished = true; // the data section's CRC is complete
    const std::uint64_t summaryAt = m_offset + out.size();
    std::vector<unsigned char> rest;
    summary(rest, summaryAt);
    out.insert(out.end(), rest.begin(), rest.end());
    return emit(out);
}

// --- Sources -----------------------------------------------------------------

std::size_t MemorySource::read(void* into, std::size_t size)
{
    const std::size_t n = std::min(size, m_size - m_at);
    if (n)
        std::memcpy(into, m_data + m_at, n);
    m_at += n;
    return n;
}

bool FileSource::open(const std::string& path, std::string& why)
{
    close();
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

void FileSource::close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

std::size_t FileSource::read(void* into, std::size_t size)
{
    return m_file ? std::fread(into, 1, size, m_file) : 0;
}

// --- Reader ------------------------------------------------------------------

Reader::Reader(Source& source) : m_source(source) {}

const Reader::Item& Reader::stop(Kind kind, std::uint64_t at, const std::string& why)
{
    m_item = Item();
    m_item.kind = kind;
    m_item.offset = at;
    m_item.end = at;
    m_item.why = why;
    m_done = true;
    m_inChunk = false;
    return m_item;
}

bool Reader::fill(std::vector<unsigned char>& into, std::uint64_t size, std::uint64_t& got)
{
    // In steps, so that a damaged length costs no more memory than the file has.
    const std::uint64_t kStep = 1u << 20;
    got = 0;
    into.clear();
    while (got < size) {
        const std::size_t step = static_cast<std::size_t>(std::min(size - got, kStep));
        const std::size_t was = into.size();
        into.resize(was + step);
        const std::size_t n = m_source.read(into.data() + was, step);
        got += n;
        if (n < step) {
            into.resize(was + n);
            break;
        }
    }
    m_crc = crc32(into.data(), into.size(), m_crc);
    m_at += got;
    return got == size;
}

bool Reader::begin()
{
    unsigned char magic[8];
    const std::size_t n = m_source.read(magic, sizeof magic);
    m_crc = crc32(magic, n);
    m_at = n;
    if (n == 0) {
        stop(Kind::Error, 0, "the file is empty");
        return false;
    }
    const std::size_t same = std::min<std::size_t>(n, 5);
    if (std::memcmp(magic, kMagic, same) != 0) {
        stop(Kind::Error, 0, "not an MCAP file: it does not start with the MCAP magic");
        return false;
    }
    if (n > 5 && magic[5] != kMagic[5]) {
        stop(Kind::Error, 5, std::string("unknown MCAP version '") + static_cast<char>(magic[5]) + "'");
        return false;
    }
    if (n < sizeof magic || std::memcmp(magic, kMagic, sizeof magic) != 0) {
        if (n < sizeof magic && std::memcmp(magic, kMagic, n) == 0)
            stop(Kind::Cut, 0, "the file ends inside its magic");
        else
            stop(Kind::Error, 0, "not an MCAP file: it does not start with the MCAP magic");
        return false;
    }
    unsigned char head[kRecordHead];
    const std::size_t h = m_source.read(head, sizeof head);
    m_crc = crc32(head, h, m_crc);
    m_at += h;
    if (h < sizeof head) {
        stop(Kind::Cut, 8, "the file ends before its header record");
        return false;
    }
    if (head[0] != kHeader) {
        stop(Kind::Error, 8, "the first record is not a header");
        return false;
    }
    const std::uint64_t length = get64(head + 1);
    if (length > kMaxRecord) {
        stop(Kind::Error, 8, "the header record claims " + std::to_string(length) + " bytes");
        return false;
    }
    std::uint64_t got = 0;
    if (!fill(m_body, length, got)) {
        stop(Kind::Cut, 8, "the header record is cut short");
        return false;
    }
    Fields f(m_body.data(), m_body.size());
    m_profile = f.text();
    m_library = f.text();
    if (!f.ok()) {
        stop(Kind::Error, 8, "the header record is too short for its fields");
        return false;
    }
    return true;
}

const Reader::Item& Reader::record(std::uint8_t op, const unsigned char* body, std::uint64_t size, std::uint64_t at,
                                   bool inChunk)
{
    m_item = Item();
    m_item.offset = at;
    m_item.end = at + kRecordHead + size;
    Fields f(body, static_cast<std::size_t>(size));
    switch (op) {
    case kSchema:
        m_item.kind = Kind::Schema;
        m_item.id = static_cast<std::uint16_t>(f.number(2));
        m_item.name = f.text();
        m_item.encoding = f.text();
        m_item.size = static_cast<std::size_t>(f.number(4));
        m_item.data = f.bytes(m_item.size);
        if (f.ok() && m_item.id == 0)
            return stop(Kind::Error, at, "a schema with the id 0");
        break;
    case kChannel:
        m_item.kind = Kind::Channel;
        m_item.id = static_cast<std::uint16_t>(f.number(2));
        m_item.schemaId = static_cast<std::uint16_t>(f.number(2));
        m_item.name = f.text();
        m_item.encoding = f.text();
        f.map(m_item.values);
        break;
    case kMessage:
        m_item.kind = Kind::Message;
        m_item.id = static_cast<std::uint16_t>(f.number(2));
        m_item.sequence = static_cast<std::uint32_t>(f.number(4));
        m_item.logTime = f.number(8);
        m_item.publishTime = f.number(8);
        m_item.data = f.rest(m_item.size);
        break;
    case kMetadata:
        if (inChunk)
            break;
        m_item.kind = Kind::Metadata;
        m_item.name = f.text();
        f.map(m_item.values);
        break;
    default:
        break;
    }
    if (!f.ok())
        return stop(Kind::Error, at, aRecord(op) + " too short for its fields");
    return m_item;
}

bool Reader::openChunk(const std::vector<unsigned char>& body, std::uint64_t got, std::uint64_t at, bool whole)
{
    Fields f(body.data(), static_cast<std::size_t>(got));
    f.number(8); // start time
    f.number(8); // end time
    const std::uint64_t uncompressed = f.number(8);
    const std::uint32_t crc = static_cast<std::uint32_t>(f.number(4));
    const std::string compression = f.text();
    const std::uint64_t records = f.number(8);
    if (!f.ok()) {
        if (whole)
            stop(Kind::Error, at, "a Chunk record too short for its fields");
        else
            stop(Kind::Cut, at, "the file ends inside a chunk's head");
        return false;
    }
    if (!compression.empty()) {
        stop(Kind::Error, at, "a chunk compressed with " + compression + "; only uncompressed chunks are read");
        return false;
    }
    const std::size_t start = f.at();
    const std::uint64_t available = got - start;
    if (whole && (records > available || uncompressed != records)) {
        stop(Kind::Error, at, "a chunk whose records do not fill it");
        return false;
    }
    if (whole && crc != 0 && crc32(body.data() + start, static_cast<std::size_t>(records)) != crc) {
        stop(Kind::Error, at, "a chunk whose CRC does not match its records");
        return false;
    }
    m_chunkFileAt = at + kRecordHead;
    m_chunkAt = start;
    m_chunkSize = start + static_cast<std::size_t>(std::min(records, available));
    m_chunkCut = !whole;
    m_inChunk = true;
    return true;
}

const Reader::Item* Reader::fromChunk()
{
    const std::size_t left = m_chunkSize - m_chunkAt;
    const std::uint64_t at = m_chunkFileAt + m_chunkAt;
    if (left < kRecordHead || get64(&m_chunk[m_chunkAt + 1]) > left - kRecordHead) {
        if (m_chunkCut)
            return &stop(Kind::Cut, at, "the file ends inside a chunk");
        return &stop(Kind::Error, at, "a record inside a chunk runs past the chunk's end");
    }
    const std::uint8_t op = m_chunk[m_chunkAt];
    const std::uint64_t size = get64(&m_chunk[m_chunkAt + 1]);
    const unsigned char* body = &m_chunk[m_chunkAt + kRecordHead];
    m_chunkAt += kRecordHead + static_cast<std::size_t>(size);
    if (op != kSchema && op != kChannel && op != kMessage)
        return nullptr; // nothing else belongs in a chunk: passed over
    return &record(op, body, size, at, true);
}

const Reader::Item& Reader::next()
{
    if (m_done)
        return m_item;
    if (!m_started) {
        m_started = true;
        if (!begin())
            return m_item;
    }
    for (;;) {
        if (m_inChunk) {
            if (m_chunkAt < m_chunkSize) {
                if (const Item* item = fromChunk())
                    return *item;
                continue;
            }
            m_inChunk = false;
            if (m_chunkCut)
                return stop(Kind::Cut, m_chunkFileAt + m_chunkSize, "the file ends inside a chunk");
        }
        const std::uint64_t at = m_at;
        const std::uint32_t crcBefore = m_crc;
        unsigned char head[kRecordHead];
        const std::size_t h = m_source.read(head, sizeof head);
        m_crc = crc32(head, h, m_crc);
        m_at += h;
        if (h == 0)
            return stop(Kind::Cut, at, "the file ends before its footer");
        if (h < sizeof head)
            return stop(Kind::Cut, at, "the file ends inside a record's head");
        const std::uint8_t op = head[0];
        const std::uint64_t size = get64(head + 1);
        if (size > kMaxRecord)
            return stop(Kind::Error, at, "a record that claims " + std::to_string(size) + " bytes");
        if (op == kChunk && !m_inSummary) {
            std::uint64_t got = 0;
            const bool whole = fill(m_chunk, size, got);
            if (!openChunk(m_chunk, got, at, whole))
                return m_item;
            continue;
        }
        std::uint64_t got = 0;
        if (!fill(m_body, size, got))
            return stop(Kind::Cut, at, "the file ends inside " + aRecord(op));
        if (op == kDataEnd) {
            Fields f(m_body.data(), m_body.size());
            const std::uint32_t crc = static_cast<std::uint32_t>(f.number(4));
            if (!f.ok())
                return stop(Kind::Error, at, "a DataEnd record too short for its fields");
            if (crc != 0 && crc != crcBefore)
                return stop(Kind::Error, at, "the data section's CRC does not match");
            m_inSummary = true;
            m_summaryStart = m_at;
            m_crc = 0;
            m_item = Item();
            m_item.kind = Kind::DataEnd;
            m_item.offset = at;
            m_item.end = m_at;
            return m_item;
        }
        if (op == kFooter) {
            Fields f(m_body.data(), m_body.size());
            const std::uint64_t summaryStart = f.number(8);
            f.number(8);
            const std::uint32_t crc = static_cast<std::uint32_t>(f.number(4));
            if (!f.ok())
                return stop(Kind::Error, at, "a Footer record too short for its fields");
            if (m_inSummary && summaryStart != 0 && summaryStart != m_summaryStart)
                return stop(Kind::Error, at, "the footer places the summary at byte " +
                                                       std::to_string(summaryStart) + ", not where it begins");
            // Covers the footer's own fields up to the CRC.
            const std::uint32_t summaryCrc = crc32(m_body.data(), 16, crc32(head, sizeof head, crcBefore));
            if (m_inSummary && summaryStart != 0 && crc != 0 && crc != summaryCrc)
                return stop(Kind::Error, at, "the summary's CRC does not match");
            unsigned char magic[8];
            const std::size_t n = m_source.read(magic, sizeof magic);
            if (n < sizeof magic)
                return stop(Kind::Cut, m_at, "the file ends inside its closing magic");
            if (std::memcmp(magic, kMagic, sizeof magic) != 0)
                return stop(Kind::Error, m_at, "the file does not end with the MCAP magic");
            return stop(Kind::End, m_at + n, std::string());
        }
        if (m_inSummary)
            continue; // the summary repeats what the data section said
        if (op == kSchema || op == kChannel || op == kMessage || op == kMetadata) {
            const Item& item = record(op, m_body.data(), size, at, false);
            return item;
        }
    }
}

} // namespace mcap
