#pragma once
// Shared by the image-window, image-dialog and notes tests: the frame fixture with a
// scratch directory and helpers that put and read an image window's pixels.

#include "main_fixture.h"

#include "Mdiimagechild.h"

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Runs `read` on the calling (GUI) thread with a named pipe at pipePath as its input and
// gives what it returned, or "blocked" when it had not returned within the deadline. A
// watchdog then opens and closes the pipe's write end until the reader sees end of file,
// so a reader that opens the pipe fails its test instead of hanging it.
inline std::string ReadPipeOnGuiThread(const std::string& pipePath, const std::function<std::string()>& read,
                                       std::chrono::milliseconds deadline = std::chrono::seconds(5))
{
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::atomic<bool> blocked{false};
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        if (cv.wait_for(lock, deadline, [&] { return done; })) return;
        blocked = true;
        while (!done) {
            lock.unlock();
            const int fd = ::open(pipePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
            lock.lock();
            cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; });
        }
    });
    std::string result;
    try {
        result = read();
    } catch (...) {
        result = "(unexpected exception)";
    }
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    cv.notify_all();
    watchdog.join();
    return blocked ? "blocked" : result;
}

class ImageWindowTest : public FrameTest {
protected:
    void SetUp() override
    {
        FrameTest::SetUp();
        ASSERT_TRUE(dir_.isValid());
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    // A window of width x height, 8 bits unless told, on the started board.
    TMDIImageChildForm* Window(int width, int height, int bits = 8)
    {
        MainForm->EnsureImaging();
        auto* w = new TMDIImageChildForm(nullptr, true, MainForm->BoardHasDigitizer(), true, true, 1, bits, height,
                                         width);
        w->show();
        return w;
    }

    static std::vector<uint8_t> Pixels(const TMDIImageChildForm* w)
    {
        const auto info = orbsim::bufferInfo(w->BufferId);
        if (!info)
            return {};
        std::vector<uint8_t> out(size_t(info->width) * size_t(info->height) * size_t(info->bytesPerPixel));
        orbBufGet(w->BufferId, out.data());
        return out;
    }

    static void Put(TMDIImageChildForm* w, const std::vector<uint8_t>& pixels) { orbBufPut(w->BufferId, pixels.data()); }

    static uint8_t At(const TMDIImageChildForm* w, int x, int y)
    {
        uint8_t v = 0;
        orbBufGet2d(w->BufferId, x, y, 1, 1, &v);
        return v;
    }

    static QByteArray ReadAllBytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }

    // A pattern of distinct-looking values: (x * 7 + y * 13) mod 256.
    static std::vector<uint8_t> Pattern(int width, int height)
    {
        std::vector<uint8_t> p(size_t(width) * size_t(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                p[size_t(y) * size_t(width) + size_t(x)] = uint8_t(x * 7 + y * 13);
        return p;
    }

    QTemporaryDir dir_;
};
