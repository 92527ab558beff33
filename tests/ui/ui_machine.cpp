#include "tests/ui/ui_machine.h"

#include <gtest/gtest.h>

namespace duzez::test {

UiMachine::UiMachine(const std::filesystem::path& home,
                     std::optional<std::filesystem::path> languages)
    : config_("XDG_CONFIG_HOME", (home / "config").string()),
      state_("XDG_STATE_HOME", (home / "state").string()),
      cache_("XDG_CACHE_HOME", (home / "cache").string()),
      data_("XDG_DATA_HOME", (home / "data").string()) {
    core::CAppOptions options;
    options.storePath = home / "config" / "registry.reg";
    options.languageFolder = languages.value_or(home / "no-languages");
    app_ = std::make_unique<core::CApp>(std::move(options));
    app_->LoadSettings();
    devices::LocalComputerOptions machine;
    machine.listDrives = false;
    machine.followMediaChanges = false;
    computer_ = std::make_unique<devices::CLocalComputer>(*app_, std::move(machine));
    computer_->LoadSignatures();
    modes_ = std::make_unique<ui::InterfaceModes>(*app_, *computer_, questions_);
    // The windows' own texts follow the interface language, as in the program.
    translator_ = std::make_unique<ui::LanguageTranslator>(app_->Languages());
    QCoreApplication::installTranslator(translator_.get());
}

UiMachine::~UiMachine() {
    QCoreApplication::removeTranslator(translator_.get());
    if (QWidget* window = modes_->Current()) {
        // Closing is not what these tests look at: no questions, no exit.
        app_->Settings().SetFlag(core::CSettings::kConfirmShutdown, false);
        app_->Settings().SetFlag(core::CSettings::kConfirmScanAbort, false);
        window->close();
        delete window;
    }
    QApplication::processEvents();
}

ui::MainFrame& UiMachine::Frame() {
    if (modes_->Current() == nullptr)
        modes_->SwitchMode(32841);
    return *qobject_cast<ui::MainFrame*>(modes_->Current());
}

bool HaveCardTools() {
    return HaveTool("mkfs.fat") && HaveTool("mcopy");
}

std::filesystem::path MakeCameraCard(const std::filesystem::path& folder) {
    const auto card = folder / "card.img";
    const std::string image = "-i '" + card.string() + "'";
    std::string steps =
        "mkfs.fat -C -F 16 -s 4 '" + card.string() + "' 20000 && export MTOOLS_SKIP_CHECK=1";
    steps += " && mmd " + image + " ::/DCIM ::/DCIM/100CANON ::/MISC";
    for (int n = 1; n <= 4; ++n) {
        const std::string name = "IMG_000" + std::to_string(n) + ".JPG";
        WriteFile(folder / name, "\xFF\xD8\xFF\xE0" + Pattern(20000 + n * 3000, n + 2));
        steps += " && mcopy " + image + " '" + (folder / name).string() + "' ::/DCIM/100CANON/";
    }
    steps += " && mdel " + image + " ::/DCIM/100CANON/IMG_0003.JPG";
    if (!RunCommand(steps)) {
        ADD_FAILURE() << "the card could not be made: " << steps;
        return {};
    }
    return card;
}

void AnalysedCardTest::SetUp() {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    card_ = MakeCameraCard(dir_.path());
    ASSERT_FALSE(card_.empty());
    machine_ = std::make_unique<UiMachine>(dir_ / "home");
    auto& frame = machine_->Frame();
    volume_ = frame.LoadImageFile(QString::fromStdString(card_.string()));
    ASSERT_NE(volume_, nullptr);
    frame.RunCommand(32774);  // Start Analyzing
    ASSERT_TRUE(WaitUntil([this] { return !machine_->App().IsBusy(); }));
    frame.DrainMessages();
    tree_ = volume_->FoundObjectTree.get();
}

filesystems::FoundObject* AnalysedCardTest::Named(std::string_view name) const {
    for (filesystems::FoundObject* object : tree_->ListedObjects()) {
        if (object->GetName() == name)
            return object;
    }
    ADD_FAILURE() << "no " << name;
    return nullptr;
}

}  // namespace duzez::test
