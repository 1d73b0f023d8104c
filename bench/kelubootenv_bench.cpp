// Work done by the environment driver's hot paths, meant to be counted in
// instructions under callgrind (bench/kelubootenv-callgrind): each bench_*
// function runs one operation, `rounds` times over.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "hostkernel.h"
#include "kel_ubootenv_host.h"

namespace {

constexpr int rounds = 100;
using block = unsigned char[UENV_HOST_BLOCK_SIZE];

void seal(block b)
{
    std::uint32_t crc = uenv_host_crc(b);
    std::memcpy(b, &crc, 4); // the bench runs on little-endian PCs
}

// The default environment, as every board has it after its first boot.
void default_block(block b)
{
    std::size_t size;
    const char *data = uenv_host_default_environment(&size);
    std::memset(b, 0, UENV_HOST_BLOCK_SIZE);
    std::memcpy(b + 4, data, size);
    seal(b);
}

// A data area filled to its last byte with 64-byte strings.
void full_block(block b)
{
    std::memset(b, 0, UENV_HOST_BLOCK_SIZE);
    std::string data;
    for (int i = 0; data.size() + 64 <= UENV_HOST_BLOCK_SIZE - 4; i++) {
        std::string key = "key" + std::to_string(1000 + i);
        data += key + "=" + std::string(63 - key.size() - 1, 'v') + '\0';
    }
    data.resize(UENV_HOST_BLOCK_SIZE - 4, 'x'); // the last string ends the area
    data.back() = '\0';
    std::copy(data.begin(), data.end(), b + 4);
    seal(b);
}

} // namespace

extern "C" {

__attribute__((noinline)) void bench_get(uboot_env_manager *m, uboot_env_record *rec)
{
    uenv_host_get(m, rec);
}

__attribute__((noinline)) void bench_set(uboot_env_manager *m, const uboot_env_record *rec)
{
    uenv_host_set(m, rec);
}

__attribute__((noinline)) void bench_change(uboot_env_manager *m, const std::string &changes)
{
    std::uint32_t refused;
    uenv_host_change(m, changes.data(), changes.size(), &refused);
}

__attribute__((noinline)) void bench_choose_and_parse(uboot_env_manager *m, block work,
                                                     const unsigned char *boot)
{
    uenv_host_select(work, boot);
    uenv_host_parse(m, work);
}

} // extern "C"

int main()
{
    hk::reset();
    block env, full, boot{}, work;
    default_block(env);
    full_block(full);

    uboot_env_manager *m = uenv_host_manager_new();
    uenv_host_parse(m, env);

    uboot_env_record get{}; // the last key: the longest walk
    std::strcpy(get.key, "bootfile");
    for (int i = 0; i < rounds; i++)
        bench_get(m, &get);

    uboot_env_record set[2] = {};
    std::strcpy(set[0].key, "serverip");
    std::strcpy(set[0].value, "192.168.1.3");
    set[1] = set[0];
    std::strcpy(set[1].value, "192.168.1.4");
    for (int i = 0; i < rounds; i++)
        bench_set(m, &set[i % 2]); // a change each time: always written

    // A script of ten lines, sets and deletes, as one change set; the two
    // alternate, so each is written.
    std::string changes[2];
    for (int i = 0; i < 2; i++) {
        const std::string n = std::to_string(i);
        const std::pair<std::string, std::string> lines[] = {
            {"serverip", "192.168.1.1" + n},
            {"update_ip", "10.0.0.1" + n},
            {"device_type", "gateway"},
            {"identification", "board " + n},
            {"bootargs", "mem=42M console=ttyS0,115200n8 quiet"},
            {"device_type", ""},
            {"update_ip", ""},
            {"update_ip", "10.0.0.2" + n},
            {"identification", ""},
            {"serverip", "192.168.1.2" + n},
        };
        for (const auto &[key, value] : lines) {
            changes[i] += key;
            changes[i] += '\0';
            changes[i] += value;
            changes[i] += '\0';
        }
    }
    for (int i = 0; i < rounds; i++)
        bench_change(m, changes[i % 2]);
    uenv_host_manager_delete(m);

    for (int i = 0; i < rounds; i++) {
        uboot_env_manager *parsed = uenv_host_manager_new();
        std::memcpy(work, full, sizeof(work));
        bench_choose_and_parse(parsed, work, boot);
        uenv_host_manager_delete(parsed);
    }
    std::printf("%d rounds of get, set, change set and choose+parse; count them with bench/kelubootenv-callgrind\n",
                rounds);
    return 0;
}
