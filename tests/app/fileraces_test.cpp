// Every file reader and export writer of the program against what can be put in a file's
// place: a named pipe swapped in between any check and the open, a link to another file.
// A read either gets the file or refuses; nothing blocks and nothing writes through a link.
#include "gui_main.h"

#include "Floatimage.h"
#include "Mditextchild.h"
#include "Phaseshiftmoire.h"
#include "Rawoption.h"
#include "Surfacewriter.h"
#include "orbfiles.h"
#include "registry.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Once the deadline has passed, opens the named pipes at the given paths again and again
// from the other end, which ends an open or a read blocked on one; it then says so.
class Watchdog {
public:
    Watchdog(std::vector<std::string> paths, int flags, std::chrono::seconds deadline)
        : thread_([this, paths, flags, until = Clock::now() + deadline] {
              while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
              while (!stop_) {
                  fired_ = true;
                  for (const std::string& p : paths)
                      if (const int fd = ::open(p.c_str(), flags | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          })
    {
    }
    // True when something had blocked until the deadline.
    bool Stop()
    {
        stop_ = true;
        thread_.join();
        return fired_;
    }

private:
    std::atomic<bool> stop_{false}, fired_{false};
    std::thread thread_;
};

// One reader: makes its file at a path, then reads that path: true with the file's content
// checked, false when it refused (an exception or an error report).
struct Reader {
    const char* name;
    std::function<void(const std::string& path)> make;
    std::function<bool(const std::string& path)> read;
};

orbfile::Image SmallImage()
{
    orbfile::Image img;
    img.width = 4;
    img.height = 3;
    img.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    return img;
}

bool ReadImage(const std::string& path, orbfile::Format format)
{
    orbfile::Image img;
    orbfile::Error err;
    return orbfile::read(path, format, img, err) && img.pixels == SmallImage().pixels;
}

void SaveImage(const std::string& path, orbfile::Format format)
{
    orbfile::Error err;
    ASSERT_TRUE(orbfile::save(path, format, SmallImage(), err)) << err.message;
}

void SaveProject(const std::string& path)
{
    TPhaseShiftMoire p("p");
    p.AllocBytePlanes(3, 2);
    std::fill(p.BytePlane(0), p.BytePlane(0) + 6, uint8_t(7));
    p.SaveToFile(path);
}

const std::vector<Reader>& Readers()
{
    static const std::vector<Reader> readers = {
        {"notes", [](const std::string& p) { WriteAll(p, "a note\n"); },
         [](const std::string& p) { return ReadNoteLines(QString::fromStdString(p)) == QStringList{"a note"}; }},
        {"floatmap", [](const std::string& p) { TFloatImage(nullptr, 2, 3).SaveToFile(p); },
         [](const std::string& p) { return TFloatImage(p).Width() == 2; }},
        {"project", SaveProject,
         [](const std::string& p) {
             TPhaseShiftMoire project("none");
             project.LoadFromFile(p);
             return project.BytePlane(0)[5] == 7;
         }},
        {"settings", [](const std::string& p) { WriteAll(p, "[K]\n\"v\"=dword:00000007\n"); },
         [](const std::string& p) {
             auto backend = std::make_shared<qsrf::registry::FileBackend>(p);
             if (!backend->LoadProblem().empty()) return false;
             qsrf::registry::Registry reg(backend);
             return reg.OpenKey("K", false) && reg.ReadInteger("v") == 7;
         }},
        {"rawsize", [](const std::string& p) { WriteAll(p, std::string(300, 'x')); },
         [](const std::string& p) { return TRawOptionForm(nullptr, QString::fromStdString(p)).FileSize == 300; }},
        {"raw", [](const std::string& p) { SaveImage(p, orbfile::Format::Raw); },
         [](const std::string& p) {
             std::vector<uint8_t> px;
             orbfile::Error err;
             return orbfile::readRaw(p, 4, 3, 1, px, err) && px == SmallImage().pixels;
         }},
        {"own", [](const std::string& p) { SaveImage(p, orbfile::Format::Own); },
         [](const std::string& p) { return ReadImage(p, orbfile::Format::Own); }},
        {"tiff", [](const std::string& p) { SaveImage(p, orbfile::Format::Tiff); },
         [](const std::string& p) { return ReadImage(p, orbfile::Format::Tiff); }},
        {"bmp", [](const std::string& p) { SaveImage(p, orbfile::Format::Bmp); },
         [](const std::string& p) { return ReadImage(p, orbfile::Format::Bmp); }},
    };
    return readers;
}

class FileRaces : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
    QTemporaryDir dir_;
};

// A thread exchanges the file with a named pipe for a second while the reader reads the
// file's path again and again.
TEST_P(FileRaces, ReaderNeverBlocksOnAPipeSwappedIn)
{
    const Reader& reader = Readers()[GetParam()];
    const std::string file = Path("file"), pipe = Path("pipe");
    reader.make(file);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_TRUE(reader.read(file)) << "the file itself is not read";
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, pipe.c_str(), RENAME_EXCHANGE) != 0)
        GTEST_SKIP() << "no exchanging rename here";
    ::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, pipe.c_str(), RENAME_EXCHANGE);

    std::atomic<bool> swapping{true};
    std::thread swapper([&] {
        const auto until = Clock::now() + std::chrono::seconds(1);
        int swaps = 0;
        while (Clock::now() < until || swaps % 2 != 0) {
            ::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, pipe.c_str(), RENAME_EXCHANGE);
            ++swaps;
        }
        swapping = false;
    });
    Watchdog watchdog({file, pipe}, O_WRONLY, std::chrono::seconds(20));
    int read = 0, refused = 0;
    while (swapping) {
        bool ok = false;
        try {
            ok = reader.read(file);
        } catch (const std::exception&) {
        }
        ++(ok ? read : refused);
    }
    swapper.join();
    EXPECT_FALSE(watchdog.Stop()) << reader.name << " blocked on the named pipe";
    EXPECT_GT(read + refused, 1);
    EXPECT_TRUE(reader.read(file)) << "the file is not read after the race";
}

INSTANTIATE_TEST_SUITE_P(Readers, FileRaces, ::testing::Range(size_t(0), Readers().size()),
                         [](const auto& info) { return std::string(Readers()[info.param].name); });

// ---- export writers ----------------------------------------------------------------------

struct Writer {
    const char* name;
    std::function<void(const std::string& path)> write;
};

const std::vector<Writer>& Writers()
{
    static const float heights[6] = {1, 2, 3, 4, 5, 6};
    static const std::vector<Writer> writers = {
        {"notes",
         [](const std::string& p) {
             TMDITextChildForm notes;
             notes.SetLines({"a note"});
             notes.SaveToFile(QString::fromStdString(p));
         }},
        {"floatmap", [](const std::string& p) { TFloatImage(nullptr, 2, 3).SaveToFile(p); }},
        {"project", SaveProject},
        {"surface",
         [](const std::string& p) {
             TMapCoordinates map;
             map.Heights = heights;
             map.Width = 3;
             map.Height = 2;
             map.Zcf = 1;
             WriteSurfaceData(p, map, 2, 3);
         }},
        {"image", [](const std::string& p) { SaveImage(p, orbfile::Format::Tiff); }},
    };
    return writers;
}

class ExportWriters : public FileRaces {};

// A link at the export's path is replaced by the export, never written through; a named
// pipe there never blocks the writer.
TEST_P(ExportWriters, ReplaceALinkOrANamedPipe)
{
    const Writer& writer = Writers()[GetParam()];
    const std::string target = Path("target"), out = Path("out");
    WriteAll(target, "kept");
    ASSERT_EQ(::symlink(target.c_str(), out.c_str()), 0);
    writer.write(out);
    EXPECT_EQ(ReadAll(target), "kept");
    struct stat st;
    ASSERT_EQ(::lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_GT(st.st_size, 0);

    ASSERT_EQ(::unlink(out.c_str()), 0);
    ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);
    Watchdog watchdog({out}, O_RDONLY, std::chrono::seconds(10));
    try {
        writer.write(out);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    EXPECT_FALSE(watchdog.Stop()) << writer.name << " blocked on the named pipe";
    ASSERT_EQ(::lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

INSTANTIATE_TEST_SUITE_P(Writers, ExportWriters, ::testing::Range(size_t(0), Writers().size()),
                         [](const auto& info) { return std::string(Writers()[info.param].name); });

}  // namespace

int main(int argc, char** argv) { return RunGuiTests(argc, argv); }
