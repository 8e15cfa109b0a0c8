// MCAP, the open container of time-stamped messages that common log viewers
// read: our own small writer and reader.
//
// A file is the magic, a Header, the data section (Metadata records, and
// Chunks of Schema, Channel and Message records, each Chunk followed by one
// MessageIndex per channel it holds), DataEnd, the summary (Schemas,
// Channels, Statistics, ChunkIndexes, MetadataIndexes, one SummaryOffset per
// group), the Footer and the magic again. Integers are little-endian, times
// are nanoseconds, CRCs are the CRC-32 of zlib and PNG. Chunks are written
// uncompressed, and the reader takes no other.
//
// Neither side does I/O of its own: the writer hands every byte, in file
// order, to a sink; the reader pulls bytes from a source. Nothing here is
// meant for a thread that must not wait or allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace mcap {

// CRC-32 (polynomial 0xEDB88320, as zlib); pass the previous value to go on.
std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

enum Op : std::uint8_t {
    kHeader = 0x01,
    kFooter = 0x02,
    kSchema = 0x03,
    kChannel = 0x04,
    kMessage = 0x05,
    kChunk = 0x06,
    kMessageIndex = 0x07,
    kChunkIndex = 0x08,
    kStatistics = 0x0B,
    kMetadata = 0x0C,
    kMetadataIndex = 0x0D,
    kSummaryOffset = 0x0E,
    kDataEnd = 0x0F,
};

// 0x89 "MCAP0\r\n": the format's version is the '0'.
extern const unsigned char kMagic[8];

// A map<string,string> of the format; the writer sorts it by key.
using KeyValues = std::vector<std::pair<std::string, std::string>>;
// The value of key, or null when the map has none.
const std::string* lookup(const KeyValues& values, const char* key);

class Writer {
public:
    // Takes the next bytes of the file; false ends the writing (the sink
    // keeps its own reason).
    using Sink = bool (*)(void* context, const void* data, std::size_t size);

    Writer(Sink sink, void* context);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Magic and Header.
    bool start(const std::string& profile, const std::string& library);
    // Schemas and channels are repeated at the head of every chunk, so that
    // each chunk reads alone, and again in the summary. Ids count from 1.
    std::uint16_t addSchema(const std::string& name, const std::string& encoding, const std::string& data);
    std::uint16_t addChannel(std::uint16_t schemaId, const std::string& topic, const std::string& encoding,
                             KeyValues metadata);
    // A Metadata record in the data section; the open chunk is closed first.
    bool metadata(const std::string& name, KeyValues values);
    // One message into the open chunk (a chunk opens with its first message).
    bool message(std::uint16_t channel, std::uint32_t sequence, std::uint64_t logTime, std::uint64_t publishTime,
                 const void* data, std::size_t size);
    // Writes the open chunk and its message indexes in one piece.
    bool closeChunk();
    // Closes the chunk, then DataEnd, the summary, the Footer and the magic.
    bool finish();

    std::size_t chunkBytes() const { return m_chunk.size(); }
    std::uint64_t chunkMessages() const { return m_chunkMessages; }
    std::uint64_t offset() const { return m_offset; }
    std::uint64_t messageCount() const { return m_messageCount; }
    bool failed() const { return m_failed; }

private:
    struct Schema {
        std::uint16_t id;
        std::string name, encoding, data;
    };
    struct Channel {
        std::uint16_t id, schemaId;
        std::string topic, encoding;
        KeyValues metadata;
        std::uint64_t messages = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> index; // log time, offset in the open chunk
    };
    struct ChunkIndex {
        std::uint64_t start, end, offset, length, indexLength, recordsSize;
        std::vector<std::pair<std::uint16_t, std::uint64_t>> indexOffsets;
    };
    struct MetadataIndex {
        std::uint64_t offset, length;
        std::string name;
    };

    bool emit(const std::vector<unsigned char>& bytes);
    bool emit(const void* data, std::size_t size);
    void openChunk();
    void summary(std::vector<unsigned char>& out, std::uint64_t at);

    Sink m_sink;
    void* m_context;
    bool m_failed = false;
    bool m_finished = false;
    std::uint64_t m_offset = 0;
    std::uint32_t m_dataCrc = 0; // of every byte before DataEnd
    std::vector<Schema> m_schemas;
    std::vector<Channel> m_channels;
    std::vector<unsigned char> m_chunk; // the open chunk's records
    std::uint64_t m_chunkMessages = 0;
    std::uint64_t m_chunkStart = 0, m_chunkEnd = 0;
    std::vector<ChunkIndex> m_chunkIndexes;
    std::vector<MetadataIndex> m_metadataIndexes;
    std::uint64_t m_messageCount = 0;
    std::uint64_t m_firstTime = 0, m_lastTime = 0;
    std::vector<unsigned char> m_scratch;
};

// Where a reader's bytes come from, front to back.
class Source {
public:
    virtual ~Source() = default;
    // Up to size bytes; fewer only at the end of the data.
    virtual std::size_t read(void* into, std::size_t size) = 0;
};

class MemorySource : public Source {
public:
    MemorySource(const void* data, std::size_t size) : m_data(static_cast<const unsigned char*>(data)), m_size(size) {}
    std::size_t read(void* into, std::size_t size) override;

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

class FileSource : public Source {
public:
    FileSource() = default;
    ~FileSource() override { close(); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    // False with the system's reason.
    bool open(const std::string& path, std::string& why);
    void close();
    std::size_t read(void* into, std::size_t size) override;

private:
    std::FILE* m_file = nullptr;
};

// Reads a file front to back, record by record, descending into chunks. A
// chunk's CRC is checked when it has one, and so are the data section's and
// the summary's. A file cut short (a writer killed, a partial copy) gives
// every whole record before the cut, also the whole records inside a chunk
// that was cut, then Cut.
class Reader {
public:
    enum class Kind { Schema, Channel, Message, Metadata, DataEnd, End, Cut, Error };
    struct Item {
        Kind kind = Kind::Error;
        std::uint64_t offset = 0; // of the record's opcode; for Cut and Error where it went wrong
        std::uint64_t end = 0;    // of the byte after the record
        // Schema: id, name, encoding, data. Channel: id, schemaId, name (the
        // topic), encoding, values (its metadata). Metadata: name, values.
        std::uint16_t id = 0, schemaId = 0;
        std::string name, encoding;
        KeyValues values;
        // Message (data also of a Schema); data stays valid until the next call.
        std::uint32_t sequence = 0;
        std::uint64_t logTime = 0, publishTime = 0;
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        // Cut and Error: what was wrong.
        std::string why;
    };

    explicit Reader(Source& source);
    // The next item; after End, Cut or Error the same item again.
    const Item& next();
    // The Header's fields, once the first item was read.
    const std::string& profile() const { return m_profile; }
    const std::string& library() const { return m_library; }

private:
    bool fill(std::vector<unsigned char>& into, std::uint64_t size, std::uint64_t& got);
    const Item& stop(Kind kind, std::uint64_t at, const std::string& why);
    bool begin();
    const Item* fromChunk(); // null for a record passed over
    const Item& record(std::uint8_t op, const unsigned char* body, std::uint64_t size, std::uint64_t at,
                       bool inChunk);
    bool openChunk(const std::vector<unsigned char>& body, std::uint64_t got, std::uint64_t at, bool whole);

    Source& m_source;
    Item m_item;
    bool m_started = false;
    bool m_done = false;
    std::uint64_t m_at = 0;   // file offset of the next byte to read
    std::uint32_t m_crc = 0;  // of every byte read so far (data section) or since DataEnd (summary)
    bool m_inSummary = false;
    std::uint64_t m_summaryStart = 0;
    std::string m_profile, m_library;
    std::vector<unsigned char> m_body;
    // The chunk being read: its records, where they start in the file, the
    // next record's place, and how many of its bytes are whole.
    std::vector<unsigned char> m_chunk;
    std::uint64_t m_chunkFileAt = 0;
    std::size_t m_chunkAt = 0, m_chunkSize = 0;
    bool m_chunkCut = false;
    bool m_inChunk = false;
};

} // namespace mcap
