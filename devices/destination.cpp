// Where recovered files may go: never onto the drive they are read from.

#include "devices/local_computer.h"
#include "platform/device_identity.h"

namespace duzez::devices {

bool CLocalComputer::DestinationOnSource(const std::filesystem::path& destination,
                                         CVolume* volume) const {
    if (volume == nullptr)
        return false;
    // The name of a file to be created below it: its nearest existing folder decides.
    const std::filesystem::path source = volume->GetDevicePath();
    if (platform::PathLiesOnSource(destination / "x", source, roots_.sys))
        return true;
    // An image inside the destination would be among the files a recovery writes beside.
    std::error_code ec;
    return std::filesystem::is_regular_file(source, ec) &&
           platform::FolderHolds(destination, source);
}

bool CLocalComputer::PrepareDestination(const std::filesystem::path& destination, bool silent) {
    if (DestinationOnSource(destination, ActiveVolume.load())) {
        if (!silent)
            log_.LogErrorMessage(core::StringId::DestinationOnSourceDrive);
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(destination, ec);
    if (std::filesystem::is_directory(destination, ec))
        return true;
    if (!silent)
        log_.LogErrorMessage(core::StringId::CantCreateFolder, destination.string());
    return false;
}

}  // namespace duzez::devices
