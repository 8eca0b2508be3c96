#include "sim/SimSectorMaps.h"

namespace gxsim {
namespace {
constexpr uint32_t k4K = 0x1000;
constexpr uint32_t k32K = 0x8000;

void Append(FlashLayout& layout, int count, uint32_t size)
{
    uint32_t start =
        layout.Sectors.empty() ? 0 : layout.Sectors.back().Start + layout.Sectors.back().Size;
    for (int i = 0; i < count; ++i, start += size) layout.Sectors.push_back({start, size});
}

bool OneOf(uint32_t id, std::initializer_list<uint32_t> ids)
{
    for (uint32_t x : ids)
        if (x == id) return true;
    return false;
}
}  // namespace

std::string_view VersionSuffix(std::string_view text)
{
    const size_t dash = text.find('-');
    std::string_view rest = dash == std::string_view::npos ? text : text.substr(dash + 1);
    while (!rest.empty() && ((rest.front() >= '0' && rest.front() <= '9') || rest.front() == '.'))
        rest.remove_prefix(1);
    while (!rest.empty() && static_cast<unsigned char>(rest.front()) <= ' ') rest.remove_prefix(1);
    while (!rest.empty() && static_cast<unsigned char>(rest.back()) <= ' ') rest.remove_suffix(1);
    return rest;
}

FlashLayout LayoutFor(uint32_t id, std::string_view bootloaderText)
{
    FlashLayout layout;
    if (OneOf(id, {0x0000BC40, 0x0001BC40})) {
        Append(layout, 16, k4K);
    } else if (id == 0x10040204) {
        Append(layout, 64, k4K);
    } else if (OneOf(id, {0x25011723, 0x26013733, 0x26013F33})) {
        Append(layout, 16, k4K);
        Append(layout, 6, k32K);
    } else if (OneOf(id, {0x25013F37, 0x25113737, 0x26012837, 0x26013F37, 0x26113F37, 0x27193F47,
                          0x47193F47, 0x481D3F47})) {
        Append(layout, 16, k4K);
        Append(layout, 14, k32K);
    } else if (id == 0x400FE000) {
        // 256 sectors of 512 bytes above a 0x4400-byte area the bootloader keeps for itself.
        for (uint32_t n = 0; n < 256; ++n) layout.Sectors.push_back({0x4400 + 512 * n, 512});
    } else {
        Append(layout, 8, k4K);
        Append(layout, 14, k32K);
        Append(layout, 5, k4K);
        const std::string_view suffix = VersionSuffix(bootloaderText);
        if (suffix != "TR" && suffix != "PP") Append(layout, 1, k4K);
    }
    layout.FlashSize = layout.Sectors.back().Start + layout.Sectors.back().Size;
    return layout;
}

}  // namespace gxsim
