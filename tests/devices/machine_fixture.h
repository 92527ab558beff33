#pragma once

// A CApp and a CLocalComputer over a fake machine, for the device tests.

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "core/app.h"
#include "devices/local_computer.h"
#include "filesystems/found_object_stream.h"
#include "tests/devices/fake_devices.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {

class MachineTest : public ::testing::Test {
  protected:
    MachineTest() : system_(dir_.path() / "machine") {
        core::CAppOptions options;
        options.storePath = dir_ / "registry.reg";
        options.languageFolder = dir_ / "Languages";
        app_ = std::make_unique<core::CApp>(std::move(options));
        app_->LoadSettings();
        opener_ = std::make_shared<FakeOpener>();
    }

    // Builds the computer over the fake tree (listing it when `list`).
    devices::CLocalComputer& Computer(bool list = true,
                                      std::shared_ptr<platform::DeviceOpener> opener = nullptr) {
        if (!computer_) {
            devices::LocalComputerOptions options;
            options.roots = {system_.sys(), system_.dev(), system_.mountInfo()};
            options.opener = opener ? opener : opener_;
            options.listDrives = list;
            options.followMediaChanges = false;
            computer_ = std::make_unique<devices::CLocalComputer>(*app_, std::move(options));
            computer_->Log().SetTimestamps(false);
        }
        return *computer_;
    }

    // The shipped formats in the store and the computer's database.
    void LoadShippedSignatures() {
        std::string error;
        if (app_->Store().KeyExists("Software\\Quarnel\\Duzez\\1.0\\Signatures"))
            return;
        EXPECT_TRUE(app_->Store().ImportFile(
            std::filesystem::path(DUZEZ_SOURCE_DIR_DEFAULT) / "data" / "signatures.reg", &error))
            << error;
        computer_->Signatures().LoadDatabase();
    }

    // Path (folder path + name) -> object, for every listed object of a file system.
    static std::map<std::string, const filesystems::FoundObject*> Listing(
        devices::CVolume& volume) {
        std::map<std::string, const filesystems::FoundObject*> out;
        auto& tree = *volume.FoundObjectTree;
        for (const filesystems::FoundObject* object : tree.ListedObjects()) {
            if (object == &volume.TreeNode || object == &tree.RootFolder() ||
                object == &volume.BootObject) {
                continue;
            }
            out[tree.GetFolderPath(*object) + std::string(object->GetName())] = object;
        }
        return out;
    }

    // An object's data as the recovery would read it; `damage` receives what could not be.
    static std::string ReadBack(devices::CVolume& volume, const filesystems::FoundObject& object,
                                filesystems::ReadDamage* damage = nullptr) {
        filesystems::FoundObjectStream stream(volume, &object);
        std::string bytes(static_cast<std::size_t>(object.Size), '\0');
        if (object.Size != 0) {
            EXPECT_EQ(
                stream.Read(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size())),
                object.Size);
        }
        if (damage != nullptr)
            *damage = stream.Damage;
        return bytes;
    }

    std::vector<std::string> ErrorLines() {
        std::vector<std::string> errors;
        for (const auto& line : computer_->Log().Lines()) {
            if (line.rfind("ERR: ", 0) == 0) {
                errors.push_back(line);
            }
        }
        return errors;
    }

    TempFolder dir_;
    FakeSystem system_;
    std::unique_ptr<core::CApp> app_;
    std::shared_ptr<FakeOpener> opener_;
    std::unique_ptr<devices::CLocalComputer> computer_;
};

}  // namespace duzez::test
