// The program's compiled resources: the .res file that the resource compiler makes.
#include "resources.h"

#include <strings.h>

#include <cstring>
#include <stdexcept>

namespace sim {

extern const unsigned char ProgramResData[];
extern const std::size_t ProgramResDataSize;

namespace {

uint32_t Get32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

// A name or id in a resource header: 0xFFFF and a number, or a NUL-terminated UTF-16 string.
size_t ReadNameOrId(const uint8_t *p, size_t left, uint32_t &id, std::string &name)
{
    if (left < 2)
        throw std::runtime_error("resource header cut short");
    if (Get16(p) == 0xFFFF) {
        if (left < 4)
            throw std::runtime_error("resource header cut short");
        id = Get16(p + 2);
        return 4;
    }
    size_t n = 0;
    for (;;) {
        if (n + 2 > left)
            throw std::runtime_error("resource name not terminated");
        uint16_t c = Get16(p + n);
        n += 2;
        if (!c)
            break;
        name += (char)(c < 0x80 ? c : '?');
    }
    id = 0;
    return n;
}

}  // namespace

std::vector<Resource> ParseRes(const uint8_t *data, size_t size)
{
    std::vector<Resource> out;
    size_t pos = 0;
    while (pos + 8 <= size) {
        uint32_t data_size = Get32(data + pos), header_size = Get32(data + pos + 4);
        if (header_size < 16 || pos + header_size > size || data_size > size - pos - header_size)
            throw std::runtime_error("resource entry runs past the end of the file");
        const uint8_t *h = data + pos + 8;
        size_t left = header_size - 8;
        Resource r;
        size_t n = ReadNameOrId(h, left, r.type_id, r.type_name);
        n += ReadNameOrId(h + n, left - n, r.name_id, r.name);
        n = (n + 3) & ~size_t(3);
        if (n + 16 > left)
            throw std::runtime_error("resource header cut short");
        r.language = Get16(h + n + 6);
        r.data.assign(data + pos + header_size, data + pos + header_size + data_size);
        // The first, empty entry only marks the file as 32-bit.
        if (!(r.type_id == 0 && r.type_name.empty() && data_size == 0))
            out.push_back(std::move(r));
        pos += header_size + ((data_size + 3) & ~size_t(3));
    }
    return out;
}

const std::vector<Resource> &ProgramResources()
{
    static const std::vector<Resource> all = ParseRes(ProgramResData, ProgramResDataSize);
    return all;
}

const Resource *FindResourceById(uint32_t type, uint32_t id)
{
    for (auto &r : ProgramResources())
        if (r.type_id == type && r.name.empty() && r.name_id == id)
            return &r;
    return nullptr;
}

const Resource *FindResourceByName(uint32_t type, const std::string &name)
{
    for (auto &r : ProgramResources())
        if (r.type_id == type && !r.name.empty() && strcasecmp(r.name.c_str(), name.c_str()) == 0)
            return &r;
    return nullptr;
}

}  // namespace sim
