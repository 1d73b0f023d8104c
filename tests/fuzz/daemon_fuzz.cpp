// The daemon's control path: arbitrary sequences of datagrams, as the
// control thread receives them, mixed with ends of the monitor's
// heartbeat window. Recorders replace the shell and the 5-s pause.
//
// Checked against a model of the supervisor after every event: what each
// datagram returns, the registered flag, the heartbeats waiting for the
// monitor, what a window does, and the kill, pause and relaunch it runs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "supervisor.h"

namespace {

std::vector<std::string> calls;

int record_shell(const char *command)
{
    calls.push_back(command);
    return 0;
}

unsigned record_pause(unsigned seconds)
{
    calls.push_back("pause " + std::to_string(seconds));
    return 0;
}

// What the supervisor should be doing.
struct model {
    bool registered = false;
    unsigned heartbeats = 0; // posted, not yet taken by a window
    std::vector<std::string> calls;

    void reboot()
    {
        registered = false;
        calls.insert(calls.end(), {KILL_COMMAND, "pause 5", LAUNCH_COMMAND});
    }

    int datagram(const std::uint8_t *bytes, std::size_t len)
    {
        if (len < sizeof(daemon_msg))
            return -1;
        std::int32_t cmd;
        std::memcpy(&cmd, bytes, sizeof cmd);
        if (cmd == DAEMON_CMD_REGISTER) {
            if (registered)
                return -1;
            registered = true;
            return 0;
        }
        if (!registered)
            return -1;
        if (cmd == DAEMON_CMD_HEARTBEAT) {
            heartbeats++;
            return 0;
        }
        if (cmd == DAEMON_CMD_REBOOT) {
            reboot();
            return 0;
        }
        return -1;
    }

    hb_window_result window()
    {
        if (heartbeats) {
            heartbeats--;
            return HB_ALIVE;
        }
        if (!registered)
            return HB_INSTANCE_GONE;
        reboot();
        return HB_TIMED_OUT;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The daemon's event lines would drown libFuzzer's own (on stderr).
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    g_supervisor_hooks = {record_shell, record_pause};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::reader in(data, size);
    static daemon_state state;
    state.registered = 0;
    state.registrations = 0;
    CHECK(monotonic_sem_init(&state.sem_hb, 0) == 0);
    calls.clear();
    model expected;
    std::size_t calls_checked = 0;

    while (!in.empty()) {
        std::uint8_t kind = in.u8();
        if (kind == fuzz::monitor_window) {
            // A window that has already run out: it takes a waiting
            // heartbeat or gives up on the instance at once.
            hb_window_result result = hb_check_window(&state, 0);
            CHECK(result == expected.window());
        } else {
            std::vector<std::uint8_t> datagram = in.take(kind % (fuzz::max_datagram + 1));
            int ret = handle_datagram(&state, datagram.data(),
                                      static_cast<ssize_t>(datagram.size()));
            CHECK(ret == expected.datagram(datagram.data(), datagram.size()));
        }
        CHECK(state.registered.load() == (expected.registered ? 1 : 0));
        CHECK(state.sem_hb.count == expected.heartbeats);
        CHECK(calls.size() == expected.calls.size());
        CHECK(std::equal(calls.begin() + calls_checked, calls.end(),
                         expected.calls.begin() + calls_checked));
        calls_checked = calls.size();
    }
    // A failed receive is dropped like a short datagram.
    CHECK(handle_datagram(&state, nullptr, -1) == -1);
    monotonic_sem_destroy(&state.sem_hb);
    return 0;
}
