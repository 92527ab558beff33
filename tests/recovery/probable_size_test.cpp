// The "Enter probable file size" question: the figures it shows for a file found by its
// signature, the custom size and its units, the choice turned into an answer, and how the
// recovery applies and remembers that answer.

#include "recovery/probable_size.h"

#include <gtest/gtest.h>

#include "signatures/signature_database.h"
#include "tests/recovery/recovery_fixture.h"

namespace duzez::recovery {
namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::int16_t kJpeg = 300;  // "JPEG image", default size 16384 KB
constexpr std::int16_t kPng = 301;   // "PNG image", default size 16384 KB

// Answers as the dialog would with a fixed choice, and keeps what it was shown.
class DialogAnswers : public RecoveryQuestions {
  public:
    struct Shown {
        std::string name;
        std::int64_t defaultKB, nextAnyKB, nextSameKB;
        std::uint64_t predicted;  // the size the dialog's answer gives, as it reckons
    };
    SizeAnswer AnswerSizeQuestion(const ProbableSize& question) override {
        const SizeAnswer answer = ProbableSize::Ok(choice);
        shown.push_back({question.Name(), question.DefaultSizeKB(), question.NextAnyKB(),
                         question.NextSameKB(), question.SizeFor(answer)});
        return answer;
    }
    std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path&) override {
        return std::nullopt;
    }
    ProbableSize::Choice choice;
    std::vector<Shown> shown;
};

class ProbableSizeTest : public RecoveryTest {
  protected:
    ProbableSize Question(devices::CVolume& volume, const FoundObject& object) {
        return ProbableSize(object, *volume.FoundObjectTree, &computer_->Signatures());
    }
    // The size of the file the last run wrote for `object`; 0 when it wrote none.
    static std::uint64_t WrittenSize(const CRecovery& engine, const FoundObject* object) {
        for (const FileResult& result : engine.Results) {
            std::error_code ec;
            if (result.object == object && !result.path.empty())
                return std::filesystem::file_size(result.path, ec);
        }
        return 0;
    }
    // Recovers `objects` into "out", the dialog answering every question with `choice`.
    CRecovery& RecoverAnswering(ProbableSize::Choice choice, std::vector<FoundObject*> objects) {
        dialog_.choice = choice;
        engine_ = std::make_unique<CRecovery>(*computer_);
        engine_->SetQuestions(&dialog_);
        RunRecovery(*engine_, std::move(objects), dir_ / "out");
        return *engine_;
    }
    DialogAnswers dialog_;
    std::unique_ptr<CRecovery> engine_;
};

TEST_F(ProbableSizeTest, FiguresForAHitFollowedByAnotherTypeAndByItsOwnType) {
    auto& volume = Source();
    // JPEGs at 1 MiB and 4 MiB, a PNG 1.5 KiB past 2 MiB between them.
    const auto jpegs = Carved(volume, kJpeg, {1 * MiB, 4 * MiB});
    Carved(volume, kPng, {2 * MiB + 1536});
    const ProbableSize question = Question(volume, *jpegs[0]);

    EXPECT_EQ(question.Offset(), 1 * MiB);
    EXPECT_EQ(question.Name(), "IMG_1048576.jpg");
    EXPECT_EQ(question.TypeName(), "JPEG image");
    EXPECT_TRUE(question.Deleted());
    EXPECT_EQ(question.DefaultSizeKB(), 16384);
    EXPECT_EQ(question.NextAnyKB(), 1025) << "1 MiB + 1536 bytes, in whole KB";
    EXPECT_EQ(question.NextSameKB(), 3072) << "the next JPEG, past the PNG";
    EXPECT_EQ(ProbableSize::KBText(question.NextAnyKB(), "KBytes"), "1025 KBytes");
    // Its size is the distance to the PNG, 1,050,112 bytes: more than 1 MiB.
    EXPECT_EQ(question.CustomPrefill(), (CustomSize{1, SizeUnit::MB}));

    // What each method gives in bytes, which the recovery writes.
    const auto sizeBy = [&](SizeMethod method, std::uint64_t custom = 0) {
        return question.SizeFor({SizeAnswer::Result::Ok, method, custom, SizeScope::ThisFile});
    };
    EXPECT_EQ(sizeBy(SizeMethod::Default), 16384 * KiB);
    EXPECT_EQ(sizeBy(SizeMethod::NextAny), 1 * MiB + 1536);
    EXPECT_EQ(sizeBy(SizeMethod::NextSame), 3 * MiB);
    EXPECT_EQ(sizeBy(SizeMethod::Custom, 4242), 4242u);
    EXPECT_EQ(question.SizeFor(ProbableSize::Skip()), filesystems::kUnknownSize);

    // The PNG: the next object of any type is the second JPEG; no PNG follows.
    FoundObject* png = volume.FoundObjectTree->FindAtStart(2 * MiB + 1536);
    ASSERT_NE(png, nullptr);
    const ProbableSize pngQuestion = Question(volume, *png);
    EXPECT_EQ(pngQuestion.TypeName(), "PNG image");
    EXPECT_EQ(pngQuestion.NextAnyKB(), 2046) << "2 MiB - 1536 bytes, in whole KB";
    EXPECT_EQ(pngQuestion.NextSameKB(), 0);
    EXPECT_EQ(
        pngQuestion.SizeFor({SizeAnswer::Result::Ok, SizeMethod::NextSame, 0, SizeScope::ThisFile}),
        16384 * KiB)
        << "no PNG follows: the default size";
}

TEST_F(ProbableSizeTest, TheLastHitAndAHitOfNoKnownTypeShowZeroAndMinusOne) {
    auto& volume = Source();
    const auto jpegs = Carved(volume, kJpeg, {3 * MiB, 9 * MiB});
    const ProbableSize last = Question(volume, *jpegs[1]);
    EXPECT_EQ(last.NextAnyKB(), 0);
    EXPECT_EQ(last.NextSameKB(), 0);
    EXPECT_EQ(ProbableSize::KBText(last.NextAnyKB(), "KBytes"), "0 KBytes");
    EXPECT_EQ(last.CustomPrefill(), (CustomSize{-1, SizeUnit::Bytes}))
        << "nothing follows it: its size is unknown";
    EXPECT_EQ(last.SizeFor({SizeAnswer::Result::Ok, SizeMethod::NextAny, 0, SizeScope::ThisFile}),
              16384 * KiB);

    // A hit whose type the database does not know: no default size.
    FoundObject item;
    item.Start = 12 * MiB;
    item.Flags = ObjectFlags::ExtentToNext | ObjectFlags::Deleted;
    FoundObject* unknown = volume.FoundObjectTree->AddFoundFile(item).object;
    ASSERT_NE(unknown, nullptr);
    const ProbableSize question = Question(volume, *unknown);
    EXPECT_EQ(question.DefaultSizeKB(), 0);
    EXPECT_EQ(question.Name(), "lost_file_12582912");
    EXPECT_EQ(
        question.SizeFor({SizeAnswer::Result::Ok, SizeMethod::Default, 0, SizeScope::ThisFile}),
        filesystems::kUnknownSize);
    EXPECT_EQ(Question(volume, *jpegs[1]).NextAnyKB(), 3072) << "the new hit follows it now";

    // Without a database nothing has a default size, and a live object says so.
    FoundObject live = *jpegs[0];
    live.Flags &= static_cast<std::uint16_t>(~ObjectFlags::Deleted);
    const ProbableSize bare(live, *volume.FoundObjectTree, nullptr);
    EXPECT_EQ(bare.DefaultSizeKB(), 0);
    EXPECT_EQ(bare.NextSameKB(), 6144);
    EXPECT_FALSE(bare.Deleted());
}

TEST_F(ProbableSizeTest, TheCustomSizeInItsUnits) {
    EXPECT_EQ(UnitBytes(SizeUnit::Bytes), 1u);
    EXPECT_EQ(UnitBytes(SizeUnit::KB), 1024u);
    EXPECT_EQ(UnitBytes(SizeUnit::MB), 1048576u);
    EXPECT_EQ(UnitBytes(SizeUnit::GB), 1073741824u);

    EXPECT_EQ(LargestFittingUnit(5000000), (CustomSize{4, SizeUnit::MB}));
    EXPECT_EQ(LargestFittingUnit(1024), (CustomSize{1024, SizeUnit::Bytes}));
    EXPECT_EQ(LargestFittingUnit(1025), (CustomSize{1, SizeUnit::KB}));
    EXPECT_EQ(LargestFittingUnit(1048576), (CustomSize{1024, SizeUnit::KB}));
    EXPECT_EQ(LargestFittingUnit(1048577), (CustomSize{1, SizeUnit::MB}));
    EXPECT_EQ(LargestFittingUnit(1073741824), (CustomSize{1024, SizeUnit::MB}));
    EXPECT_EQ(LargestFittingUnit(1073741825), (CustomSize{1, SizeUnit::GB}));
    EXPECT_EQ(LargestFittingUnit(0), (CustomSize{0, SizeUnit::Bytes}));
    EXPECT_EQ(LargestFittingUnit(filesystems::kUnknownSize), (CustomSize{-1, SizeUnit::Bytes}));

    EXPECT_EQ(CustomBytes(2, SizeUnit::GB), 2147483648u) << "in 64 bits";
    EXPECT_EQ(CustomBytes(3, SizeUnit::KB), 3072u);
    EXPECT_EQ(CustomBytes(7, SizeUnit::MB), 7 * MiB);
    EXPECT_EQ(CustomBytes(0, SizeUnit::GB), 0u);
    EXPECT_EQ(CustomBytes(-1, SizeUnit::Bytes), filesystems::kUnknownSize);
    EXPECT_EQ(CustomBytes(-5, SizeUnit::MB), filesystems::kUnknownSize);
    EXPECT_EQ(CustomBytes(std::int64_t{1} << 40, SizeUnit::GB), filesystems::kUnknownSize)
        << "too large for 64 bits is no size, not a wrapped one";
}

TEST_F(ProbableSizeTest, TheDialogsChoiceBecomesTheAnswer) {
    auto& volume = Source();
    const auto jpegs = Carved(volume, kJpeg, {1 * MiB, 6 * MiB});
    const ProbableSize question = Question(volume, *jpegs[0]);
    const ProbableSize::Choice initial = question.InitialChoice();
    EXPECT_EQ(initial.sizeOption, 0);
    EXPECT_EQ(initial.scope, 0);
    EXPECT_EQ(initial.custom, (CustomSize{5, SizeUnit::MB}));
    EXPECT_FALSE(ProbableSize::CustomEnabled(initial));

    const SizeAnswer first = ProbableSize::Ok(initial);
    EXPECT_EQ(first.result, SizeAnswer::Result::Ok);
    EXPECT_EQ(first.method, SizeMethod::Default);
    EXPECT_EQ(first.scope, SizeScope::ThisFile);

    const ProbableSize::Choice custom{3, {300, SizeUnit::KB}, 2};
    EXPECT_TRUE(ProbableSize::CustomEnabled(custom));
    const SizeAnswer forAll = ProbableSize::Ok(custom);
    EXPECT_EQ(forAll.method, SizeMethod::Custom);
    EXPECT_EQ(forAll.customBytes, 307200u);
    EXPECT_EQ(forAll.scope, SizeScope::AnyType);
    EXPECT_EQ(question.SizeFor(forAll), 307200u);

    const SizeAnswer nextOfType = ProbableSize::Ok({2, {2, SizeUnit::GB}, 1});
    EXPECT_EQ(nextOfType.method, SizeMethod::NextSame);
    EXPECT_EQ(nextOfType.scope, SizeScope::ThisType);
    EXPECT_EQ(nextOfType.customBytes, 2147483648u);
    EXPECT_EQ(question.SizeFor(nextOfType), 5 * MiB);
    EXPECT_EQ(ProbableSize::Ok({1, {}, 0}).method, SizeMethod::NextAny);

    const SizeAnswer outOfRange = ProbableSize::Ok({7, {}, 9});
    EXPECT_EQ(outOfRange.method, SizeMethod::Default);
    EXPECT_EQ(outOfRange.scope, SizeScope::ThisFile);

    EXPECT_EQ(ProbableSize::Skip().result, SizeAnswer::Result::Skip);
    EXPECT_EQ(ProbableSize::Cancel().result, SizeAnswer::Result::Cancel);
}

TEST_F(ProbableSizeTest, TheRecoveryShowsTheFiguresAndWritesWhatTheyPromise) {
    auto& volume = Source();
    const auto jpegs = Carved(volume, kJpeg, {1 * MiB, 5 * MiB});
    Carved(volume, kPng, {3 * MiB});
    // The next JPEG, this file only.
    CRecovery& engine = RecoverAnswering({2, {}, 0}, {jpegs[0], jpegs[1]});
    ASSERT_EQ(dialog_.shown.size(), 2u) << "'this file only' remembers nothing";
    EXPECT_EQ(dialog_.shown[0].name, "IMG_1048576.jpg");
    EXPECT_EQ(dialog_.shown[0].defaultKB, 16384);
    EXPECT_EQ(dialog_.shown[0].nextAnyKB, 2048);
    EXPECT_EQ(dialog_.shown[0].nextSameKB, 4096);
    EXPECT_EQ(dialog_.shown[1].nextSameKB, 0);
    EXPECT_EQ(WrittenSize(engine, jpegs[0]), dialog_.shown[0].predicted);
    EXPECT_EQ(WrittenSize(engine, jpegs[0]), 4 * MiB);
    // The last JPEG takes the default size, cut at the end of the 16 MiB volume.
    EXPECT_EQ(dialog_.shown[1].predicted, 16384 * KiB);
    EXPECT_EQ(WrittenSize(engine, jpegs[1]), 11 * MiB);
    EXPECT_EQ(engine.SizeMethodForAll.load(), 0u);
    EXPECT_EQ(computer_->Signatures().FindSignatureById(kJpeg)->SizeMethodForType.load(), 0u);
}

TEST_F(ProbableSizeTest, AChoiceForThisTypeIsKeptInTheTypesRecord) {
    auto& volume = Source();
    const auto jpegs = Carved(volume, kJpeg, {1 * MiB, 2 * MiB, 4 * MiB});
    const auto pngs = Carved(volume, kPng, {8 * MiB});
    // A custom 700 KB, all files of this type.
    CRecovery& engine =
        RecoverAnswering({3, {700, SizeUnit::KB}, 1}, {jpegs[0], jpegs[1], jpegs[2], pngs[0]});
    ASSERT_EQ(dialog_.shown.size(), 2u) << "once for the JPEGs, once for the PNG";
    EXPECT_EQ(dialog_.shown[1].name, "IMG_8388608.png");
    const auto* jpeg = computer_->Signatures().FindSignatureById(kJpeg);
    EXPECT_EQ(jpeg->SizeMethodForType.load(), 4u);
    EXPECT_EQ(jpeg->DefaultSize, 700u) << "a custom size is kept as the type's size";
    EXPECT_EQ(engine.SizeMethodForAll.load(), 0u);
    for (const FoundObject* object : jpegs)
        EXPECT_EQ(WrittenSize(engine, object), 700 * KiB) << object->GetName();
    // A later question about a JPEG shows the size the type now has.
    EXPECT_EQ(Question(volume, *jpegs[0]).DefaultSizeKB(), 700);
}

TEST_F(ProbableSizeTest, AChoiceForAnyTypeIsKeptForTheRestOfTheProgramRun) {
    auto& volume = Source();
    const auto jpegs = Carved(volume, kJpeg, {1 * MiB});
    const auto pngs = Carved(volume, kPng, {2 * MiB, 3 * MiB});
    CRecovery& engine = RecoverAnswering({3, {300, SizeUnit::KB}, 2}, {jpegs[0], pngs[0]});
    EXPECT_EQ(dialog_.shown.size(), 1u);
    EXPECT_EQ(engine.SizeMethodForAll.load(), 4u);
    EXPECT_EQ(engine.SizeKBForAll.load(), 300);
    EXPECT_EQ(WrittenSize(engine, jpegs[0]), 307200u);
    EXPECT_EQ(WrittenSize(engine, pngs[0]), 307200u);
    // A later recovery in the same program run does not ask again.
    RunRecovery(engine, {pngs[1]}, dir_ / "out");
    EXPECT_EQ(dialog_.shown.size(), 1u);
    EXPECT_EQ(WrittenSize(engine, pngs[1]), 307200u);
    EXPECT_EQ(computer_->Signatures().FindSignatureById(kPng)->SizeMethodForType.load(), 0u);
}

TEST_F(ProbableSizeTest, RememberingAChoiceOutsideARun) {
    auto& volume = Source();
    const auto jpegs = Carved(volume, kJpeg, {1 * MiB, 2 * MiB});
    CRecovery engine(*computer_);
    // What the "Set New Size" command does with the dialog's answer.
    const ProbableSize question = Question(volume, *jpegs[0]);
    const SizeAnswer thisFile = ProbableSize::Ok({1, {}, 0});
    engine.RememberSizeChoice(thisFile, *jpegs[0], question.SizeFor(thisFile));
    EXPECT_EQ(engine.SizeMethodForAll.load(), 0u);
    auto* jpeg = computer_->Signatures().FindSignatureById(kJpeg);
    EXPECT_EQ(jpeg->SizeMethodForType.load(), 0u);

    const SizeAnswer ofType = ProbableSize::Ok({1, {}, 1});
    engine.RememberSizeChoice(ofType, *jpegs[0], question.SizeFor(ofType));
    EXPECT_EQ(jpeg->SizeMethodForType.load(), 2u);
    EXPECT_EQ(jpeg->DefaultSize, 16384u) << "only a custom size changes the type's size";

    engine.RememberSizeChoice(ProbableSize::Cancel(), *jpegs[0], 0);
    const SizeAnswer unknownForAll = ProbableSize::Ok({3, {-1, SizeUnit::Bytes}, 2});
    engine.RememberSizeChoice(unknownForAll, *jpegs[0], question.SizeFor(unknownForAll));
    EXPECT_EQ(engine.SizeMethodForAll.load(), 4u);
    EXPECT_EQ(engine.SizeKBForAll.load(), 0) << "an unknown size is kept as none";
}

}  // namespace
}  // namespace duzez::recovery
