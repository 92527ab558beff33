// duzez-cli recover: the files of a volume written out under a destination folder.

#include <fnmatch.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/commands.h"
#include "cli/session.h"
#include "filesystems/found_object_tree.h"
#include "recovery/recovery.h"

namespace duzez::cli {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

// The command line answers the recovery's questions from its options.
class OptionAnswers : public recovery::RecoveryQuestions {
  public:
    explicit OptionAnswers(recovery::SizeAnswer size) : size_(size) {}
    recovery::SizeAnswer AskProbableSize(const FoundObject&) override { return size_; }
    std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path& refused) override {
        std::fprintf(stderr,
                     "error: %s lies on the drive being recovered from; choose a destination on "
                     "another drive\n",
                     refused.c_str());
        return std::nullopt;
    }

  private:
    recovery::SizeAnswer size_;
};

std::optional<recovery::SizeAnswer> ParseSizeMethod(const std::string& text) {
    recovery::SizeAnswer answer;
    answer.result = recovery::SizeAnswer::Result::Ok;
    answer.scope = recovery::SizeScope::ThisFile;
    if (text == "default") {
        answer.method = recovery::SizeMethod::Default;
    } else if (text == "next-any") {
        answer.method = recovery::SizeMethod::NextAny;
    } else if (text == "next-same") {
        answer.method = recovery::SizeMethod::NextSame;
    } else if (text.rfind("custom:", 0) == 0) {
        answer.method = recovery::SizeMethod::Custom;
        try {
            answer.customBytes = std::stoull(text.substr(7));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    return answer;
}

// "12 of 40  IMG_0012.JPG  60%" on a terminal while the recovery thread runs.
void ShowProgress(const recovery::CRecovery& engine) {
    if (::isatty(STDERR_FILENO) == 0)
        return;
    while (!engine.Finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const std::size_t index = engine.CurrentIndex.load();
        if (index >= engine.RecoveryList.size())
            continue;
        std::fprintf(
            stderr, "\r\033[K%zu of %zu  %.40s  %u%%", index + 1, engine.RecoveryList.size(),
            std::string(engine.RecoveryList[index]->GetName()).c_str(), engine.FilePercent.load());
    }
    std::fputs("\r\033[K", stderr);
}

struct RecoverArguments {
    std::string target;
    std::string destination;
    int volume = 0;
    bool deep = false;
    bool deletedOnly = false;
    std::string match;
    std::string sizeMethod = "next-any";
};

int Recover(const GlobalOptions& options, const RecoverArguments& args) {
    const auto sizes = ParseSizeMethod(args.sizeMethod);
    if (!sizes) {
        std::fprintf(stderr,
                     "error: --size-method takes default, next-any, next-same or custom:BYTES\n");
        return kBadInput;
    }
    Session session(options);
    devices::CVolume* volume = AnalyseTarget(session, args.target, args.volume, args.deep);
    if (volume == nullptr)
        return kBadInput;
    auto& computer = session.Computer();
    recovery::CRecovery engine(computer);
    OptionAnswers answers(*sizes);
    engine.SetQuestions(&answers);
    auto& tree = *volume->FoundObjectTree;
    std::size_t found = 0;
    for (FoundObject* object : tree.ListedObjects()) {
        if (object->Is(ObjectFlags::Folder) || object == &volume->TreeNode ||
            object == &volume->BootObject) {
            continue;
        }
        ++found;
        if (args.deletedOnly && !object->Is(ObjectFlags::Deleted))
            continue;
        if (!args.match.empty() &&
            ::fnmatch(args.match.c_str(), std::string(object->GetName()).c_str(), FNM_CASEFOLD) !=
                0) {
            continue;
        }
        engine.RecoveryList.push_back(object);
    }
    if (engine.RecoveryList.empty()) {
        std::printf("Found %zu files; none to recover.\n", found);
        return kDone;
    }
    const auto start = std::chrono::steady_clock::now();
    engine.StartRecovery(args.destination);
    ShowProgress(engine);
    engine.Wait();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t selected = engine.RecoveryList.size();
    const std::size_t recovered = engine.RecoveredCount.load();
    std::printf("Found %zu files; recovered %zu, skipped %zu, failed %zu; %s in %.1f s into %s\n",
                found, recovered, found - selected, selected - recovered,
                HumanSize(engine.RecoveredBytes.load()).c_str(), seconds, args.destination.c_str());
    if (recovered < selected) {
        std::printf("The log says which files failed and why (run with -v to see it).\n");
        return kDoneWithFailures;
    }
    return kDone;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    auto args = std::make_shared<RecoverArguments>();
    CLI::App* recover =
        app.add_subcommand("recover", "Write the files of a volume into a folder on another drive");
    recover->add_option("TARGET", args->target, "#N from 'drives', a device or an image")
        ->required();
    recover
        ->add_option("DEST", args->destination, "The folder to write into (created when missing)")
        ->required();
    recover->add_option("--volume", args->volume, "The Nth partition of TARGET (from 1)");
    recover->add_flag("--deep", args->deep, "Also recover files found by their signatures");
    recover->add_flag("--deleted-only", args->deletedOnly, "Only deleted files");
    recover->add_option("--match", args->match,
                        "Only files whose name matches this pattern (*.jpg)");
    recover->add_option("--size-method", args->sizeMethod,
                        "For files whose end is only estimated: default (the format's typical "
                        "size), next-any (up to the next file found; the default), next-same (up "
                        "to the next file of the same type) or custom:BYTES");
    recover->callback(
        [&body, &options, args] { body = [&options, args] { return Recover(options, *args); }; });
}

}  // namespace duzez::cli
