// duzez-open-device: started by the desktop program through pkexec when udisks2 is
// absent. It opens one block device below /dev read-only, sends the descriptor back over
// the socket it was given as standard output, and exits. It never writes to a device and
// never opens anything but the one device it was asked for.

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/device_handover.h"

namespace {

constexpr int kRefused = 2;
constexpr int kFailed = 1;

int Refuse(const std::string& why) {
    std::fprintf(stderr, "duzez-open-device: %s\n", why.c_str());
    return kRefused;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2)
        return Refuse("usage: duzez-open-device /dev/DEVICE (started by duzez)");
    struct stat output {};
    if (::fstat(1, &output) != 0 || !S_ISSOCK(output.st_mode))
        return Refuse("standard output must be the socket duzez passes; run duzez instead");
    std::string error;
    const duzez::platform::UniqueFd device =
        duzez::platform::OpenBlockDeviceForHandover(argv[1], error);
    if (!device)
        return Refuse(std::string(argv[1]) + ": " + error);
    if (!duzez::platform::SendDescriptor(1, device.get())) {
        std::perror("duzez-open-device: cannot hand the device over");
        return kFailed;
    }
    return 0;
}
