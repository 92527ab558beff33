// The raw-device helper runs as root on a path any local user can pass it: everything but
// a plain block device below /dev is refused before it is opened, and what it opens
// crosses the socket read-only.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "platform/device_handover.h"
#include "platform/device_helper_client.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

using platform::UniqueFd;

// A loop device over a file of known bytes while this lives; empty where none can be had.
class LoopOverFile {
  public:
    explicit LoopOverFile(const std::filesystem::path& file) {
        if (::geteuid() == 0 && HaveTool("losetup"))
            device_ = CommandOutput("losetup -f --show " + file.string() + " 2>/dev/null");
        while (!device_.empty() && device_.back() == '\n')
            device_.pop_back();
    }
    ~LoopOverFile() {
        if (!device_.empty())
            RunCommand("losetup -d " + device_);
    }
    LoopOverFile(const LoopOverFile&) = delete;
    LoopOverFile& operator=(const LoopOverFile&) = delete;
    const std::string& Device() const { return device_; }

  private:
    std::string device_;
};

std::string FirstBytes(int fd, std::size_t count) {
    std::string bytes(count, '\0');
    const ssize_t got = ::pread(fd, bytes.data(), count, 0);
    return got < 0 ? std::string() : bytes.substr(0, static_cast<std::size_t>(got));
}

class HandoverChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(root_ / "file", "not a disk");
        std::filesystem::create_directory(root_ / "sub");
        WriteFile(root_ / "sub/file", "not a disk");
        std::filesystem::create_symlink(root_ / "file", root_ / "link");
        std::filesystem::create_symlink(root_ / "sub", root_ / "dirlink");
        ASSERT_EQ(::mkfifo((root_ / "fifo").c_str(), 0600), 0);
    }
    std::string Refusal(const std::string& path) {
        std::string error;
        const UniqueFd fd = platform::OpenBlockDeviceForHandover(path, error, Root());
        EXPECT_FALSE(fd) << path;
        return error;
    }
    std::string Root() const { return root_.path().string(); }

    TempFolder root_;
};

TEST_F(HandoverChecks, RefusesAnythingButAPlainBlockDeviceBelowTheRoot) {
    const std::string root = Root();
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {root + "/file", "no block device"},
        {root + "/sub", "no block device"},
        {root + "/fifo", "no block device"},  // never opened: that would wait for a writer
        {root + "/link", "is a link"},
        {root + "/dirlink/file", "a folder on the way is a link"},
        {root + "/file/x", "no folder"},
        {root + "/../etc/passwd", "without '.', '..'"},
        {root + "/sub/../file", "without '.', '..'"},
        {root + "/./file", "without '.', '..'"},
        {root + "//file", "without '.', '..'"},
        {root + "/sub/", "names a folder"},
        {root + "/missing", "cannot see"},
        {"/etc/passwd", "only a device below"},
        {root, "only a device below"},
        {root + "x/file", "only a device below"},
        {"file", "only a device below"},
        {"", "only a device below"},
        {root + "/file" + std::string(1, '\0') + "x", "zero byte"},
    };
    for (const auto& [path, why] : cases) {
        const std::string error = Refusal(path);
        EXPECT_NE(error.find(why), std::string::npos) << path << ": " << error;
    }
}

TEST_F(HandoverChecks, RefusesACharacterDeviceWithoutOpeningIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "making device nodes needs root";
    // /dev/null's numbers: opening it would do no harm, a tape's could rewind it.
    ASSERT_EQ(::mknod((root_ / "chr").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    EXPECT_NE(Refusal(Root() + "/chr").find("character device"), std::string::npos);
}

TEST_F(HandoverChecks, OpensABlockDeviceReadOnlyAndCloseOnExec) {
    WriteFile(root_ / "disk.img", std::string(65536, 'D'));
    const LoopOverFile loop(root_ / "disk.img");
    if (loop.Device().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";
    struct stat loopInfo {};
    ASSERT_EQ(::stat(loop.Device().c_str(), &loopInfo), 0);
    ASSERT_EQ(::mknod((root_ / "sub/blk").c_str(), S_IFBLK | 0600, loopInfo.st_rdev), 0);
    std::string error;
    const UniqueFd fd = platform::OpenBlockDeviceForHandover(Root() + "/sub/blk", error, Root());
    ASSERT_TRUE(fd) << error;
    EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_NE(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(FirstBytes(fd.get(), 4), "DDDD");
    EXPECT_LT(::write(fd.get(), "x", 1), 0);

    // What the program accepts back: that device, read-only, and nothing else.
    EXPECT_TRUE(platform::IsReadOnlyBlockDevice(fd.get(), loopInfo.st_rdev));
    EXPECT_FALSE(platform::IsReadOnlyBlockDevice(fd.get(), loopInfo.st_rdev + 1));
    const UniqueFd writable(::open(loop.Device().c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(writable);
    EXPECT_FALSE(platform::IsReadOnlyBlockDevice(writable.get(), loopInfo.st_rdev));
    const UniqueFd image(::open((root_ / "disk.img").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_FALSE(platform::IsReadOnlyBlockDevice(image.get(), loopInfo.st_rdev));
}

TEST(DescriptorHandover, ANodeOnAnotherFileSystemBelowDevIsRefused) {
    struct stat dev {};
    struct stat shm {};
    if (::geteuid() != 0 || ::stat("/dev", &dev) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        dev.st_dev == shm.st_dev)
        GTEST_SKIP() << "needs root and /dev/shm mounted apart from /dev";
    // Anyone may write to /dev/shm: a node there is never one the helper hands over.
    const std::string node = "/dev/shm/duzez-node-" + std::to_string(::getpid());
    struct stat loop {};
    const std::string source = ::stat("/dev/loop0", &loop) == 0 ? "/dev/loop0" : "";
    if (source.empty())
        GTEST_SKIP() << "no /dev/loop0 to copy a node of";
    ASSERT_EQ(::mknod(node.c_str(), S_IFBLK | 0600, loop.st_rdev), 0);
    std::string error;
    EXPECT_FALSE(platform::OpenBlockDeviceForHandover(node, error));
    EXPECT_NE(error.find("another file system"), std::string::npos) << error;
    std::filesystem::remove(node);
}

TEST(DescriptorHandover, ExactlyOneDescriptorCrossesTheSocket) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const UniqueFd sender(pair[0]);
    const UniqueFd receiver(pair[1]);
    TempFolder dir;
    WriteFile(dir / "data", "handed over");
    const UniqueFd file(::open((dir / "data").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(platform::SendDescriptor(sender.get(), file.get()));
    const UniqueFd got = platform::ReceiveDescriptor(receiver.get());
    ASSERT_TRUE(got);
    EXPECT_NE(got.get(), file.get());
    EXPECT_EQ(FirstBytes(got.get(), 64), "handed over");
    EXPECT_NE(::fcntl(got.get(), F_GETFD) & FD_CLOEXEC, 0);

    // A byte without a descriptor, or an end without anything, gives none.
    ASSERT_EQ(::send(sender.get(), "D", 1, 0), 1);
    EXPECT_FALSE(platform::ReceiveDescriptor(receiver.get()));
    ::shutdown(sender.get(), SHUT_WR);
    EXPECT_FALSE(platform::ReceiveDescriptor(receiver.get()));
}

class DeviceHelperProgram : public ::testing::Test {
  protected:
    UniqueFd Run(const std::vector<std::string>& arguments, std::string& error) {
        std::vector<std::string> command = {DUZEZ_OPEN_DEVICE_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return platform::RunDeviceHelper(command, error);
    }
};

TEST_F(DeviceHelperProgram, RefusesWhatIsNoBlockDeviceBelowDev) {
    const std::string shmFile = "/dev/shm/duzez-helper-test-" + std::to_string(::getpid());
    WriteFile(shmFile, "not a disk");
    const struct {
        std::vector<std::string> arguments;
        const char* why;
    } cases[] = {
        {{"/dev/null"}, "character device"},
        {{"/dev/stdin"}, "is a link"},
        {{"/dev/../etc/passwd"}, "'..'"},
        {{"/etc/passwd"}, "only a device below /dev"},
        {{"/etc/../dev/null"}, "only a device below /dev"},
        {{shmFile}, "no block device"},
        {{}, "usage"},
        {{"/dev/null", "/dev/zero"}, "usage"},
    };
    for (const auto& [arguments, why] : cases) {
        std::string error;
        EXPECT_FALSE(Run(arguments, error));
        EXPECT_NE(error.find(why), std::string::npos)
            << (arguments.empty() ? "" : arguments[0]) << ": " << error;
    }
    EXPECT_EQ(ReadFile(shmFile), "not a disk");
    std::filesystem::remove(shmFile);
}

TEST(DeviceHelperRun, TheChildGetsNoneOfOurDescriptorsAndAnswersInTime) {
    TempFolder dir;
    WriteFile(dir / "ours", "private");
    // A descriptor some other thread opened without close-on-exec.
    const UniqueFd plain(::open((dir / "ours").c_str(), O_RDONLY));
    ASSERT_TRUE(plain);
    const UniqueFd high(::dup2(plain.get(), 57));
    ASSERT_EQ(high.get(), 57);
    std::string error;
    EXPECT_FALSE(platform::RunDeviceHelper(
        {"/bin/sh", "-c", "cd /proc/self/fd && echo open: * >&2; exit 3"}, error));
    EXPECT_EQ(error.rfind("open: ", 0), 0u) << error;
    EXPECT_EQ(error.find(" 57"), std::string::npos) << error;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        platform::RunDeviceHelper({"/bin/sleep", "30"}, error, std::chrono::milliseconds(300)));
    EXPECT_NE(error.find("no answer in time"), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(DeviceHelperRun, PkexecRefusalsAreToldAsSuch) {
    const struct {
        const char* script;
        const char* told;
    } cases[] = {
        {"exit 126", "the password prompt was dismissed"},
        {"exit 127", "administrator access was not given"},
        {"echo 'Error executing command as another user: Not authorized' >&2; exit 127",
         "Not authorized"},
        {"echo 'duzez-open-device: /dev/sr0: No medium found' >&2; exit 1", "No medium found"},
        {"exit 0", "the device helper failed"},  // an end without a descriptor
    };
    for (const auto& [script, told] : cases) {
        std::string error;
        EXPECT_FALSE(platform::RunDeviceHelper({"/bin/sh", "-c", script}, error));
        EXPECT_NE(error.find(told), std::string::npos) << script << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(platform::RunDeviceHelper({"/nonexistent/helper"}, error));
    EXPECT_NE(error.find("cannot start"), std::string::npos) << error;
}

TEST_F(DeviceHelperProgram, HandsABlockDeviceOverAndNothingToAPlainOutput) {
    TempFolder dir;
    WriteFile(dir / "disk.img", std::string(4096, 'L'));
    const LoopOverFile loop(dir / "disk.img");
    if (loop.Device().empty())
        GTEST_SKIP() << "no loop device (needs root and losetup)";
    std::string error;
    const UniqueFd fd = Run({loop.Device()}, error);
    ASSERT_TRUE(fd) << error;
    EXPECT_EQ(FirstBytes(fd.get(), 4), "LLLL");
    EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_ACCMODE, O_RDONLY);

    // Run by hand, its output no socket: it refuses before opening anything.
    const std::string command =
        std::string(DUZEZ_OPEN_DEVICE_PATH) + " " + loop.Device() + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}

}  // namespace
}  // namespace duzez::test
