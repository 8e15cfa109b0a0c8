// The MCAP container on its own: the CRC, a file of our writer read back by
// our reader and through its summary's indexes, a file cut at every byte, and
// damaged files by kind.
#include "capfile.h"
#include "support/mcap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::uint64_t u64At(const std::vector<unsigned char>& b, std::size_t at)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::uint16_t u16At(const std::vector<unsigned char>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// Two channels over three chunks, with metadata between them.
std::vector<unsigned char> sampleFile()
{
    std::vector<unsigned char> out;
    mcap::Writer w(captest::toVector, &out);
    w.start("", "test 1");
    const std::uint16_t schema = w.addSchema("s", "jsonschema", "{}");
    const std::uint16_t a = w.addChannel(schema, "/a", "json", {{"z", "1"}, {"k", "2"}});
    const std::uint16_t b = w.addChannel(0, "/b", "raw", {});
    w.metadata("first", {{"b", "2"}, {"a", "1"}});
    for (std::uint32_t i = 0; i < 9; ++i) {
        const std::string text = "{\"i\":" + std::to_string(i) + "}";
        w.message(i % 3 ? a : b, i, 1000 + i, 2000 + i, text.data(), text.size());
        if (i % 4 == 3)
            w.closeChunk();
    }
    w.metadata("second", {});
    EXPECT_TRUE(w.finish());
    return out;
}

struct Read {
    mcap::Reader::Kind last;
    std::uint64_t offset = 0;
    std::string why;
    std::vector<std::string> items; // "M /a 3 1003 {..}", "D first a=1 b=2", ...
    std::vector<std::uint64_t> messageEnds;
};

Read readAll(const std::vector<unsigned char>& bytes, std::size_t size)
{
    Read r;
    mcap::MemorySource source(bytes.data(), size);
    mcap::Reader reader(source);
    std::vector<std::string> topics(8);
    for (;;) {
        const mcap::Reader::Item& item = reader.next();
        using K = mcap::Reader::Kind;
        if (item.kind == K::End || item.kind == K::Cut || item.kind == K::Error) {
            r.last = item.kind;
            r.offset = item.offset;
            r.why = item.why;
            return r;
        }
        if (item.kind == K::Channel && item.id < topics.size())
            topics[item.id] = item.name;
        if (item.kind == K::Message) {
            r.items.push_back("M " + topics[item.id % topics.size()] + " " + std::to_string(item.sequence) + " " +
                              std::to_string(item.logTime) + " " + std::to_string(item.publishTime) + " " +
                              std::string(reinterpret_cast<const char*>(item.data), item.size));
            r.messageEnds.push_back(item.end);
        } else if (item.kind == K::Metadata) {
            std::string line = "D " + item.name;
            for (const auto& kv : item.values)
                line += " " + kv.first + "=" + kv.second;
            r.items.push_back(line);
        }
    }
}

} // namespace

TEST(McapTest, CrcIsTheOneOfZlib)
{
    const char* check = "123456789";
    EXPECT_EQ(0xCBF43926u, mcap::crc32(check, 9));
    EXPECT_EQ(mcap::crc32(check, 9), mcap::crc32(check + 4, 5, mcap::crc32(check, 4)));
    EXPECT_EQ(0u, mcap::crc32(check, 0));
}

TEST(McapTest, WhatTheWriterWritesReadsBackInOrder)
{
    const std::vector<unsigned char> file = sampleFile();
    const Read r = readAll(file, file.size());
    EXPECT_EQ(mcap::Reader::Kind::End, r.last) << r.why;
    EXPECT_EQ((std::vector<std::string>{
                  "D first a=1 b=2",
                  "M /b 0 1000 2000 {\"i\":0}",
                  "M /a 1 1001 2001 {\"i\":1}",
                  "M /a 2 1002 2002 {\"i\":2}",
                  "M /b 3 1003 2003 {\"i\":3}",
                  "M /a 4 1004 2004 {\"i\":4}",
                  "M /a 5 1005 2005 {\"i\":5}",
                  "M /b 6 1006 2006 {\"i\":6}",
                  "M /a 7 1007 2007 {\"i\":7}",
                  "M /a 8 1008 2008 {\"i\":8}",
                  "D second",
              }),
              r.items);
}

TEST(McapTest, TheSummaryLeadsToEveryChunkAndItsIndexes)
{
    // What an indexed reader follows: footer -> summary offsets -> chunk
    // indexes -> chunks and message indexes.
    const std::vector<unsigned char> f = sampleFile();
    ASSERT_GT(f.size(), 8u + 29u);
    ASSERT_EQ(0, std::memcmp(&f[f.size() - 8], mcap::kMagic, 8));
    const std::size_t footer = f.size() - 8 - 29;
    ASSERT_EQ(mcap::kFooter, f[footer]);
    EXPECT_EQ(20u, u64At(f, footer + 1));
    const std::uint64_t summary = u64At(f, footer + 9), offsets = u64At(f, footer + 17);
    EXPECT_EQ(mcap::kSchema, f[summary]);
    EXPECT_EQ(mcap::crc32(&f[summary], footer + 25 - summary), u64At(f, footer + 25) & 0xFFFFFFFFu);

    std::vector<std::uint8_t> groups;
    std::size_t chunks = 0;
    for (std::size_t at = offsets; at < footer; at += 9 + 17) {
        ASSERT_EQ(mcap::kSummaryOffset, f[at]);
        const std::uint8_t op = f[at + 9];
        groups.push_back(op);
        const std::uint64_t start = u64At(f, at + 10), length = u64At(f, at + 18);
        for (std::uint64_t r = start; r < start + length; r += 9 + u64At(f, r + 1)) {
            ASSERT_EQ(op, f[r]);
            if (op != mcap::kChunkIndex)
                continue;
            ++chunks;
            const std::uint64_t chunk = u64At(f, r + 9 + 16), chunkLength = u64At(f, r + 9 + 24);
            EXPECT_EQ(mcap::kChunk, f[chunk]);
            EXPECT_EQ(chunkLength, 9 + u64At(f, chunk + 1));
            const std::size_t map = r + 9 + 32;
            const std::uint64_t mapBytes = u64At(f, map) & 0xFFFFFFFFu;
            for (std::uint64_t e = map + 4; e < map + 4 + mapBytes; e += 10) {
                const std::uint64_t index = u64At(f, e + 2);
                EXPECT_EQ(mcap::kMessageIndex, f[index]);
                EXPECT_EQ(u16At(f, e), u16At(f, index + 9)) << "the index of the channel named";
            }
        }
    }
    EXPECT_EQ((std::vector<std::uint8_t>{mcap::kSchema, mcap::kChannel, mcap::kStatistics, mcap::kChunkIndex,
                                         mcap::kMetadataIndex}),
              groups);
    EXPECT_EQ(3u, chunks);
}

TEST(McapTest, AFileCutAnywhereGivesItsWholeMessages)
{
    const std::vector<unsigned char> file = sampleFile();
    const Read whole = readAll(file, file.size());
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        const Read r = readAll(file, cut);
        std::size_t expected = 0;
        while (expected < whole.messageEnds.size() && whole.messageEnds[expected] <= cut)
            ++expected;
        std::size_t messages = 0;
        for (const std::string& item : r.items)
            messages += item[0] == 'M';
        ASSERT_EQ(expected, messages) << "cut at " << cut;
        ASSERT_EQ(cut == 0 ? mcap::Reader::Kind::Error : mcap::Reader::Kind::Cut, r.last) << "cut at " << cut;
        ASSERT_LE(r.offset, cut);
    }
}

TEST(McapTest, DamagedFilesByKind)
{
    const std::vector<unsigned char> good = sampleFile();
    // The first chunk: after magic, header (9 + 4 + 0 + 4 + 6) and the first metadata.
    const std::size_t header = 8 + 9 + 4 + 4 + 6;
    const std::size_t chunk = header + 9 + u64At(good, header + 1);
    ASSERT_EQ(mcap::kChunk, good[chunk]);
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        mcap::Reader::Kind kind;
        std::uint64_t offset;
        std::string why;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, mcap::Reader::Kind::Error, 0, "the file is empty"});
    cases.push_back({"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, mcap::Reader::Kind::Error, 0,
                     "not an MCAP file: it does not start with the MCAP magic"});
    std::vector<unsigned char> b = good;
    b[5] = '1';
    cases.push_back({"version", b, mcap::Reader::Kind::Error, 5, "unknown MCAP version '1'"});
    b.assign(good.begin(), good.begin() + 8);
    cases.push_back({"magic alone", b, mcap::Reader::Kind::Cut, 8, "the file ends before its header record"});
    b.assign(good.begin(), good.begin() + 8);
    b.insert(b.end(), good.end() - 37, good.end());
    cases.push_back({"no header", b, mcap::Reader::Kind::Error, 8, "the first record is not a header"});
    b = good;
    b[good.size() - 40] ^= 1; // inside the last summary offset, so the summary's CRC
    cases.push_back({"summary crc", b, mcap::Reader::Kind::Error, good.size() - 37,
                     "the summary's CRC does not match"});
    b = good;
    b[chunk + 9 + 40 + 20] ^= 1; // inside the chunk's records
    cases.push_back({"chunk crc", b, mcap::Reader::Kind::Error, chunk, "a chunk whose CRC does not match its records"});
    b = good;
    // The compression's empty text becomes "zstd", taking 4 bytes of the records' length.
    std::memcpy(&b[chunk + 9 + 28], "\x04\x00\x00\x00zstd", 8);
    cases.push_back({"compressed", b, mcap::Reader::Kind::Error, chunk,
                     "a chunk compressed with zstd; only uncompressed chunks are read"});
    b = good;
    b[chunk + 1 + 5] = 1; // length 2^40
    cases.push_back({"huge length", b, mcap::Reader::Kind::Error, chunk,
                     "a record that claims " + std::to_string(u64At(b, chunk + 1)) + " bytes"});
    b = good;
    // A schema whose text would run past its record (the chunk's CRC left
    // out, so that the record itself is what the reader finds wrong).
    std::memset(&b[chunk + 9 + 24], 0, 4);
    b[chunk + 9 + 40 + 9 + 2 + 5 + 14 + 2] = 0xFF;
    cases.push_back({"schema text", b, mcap::Reader::Kind::Error, chunk + 9 + 40,
                     "a Schema record too short for its fields"});
    b = good;
    b[good.size() - 1] = 'X';
    cases.push_back({"closing magic", b, mcap::Reader::Kind::Error, good.size() - 8,
                     "the file does not end with the MCAP magic"});
    for (const Case& c : cases) {
        const Read r = readAll(c.bytes, c.bytes.size());
        EXPECT_EQ(c.kind, r.last) << c.name;
        EXPECT_EQ(c.offset, r.offset) << c.name;
        EXPECT_EQ(c.why, r.why) << c.name;
    }
}
