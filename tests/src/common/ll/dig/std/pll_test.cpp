// Pixel clock and line-lock PLL: the timer-1 measurement, the lock waits, the relock
// decision, the start procedures, the ICS1522 and ICD2061A loaders and the final lock.
// The measured clock comes from a read filter that plays the module's counter: register 3
// answers the count in kHz and timer 1 reports busy for a few polls, then idle.
#include "../chipsfixture.h"

#include "analog.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "pll.h"
#include "reqres.h"

#include <algorithm>
#include <memory>
#include <string>

using namespace cam0;
using chipsfixture::Get;
using chipsfixture::Set;

namespace {

struct Counter {
    std::vector<uint32_t> counts;  // one per measurement; the last one repeats
    size_t measurement = 0;
    uint32_t t1Reads = 0;
    bool neverIdle = false;
    uint32_t current() const { return counts.empty() ? 0 : counts[std::min(measurement, counts.size() - 1)]; }
};

class PllTest : public chipsfixture::GrabModuleTest {
protected:
    void SetUp() override
    {
        chipsfixture::GrabModuleTest::SetUp();
        if (HasFatalFailure()) return;
        counter_ = std::make_shared<Counter>();
        auto c = counter_;
        boardsim::BoardSim::instance().setWriteFilter([c](boardsim::HwAccess& a) {
            // A write of DIG_PSGCFG's high lane that leaves test mode ends one measurement.
            if (a.area == boardsim::HwArea::PrimaryPort && a.op == boardsim::HwOp::Write &&
                a.offset == grabregs::PortLow(grabregs::DIG_PSGCFG) && !(a.value & 0x10) && c->t1Reads) {
                ++c->measurement;
                c->t1Reads = 0;
            }
            return true;
        });
        boardsim::BoardSim::instance().setReadFilter([c](const boardsim::HwAccess& a) -> uint32_t {
            if (a.area != boardsim::HwArea::PrimaryPort || a.op != boardsim::HwOp::Read) return a.value;
            const uint32_t reg = a.offset / 16;
            const bool high = (a.offset % 16) >= 8;
            if (reg == grabregs::kVerticalCounter) return high ? (c->current() >> 8) & 0xFF : c->current() & 0xFF;
            if (reg == grabregs::DIG_T1CTL && high) {
                const bool busy = c->neverIdle || (c->t1Reads++ % 4) < 3;
                return busy ? 0x80 : 0x00;
            }
            return a.value;
        });
        mpPrvDigPut(nullptr, INFO_USRCLK0, 0xFFFFFFFFu, 10000000, false);
    }
    void TearDown() override
    {
        boardsim::BoardSim::instance().setReadFilter(nullptr);
        boardsim::BoardSim::instance().setWriteFilter(nullptr);
        chipsfixture::GrabModuleTest::TearDown();
    }

    void Counts(std::vector<uint32_t> counts) { counter_->counts = std::move(counts); }
    // Measurements made: writes of DIG_PSGCFG that enter test mode.
    static size_t Measurements()
    {
        const std::vector<uint16_t> v = Values(grabregs::DIG_PSGCFG);
        return static_cast<size_t>(std::count_if(v.begin(), v.end(), [](uint16_t x) { return (x & 0x10) != 0; }));
    }
    static void LiveSet(uint32_t offset, uint32_t value) { mpPrvDigPut(nullptr, offset, 0xFFFFFFFFu, value, false); }

    std::shared_ptr<Counter> counter_;
};

MP_RESOURCE_ST Resource()
{
    MP_RESOURCE_ST r{};
    r.node = chipsfixture::kNode;
    r.name = "CamAlloc";
    return r;
}

} // namespace

// ---- measurement ----------------------------------------------------------------------------

TEST_F(PllTest, CountsWithinHalfAPercentOf13500Pass)
{
    for (uint32_t count : {13433u, 13500u, 13567u}) {
        Counts({count});
        uint32_t measured = 0;
        EXPECT_EQ(mp_dig_pclk_ok(13500, 0.5, &measured), 1) << count;
        EXPECT_EQ(measured, count);
    }
    for (uint32_t count : {13432u, 13568u}) {
        Counts({count});
        uint32_t measured = 0;
        EXPECT_EQ(mp_dig_pclk_ok(13500, 0.5, &measured), 0) << count;
        EXPECT_EQ(measured, count) << "the count is reported also when it fails";
    }
}

TEST_F(PllTest, CountAbove65000FailsEvenWhenTheWindowEndsInTime)
{
    Counts({65001});
    uint32_t measured = 7;
    EXPECT_EQ(mp_dig_pclk_ok(65001, 0.5, &measured), 0);
    EXPECT_EQ(measured, 7u) << "no count read after an overflow";
    Counts({65000});
    EXPECT_EQ(mp_dig_pclk_ok(65000, 0.5, &measured), 1);
}

TEST_F(PllTest, WindowThatNeverClosesFailsAfterATenthOfASecond)
{
    Counts({13500});
    counter_->neverIdle = true;
    const double start = mp_time_clock(0.0);
    EXPECT_EQ(mp_dig_pclk_ok(13500, 0.5, nullptr), 0);
    const double spent = mp_time_clock(start);
    EXPECT_GE(spent, 0.1);
    EXPECT_LT(spent, 0.2);
}

TEST_F(PllTest, ExpectedClockOfZeroIsNeverMet)
{
    Counts({0});
    uint32_t measured = 5;
    EXPECT_EQ(mp_dig_pclk_ok(0, 0.5, &measured), 0);
    EXPECT_EQ(measured, 0u);
    LiveSet(INFO_PIXCLK, 0);
    double mhz = 1.0;
    EXPECT_EQ(mp_dig_get_pclk(&mhz), 0);
    EXPECT_EQ(mhz, 0.0);
}

TEST_F(PllTest, MeasurementPutsBackEveryRegisterItChanged)
{
    Counts({13500});
    LiveSet(DIG_VTOTAL, 525);
    LiveSet(DIG_T1SCNT, 100);
    LiveSet(DIG_EXP1S, 50);
    LiveSet(DIG_T1CTL, 0x0040);
    LiveSet(DIG_PSGCFG, 0x0001);
    ASSERT_EQ(mp_dig_pclk_ok(13500, 0.5, nullptr), 1);
    EXPECT_EQ(Live(DIG_VTOTAL)->value & 0xFFFF, 525u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_VTOTAL), 525);
    EXPECT_EQ(Grab().reg(grabregs::DIG_T1SCNT), 100);
    EXPECT_EQ(Grab().reg(grabregs::DIG_EXP1S), 50);
    EXPECT_EQ(Grab().reg(grabregs::DIG_PSGCFG), 0x0001) << "test mode off again";
    const std::vector<uint16_t> vt = Values(grabregs::DIG_VTOTAL);
    ASSERT_FALSE(vt.empty());
    EXPECT_EQ(vt.front(), 0xFFFF) << "the vertical counter runs free during the window";
    const std::vector<uint16_t> t1 = Values(grabregs::DIG_T1SCNT);
    EXPECT_NE(std::find(t1.begin(), t1.end(), 20000), t1.end());
    EXPECT_TRUE(Grab().icdWords().empty()) << "the user clock already runs at 10 MHz";
}

TEST_F(PllTest, MeasurementRunsTheUserClockAt10MHzAndBack)
{
    Counts({13500});
    LiveSet(INFO_USRCLK0, 25000000);
    ASSERT_EQ(mp_dig_pclk_ok(13500, 0.5, nullptr), 1);
    std::vector<uint32_t> words;
    for (uint32_t w : Grab().icdWords())
        if (((w >> 21) & 7) == 0) words.push_back(w & 0xFFFFFF);
    const std::vector<uint32_t> expected = {0x011155BDu & 0xFFFFFF, mp_dig_calc_icd2061(0, 25000, 0) & 0xFFFFFF};
    EXPECT_EQ(words, expected);
    EXPECT_EQ(mpPrvDefaultFreq(), 0x011155BDu);
    EXPECT_EQ(Live(kUsrClkWordSlot)->value, mp_dig_calc_icd2061(0, 25000, 0));
}

TEST_F(PllTest, PixelClockInquiryAnswersMegahertz)
{
    LiveSet(INFO_PIXCLK, 13500000);
    Counts({13510});
    double mhz = 0;
    EXPECT_EQ(mp_dig_get_pclk(&mhz), 0);
    EXPECT_DOUBLE_EQ(mhz, 13.51);
    Counts({13600});  // 0.74 % off
    EXPECT_EQ(mp_dig_get_pclk(&mhz), 0);
    EXPECT_EQ(mhz, 0.0);
}

// ---- lock waits ---------------------------------------------------------------------------------

TEST_F(PllTest, LockWaitTries21TimesWithPausesBetween)
{
    Counts({1000});
    const double start = mp_time_clock(0.0);
    EXPECT_EQ(mp_dig_wait_pll_lock(13500), -1);
    EXPECT_EQ(Measurements(), 21u);
    EXPECT_GE(mp_time_clock(start), 20 * 0.04);

    Grab().clearLog();
    counter_->measurement = 0;
    Counts({1000, 1000, 13500});
    EXPECT_EQ(mp_dig_wait_pll_lock(13500), 0);
    EXPECT_EQ(Measurements(), 3u);
}

TEST_F(PllTest, NewLockWaitTriesTenTimesAndReportsTheLastCount)
{
    Counts({1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010});
    uint32_t measured = 0;
    const double start = mp_time_clock(0.0);
    EXPECT_EQ(mp_dig_wait_pll_lock_new(13500, 0.001, 1.0, &measured), -4);
    EXPECT_EQ(Measurements(), 10u);
    EXPECT_EQ(measured, 1009u);
    EXPECT_GE(mp_time_clock(start), 9 * 0.01);
}

TEST_F(PllTest, NewLockWaitPausesAreBoundedForAbsurdLineTimes)
{
    Counts({1000});
    uint32_t measured = 0;
    const double start = mp_time_clock(0.0);
    EXPECT_EQ(mp_dig_wait_pll_lock_new(13500, 1.0e9, 1.0, &measured), -4);
    EXPECT_LT(mp_time_clock(start), 9 * 1.0 + 2.0);
}

// ---- relock decision ----------------------------------------------------------------------------------

TEST_F(PllTest, ClockWithinATenthOfTheLiveOneKeepsTheLock)
{
    LiveSet(DIG_GRABCTL, 0x9000);
    LiveSet(INFO_PIXCLK, 13500000);
    LiveSet(DIG_HTOTAL, 858);
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), DIG_GRABCTL, 0x9000);
    Set(cam.get(), DIG_HTOTAL, 858);

    Set(cam.get(), INFO_PIXCLK, 13500000 * 109 / 100);
    int relock = 0;
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 0) << "9 % higher";

    Set(cam.get(), INFO_PIXCLK, 13500000 * 111 / 100);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1) << "11 % higher";

    relock = 0;
    Set(cam.get(), INFO_PIXCLK, 13500000);
    Set(cam.get(), DIG_HTOTAL, 858 * 89 / 100);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1) << "line 11 % shorter";
}

TEST_F(PllTest, PllSourceChangeOrLivePllOffForcesARelock)
{
    LiveSet(DIG_GRABCTL, 0x9000);
    LiveSet(INFO_PIXCLK, 13500000);
    LiveSet(DIG_HTOTAL, 858);
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_PIXCLK, 13500000);
    Set(cam.get(), DIG_HTOTAL, 858);
    Set(cam.get(), DIG_GRABCTL, 0xA000);
    int relock = 0;
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1);

    relock = 0;
    Set(cam.get(), DIG_GRABCTL, 0x1000);  // the record does not use the PLL
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 0);

    relock = 0;
    LiveSet(DIG_GRABCTL, 0x1000);
    Set(cam.get(), DIG_GRABCTL, 0x9000);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1) << "live PLL off";
}

TEST_F(PllTest, NewPathRelocksOnIcsOrTimingChanges)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x100);
    int relock = 0;
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 0) << "everything equal";

    Set(cam.get(), ICS1522REG(4), 7);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1);

    relock = 0;
    Set(cam.get(), ICS1522REG(4), 0);
    Set(cam.get(), DIG_GRABCTL, 0x2000);
    Set(cam.get(), DIG_HTOTAL, 900);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1) << "source changed and line length differs";

    relock = 0;
    Set(cam.get(), SICS1522REG(5), 1);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 0) << "with the prelock bit only DIG_GPCTL counts";
    Set(cam.get(), DIG_GPCTL, 4);
    prelock(cam.get(), &relock);
    EXPECT_EQ(relock, 1);
}

// ---- start procedures and loaders ---------------------------------------------------------------------

TEST_F(PllTest, FirstStartLoadsThePrelockTimingAndIcsSet)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), SDIG_T2SCNT, 111);
    Set(cam.get(), SDIG_EXP2S, 22);
    Set(cam.get(), SDIG_HTOTAL, 1000);
    Set(cam.get(), SDIG_GRABCTL, 0x9000);
    Set(cam.get(), SDIG_HSSYNC, 5);
    Set(cam.get(), SDIG_HEPLLF, 66);
    for (uint32_t r = 0; r < 7; ++r) Set(cam.get(), SICS1522REG(r), 100 + r);
    mp_dig_start_pll(cam.get());
    EXPECT_EQ(Grab().reg(grabregs::DIG_T2SCNT), 111);
    EXPECT_EQ(Grab().reg(grabregs::DIG_EXP2S), 22);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 1000);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL), 0x9000);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HSSYNC), 5);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HEPLLF), 66);
    EXPECT_EQ(Grab().reg(grabregs::DIG_T2CTL) & 0xF0, 0x60) << "bit 4 clear, 5 and 6 set, 7 clear";
    EXPECT_EQ(Grab().reg(grabregs::DIG_MISCTL) & 0xB0, 0xA0);
    EXPECT_EQ(Values(grabregs::DIG_SRSCTL), (std::vector<uint16_t>{0x0200, 0x0000})) << "bit 9 pulsed";
    for (int r = 0; r < 7; ++r) EXPECT_EQ(Grab().ics1522(r), 100 + r) << r;
    EXPECT_EQ(Live(ICS1522REG(6))->value, 106u);
}

TEST_F(PllTest, SecondStartUsesTheFixedSetAndLeavesLineTimingAlone)
{
    auto cam = chipsfixture::NewRecord();
    LiveSet(DIG_HTOTAL, 777);
    mp_dig_start_pll_new(cam.get());
    EXPECT_EQ(Grab().reg(grabregs::DIG_T2SCNT), 1816);
    EXPECT_EQ(Grab().reg(grabregs::DIG_EXP2S), 174);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GRABCTL), 0xFC00);
    const int fixed[7] = {160, 48, 6, 1024, 1909, 1315, 1272};
    for (int r = 0; r < 7; ++r) EXPECT_EQ(Grab().ics1522(r), fixed[r]) << r;
    EXPECT_TRUE(Values(grabregs::DIG_HTOTAL).empty());
    EXPECT_TRUE(Values(grabregs::DIG_PSGCFG).empty());
}

TEST_F(PllTest, SecondProcedureScalesRegisterZeroByTheLineLength)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x300);
    Set(cam.get(), SICS1522REG(5), 1);
    Set(cam.get(), ICS1522REG(0), 0x7FF);
    Set(cam.get(), ICS1522REG(5), 0x40);
    const std::tuple<uint32_t, uint32_t, uint32_t> cases[] = {
        {3000, 1500, 0x80}, {40, 40, 0x40}, {858, 858, 0xC0}, {6000, 1500, 0x40}, {10000, 1250, 0x00}};
    for (const auto& [h, reg0, reg5] : cases) {
        Set(cam.get(), DIG_HTOTAL, h);
        mp_dig_load_ics1522(cam.get(), 0);
        EXPECT_EQ(Grab().ics1522(0) & 0x7FF, static_cast<int>(reg0)) << h;
        EXPECT_EQ(Grab().ics1522(5) & 0xC0, static_cast<int>(reg5)) << h;
    }
    Set(cam.get(), DIG_HTOTAL, 20000);
    mp_dig_load_ics1522(cam.get(), 0);
    EXPECT_EQ(Grab().ics1522(0), 0x7FF) << "above 16384 nothing changes";

    Set(cam.get(), INFO_MISC, 0x100);  // new path, first procedure: register 5 bit 0 set
    mp_dig_load_ics1522(cam.get(), 0);
    EXPECT_EQ(Grab().ics1522(5), 0x41);
}

// The chip loads that follow the first n of the log.
std::vector<std::pair<int, uint16_t>> LoadsAfter(size_t n)
{
    const auto all = boardsim::BoardSim::instance().grab(0).ics1522Loads();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end()};
}
std::vector<uint32_t> WordAddressesAfter(size_t n)
{
    const auto all = boardsim::BoardSim::instance().grab(0).icdWords();
    std::vector<uint32_t> out;
    for (size_t i = n; i < all.size(); ++i) out.push_back((all[i] >> 21) & 7);
    return out;
}

TEST_F(PllTest, IcsLoaderPausesOnlyForChangedRegistersOutsideModeThree)
{
    auto cam = chipsfixture::NewRecord();
    for (uint32_t r = 0; r < 7; ++r) Set(cam.get(), ICS1522REG(r), 10 + r);
    mp_dig_load_ics1522(cam.get(), 0);
    size_t seen = Grab().ics1522Loads().size();
    EXPECT_EQ(seen, 7u);

    double start = mp_time_clock(0.0);
    mp_dig_load_ics1522(cam.get(), 2);
    EXPECT_TRUE(LoadsAfter(seen).empty());
    EXPECT_LT(mp_time_clock(start), 0.05);

    Set(cam.get(), ICS1522REG(3), 99);
    start = mp_time_clock(0.0);
    mp_dig_load_ics1522(cam.get(), 1);
    EXPECT_EQ(LoadsAfter(seen), (std::vector<std::pair<int, uint16_t>>{{3, 99}}));
    EXPECT_GE(mp_time_clock(start), 0.05);

    seen = Grab().ics1522Loads().size();
    Set(cam.get(), ICS1522REG(4), 98);
    start = mp_time_clock(0.0);
    mp_dig_load_ics1522(cam.get(), 3);
    EXPECT_EQ(LoadsAfter(seen), (std::vector<std::pair<int, uint16_t>>{{4, 98}}));
    EXPECT_LT(mp_time_clock(start), 0.05);
}

TEST_F(PllTest, ClockLoaderProgramsOnlyChangedClocksAfterTheFirst)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_GRBSYSCLK, 40000000);
    Set(cam.get(), INFO_USRCLK0, 25000000);
    mp_dig_load_icd2061(cam.get(), 0);
    EXPECT_EQ(WordAddressesAfter(0), (std::vector<uint32_t>{3, 6, 0}));
    EXPECT_TRUE(Grab().icdClock(3).loaded);
    EXPECT_EQ(Live(INFO_GRBSYSCLK)->value, 40000000u);
    EXPECT_EQ(Live(kGrbSysClkWordSlot)->value, mp_dig_calc_icd2061(3, 40000, 0));
    EXPECT_EQ(Live(kUsrClkWordSlot)->value, mp_dig_calc_icd2061(0, 25000, 0));

    const size_t seen = Grab().icdWords().size();
    const double start = mp_time_clock(0.0);
    mp_dig_load_icd2061(cam.get(), 2);
    EXPECT_TRUE(WordAddressesAfter(seen).empty());
    EXPECT_LT(mp_time_clock(start), 0.01) << "no pause without a change";
    Set(cam.get(), INFO_USRCLK0, 20000000);
    mp_dig_load_icd2061(cam.get(), 2);
    EXPECT_EQ(WordAddressesAfter(seen), (std::vector<uint32_t>{6, 0})) << "control word, then the user clock only";
}

TEST_F(PllTest, FeedbackToggleFlipsBitThreeAndBack)
{
    LiveSet(DIG_PLLCTL, 0x0009);
    mp_dig_togPllFB();
    EXPECT_EQ(Values(grabregs::DIG_PLLCTL), (std::vector<uint16_t>{0x0009, 0x0001, 0x0009}));
}

// ---- final lock ---------------------------------------------------------------------------------------

TEST_F(PllTest, FinalLockWithoutNewPathOnlyLoadsAndSettles)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), DIG_GRABCTL, 0x8000);
    Set(cam.get(), DIG_HTOTAL, 858);
    Set(cam.get(), ICS1522REG(2), 6);
    const double start = mp_time_clock(0.0);
    mp_dig_set_pll(nullptr, cam.get());
    EXPECT_GE(mp_time_clock(start), 0.1);
    EXPECT_EQ(Grab().ics1522Loads().size(), 7u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858) << "record timing restored";
    EXPECT_EQ(Measurements(), 0u);
}

TEST_F(PllTest, FinalLockWarnsWithTheMeasuredFrequency)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x100);
    Set(cam.get(), DIG_GRABCTL, 0x8000);
    Set(cam.get(), DIG_HTOTAL, 858);
    Set(cam.get(), INFO_PIXCLK, 13500000);
    Counts({13000});
    MP_RESOURCE_ST res = Resource();
    mp_dig_set_pll(&res, cam.get());
    EXPECT_EQ(Measurements(), 10u);
    EXPECT_EQ(res.err.code, HLC_ERR_RESTRICTED);
    EXPECT_STREQ(res.err.message, "Warning: PLL not locked; PLL freq (kHz): 13000");

    // A resource with an error already recorded keeps it.
    MP_RESOURCE_ST busy = Resource();
    _mp_res_log_error(&busy, HLC_ERR_TIMEOUT, nullptr);
    mp_dig_set_pll(&busy, cam.get());
    EXPECT_EQ(busy.err.code, HLC_ERR_TIMEOUT);
}

TEST_F(PllTest, IntermediateLockSwitchesTheHorizontalResetThenTheRecordsValue)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x100);
    Set(cam.get(), SICS1522REG(5), 1);
    Set(cam.get(), DIG_GRABCTL, 0xA000);  // PLL, source 2
    Set(cam.get(), DIG_HVRCTL, 0x0015);
    Set(cam.get(), DIG_HTOTAL, 858);
    Set(cam.get(), INFO_PIXCLK, 13500000);
    Set(cam.get(), ICS1522REG(5), 0x40);
    Counts({13500});
    MP_RESOURCE_ST res = Resource();
    mp_dig_set_pll(&res, cam.get());
    EXPECT_EQ(res.err.code, 0);
    const std::vector<uint16_t> hvr = Values(grabregs::DIG_HVRCTL);
    ASSERT_GE(hvr.size(), 3u);
    EXPECT_EQ(hvr[hvr.size() - 2], 0x0018) << "source 2: bits 0-2 cleared, bit 3 set";
    EXPECT_EQ(hvr.back(), 0x0015);
    EXPECT_EQ(Measurements(), 2u) << "intermediate lock, then the final one";
    const auto loads = Grab().ics1522Loads();
    EXPECT_EQ(loads.back(), (std::pair<int, uint16_t>{5, 0x40}));
}

TEST_F(PllTest, IntermediateWarningHasItsOwnText)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x300);
    Set(cam.get(), DIG_GRABCTL, 0xC000);
    Set(cam.get(), DIG_HTOTAL, 858);
    Set(cam.get(), INFO_PIXCLK, 13500000);
    Set(cam.get(), ICS1522REG(5), 1);  // final register keeps bit 0: no final wait
    Counts({12000});
    MP_RESOURCE_ST res = Resource();
    mp_dig_set_pll(&res, cam.get());
    EXPECT_STREQ(res.err.message, "Warning: PLL intermediate lock not successful; PLL freq (kHz): 12000");
    EXPECT_EQ(Measurements(), 10u);
}

TEST_F(PllTest, FinalLockWithoutPixelClockDividesNothing)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x100);
    Set(cam.get(), DIG_GRABCTL, 0x8000);
    Set(cam.get(), DIG_HTOTAL, 858);
    Counts({13500});
    MP_RESOURCE_ST res = Resource();
    mp_dig_set_pll(&res, cam.get());
    EXPECT_STREQ(res.err.message, "Warning: PLL not locked; PLL freq (kHz): 13500");
}

TEST_F(PllTest, FinalLockWithoutPllPulsesTheHorizontalReset)
{
    auto cam = chipsfixture::NewRecord();
    Set(cam.get(), INFO_MISC, 0x100);
    mp_dig_set_pll(nullptr, cam.get());
    EXPECT_EQ(Values(grabregs::DIG_SRSCTL).size(), 3u) << "restored, then bit 1 set and cleared";
    EXPECT_EQ(Values(grabregs::DIG_SRSCTL)[1], 0x0002);
    Grab().clearLog();
    Set(cam.get(), DIG_HVRCTL, 0x10);
    mp_dig_set_pll(nullptr, cam.get());
    EXPECT_EQ(Values(grabregs::DIG_SRSCTL).size(), 1u) << "horizontal reset enabled: no pulse";
}

// ---- against the module's clock model ------------------------------------------------------------------

namespace {

class PllModelTest : public chipsfixture::GrabModuleTest {};

} // namespace

TEST_F(PllModelTest, LockedModuleMeasuresThePixelClock)
{
    Grab().setPixelClockKhz(13500);
    uint32_t measured = 0;
    EXPECT_EQ(mp_dig_pclk_ok(13500, 0.5, &measured), 1);
    EXPECT_EQ(measured, 13500u);
    EXPECT_EQ(Grab().clockMeasurements(), 1u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_PSGCFG) & 0x10, 0);
}

TEST_F(PllModelTest, PllThatNeverLocksFailsTheWaitAfter21Measurements)
{
    Grab().setPllLock(boardsim::GrabPllLock::Never);
    EXPECT_EQ(mp_dig_wait_pll_lock(13500), -1);
    EXPECT_EQ(Grab().clockMeasurements(), 21u);
    EXPECT_EQ(Grab().measuredKhz(), 6750u) << "half the clock while unlocked";
}

TEST_F(PllModelTest, OverflowingCounterNeverPasses)
{
    Grab().setPllLock(boardsim::GrabPllLock::Overflow);
    uint32_t measured = 0;
    EXPECT_EQ(mp_dig_wait_pll_lock_new(65001, 0.0001, 1.0, &measured), -4);
    EXPECT_EQ(Grab().clockMeasurements(), 10u);
}

TEST_F(PllModelTest, LockAfterRegisterChangeComesWithTheCountedTests)
{
    Grab().setPllLock(boardsim::GrabPllLock::AfterTests, 3);
    auto cam = chipsfixture::NewRecord();
    for (uint32_t r = 0; r < 7; ++r) Set(cam.get(), SICS1522REG(r), 200 + r);
    mp_dig_load_start_ics1522(cam.get(), 0);
    EXPECT_EQ(mp_dig_wait_pll_lock(13500), 0);
    EXPECT_EQ(Grab().clockMeasurements(), 4u) << "three unlocked tests, then the lock";
}
