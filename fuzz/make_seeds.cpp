// Writes the seed corpora of the fuzz targets into <out>/<entry>/: the real
// fonts, the producer's difference files between them, their name tables,
// the release manifest of the pair the entries revise, and a few cut-down
// forms of each (truncations reach the length checks sooner than mutation
// does).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entries.h"
#include "tools/paproducer/paproducer.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const fs::path& folder, const std::string& name, const Bytes& b) {
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

uint32_t U32(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3]
                              : 0;
}

Bytes NameTableOf(const Bytes& font) {
    if (font.size() < 12) return {};
    const size_t n = size_t{font[4]} << 8 | font[5];
    for (size_t i = 0; i < n && 12 + 16 * i + 16 <= font.size(); ++i) {
        const size_t r = 12 + 16 * i;
        if (std::string(font.begin() + static_cast<long>(r), font.begin() + static_cast<long>(r) + 4) != "name") continue;
        const uint64_t offset = U32(font, r + 8), length = U32(font, r + 12);
        if (offset + length > font.size()) return {};
        return Bytes(font.begin() + static_cast<long>(offset), font.begin() + static_cast<long>(offset + length));
    }
    return {};
}

void WithCuts(const fs::path& folder, const std::string& name, const Bytes& b) {
    Write(folder, name, b);
    for (size_t cut : {size_t{12}, size_t{53}, size_t{300}, b.size() / 2, b.size() - 1}) {
        if (cut < b.size()) Write(folder, name + ".cut" + std::to_string(cut), Bytes(b.begin(), b.begin() + static_cast<long>(cut)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FONT_DIR OUT_DIR\n", argv[0]);
        return 2;
    }
    const fs::path fonts = argv[1], out = argv[2];
    const char* families[] = {"Sorame-Gothic-Pro-W3", "Sorame-Mincho-Std-W5", "Sorame-Maru-Std-W8"};
    int made = 0;
    for (const char* family : families) {
        const Bytes font = Read(fonts / (std::string(family) + ".otf"));
        if (font.empty()) continue;
        for (const char* entry : {"is_target_font", "load_font", "revise_font"}) WithCuts(out / entry, family, font);
        const Bytes name = NameTableOf(font);
        if (!name.empty()) WithCuts(out / "name_table", family, name);
        // The growing entries take a description: the real table's count
        // and first records as templates, its bytes as filler; the real
        // directory's first records as templates, the font as the blob.
        if (name.size() >= 6 + 12 * 8) {
            Bytes d = {0, name[2], name[3], name[4], name[5], 0, static_cast<uint8_t>(name.size() >> 8),
                       static_cast<uint8_t>(name.size()), 7};
            d.insert(d.end(), name.begin() + 6, name.begin() + 6 + 12 * 8);
            d.insert(d.end(), name.begin(), name.end());
            Write(out / "name_table_large", family, d);
        }
        if (font.size() >= 12 + 16 * 8) {
            Bytes d = {font[4], font[5], 7};
            d.insert(d.end(), font.begin() + 12, font.begin() + 12 + 16 * 8);
            d.insert(d.end(), font.begin() + 12 + 16 * 8, font.begin() + static_cast<long>(std::min<size_t>(font.size(), 1 << 16)));
            Write(out / "directory_large", family, d);
        }
        const Bytes release = Read(fonts / (std::string(family) + ".rev.otf"));
        if (release.empty()) continue;
        std::string error;
        const Bytes diff = paproducer::MakeDifference(font, release, &error);
        if (diff.empty()) {
            std::fprintf(stderr, "%s: %s\n", family, error.c_str());
            return 1;
        }
        for (const char* entry : {"read_header", "read_file", "revise_diff"}) WithCuts(out / entry, family, diff);
        ++made;
    }
    if (made == 0) {
        std::fprintf(stderr, "no font pairs in %s\n", argv[1]);
        return 1;
    }
    // The manifest as patool make writes it, and as an editor on Windows
    // saves it again (CRLF).
    std::string error;
    if (!fuzzentry::Setup(fonts.string(), &error) || fuzzentry::RealManifest().empty()) {
        std::fprintf(stderr, "no release manifest for the entries' pair: %s\n", error.c_str());
        return 1;
    }
    const std::string& manifest = fuzzentry::RealManifest();
    std::string crlf;
    for (const char c : manifest) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WithCuts(out / "release_manifest", "manifest", Bytes(manifest.begin(), manifest.end()));
    Write(out / "release_manifest", "manifest.crlf", Bytes(crlf.begin(), crlf.end()));
    WithCuts(out / "revise_font_released", "Sorame-Gothic-Pro-W3", fuzzentry::RealFont());
    return 0;
}
