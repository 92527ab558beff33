// The per-file dialogs over real volumes: the information of a live and a deleted photo
// and their fragment, the probable-size question over a carved tree and through a running
// recovery, the "Try to open" warning and its setting, and a drive image written whole.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <optional>
#include <thread>

#include "filesystems/found_object_tree.h"
#include "recovery/probable_size.h"
#include "tests/ui/ui_machine.h"
#include "ui/dialogs/create_image_dialog.h"
#include "ui/dialogs/file_info_dialog.h"
#include "ui/dialogs/probable_size_dialog.h"
#include "ui/dialogs/try_open_warning.h"
#include "ui/explorer/file_list_model.h"
#include "ui/frame/commands.h"

namespace duzez::test {
namespace {

using filesystems::FoundObject;
using recovery::ProbableSize;
using recovery::SizeAnswer;
using recovery::SizeMethod;
using recovery::SizeScope;
using ui::FileInfoDialog;
using Field = ui::FileInfoDialog::Field;
using Info = ui::ProbableSizeDialog::Info;

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::int16_t kJpeg = 300;  // "JPEG image", 16384 KB by default
constexpr std::int16_t kPng = 301;

// Acts on the next modal dialog of type T once it is shown, from inside its own event
// loop; counts the dialogs it met.
template <typename T>
class AnswerModal {
  public:
    explicit AnswerModal(std::function<void(T*)> act) : act_(std::move(act)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog == last_)
                return;
            last_ = dialog;
            ++met;
            act_(dialog);
        });
        timer_.start();
    }
    int met = 0;

  private:
    std::function<void(T*)> act_;
    QTimer timer_;
    QPointer<T> last_;
};

QRadioButton* RadioNamed(QWidget* dialog, const QString& text) {
    for (QRadioButton* button : dialog->findChildren<QRadioButton*>()) {
        if (button->text() == text)
            return button;
    }
    ADD_FAILURE() << "no option " << text.toStdString();
    return nullptr;
}

// A camera card analysed in the explorer window.
class DialogCardTest : public AnalysedCardTest {};

TEST_F(DialogCardTest, DialogFileInformationOfALiveAndADeletedPhoto) {
    ASSERT_EQ(volume_->ClusterSize, 2048u) << "the card has 4 sectors a cluster";
    FoundObject* live = Named("IMG_0001.JPG");
    ASSERT_NE(live, nullptr);
    FileInfoDialog info(*volume_, *live, machine_->App());
    EXPECT_EQ(info.Text(Field::Name), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(info.Text(Field::Id), QString::number(live->Id));
    EXPECT_EQ(info.Text(Field::ParentId), QString::number(live->ParentId));
    EXPECT_EQ(info.Text(Field::ParentId), QString::number(Named("100CANON")->Id))
        << "the folder's id, in decimal";
    EXPECT_EQ(info.Text(Field::Offset), QString::number(live->Start));
    EXPECT_EQ(live->Start % 2048, 0u);
    // 4 + 23000 bytes take 12 clusters of 2048.
    EXPECT_EQ(info.Text(Field::Size), QStringLiteral("23004 bytes"));
    EXPECT_EQ(info.Text(Field::SizeOnDisk), QStringLiteral("24576 bytes"));
    EXPECT_EQ(info.Text(Field::Type).toStdString(), tree_->GetTypeName(*live));
    EXPECT_FALSE(info.Text(Field::Type).isEmpty());
    EXPECT_EQ(info.Text(Field::Status), QStringLiteral("Live"));
    EXPECT_EQ(info.Text(Field::Location), QStringLiteral("/DCIM/100CANON/"));
    EXPECT_FALSE(info.Text(Field::Modified).isEmpty());
    EXPECT_EQ(info.Text(Field::Modified), ui::LocalTimeText(live->Modified));
    EXPECT_EQ(info.Text(Field::Created), ui::LocalTimeText(live->Created));
    EXPECT_EQ(info.Text(Field::Accessed), ui::LocalTimeText(live->Accessed));
    // Names come from the disk: never read as markup.
    auto* name = info.findChild<QLabel*>(QStringLiteral("name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->textFormat(), Qt::PlainText);

    FoundObject* deleted = Named("_MG_0003.JPG");
    ASSERT_NE(deleted, nullptr);
    FileInfoDialog gone(*volume_, *deleted, machine_->App());
    EXPECT_EQ(gone.Text(Field::Status), QStringLiteral("Deleted"));
    EXPECT_EQ(gone.Text(Field::Size), QStringLiteral("29004 bytes"));
    EXPECT_EQ(gone.Text(Field::SizeOnDisk), QStringLiteral("30720 bytes"));
    EXPECT_EQ(gone.Text(Field::Location), QStringLiteral("/DCIM/100CANON/"));
    EXPECT_EQ(gone.Text(Field::Id), QString::number(deleted->Id));
    EXPECT_NE(gone.Text(Field::Offset), info.Text(Field::Offset));

    // A folder: its type and the folder it lies in.
    FileInfoDialog folder(*volume_, *Named("MISC"), machine_->App());
    EXPECT_EQ(folder.Text(Field::Type), QStringLiteral("Folder"));
    EXPECT_EQ(folder.Text(Field::Location), QStringLiteral("/"));
}

TEST_F(DialogCardTest, DialogSectorsListHoldsTheOneFragmentInSectors) {
    FoundObject* live = Named("IMG_0002.JPG");
    ASSERT_NE(live, nullptr);
    FileInfoDialog info(*volume_, *live, machine_->App());
    auto* button = info.findChild<QPushButton*>(QStringLiteral("sectorsList"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("Sectors List"));
    button->click();
    auto* view = info.findChild<ui::FileRunView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), QString::fromStdString(volume_->DisplayNameText()) +
                                       QStringLiteral(":IMG_0002.JPG [ Fragments: 1 ]"));
    QTreeWidget* list = view->List();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    const QTreeWidgetItem* header = list->headerItem();
    EXPECT_EQ(header->text(0), QStringLiteral("Begin"));
    EXPECT_EQ(header->text(1), QStringLiteral("End"));
    EXPECT_EQ(header->text(2), QStringLiteral("Count"));
    for (int column = 0; column < 3; ++column)
        EXPECT_EQ(list->columnWidth(column), 200);
    // 4 + 26000 bytes: 50 whole sectors.
    const QTreeWidgetItem* row = list->topLevelItem(0);
    const std::uint64_t begin = live->Start / 512;
    EXPECT_EQ(row->text(0), QString::number(begin));
    EXPECT_EQ(row->text(1), QString::number(begin + 50));
    EXPECT_EQ(row->text(2), QStringLiteral("50"));
    // The sectors are the photo's own: its first bytes are the JPEG mark.
    const std::string bytes = ReadFile(card_);
    EXPECT_EQ(bytes.substr(begin * 512, 4), std::string("\xFF\xD8\xFF\xE0"));
    view->close();
}

TEST(DialogFragment, SectorNumbersAndEmptyOrUnknownSizes) {
    FoundObject object;
    object.Start = 1024;
    object.Size = 1536;
    EXPECT_EQ(ui::FragmentOf(object), (ui::FileFragment{2, 5, 3}));
    object.Size = 1535;
    EXPECT_EQ(ui::FragmentOf(object), (ui::FileFragment{2, 4, 2})) << "whole sectors only";
    object.Size = 0;
    EXPECT_EQ(ui::FragmentOf(object), (ui::FileFragment{2, 2, 0}));
    object.Size = filesystems::kUnknownSize;
    EXPECT_EQ(ui::FragmentOf(object), (ui::FileFragment{2, 2, 0}));
    object.Start = 5ull << 40;
    object.Size = 4096;
    EXPECT_EQ(ui::FragmentOf(object), (ui::FileFragment{10737418240ull, 10737418248ull, 8}))
        << "64-bit positions";
}

// A 16 MiB image with files placed on it as the sector scan places them.
class DialogCarvedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_ = std::make_unique<UiMachine>(dir_ / "home");
        std::string bytes(16 << 20, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 4096);
        WriteFile(dir_ / "card.dsk", bytes);
        std::string error;
        volume_ = machine_->Computer().LoadImage(dir_ / "card.dsk", error);
        ASSERT_NE(volume_, nullptr) << error;
        machine_->Computer().ActiveVolume = volume_;
        // The tests run from the build tree, where the program's data is not installed.
        const auto shipped =
            std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data" /
            "signatures.reg";
        ASSERT_TRUE(machine_->App().Store().ImportFile(shipped, &error)) << error;
        machine_->Computer().Signatures().LoadDatabase();
        ASSERT_NE(machine_->Computer().Signatures().FindSignatureById(kJpeg), nullptr);
    }
    std::vector<FoundObject*> Carved(std::int16_t type, std::vector<std::uint64_t> starts) {
        volume_->FoundObjectTree->BuildStartIndex();
        std::vector<FoundObject*> carved;
        for (std::uint64_t start : starts) {
            FoundObject item;
            item.Start = start;
            item.SignatureId = type;
            item.Flags = filesystems::ObjectFlags::ExtentToNext | filesystems::ObjectFlags::Deleted;
            carved.push_back(volume_->FoundObjectTree->AddFoundFile(item).object);
        }
        return carved;
    }
    ProbableSize Question(const FoundObject& object) {
        return ProbableSize(object, *volume_->FoundObjectTree, &machine_->Computer().Signatures());
    }

    TempFolder dir_;
    std::unique_ptr<UiMachine> machine_;
    devices::CVolume* volume_ = nullptr;
};

TEST_F(DialogCarvedTest, DialogProbableSizeShowsTheFiguresOfTheHit) {
    const auto jpegs = Carved(kJpeg, {1 * MiB, 4 * MiB});
    Carved(kPng, {2 * MiB + 1536});
    const ProbableSize question = Question(*jpegs[0]);
    ui::ProbableSizeDialog dialog(question, machine_->App());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Enter probable file size"));
    EXPECT_TRUE(dialog.Text(Info::Explanation)
                    .startsWith(QStringLiteral("The file of the 'JPEG image' type is found")));
    EXPECT_EQ(dialog.Text(Info::Offset), QStringLiteral("1048576"));
    EXPECT_EQ(dialog.Text(Info::Name), QStringLiteral("IMG_1048576.jpg"));
    EXPECT_EQ(dialog.Text(Info::Type), QStringLiteral("JPEG image"));
    EXPECT_EQ(dialog.Text(Info::Condition), QStringLiteral("Deleted"));
    EXPECT_EQ(dialog.Text(Info::DefaultSize), QStringLiteral("16384 KBytes"));
    EXPECT_EQ(dialog.Text(Info::NextAny), QStringLiteral("1025 KBytes"));
    EXPECT_EQ(dialog.Text(Info::NextSame), QStringLiteral("3072 KBytes"));
    for (const char* text :
         {"The default file size for this file type is:", "Distance to the next file of any type:",
          "Distance to the next file of the same type:", "Custom size:", "This file only",
          "All files of this type", "All files of any type"}) {
        EXPECT_NE(RadioNamed(&dialog, QString::fromUtf8(text)), nullptr);
    }
    EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.SkipButton()->text(), QStringLiteral("Skip File"));
    EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("Cancel"));

    // As it opens: the default size, this file only, the custom size prefilled but off.
    const auto choice = dialog.CurrentChoice();
    EXPECT_EQ(choice.sizeOption, 0);
    EXPECT_EQ(choice.scope, 0);
    EXPECT_EQ(choice.custom, (recovery::CustomSize{1, recovery::SizeUnit::MB}));
    auto* number = dialog.findChild<QLineEdit*>(QStringLiteral("customNumber"));
    auto* unit = dialog.findChild<QComboBox*>(QStringLiteral("customUnit"));
    ASSERT_NE(number, nullptr);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(number->text(), QStringLiteral("1"));
    EXPECT_FALSE(number->isEnabled());
    RadioNamed(&dialog, QStringLiteral("Custom size:"))->click();
    EXPECT_TRUE(number->isEnabled());
    EXPECT_TRUE(unit->isEnabled());

    // The hit with nothing after it and a hostile-looking name: plain text, zero distances.
    FoundObject item;
    item.Start = 12 * MiB;
    item.SignatureId = kJpeg;
    item.Flags = filesystems::ObjectFlags::ExtentToNext;
    item.SetName("<b>x</b>.jpg");
    FoundObject* named = volume_->FoundObjectTree->AddFoundFile(item).object;
    ASSERT_NE(named, nullptr);
    const ProbableSize last = Question(*named);
    ui::ProbableSizeDialog lastDialog(last, machine_->App());
    EXPECT_EQ(lastDialog.Text(Info::NextAny), QStringLiteral("0 KBytes"));
    EXPECT_EQ(lastDialog.Text(Info::Condition), QStringLiteral("Live"));
    EXPECT_EQ(lastDialog.Text(Info::Name), QString::fromStdString(last.Name()));
    for (QLabel* label : lastDialog.findChildren<QLabel*>()) {
        if (label->text() == QString::fromStdString(last.Name())) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_EQ(lastDialog.findChild<QLineEdit*>(QStringLiteral("customNumber"))->text(),
              QStringLiteral("-1"))
        << "an unknown size";
}

TEST_F(DialogCarvedTest, DialogProbableSizeAnswersEachChoiceAndScope) {
    const auto jpegs = Carved(kJpeg, {1 * MiB, 4 * MiB});
    Carved(kPng, {2 * MiB + 1536});
    const ProbableSize question = Question(*jpegs[0]);
    struct Case {
        const char* option;
        const char* scope;
        SizeMethod method;
        SizeScope expectedScope;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {"The default file size for this file type is:", "This file only", SizeMethod::Default,
         SizeScope::ThisFile, 16384 * KiB},
        {"Distance to the next file of any type:", "All files of this type", SizeMethod::NextAny,
         SizeScope::ThisType, 1 * MiB + 1536},
        {"Distance to the next file of the same type:", "All files of any type",
         SizeMethod::NextSame, SizeScope::AnyType, 3 * MiB},
        {"Custom size:", "This file only", SizeMethod::Custom, SizeScope::ThisFile, 300 * KiB},
    };
    for (const Case& c : cases) {
        ui::ProbableSizeDialog dialog(question, machine_->App());
        RadioNamed(&dialog, QString::fromUtf8(c.option))->click();
        RadioNamed(&dialog, QString::fromUtf8(c.scope))->click();
        dialog.findChild<QLineEdit*>(QStringLiteral("customNumber"))
            ->setText(QStringLiteral("300"));
        dialog.findChild<QComboBox*>(QStringLiteral("customUnit"))->setCurrentIndex(1);
        dialog.OkButton()->click();
        const SizeAnswer answer = dialog.Answer();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.option;
        EXPECT_EQ(answer.result, SizeAnswer::Result::Ok) << c.option;
        EXPECT_EQ(answer.method, c.method) << c.option;
        EXPECT_EQ(answer.scope, c.expectedScope) << c.option;
        EXPECT_EQ(answer.customBytes, 300 * KiB) << c.option;
        EXPECT_EQ(question.SizeFor(answer), c.bytes) << c.option;
    }

    ui::ProbableSizeDialog skipped(question, machine_->App());
    skipped.SkipButton()->click();
    EXPECT_EQ(skipped.Answer().result, SizeAnswer::Result::Skip);
    ui::ProbableSizeDialog cancelled(question, machine_->App());
    cancelled.CancelButton()->click();
    EXPECT_EQ(cancelled.Answer().result, SizeAnswer::Result::Cancel);
    ui::ProbableSizeDialog closed(question, machine_->App());
    closed.show();
    closed.close();
    EXPECT_EQ(closed.Answer().result, SizeAnswer::Result::Cancel) << "closing is Cancel";
}

TEST_F(DialogCarvedTest, DialogSizeQuestionsAnswerTheRecoveryThreadOnTheWindowsThread) {
    const auto jpegs = Carved(kJpeg, {1 * MiB, 5 * MiB});
    Carved(kPng, {3 * MiB});
    ui::DialogSizeQuestions questions(machine_->App(), machine_->Questions(), nullptr);
    {
        std::vector<QString> names;
        // Each question: the next file of the same type, for this file only.
        AnswerModal<ui::ProbableSizeDialog> answer([&](ui::ProbableSizeDialog* dialog) {
            EXPECT_EQ(QThread::currentThread(), QApplication::instance()->thread());
            names.push_back(dialog->Text(Info::Name));
            RadioNamed(dialog, QStringLiteral("Distance to the next file of the same type:"))
                ->click();
            dialog->OkButton()->click();
        });
        recovery::CRecovery engine(machine_->Computer());
        engine.SetQuestions(&questions);
        engine.RecoveryList = {jpegs[0], jpegs[1]};
        engine.StartRecovery(dir_ / "out");
        const bool finished = WaitUntil([&] { return engine.Finished(); });
        EXPECT_TRUE(finished);
        if (!finished) {
            // Joining a thread that waits for this one would hang the test instead.
            engine.AbortRecovery();
            WaitUntil([&] { return engine.Finished(); });
        }
        engine.Wait();
        EXPECT_EQ(answer.met, 2) << "'this file only' asks again for the second";
        EXPECT_EQ(names, (std::vector<QString>{QStringLiteral("IMG_1048576.jpg"),
                                               QStringLiteral("IMG_5242880.jpg")}));
        ASSERT_EQ(engine.Results.size(), 2u);
        std::error_code ec;
        EXPECT_EQ(std::filesystem::file_size(engine.Results[0].path, ec), 4 * MiB);
        // No JPEG follows the second: the type's default, cut at the end of the volume.
        EXPECT_EQ(std::filesystem::file_size(engine.Results[1].path, ec), 11 * MiB);
    }

    // On the window's own thread the dialog is shown directly.
    const ProbableSize question = Question(*jpegs[0]);
    AnswerModal<ui::ProbableSizeDialog> skip(
        [](ui::ProbableSizeDialog* dialog) { dialog->SkipButton()->click(); });
    EXPECT_EQ(questions.AnswerSizeQuestion(question).result, SizeAnswer::Result::Skip);
    EXPECT_EQ(skip.met, 1);
}

TEST_F(DialogCarvedTest, DialogOtherDestinationAsksThenOffersAFolder) {
    ui::DialogSizeQuestions questions(machine_->App(), machine_->Questions(), nullptr);
    const auto refused = dir_ / "refused";
    std::optional<std::optional<std::filesystem::path>> declined;
    {
        machine_->Questions().answers = {false};
        std::thread recovery([&] { declined = questions.AskOtherDestination(refused); });
        EXPECT_TRUE(WaitUntil([&] { return declined.has_value(); }));
        recovery.join();
    }
    ASSERT_TRUE(declined.has_value());
    EXPECT_FALSE(declined->has_value()) << "No: nothing to go on with";
    ASSERT_EQ(machine_->Questions().asked.size(), 1u);
    EXPECT_TRUE(machine_->Questions().asked[0].contains(
        QStringLiteral("Select another destination folder for recovered files?")));

    std::filesystem::create_directories(dir_ / "elsewhere");
    const QString elsewhere = QString::fromStdString((dir_ / "elsewhere").string());
    AnswerModal<QFileDialog> pick([&](QFileDialog* dialog) {
        dialog->setDirectory(elsewhere);
        dialog->selectFile(elsewhere);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own is protected
    });
    std::optional<std::optional<std::filesystem::path>> chosen;
    std::thread recovery([&] { chosen = questions.AskOtherDestination(refused); });
    EXPECT_TRUE(WaitUntil([&] { return chosen.has_value(); }));
    recovery.join();
    EXPECT_EQ(pick.met, 1);
    ASSERT_TRUE(chosen.has_value() && chosen->has_value());
    EXPECT_TRUE(std::filesystem::equivalent(**chosen, dir_ / "elsewhere"));
}

class DialogTryOpenTest : public ::testing::Test {
  protected:
    TempFolder dir_;
    std::unique_ptr<UiMachine> machine_ = std::make_unique<UiMachine>(dir_ / "home");
};

TEST_F(DialogTryOpenTest, DialogTryOpenWarningAndItsSetting) {
    auto& settings = machine_->App().Settings();
    ASSERT_FALSE(settings.NoTryOpenWarning());
    {
        // Cancel ends the command and stores nothing, even with the box ticked.
        AnswerModal<ui::TryOpenWarning> cancel([](ui::TryOpenWarning* warning) {
            EXPECT_EQ(warning->windowTitle(), QStringLiteral("Warning!"));
            EXPECT_EQ(warning->DontShowAgain()->text(),
                      QStringLiteral("Don't show this warning again."));
            warning->DontShowAgain()->setChecked(true);
            warning->reject();
        });
        EXPECT_FALSE(ui::ConfirmTryOpen(machine_->App(), nullptr));
        EXPECT_EQ(cancel.met, 1);
        EXPECT_FALSE(settings.NoTryOpenWarning());
    }
    {
        // OK without the box: goes on, and warns the next time.
        AnswerModal<ui::TryOpenWarning> ok([](ui::TryOpenWarning* warning) { warning->accept(); });
        EXPECT_TRUE(ui::ConfirmTryOpen(machine_->App(), nullptr));
        EXPECT_EQ(ok.met, 1);
        EXPECT_FALSE(settings.NoTryOpenWarning());
    }
    {
        AnswerModal<ui::TryOpenWarning> tick([](ui::TryOpenWarning* warning) {
            warning->DontShowAgain()->setChecked(true);
            warning->accept();
        });
        EXPECT_TRUE(ui::ConfirmTryOpen(machine_->App(), nullptr));
        EXPECT_EQ(tick.met, 1);
        EXPECT_TRUE(settings.NoTryOpenWarning());
        EXPECT_EQ(settings.Word(core::CSettings::kNoTryOpenWarning), 1u) << "at offset 92";
    }
    {
        // Set: no dialog at all (one that came would be refused here, and the answer false).
        AnswerModal<ui::TryOpenWarning> none(
            [](ui::TryOpenWarning* warning) { warning->reject(); });
        EXPECT_TRUE(ui::ConfirmTryOpen(machine_->App(), nullptr));
        QApplication::processEvents();
        EXPECT_EQ(none.met, 0);
    }
    // The choice outlives the program run.
    machine_.reset();
    UiMachine next(dir_ / "home");
    EXPECT_TRUE(next.App().Settings().NoTryOpenWarning());
}

class DialogImageTest : public DialogCardTest {
  protected:
    void SetUp() override {
        DialogCardTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::filesystem::create_directories(dir_ / "user");
        std::string error;
        volume_ = machine_->Computer().LoadImage(card_, error);
        ASSERT_NE(volume_, nullptr) << error;
    }
    ScopedEnv home_{"HOME", (dir_ / "user").string()};
};

TEST_F(DialogImageTest, DialogImageProposesItsNameAndRefusesTheSourceDrive) {
    ui::CreateImageDialog dialog(*volume_, machine_->Questions());
    const QString home = QString::fromStdString((dir_ / "user").string());
    const QString label = QString::fromStdString(volume_->VolumeLabel).trimmed();
    // The image file's name stands in for the drive; the card's label follows it.
    const QString expected = label.isEmpty()
                                 ? QStringLiteral("Image from drive card.dsk")
                                 : QStringLiteral("Image from drive card (%1).dsk").arg(label);
    EXPECT_EQ(dialog.ImagePath(), QDir(home).filePath(expected));
    EXPECT_NE(dialog.SkipUnreadable(), nullptr);
    EXPECT_EQ(dialog.SkipUnreadable()->text(), QStringLiteral("Skip unreadable sectors"));

    // Beside the image it is made from, and over the image itself: refused, nothing written.
    const std::string before = ReadFile(card_);
    for (const auto& target : {dir_ / "copy.dsk", card_}) {
        dialog.SetImagePath(QString::fromStdString(target.string()));
        machine_->Questions().told.clear();
        EXPECT_FALSE(dialog.Start()) << target;
        EXPECT_FALSE(dialog.Running());
        ASSERT_EQ(machine_->Questions().told.size(), 1u) << target;
        EXPECT_TRUE(machine_->Questions().told[0].startsWith(QStringLiteral("Error: ")));
        EXPECT_TRUE(machine_->Questions().asked.empty()) << "refused before any question";
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "copy.dsk"));
    EXPECT_EQ(ReadFile(card_), before);
}

TEST_F(DialogImageTest, DialogImageOfTheCardIsByteIdentical) {
    std::filesystem::create_directories(dir_ / "out");
    WriteFile(dir_ / "out" / "kept.dsk", "keep");
    ui::CreateImageDialog dialog(*volume_, machine_->Questions());
    QSignalSpy created(&dialog, &ui::CreateImageDialog::ImageCreated);

    // An existing file is replaced only when the user says so.
    dialog.SetImagePath(QString::fromStdString((dir_ / "out" / "kept.dsk").string()));
    machine_->Questions().answers = {false};
    EXPECT_FALSE(dialog.Start());
    EXPECT_EQ(machine_->Questions().asked.size(), 1u);
    EXPECT_EQ(ReadFile(dir_ / "out" / "kept.dsk"), "keep");

    const auto image = dir_ / "out" / "copy.dsk";
    dialog.SetImagePath(QString::fromStdString(image.string()));
    ASSERT_TRUE(dialog.Start());
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Running() && created.count() > 0; }));
    ASSERT_EQ(created.count(), 1);
    EXPECT_EQ(created.at(0).at(0).toString(), QString::fromStdString(image.string()));
    EXPECT_EQ(dialog.CreatedImage(), QString::fromStdString(image.string()));
    EXPECT_EQ(dialog.Percent(), 100);
    EXPECT_TRUE(machine_->Questions().told.empty());
    const std::string original = ReadFile(card_);
    const std::string copy = ReadFile(image);
    EXPECT_EQ(copy.size(), original.size());
    EXPECT_TRUE(copy == original) << "the image differs from the card";
    EXPECT_FALSE(dialog.Start()) << "one image a dialog";

    // The next proposal is in the folder of this image.
    EXPECT_EQ(QFileInfo(ui::CreateImageDialog::ProposedPath(*volume_)).absolutePath(),
              QString::fromStdString((dir_ / "out").string()));
    dialog.reject();
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << "OK after a complete image";
}

}  // namespace
}  // namespace duzez::test
