// Written independently of the driver: what the boot loader and its Linux
// tools read from an environment block (the key=value strings up to the
// first empty one, split at their first '=', strings without '=' skipped),
// and what a change set of /dev/env does to an environment.
#pragma once

#include <cerrno>
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

// Bytes of strings an environment takes in a block, and what it may take:
// the data area less the empty string that ends it.
inline std::size_t strings_size(const entries &env)
{
    std::size_t size = 0;
    for (const auto &[key, value] : env)
        size += key.size() + 1 + value.size() + 1;
    return size;
}
constexpr std::size_t strings_max = 4096 - 4 - 1;

struct change_outcome {
    int error = 0;             // 0, -EINVAL, -EPERM or -ENOSPC
    std::uint32_t refused = 0; // the change refused, when error
    entries env;               // the result; as it was on a refusal
};

// Changes are key NUL value NUL, in order: a value sets the first entry
// with that key (or appends one), an empty value deletes it. The first
// change short of a NUL, with a key of the wrong form or a read-only key
// refuses the set; an environment that ends too big refuses it at the
// change after the last state that fitted.
template <typename Permitted>
change_outcome apply_changes(const entries &env, const std::string &changes, Permitted permitted)
{
    change_outcome out;
    out.env = env;
    entries list;
    for (std::size_t at = 0; at < changes.size();) {
        const std::size_t key_end = changes.find('\0', at);
        const std::size_t value_end =
            key_end == std::string::npos ? key_end : changes.find('\0', key_end + 1);
        const std::string key =
            changes.substr(at, key_end == std::string::npos ? key_end : key_end - at);
        if (value_end == std::string::npos || key.empty() || key.size() > 63 ||
            key.find('=') != std::string::npos)
            out.error = -EINVAL;
        else if (!permitted(key))
            out.error = -EPERM;
        if (out.error) {
            out.refused = static_cast<std::uint32_t>(list.size());
            return out;
        }
        list.emplace_back(key, changes.substr(key_end + 1, value_end - key_end - 1));
        at = value_end + 1;
    }

    entries result = env;
    std::uint32_t after_last_fit = 0;
    for (std::uint32_t i = 0; i < list.size(); i++) {
        const auto &[key, value] = list[i];
        auto it = result.begin();
        while (it != result.end() && it->first != key)
            ++it;
        if (it != result.end() && !value.empty())
            it->second = value;
        else if (it != result.end())
            result.erase(it);
        else if (!value.empty())
            result.emplace_back(key, value);
        if (strings_size(result) <= strings_max)
            after_last_fit = i + 1;
    }
    if (strings_size(result) > strings_max) {
        out.error = -ENOSPC;
        out.refused = after_last_fit;
        return out;
    }
    out.env = result;
    return out;
}

} // namespace fuzz
