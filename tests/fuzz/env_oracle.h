// What the boot loader and its Linux tools read from an environment block,
// written independently of the driver: the key=value strings up to the
// first empty one, split at their first '=', strings without '=' skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace fuzz {

using entries = std::vector<std::pair<std::string, std::string>>;

inline entries live_entries(const std::uint8_t *block, std::size_t block_size)
{
    entries env;
    const char *p = reinterpret_cast<const char *>(block) + 4;
    const char *end = reinterpret_cast<const char *>(block) + block_size;
    while (p < end && *p) {
        const char *nul = static_cast<const char *>(std::memchr(p, '\0', end - p));
        const char *string_end = nul ? nul : end;
        const char *eq = static_cast<const char *>(std::memchr(p, '=', string_end - p));
        if (eq && eq + 1 < end)
            env.emplace_back(std::string(p, eq), std::string(eq + 1, string_end));
        if (!nul || (eq && eq + 1 == end))
            break;
        p = nul + 1;
    }
    return env;
}

} // namespace fuzz
