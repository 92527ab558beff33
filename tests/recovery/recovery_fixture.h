#pragma once

// A source image with a known byte pattern, objects placed on it by hand, and scripted
// answers to the recovery's questions, for the recovery tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "recovery/recovery.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::recovery {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

// Runs one recovery of `objects` into `destination` and waits for it.
inline void RunRecovery(CRecovery& engine, std::vector<FoundObject*> objects,
                        const std::filesystem::path& destination) {
    engine.RecoveryList = std::move(objects);
    engine.StartRecovery(destination);
    engine.Wait();
}

class ScriptedAnswers : public RecoveryQuestions {
  public:
    SizeAnswer AskProbableSize(const FoundObject&) override {
        ++asked;
        return answer;
    }
    std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path&) override {
        return other;
    }
    SizeAnswer answer;
    std::optional<std::filesystem::path> other;
    int asked = 0;
};

// Calls `act` when a block of the given object has been written (an abort, a discard).
class AtFirstBlockOf : public platform::MessageTarget {
  public:
    AtFirstBlockOf(const FoundObject* object, std::function<void()> act)
        : object_(object), act_(std::move(act)) {}
    bool Post(platform::Message message) override {
        if (message.id == WM_RECOVERY_PROGRESS &&
            message.wParam == reinterpret_cast<std::uintptr_t>(object_)) {
            act_();
        }
        return true;
    }
    std::int64_t Send(const platform::Message&) override { return 0; }

  private:
    const FoundObject* object_;
    std::function<void()> act_;
};

class RecoveryTest : public test::MachineTest {
  protected:
    // An image volume of 16 MiB whose byte i is i * 7 + i / 4096.
    devices::CVolume& Source() {
        std::string bytes(16 << 20, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 4096);
        test::WriteFile(dir_ / "card.dsk", bytes);
        source_ = bytes;
        std::string error;
        devices::CVolume* volume =
            Computer(false, platform::MakeLocalDeviceOpener()).LoadImage(dir_ / "card.dsk", error);
        computer_->ActiveVolume = volume;
        LoadShippedSignatures();
        return *volume;
    }
    FoundObject* Add(devices::CVolume& volume, std::uint64_t id, std::uint64_t parent,
                     std::string name, std::uint64_t start, std::uint64_t size,
                     bool folder = false) {
        FoundObject record;
        record.Id = id;
        record.ParentId = parent;
        record.Start = start;
        record.Size = size;
        record.SetName(std::move(name));
        record.Modified = 132000000000000000ull;
        record.Created = record.Modified;
        if (folder)
            record.Flags |= ObjectFlags::Folder;
        return volume.FoundObjectTree->MergeObject(record);
    }
    void Root(devices::CVolume& volume) {
        volume.FoundObjectTree->RootFolder().Id = 5;
        volume.FoundObjectTree->AddObject(&volume.FoundObjectTree->RootFolder(), true);
    }
    std::vector<FoundObject*> Carved(devices::CVolume& volume, std::int32_t type,
                                     std::vector<std::uint64_t> starts) {
        volume.FoundObjectTree->BuildStartIndex();
        std::vector<FoundObject*> carved;
        for (std::uint64_t start : starts) {
            FoundObject item;
            item.Start = start;
            item.SignatureId = type;
            item.Flags = ObjectFlags::ExtentToNext | ObjectFlags::Deleted;
            carved.push_back(volume.FoundObjectTree->AddFoundFile(item).object);
        }
        return carved;
    }
    int LinesEqualTo(const std::string& text) {
        const auto lines = computer_->Log().Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), text));
    }
    // The names of the files and folders below `folder`, sorted, hidden ones included.
    static std::vector<std::string> FilesBelow(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            names.push_back(std::filesystem::relative(it->path(), folder).string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string source_;
    ScriptedAnswers answers_;
};

}  // namespace duzez::recovery
