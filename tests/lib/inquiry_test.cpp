// What a program learns about its camera before it grabs: every size, bits, bands and type
// inquiry (and the other description inquiries) of the shipped camera file and of the camera
// files the tests write for both grab-module families, each against the value its camera file
// gives; a destination sized from those answers takes a grab.  Beside them the live digitizer
// (0, the node's own) and a second free of a camera or a digitizer, through hlclib.h and
// libhlclib.so only.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kPacked24 = 0x40000018u;   // one band of 24-bit pixels
constexpr uint32_t kTenBit = 0x10000010u;     // ten-bit samples in 16-bit pixels
using libsandbox::LastText;
using Lines = std::vector<std::pair<std::string, uint32_t>>;

// A file of the source tree's examples folder.
std::string Example(const std::string& name)
{
    const std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/lib/")) + "/examples/" + name;
}

// The keyword lines of Camera640Lines with some replaced or added.
Lines Changed(uint32_t channels, const Lines& changes)
{
    Lines lines = libsandbox::Camera640Lines(channels);
    for (const auto& [keyword, value] : changes) {
        bool found = false;
        for (auto& line : lines)
            if (line.first == keyword) {
                line.second = value;
                found = true;
            }
        if (!found) lines.emplace_back(keyword, value);
    }
    return lines;
}

// A second-family camera of one tap per channel with the size and bits given.
Lines KvxLines(uint32_t width, uint32_t height, uint32_t bits, const Lines& more = {})
{
    Lines lines = {{"DESCRIPTION_INFO_XSIZE", width},      {"DESCRIPTION_INFO_YSIZE", height},
                   {"DESCRIPTION_INFO_BITSPERLOGCH", bits}, {"DESCRIPTION_INFO_CHANNEL", 1},
                   {"DESCRIPTION_INFO_XTAPSPERCH", 1},      {"DESCRIPTION_INFO_YTAPSPERCH", 1},
                   {"DESCRIPTION_INFO_XTAPSPERCHADJ", 1},   {"DESCRIPTION_INFO_YTAPSPERCHADJ", 1},
                   {"DESCRIPTION_INFO_LUTPROG", 1},         {"FAF_OPAMPCTL", 0x2}};
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// One camera: its file (the example's name, or the text the test writes), the board family
// it runs on, and what each inquiry answers for it.
struct Camera {
    const char* name;
    bool kvx;
    std::string example;   // a file of examples/, or empty
    std::string text;      // else the camera file's text
    std::vector<std::pair<int32_t, double>> answers;
};

void PrintTo(const Camera& camera, std::ostream* os) { *os << camera.name; }

std::vector<Camera> Cameras()
{
    using libsandbox::KvxCameraFile;
    using libsandbox::StandardCameraFile;
    // The standard family's answers that every 8-bit analog camera on one channel shares.
    const auto analog = [](double width, double height, double bands, double type, double channel) {
        return std::vector<std::pair<int32_t, double>>{
            {IM_DIG_SIZE_X, width},           {IM_DIG_SIZE_Y, height},     {IM_DIG_SIZE_BIT, 8},
            {IM_DIG_TYPE, type},              {IM_DIG_NUM_BANDS, bands},   {IM_DIG_SCAN_MODE, 0},
            {IM_DIG_CHANNEL, channel},        {IM_DIG_NBR_MAX_CHANNEL, 4}, {IM_DIG_INPUT_MODE, 0},
            {IM_DIG_FRAME_FIELD, 2},          {IM_DIG_GAIN, 100},          {IM_DIG_VIDEO_AMPLITUDE, 0.714},
            {IM_DIG_BLACK_LEVEL, 0},          {IM_DIG_WHITE_LEVEL, 0.714}};
    };
    return {
        {"Example640", false, "camera640.dcf", "", analog(640, 480, 1, 8, 0x10000)},
        {"Written640", false, "", StandardCameraFile(libsandbox::Camera640Lines(0x10000)),
         analog(640, 480, 1, 8, 0x10000)},
        {"ThreeChannels", false, "", StandardCameraFile(libsandbox::Camera640Lines(0x70000)),
         analog(640, 480, 3, 8, 0x70000)},
        // Two taps of a 256-pixel grab window each, 12 bits in 16-bit pixels, one field per
        // frame, digital input.
        {"TwoTapsWindowed", false, "",
         StandardCameraFile(Changed(0x10000, {{"INFO_XSIZE", 512},
                                              {"INFO_YSIZE", 400},
                                              {"INFO_XTAPSPERCH", 2},
                                              {"ORLOGREG_GHWSTART", 8},
                                              {"ORLOGREG_GHWSTOP", 263},
                                              {"ORLOGREG_GVWSTOP", 400},
                                              {"INFO_BITSPERLOGCH", 12},
                                              {"INFO_MODE", 1},
                                              {"INFO_MISC", 1},
                                              {"INFO_INPUT", 4}})),
         {{IM_DIG_SIZE_X, 512}, {IM_DIG_SIZE_Y, 400}, {IM_DIG_SIZE_BIT, 12}, {IM_DIG_TYPE, 16},
          {IM_DIG_NUM_BANDS, 1}, {IM_DIG_SCAN_MODE, 1}, {IM_DIG_INPUT_MODE, 1}, {IM_DIG_FRAME_FIELD, 1}}},
        // Ten-bit sampling (sample mode 3) of an analog camera.
        {"TenBitSampling", false, "",
         StandardCameraFile(Changed(0x10000, {{"INFO_SAMPLEMODE", 3}, {"DIG_GRABCTL", 0x400}})),
         {{IM_DIG_SIZE_X, 640}, {IM_DIG_SIZE_Y, 480}, {IM_DIG_SIZE_BIT, 10}, {IM_DIG_TYPE, kTenBit},
          {IM_DIG_NUM_BANDS, 1}}},
        {"Kvx8Bit", true, "", KvxCameraFile(KvxLines(640, 480, 8)),
         {{IM_DIG_SIZE_X, 640}, {IM_DIG_SIZE_Y, 480}, {IM_DIG_SIZE_BIT, 8}, {IM_DIG_TYPE, 8},
          {IM_DIG_NUM_BANDS, 1}, {IM_DIG_SCAN_MODE, 0}, {IM_DIG_CHANNEL, 1}, {IM_DIG_GAIN, 75}}},
        {"Kvx24BitInterlaced", true, "", KvxCameraFile(KvxLines(768, 576, 24, {{"DESCRIPTION_INFO_MODE", 1}})),
         {{IM_DIG_SIZE_X, 768}, {IM_DIG_SIZE_Y, 576}, {IM_DIG_SIZE_BIT, 24}, {IM_DIG_TYPE, 8},
          {IM_DIG_NUM_BANDS, 3}, {IM_DIG_SCAN_MODE, 1}}},
        {"Kvx12Bit", true, "", KvxCameraFile(KvxLines(320, 240, 12)),
         {{IM_DIG_SIZE_X, 320}, {IM_DIG_SIZE_Y, 240}, {IM_DIG_SIZE_BIT, 12}, {IM_DIG_TYPE, 16},
          {IM_DIG_NUM_BANDS, 1}}},
        {"Kvx20Bit", true, "", KvxCameraFile(KvxLines(320, 240, 20)),
         {{IM_DIG_TYPE, kPacked24}, {IM_DIG_NUM_BANDS, 1}}},
    };
}

// A node whose board carries a module of the camera's family.
class NodeTest : public ::testing::Test {
protected:
    void Open(bool kvx)
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure(kvx ? libsandbox::KvxModuleBoard(4) : libsandbox::GrabModuleBoard());
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        if (buffer_) imBufFree(device_, buffer_);
        if (camera_) imCamFree(kThread, camera_);
        libsandbox::FreeDevice(device_);
        boardsim::BoardSim::instance().configure();
    }
    uint32_t Alloc(const Camera& c)
    {
        std::string path = c.example.empty() ? box_.path("cam.dcf") : Example(c.example);
        if (c.example.empty()) box_.write("cam.dcf", c.text);
        EXPECT_NE(imCamAlloc(kThread, path.c_str(), IM_CAM_FILE, &camera_), 0u) << LastText();
        libsandbox::ExpectNoError();
        return camera_;
    }
    // An inquiry of the camera: the value through out, which must be what it returns.
    double Ask(int32_t type)
    {
        union {
            double d;
            int32_t i;
        } out{};
        out.d = -12345.0;
        const int32_t returned = imCamInquire(kThread, camera_, type, &out);
        const bool asDouble = type == IM_DIG_GAIN || type == IM_DIG_VIDEO_AMPLITUDE || type == IM_DIG_BLACK_LEVEL ||
                              type == IM_DIG_WHITE_LEVEL;
        const double value = asDouble ? out.d : out.i;
        EXPECT_EQ(returned, static_cast<int32_t>(value)) << type;
        return value;
    }

    libsandbox::Sandbox box_{"hlcinq"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
    uint32_t buffer_ = 0;
};

class InquiryTest : public NodeTest, public ::testing::WithParamInterface<Camera> {};

TEST_P(InquiryTest, EachInquiryAnswersWhatTheCameraFileGives)
{
    const Camera& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Open(c.kvx));
    ASSERT_NE(Alloc(c), 0u);
    for (const auto& [type, expected] : c.answers) {
        EXPECT_EQ(Ask(type), expected) << "inquiry " << type;
        libsandbox::ExpectNoError();
    }
}

INSTANTIATE_TEST_SUITE_P(Cameras, InquiryTest, ::testing::ValuesIn(Cameras()),
                         [](const ::testing::TestParamInfo<Camera>& info) { return info.param.name; });

// The shipped camera file's answers size a destination that one grab then fills.
TEST_F(NodeTest, ADestinationSizedFromTheInquiriesTakesAGrab)
{
    ASSERT_NO_FATAL_FAILURE(Open(false));
    ASSERT_NE(Alloc(Cameras()[0]), 0u);
    const auto ask = [this](int32_t type) { return static_cast<int32_t>(Ask(type)); };
    ASSERT_NE(imBufAlloc(device_, ask(IM_DIG_SIZE_X), ask(IM_DIG_SIZE_Y), ask(IM_DIG_NUM_BANDS), ask(IM_DIG_TYPE),
                         IM_LOC_BOARD, &buffer_),
              0u)
        << LastText();
    EXPECT_EQ(libsandbox::GrabAndWait(kThread, camera_, buffer_, 1), IM_OSB_DONE);
    libsandbox::ExpectNoError();
}

// The live digitizer answers by digitizer 0 as by the id imDigAlloc gives; what only a
// camera record describes (its size among it) is refused there with -8.
TEST_F(NodeTest, DigitizerZeroIsTheNodesOwnLiveDigitizer)
{
    ASSERT_NO_FATAL_FAILURE(Open(false));
    ASSERT_NE(Alloc(Cameras()[0]), 0u);
    uint32_t digitizer = 0;
    ASSERT_NE(imDigAlloc(kThread, 0, 0, 0, &digitizer), 0u) << LastText();
    for (uint32_t id : {0u, digitizer}) {
        SCOPED_TRACE(id);
        // The gain code of red (type 0, channel in the selector) as the load left it, and the
        // pixel clock the module runs at, in MHz.
        int32_t code = -1;
        EXPECT_EQ(imDigInquire(kThread, id, IM_DIG_SELECT(0x1), &code), 3);
        EXPECT_EQ(code, 3);
        double clock = 0;
        EXPECT_EQ(imDigInquire(kThread, id, IM_DIG_PIXEL_CLOCK, &clock), 13);
        EXPECT_DOUBLE_EQ(clock, 13.5);
        libsandbox::ExpectNoError();
        for (int32_t type : {IM_DIG_SIZE_X, IM_DIG_SIZE_Y, IM_DIG_TYPE, IM_DIG_NUM_BANDS}) {
            int32_t out = -1;
            EXPECT_EQ(imDigInquire(kThread, id, type, &out), 0) << type;
            EXPECT_EQ(out, 0);
            libsandbox::ExpectError(IM_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "DigInquire");
        }
    }
    EXPECT_EQ(imDigFree(kThread, digitizer), 0) << LastText();
}

// What the error hook was called with.
std::vector<int32_t> g_hooked;
int32_t Hook(int32_t, int32_t code, uint32_t)
{
    g_hooked.push_back(code);
    return 0;
}

// A second free of a camera or of a sync object returns the unknown id's error at once,
// and the last-error record and the hook carry the same, under the node handler's name.
// (A digitizer stays in the system's list when its last user frees it: its id stays
// known, and a second free is none of these.)
TEST_F(NodeTest, ASecondFreeReportsTheUnknownIdAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(Open(false));
    uint32_t camera = 0, sync = 0;
    ASSERT_NE(imCamAlloc(kThread, Example("camera640.dcf").c_str(), IM_CAM_FILE, &camera), 0u) << LastText();
    ASSERT_NE(imSyncAlloc(kThread, &sync), 0u) << LastText();
    using Free = int32_t (*)(uint32_t, uint32_t);
    const struct {
        const char* handler;
        Free free;
        uint32_t id;
    } objects[] = {{"CamFree", imCamFree, camera}, {"SyncFree", imSyncFree, sync}};
    imAppCatchError(0, Hook, 0);
    for (const auto& o : objects) {
        SCOPED_TRACE(o.handler);
        g_hooked.clear();
        EXPECT_EQ(o.free(kThread, o.id), 0);
        libsandbox::ExpectNoError();
        EXPECT_EQ(o.free(kThread, o.id), IM_ERR_INVALID_BUFFER);
        EXPECT_EQ(g_hooked, std::vector<int32_t>{IM_ERR_INVALID_BUFFER});
        libsandbox::ExpectError(IM_ERR_INVALID_BUFFER, "Invalid buffer ID", o.handler);
    }
    imAppCatchError(0, nullptr, 0);
}

} // namespace
