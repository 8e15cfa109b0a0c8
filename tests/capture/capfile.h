// A capture file as the tests look at it: read with the project's MCAP reader
// into its frames, poses, console lines and metadata, and the folders the
// tests write captures to (the CI reads captures/ with the format's
// reference reader afterwards; capture-scratch/ holds the broken ones).
#pragma once

#include "support/mcap.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace captest {

// A fresh folder of the build's captures/ or capture-scratch/ for one test.
inline std::string freshFolder(const char* root, const char* name)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(root) / name;
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    return folder.string();
}

inline std::string join(const std::string& folder, const char* file)
{
    return (std::filesystem::path(folder) / file).string();
}

inline std::vector<unsigned char> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// An MCAP writer's sink that appends to the std::vector<unsigned char> context.
inline bool toVector(void* context, const void* data, std::size_t size)
{
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out->insert(out->end(), p, p + size);
    return true;
}

// One sample of a /tarsis/poses message, its values as record words.
struct Pose {
    std::uint32_t id = 0, station = 0;
    std::array<std::int32_t, 6> words{};
    bool operator==(const Pose& o) const { return id == o.id && station == o.station && words == o.words; }
};

struct Frame {
    std::uint32_t count = 0;
    std::uint64_t timeNs = 0;
    std::uint64_t end = 0; // the byte after its message record
    std::vector<unsigned char> bytes;
};

struct Poses {
    std::uint32_t frame = 0, leftOut = 0;
    std::vector<Pose> sensors;
};

struct File {
    bool complete = false;
    std::uint64_t stoppedAt = 0;
    std::string why;
    mcap::KeyValues tarsis, end;
    std::uint64_t tarsisEnd = 0; // the byte after the tarsis metadata
    std::vector<Frame> frames;
    std::vector<Poses> poses;
    std::vector<std::string> lines;

    std::string value(const char* key, bool ofEnd = false) const
    {
        const std::string* v = mcap::lookup(ofEnd ? end : tarsis, key);
        return v ? *v : "<none>";
    }
};

// The numbers after "key": in text, from at on; the JSON our capture writes.
inline double numberAfter(const std::string& text, const char* key, std::size_t& at)
{
    at = text.find(key, at);
    if (at == std::string::npos)
        return 0;
    at += std::strlen(key);
    char* end = nullptr;
    const double v = std::strtod(text.c_str() + at, &end);
    at = static_cast<std::size_t>(end - text.c_str());
    return v;
}

inline Poses parsePoses(const std::string& json)
{
    Poses p;
    std::size_t at = 0;
    p.frame = static_cast<std::uint32_t>(numberAfter(json, "\"frame\":", at));
    p.leftOut = static_cast<std::uint32_t>(numberAfter(json, "\"left_out\":", at));
    while ((at = json.find("{\"id\":", at)) != std::string::npos) {
        Pose s;
        s.id = static_cast<std::uint32_t>(numberAfter(json, "\"id\":", at));
        s.station = static_cast<std::uint32_t>(numberAfter(json, "\"station\":", at));
        at = json.find('[', at);
        for (int k = 0; k < 6; ++k) {
            if (k == 3)
                at = json.find('[', at);
            char* end = nullptr;
            const double v = std::strtod(json.c_str() + at + 1, &end);
            s.words[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(std::llround(v * 100000.0));
            at = static_cast<std::size_t>(end - json.c_str());
        }
        p.sensors.push_back(s);
    }
    return p;
}

// The text of a /tarsis/log message, {"line":"..."}: the escapes of quotes,
// backslashes and control characters undone.
inline std::string parseLine(const std::string& json)
{
    const std::string head = "{\"line\":\"";
    if (json.compare(0, head.size(), head) != 0 || json.size() < head.size() + 2)
        return "<not a log message: " + json + ">";
    const std::string text = json.substr(head.size(), json.size() - head.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[++i] == 'u' && i + 4 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 4).c_str(), nullptr, 16));
            i += 4;
        } else {
            out += text[i];
        }
    }
    return out;
}

inline File readFile(const std::string& path)
{
    File f;
    mcap::FileSource source;
    std::string why;
    if (!source.open(path, why)) {
        f.why = "cannot open: " + why;
        return f;
    }
    mcap::Reader reader(source);
    std::uint16_t frame = 0, poses = 0, log = 0;
    for (;;) {
        const mcap::Reader::Item& item = reader.next();
        if (item.kind == mcap::Reader::Kind::End) {
            f.complete = true;
            return f;
        }
        if (item.kind == mcap::Reader::Kind::Cut || item.kind == mcap::Reader::Kind::Error) {
            f.stoppedAt = item.offset;
            f.why = item.why;
            return f;
        }
        if (item.kind == mcap::Reader::Kind::Channel) {
            if (item.name == "/tarsis/frame")
                frame = item.id;
            else if (item.name == "/tarsis/poses")
                poses = item.id;
            else if (item.name == "/tarsis/log")
                log = item.id;
        } else if (item.kind == mcap::Reader::Kind::Metadata) {
            if (item.name == "tarsis") {
                f.tarsis = item.values;
                f.tarsisEnd = item.end;
            } else if (item.name == "tarsis.end") {
                f.end = item.values;
            }
        } else if (item.kind == mcap::Reader::Kind::Message) {
            const std::string text(reinterpret_cast<const char*>(item.data), item.size);
            if (item.id == frame)
                f.frames.push_back(Frame{item.sequence, item.logTime, item.end,
                                         std::vector<unsigned char>(item.data, item.data + item.size)});
            else if (item.id == poses)
                f.poses.push_back(parsePoses(text));
            else if (item.id == log)
                f.lines.push_back(parseLine(text));
        }
    }
}

} // namespace captest
