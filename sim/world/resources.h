// The program's own compiled resources (the .res that windres makes from res/*.rc).
#ifndef SIM_RESOURCES_H
#define SIM_RESOURCES_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One resource: type and name are numbers or (upper-case) strings.
struct Resource {
    uint32_t type_id = 0;        // 0 when the type is a string
    std::string type_name;
    uint32_t name_id = 0;        // 0 when the name is a string
    std::string name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
};

constexpr uint32_t kRtIcon = 3, kRtDialog = 5, kRtGroupIcon = 14;

// Parses a .res file; throws std::runtime_error on a malformed one.
std::vector<Resource> ParseRes(const uint8_t *data, size_t size);
// The program's resources, parsed once.
const std::vector<Resource> &ProgramResources();
const Resource *FindResourceById(uint32_t type, uint32_t id);
const Resource *FindResourceByName(uint32_t type, const std::string &name);

}  // namespace sim

#endif
