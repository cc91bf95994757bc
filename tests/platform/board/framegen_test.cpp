// Frames of the simulated scene: the test pattern by default, an injected generator
// when the topology names one, and each machine with its own generator.
#include "boardsim.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace boardsim;

namespace {

// Records what it was asked for and answers a flat grey of the frame number.
class Recorder : public FrameGenerator {
public:
    void render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels) override
    {
        asked.push_back({frame, width, height});
        for (uint32_t i = 0; i < width * height; ++i) pixels[i] = static_cast<uint8_t>(frame);
    }
    struct Ask {
        uint64_t frame;
        uint32_t width, height;
        bool operator==(const Ask& o) const { return frame == o.frame && width == o.width && height == o.height; }
    };
    std::vector<Ask> asked;
};

TEST(FrameGenerator, DefaultTestPatternMovesOnePixelPerFrame)
{
    BoardSim& sim = BoardSim::instance();
    sim.configure();
    const std::vector<uint8_t> first = sim.frame(0, 4, 3);
    EXPECT_EQ(first, (std::vector<uint8_t>{0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5}));
    const std::vector<uint8_t> next = sim.frame(1, 4, 3);
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(next[i], static_cast<uint8_t>(first[i] + 1));
    EXPECT_EQ(sim.frame(255, 300, 1)[256], 255);   // (256 + 0 + 255) mod 256
    EXPECT_EQ(sim.frame(3, 4, 3), sim.frame(3, 4, 3));
    EXPECT_TRUE(sim.frame(0, 0, 5).empty());
}

TEST(FrameGenerator, InjectedGeneratorServesItsMachineOnly)
{
    BoardSim& sim = BoardSim::instance();
    auto recorder = std::make_shared<Recorder>();
    Topology t;
    t.frames = recorder;
    sim.configure(t);
    EXPECT_EQ(sim.frame(7, 2, 2), (std::vector<uint8_t>(4, 7)));
    EXPECT_EQ(recorder->asked, (std::vector<Recorder::Ask>{{7, 2, 2}}));
    sim.configure();
    EXPECT_EQ(sim.frame(7, 2, 1), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(recorder->asked.size(), 1u);
}

} // namespace
