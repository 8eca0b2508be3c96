// gxfwpack: builds firmware image containers (*.eraw) and checks existing ones.
//
//   gxfwpack pack --payload FILE --version TEXT [--date "DD.MM.YYYY HH:MM:SS"] --output FILE
//   gxfwpack placeholder --size BYTES --output FILE
//   gxfwpack show FILE
//
// Exit codes: 0 done (show: the loader accepts the image), 1 refused, 2 usage or file error.

#include "app/Language.h"
#include "devices/Structs.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ImagePacking.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {
constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage:\n"
    "  gxfwpack pack --payload FILE --version TEXT [--date \"DD.MM.YYYY HH:MM:SS\"] --output FILE\n"
    "      builds a container from a payload file; refuses what the loader would refuse\n"
    "  gxfwpack placeholder --size BYTES --output FILE\n"
    "      writes the deterministic stand-in payload of the embedded image\n"
    "  gxfwpack show FILE\n"
    "      prints a container's header and checks it as the loader does\n";

int Usage(const char* problem)
{
    std::fprintf(stderr, "gxfwpack: %s\n%s", problem, kUsageText);
    return kUsage;
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

// --name value pairs after the command word; nothing on a malformed or unknown option.
std::optional<std::map<std::string, std::string>> ReadOptions(int argc, char** argv,
                                                              const std::vector<std::string>& known)
{
    std::map<std::string, std::string> options;
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        bool isKnown = false;
        for (const auto& k : known) isKnown = isKnown || k == name;
        if (!isKnown || i + 1 >= argc || options.count(name)) return std::nullopt;
        options[name] = argv[i + 1];
    }
    return options;
}

std::string Printable(std::string_view text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

// Runs the loader's own check; prints its log lines to stderr.
bool Accepted(const std::vector<uint8_t>& image, TFirmwareVersion& version, size_t& blockSize)
{
    TFirmwareBlockList blocks;
    const auto log = [](int, const QString& text) {
        std::fprintf(stderr, "loader: %s\n", text.toUtf8().constData());
    };
    if (image.size() > UINT32_MAX) return false;
    bool accepted = false;
    try {
        accepted = ParseFirmwareImage(log, image.data(), static_cast<uint32_t>(image.size()),
                                      version, blocks);
    } catch (const LoaderError& e) {
        std::fprintf(stderr, "loader: %s\n", e.what());
        return false;
    }
    blockSize = accepted && !blocks.empty() ? blocks.front()->DataSize : 0;
    return accepted;
}

int Pack(int argc, char** argv)
{
    const auto options = ReadOptions(argc, argv, {"--payload", "--version", "--date", "--output"});
    if (!options || !options->count("--payload") || !options->count("--version") ||
        !options->count("--output"))
        return Usage("pack needs --payload, --version and --output");
    const auto payload = ReadFile(options->at("--payload"));
    if (!payload) {
        std::fprintf(stderr, "gxfwpack: cannot read %s\n", options->at("--payload").c_str());
        return kUsage;
    }
    std::optional<std::string_view> date;
    if (options->count("--date")) {
        date = options->at("--date");
        if (!DecodeImageDate(*date)) {
            std::fprintf(stderr, "gxfwpack: the date \"%s\" is not DD.MM.YYYY HH:MM:SS\n",
                         options->at("--date").c_str());
            return kRefused;
        }
    }
    std::vector<uint8_t> image;
    try {
        image = PackFirmwareImage(*payload, options->at("--version"), date);
    } catch (const std::length_error& e) {
        std::fprintf(stderr, "gxfwpack: %s\n", e.what());
        return kRefused;
    }
    TFirmwareVersion version;
    size_t blockSize = 0;
    if (!Accepted(image, version, blockSize)) {
        std::fprintf(stderr, "gxfwpack: the loader would refuse this image; nothing written\n");
        return kRefused;
    }
    if (!WriteFile(options->at("--output"), image)) {
        std::fprintf(stderr, "gxfwpack: cannot write %s\n", options->at("--output").c_str());
        return kUsage;
    }
    return kDone;
}

int Placeholder(int argc, char** argv)
{
    const auto options = ReadOptions(argc, argv, {"--size", "--output"});
    if (!options || !options->count("--size") || !options->count("--output"))
        return Usage("placeholder needs --size and --output");
    char* end = nullptr;
    const std::string& text = options->at("--size");
    const unsigned long long size = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || size > kImageSizeMask)
        return Usage("--size takes a number of bytes");
    if (!WriteFile(options->at("--output"), PlaceholderPayload(static_cast<size_t>(size)))) {
        std::fprintf(stderr, "gxfwpack: cannot write %s\n", options->at("--output").c_str());
        return kUsage;
    }
    return kDone;
}

int Show(int argc, char** argv)
{
    if (argc != 3) return Usage("show takes one file");
    const auto image = ReadFile(argv[2]);
    if (!image) {
        std::fprintf(stderr, "gxfwpack: cannot read %s\n", argv[2]);
        return kUsage;
    }
    const uint32_t length =
        image->size() > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(image->size());
    std::printf("file:      %s (%zu bytes)\n", argv[2], image->size());
    const auto layout = ReadFirmwareImageLayout(image->data(), length);
    if (!layout) {
        std::printf("header:    incomplete: shorter than its stated text lengths\n");
        std::printf("verdict:   refused\n");
        return kRefused;
    }
    std::printf("size:      %u stated%s\n", layout->ImageSize,
                layout->ImageSize == image->size() ? "" : " (differs from the file)");
    std::printf("checksum:  0x%04X stored, 0x%04X by the rule (first %u bytes)\n",
                layout->StoredChecksum, FirmwareImageChecksum(image->data(), length),
                length & 0xFFFF);
    std::printf("version:   \"%s\"\n", Printable(layout->VersionText).c_str());
    if (layout->HasDate)
        std::printf("date:      \"%s\"%s\n", Printable(layout->DateText).c_str(),
                    DecodeImageDate(layout->DateText) ? "" : " (does not decode)");
    else
        std::printf("date:      none\n");
    std::printf("payload:   %u bytes from offset %u\n", length - layout->PayloadOffset,
                layout->PayloadOffset);
    TFirmwareVersion version;
    size_t blockSize = 0;
    const bool accepted = Accepted(*image, version, blockSize);
    if (accepted)
        std::printf("verdict:   accepted as %s, %s\n", FormatVersion(version).toUtf8().constData(),
                    FormatVersionDate(version).toUtf8().constData());
    else
        std::printf("verdict:   refused\n");
    return accepted ? kDone : kRefused;
}
}  // namespace

int main(int argc, char** argv)
{
    CurrentLanguage = kLanguageEnglish;
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    if (command == "pack") return Pack(argc, argv);
    if (command == "placeholder") return Placeholder(argc, argv);
    if (command == "show") return Show(argc, argv);
    if (command == "--help" || command == "-h") {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    return Usage("unknown command");
}
