// login1-stand-in FILE: answers for systemd-logind on a test's own bus (the one
// DBUS_SYSTEM_BUS_ADDRESS names), since logind itself runs only where systemd runs the
// machine. It owns org.freedesktop.login1 and serves the Manager's IdleHint and
// IdleSinceHintMonotonic from FILE, read afresh on every call: "HINT SINCE", HINT 0 or 1 and
// SINCE in microseconds of CLOCK_MONOTONIC. Prints "ready" once it owns the name.
#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdio>
#include <fstream>

namespace {

struct Idle {
    int hint = 0;
    std::uint64_t since = 0;
};

Idle read_idle(void* file) {
    Idle idle;
    std::ifstream in(static_cast<const char*>(file));
    in >> idle.hint >> idle.since;
    return idle;
}

int get_hint(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* file, sd_bus_error*) {
    return sd_bus_message_append(reply, "b", read_idle(file).hint);
}

int get_since(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* file, sd_bus_error*) {
    return sd_bus_message_append(reply, "t", read_idle(file).since);
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("IdleHint", "b", get_hint, 0, 0),
    SD_BUS_PROPERTY("IdleSinceHintMonotonic", "t", get_since, 0, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: login1-stand-in FILE\n");
        return 2;
    }
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r >= 0)
        r = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     kManager, argv[1]);
    if (r >= 0) r = sd_bus_request_name(bus, "org.freedesktop.login1", 0);
    if (r < 0) {
        std::fprintf(stderr, "login1-stand-in: error %d\n", -r);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        r = sd_bus_process(bus, nullptr);
        if (r < 0) return 1;
        if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
    }
}
