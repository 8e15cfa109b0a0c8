#include "trackhost/console.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#define TH_DUP _dup
#define TH_DUP2 _dup2
#define TH_CLOSE _close
#define TH_FILENO _fileno
#define TH_ISATTY _isatty
#else
#include <unistd.h>
#define TH_DUP dup
#define TH_DUP2 dup2
#define TH_CLOSE close
#define TH_FILENO fileno
#define TH_ISATTY isatty
#endif

namespace trackhost {

StdoutCapture::~StdoutCapture() { end(); }

bool StdoutCapture::begin(std::string& error)
{
    std::error_code ec;
    const auto dir = std::filesystem::temp_directory_path(ec);
    static unsigned counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = ((ec ? std::filesystem::path(".") : dir) /
              ("trackhost-" + std::to_string(stamp) + "-" + std::to_string(++counter) + ".out"))
                 .string();
    m_file = std::fopen(m_path.c_str(), "w+b");
    if (!m_file) {
        error = m_path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    std::cout.flush();
    std::fflush(stdout);
    m_saved = TH_DUP(1);
    if (m_saved < 0 || TH_DUP2(TH_FILENO(m_file), 1) < 0) {
        error = std::string("cannot redirect standard output: ") + std::strerror(errno);
        end();
        return false;
    }
    return true;
}

std::string StdoutCapture::end()
{
    std::string text;
    std::cout.flush();
    std::fflush(stdout);
    if (m_saved >= 0) {
        TH_DUP2(m_saved, 1);
        TH_CLOSE(m_saved);
        m_saved = -1;
    }
    if (m_file) {
        std::fseek(m_file, 0, SEEK_SET);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            text.append(buffer, n);
        std::fclose(m_file);
        m_file = nullptr;
        std::remove(m_path.c_str());
    }
    return text;
}

bool stdoutIsTerminal() { return TH_ISATTY(1) != 0; }

} // namespace trackhost
