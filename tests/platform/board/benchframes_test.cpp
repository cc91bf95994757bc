// The bench as the simulated camera: a machine given the bench's frame generator shows the
// bench camera's frames of its scene, through frame() and the grab engine's samples; a
// machine without it shows the test pattern.
#include "benchframes.h"
#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <numeric>
#include <vector>

using namespace boardsim;

namespace {

constexpr uint32_t kW = 64, kH = 48;

// The bench camera's own frame, as the imaging stand-in takes it.
std::vector<uint8_t> BenchFrame(const bench::CameraSettings& camera, uint32_t w = kW, uint32_t h = kH)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h, 0xEE);
    bench::captureFrame(camera, static_cast<int>(w), static_cast<int>(h), pixels.data());
    return pixels;
}

bench::CameraSettings Channel(uint32_t code)
{
    bench::CameraSettings camera;
    camera.channel = code;
    return camera;
}

class BenchFrames : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The workstation's default geometry and a fixed seed, whatever the settings store
        // and the environment hold; the stage at home.
        bench::configure(bench::Config{});
        for (int axis = 1; axis <= 4; ++axis) bench::setAxisCounts(axis, 0);
    }
    void TearDown() override
    {
        BoardSim::instance().configure();
        bench::configure(bench::Config{});
        for (int axis = 1; axis <= 4; ++axis) bench::setAxisCounts(axis, 0);
    }
    static void UseGenerator(std::shared_ptr<FrameGenerator> generator)
    {
        Topology t;
        t.clock = ClockMode::Virtual;
        t.frames = std::move(generator);
        BoardSim::instance().configure(t);
    }
};

TEST_F(BenchFrames, MachineShowsTheBenchFrameOfTheGivenScene)
{
    UseGenerator(std::make_shared<BenchSceneGenerator>(bench::Scene::Sphere));
    BoardSim& sim = BoardSim::instance();
    const std::vector<uint8_t> frame = sim.frame(0, kW, kH);
    EXPECT_EQ(bench::config().scene, bench::Scene::Sphere);
    EXPECT_EQ(frame, BenchFrame(bench::CameraSettings{}));
    // The bench's frame depends on its state, not on the frame number.
    EXPECT_EQ(sim.frame(17, kW, kH), frame);
    // Not the test pattern: (x + y) mod 256 would rise by one along the first row.
    std::vector<uint8_t> ramp(kW);
    std::iota(ramp.begin(), ramp.end(), uint8_t{0});
    EXPECT_NE(std::vector<uint8_t>(frame.begin(), frame.begin() + kW), ramp);

    // Another scene gives another image; the pinned generator brings its own back.
    bench::setScene(bench::Scene::Flat);
    const std::vector<uint8_t> flat = BenchFrame(bench::CameraSettings{});
    EXPECT_NE(flat, frame);
    EXPECT_EQ(sim.frame(1, kW, kH), frame);
    EXPECT_EQ(bench::config().scene, bench::Scene::Sphere);
}

TEST_F(BenchFrames, UnpinnedGeneratorFollowsTheBenchScene)
{
    UseGenerator(std::make_shared<BenchSceneGenerator>());
    BoardSim& sim = BoardSim::instance();
    for (bench::Scene scene : {bench::Scene::Flat, bench::Scene::Step, bench::Scene::Tilted}) {
        bench::setScene(scene);
        EXPECT_EQ(sim.frame(0, kW, kH), BenchFrame(bench::CameraSettings{})) << bench::sceneName(scene);
        EXPECT_EQ(bench::config().scene, scene);
    }
}

TEST_F(BenchFrames, CameraChannelChoosesObjectViewOrFringes)
{
    const bench::Config config = bench::config();
    UseGenerator(std::make_shared<BenchSceneGenerator>(bench::Scene::Flat, Channel(config.viewChannel)));
    const std::vector<uint8_t> view = BoardSim::instance().frame(0, kW, kH);
    EXPECT_EQ(view, BenchFrame(Channel(config.viewChannel)));
    // The uniformly lit plate: ambient + bias + 0.72 modulation = 200 grey, up to the noise.
    const uint8_t centre = view[static_cast<size_t>(kH / 2) * kW + kW / 2];
    EXPECT_NEAR(centre, 200, 4);
    // The dark band along the right edge reflects a tenth of that light.
    EXPECT_NEAR(view[static_cast<size_t>(kH / 2) * kW + kW - 1], 20, 4);

    UseGenerator(std::make_shared<BenchSceneGenerator>(bench::Scene::Flat, Channel(0x20000000)));
    const std::vector<uint8_t> fringes = BoardSim::instance().frame(0, kW, kH);
    EXPECT_EQ(fringes, BenchFrame(Channel(0x20000000)));
    EXPECT_NE(fringes, view);
}

TEST_F(BenchFrames, FringesFollowThePhaseShiftAxis)
{
    UseGenerator(std::make_shared<BenchSceneGenerator>(bench::Scene::Demo));
    BoardSim& sim = BoardSim::instance();
    const std::vector<uint8_t> before = sim.frame(0, kW, kH);
    const int axis = bench::config().phaseShiftAxis;
    bench::setAxisCounts(axis, bench::stepCounts(250.0 / bench::config().geometry.frequency));
    const std::vector<uint8_t> shifted = sim.frame(0, kW, kH);
    EXPECT_NE(shifted, before);
    EXPECT_EQ(shifted, BenchFrame(bench::CameraSettings{}));
    bench::setAxisCounts(axis, 0);
    EXPECT_EQ(sim.frame(0, kW, kH), before);
}

TEST_F(BenchFrames, GrabEngineDigitizesTheBenchFrameOnEveryChannel)
{
    UseGenerator(std::make_shared<BenchSceneGenerator>(bench::Scene::Step));
    for (uint32_t channel = 0; channel < 4; ++channel) {
        const std::vector<uint16_t> samples = BoardSim::instance().grabEngine(0).patternBlock(3, channel, kW, kH);
        EXPECT_EQ(bench::config().scene, bench::Scene::Step);
        const std::vector<uint8_t> pixels = BenchFrame(bench::CameraSettings{});
        ASSERT_EQ(samples.size(), pixels.size());
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), pixels.begin())) << "channel " << channel;
    }
}

TEST_F(BenchFrames, WithoutTheGeneratorTheMachineShowsTheTestPattern)
{
    UseGenerator(nullptr);
    BoardSim& sim = BoardSim::instance();
    EXPECT_EQ(sim.frame(2, 4, 3), (std::vector<uint8_t>{2, 3, 4, 5, 3, 4, 5, 6, 4, 5, 6, 7}));
    EXPECT_NE(sim.frame(0, kW, kH), BenchFrame(bench::CameraSettings{}));

    // A machine built afterwards with the generator shows the bench again.
    UseGenerator(std::make_shared<BenchSceneGenerator>(bench::Scene::Flat));
    const std::vector<uint8_t> flat = sim.frame(2, kW, kH);
    EXPECT_EQ(flat, BenchFrame(bench::CameraSettings{}));
    UseGenerator(nullptr);
    EXPECT_EQ(sim.frame(2, 4, 3)[0], 2);
}

TEST_F(BenchFrames, EmptyFramesWriteNothing)
{
    BenchSceneGenerator generator(bench::Scene::Flat);
    uint8_t untouched = 0x5A;
    generator.render(0, 0, 1, &untouched);
    generator.render(0, 1, 0, &untouched);
    EXPECT_EQ(untouched, 0x5A);
    generator.render(0, 1, 1, nullptr);
    generator.render(0, 1, 1, &untouched);
    EXPECT_EQ(untouched, BenchFrame(bench::CameraSettings{}, 1, 1)[0]);
}

} // namespace
