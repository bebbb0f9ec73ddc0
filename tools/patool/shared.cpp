// What the commands share: the host's files as patool reads and writes
// them, the path under which the engine reaches them, and how a few values
// are written out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/otmodel.h"
#include "tools/patool/internal.h"
#ifndef _WIN32
#include "platform/sim/sim.h"
#endif

namespace patool {
namespace internal {

namespace fs = std::filesystem;

uint32_t U32At(const Bytes& b, size_t at) { return GetU32(b.data() + at); }

std::string Quoted(const BYTE* tag) {
    std::string s = "'";
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = tag[i];
        if (c >= 0x20 && c < 0x7F) {
            s += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            s += esc;
        }
    }
    return s + "'";
}

std::string RevisionText(uint32_t raw) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u", raw >> 16, static_cast<unsigned>(((raw & 0xFFFF) * 1000 + 0x8000) >> 16));
    return text;
}

// Opens a host file for reading without waiting on it: a FIFO or a device
// would block an open or a read for ever, so anything but a regular file is
// refused.  -1 with *why set when it cannot be read.
int OpenRegular(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot read '" + path + "'" + (errno == ENOENT ? ": no such file" : "");
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        *why = "cannot read '" + path + (folder ? "': it is a folder" : "': not a regular file");
        return -1;
    }
    return fd;
}

// Whether the host file at path can be opened for reading; *why says why not,
// in ReadHost's words.
bool CanRead(const std::string& path, std::string* why) {
    const int fd = OpenRegular(path, why);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool ReadHost(const std::string& path, Bytes* bytes, std::string* why) {
    const int fd = OpenRegular(path, why);
    if (fd < 0) return false;
    bytes->clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            *why = "cannot read '" + path + "'";
            return false;
        }
        if (n == 0) break;
        bytes->insert(bytes->end(), buffer, buffer + n);
    }
    ::close(fd);
    return true;
}

// Writes beside the target first, so that a failed write leaves no half file
// under the target's name.
bool WriteHost(const std::string& path, const Bytes& bytes) {
    const std::string temp = path + ".patool-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) std::remove(temp.c_str());
    return !ec;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The path under which the engine reaches a host file.  Off Windows the
// engine runs on the simulated machine, whose drive P: is the host's root.
std::string EnginePath(const std::string& hostPath) {
    std::error_code ec;
    fs::path absolute = fs::absolute(hostPath, ec);
    if (ec) absolute = hostPath;
#ifdef _WIN32
    return absolute.string();
#else
    // Mapped on every call: whoever else drives the simulated machine in
    // this process may have reset it since.
    sim::MapDrive('P', "/");
    std::string path = "P:";
    for (char c : sim::AnsiFromUtf8(absolute.lexically_normal().string())) path += c == '/' ? '\\' : c;
    return path;
#endif
}

bool IsCffFont(const Bytes& font) { return font.size() >= kOffsetTableSize && U32At(font, 0) == kSfntVersionCff; }

// The first bytes of a host file, enough to tell a CFF font by.
Bytes FirstBytes(const std::string& path) {
    Bytes first(kOffsetTableSize);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(first.data()), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return first;
}

}  // namespace internal
}  // namespace patool
