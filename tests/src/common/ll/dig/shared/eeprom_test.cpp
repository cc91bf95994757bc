#include "../chipsfixture.h"
#include "eeprom.h"

using namespace chipsfixture;
using boardsim::EepromOp;

namespace {

constexpr uint32_t kPort = grabregs::kEepromPort;

class EepromTest : public GrabModuleTest {
protected:
    // The command bits the EEPROM saw: data in at each rising clock while selected.
    static std::vector<int> CommandBits(uint32_t reg, uint16_t clock, uint16_t data, uint16_t select)
    {
        return BitsAtRisingEdges(Values(reg), clock, data, select);
    }
    static std::vector<EepromOp> Ops()
    {
        std::vector<EepromOp> ops;
        for (const auto& c : Grab().eepromCommands()) ops.push_back(c.op);
        return ops;
    }
};

TEST_F(EepromTest, ReadOfTheLastWordSendsOneOneZeroAndTenOnes)
{
    Grab().setEeprom(1023, 0xBEEF);
    EXPECT_EQ(mp_dig_get_eeprom(1023), 0xBEEF);
    const auto bits = CommandBits(kPort, grabregs::kEepromClock, grabregs::kEepromDataIn, grabregs::kEepromSelect);
    ASSERT_GE(bits.size(), 13u);
    EXPECT_EQ(std::vector<int>(bits.begin(), bits.begin() + 13), Join({1, 1, 0}, std::vector<int>(10, 1)));
    EXPECT_EQ(bits.size(), 13u + 17u) << "16 data clocks and one more";
    EXPECT_FALSE(Grab().eepromSelected());
    const auto commands = Grab().eepromCommands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].op, EepromOp::Read);
    EXPECT_EQ(commands[0].address, 1023u);
}

TEST_F(EepromTest, AddressBitsAboveNineAreIgnored)
{
    Grab().setEeprom(3, 0x0123);
    EXPECT_EQ(mp_dig_get_eeprom(0x400 | 3), 0x0123);
    EXPECT_EQ(Grab().eepromCommands().back().address, 3u);
}

TEST_F(EepromTest, WriteRoundTripLeavesTheRegisterClearAndWritingDisabled)
{
    EXPECT_EQ(mp_dig_set_eeprom(5, 0x1234), 0);
    EXPECT_EQ(Grab().eeprom(5), 0x1234);
    EXPECT_EQ(mp_dig_get_eeprom(5), 0x1234);
    EXPECT_EQ(Ops(), (std::vector<EepromOp>{EepromOp::Enable, EepromOp::Write, EepromOp::Disable, EepromOp::Read}));
    EXPECT_FALSE(Grab().eepromCommands()[1].refused);
    EXPECT_FALSE(Grab().eepromWriteEnabled());
    EXPECT_EQ(Grab().reg(kPort), 0);
    EXPECT_EQ(Live(grabregs::Slot(kPort))->value & 0xFFFF, 0u);
}

TEST_F(EepromTest, EraseAndTheWholeDeviceOperations)
{
    ASSERT_EQ(mp_dig_set_eeprom(9, 0), 0);
    EXPECT_EQ(mp_dig_erase_eeprom(9), 0);
    EXPECT_EQ(Grab().eeprom(9), 0xFFFF);
    EXPECT_EQ(mp_dig_set_eeprom_all(0x5A5A), 0);
    for (uint32_t a : {0u, 511u, 1023u}) EXPECT_EQ(mp_dig_get_eeprom(a), 0x5A5A) << a;
    EXPECT_EQ(mp_dig_erase_eeprom_all(), 0);
    for (uint32_t a : {0u, 511u, 1023u}) EXPECT_EQ(Grab().eeprom(a), 0xFFFF) << a;
    for (const auto& c : Grab().eepromCommands()) EXPECT_FALSE(c.refused);
    EXPECT_EQ(Grab().eepromCycles(), 4u);
}

TEST_F(EepromTest, NeverReadyTimesOutWithChipSelectLowAndWritingDisabled)
{
    Grab().setEeprom(7, 0x1111);
    Grab().setEepromNeverReady(true);
    const double start = boardsim::BoardSim::instance().now();
    EXPECT_EQ(mp_dig_set_eeprom(7, 0x2222), 1);
    EXPECT_GE(boardsim::BoardSim::instance().now() - start, 1.0) << "the EEPROM time-out of the table";
    EXPECT_FALSE(Grab().eepromSelected());
    EXPECT_EQ(Grab().reg(kPort), 0);
    // A busy device ignores what comes in, but the library still sends the write disable
    // after dropping chip select: EWEN, the write, EWDS.
    const std::vector<int> ewen = Join({0, 1, 0, 0, 1, 1}, std::vector<int>(8, 0));
    const std::vector<int> write = Join(Join({1, 0, 1}, MsbFirst(7, 10)), MsbFirst(0x2222, 16));
    const std::vector<int> ewds = Join({0, 1, 0, 0, 0, 0}, std::vector<int>(8, 0));
    EXPECT_EQ(CommandBits(kPort, grabregs::kEepromClock, grabregs::kEepromDataIn, grabregs::kEepromSelect),
              Join(Join(ewen, write), ewds));
    Grab().setEepromNeverReady(false);
    EXPECT_EQ(Grab().eeprom(7), 0x1111);
    EXPECT_EQ(mp_dig_erase_eeprom_all(), 0) << "the device works again";
}

TEST_F(EepromTest, BitDelayFollowsTheProcessorSpeed)
{
    _NODE_ST* saved = imNodeSt;
    imNodeSt = nullptr;
    // 1e9 x 9e-7 x 0.25 is exactly 225 in doubles.
    EXPECT_EQ(mpPrvEepromBitLoops(), 225u) << "1 GHz when unknown";
    std::vector<uint8_t> block(sizeof(_NODE_ST), 0);
    imNodeSt = reinterpret_cast<_NODE_ST*>(block.data());
    EXPECT_EQ(mpPrvEepromBitLoops(), 225u) << "0 means not measured";
    imNodeSt->cpuFrequency = 2000000000u;
    EXPECT_EQ(mpPrvEepromBitLoops(), 450u);
    imNodeSt->cpuFrequency = 4444445u;
    EXPECT_EQ(mpPrvEepromBitLoops(), 1u);
    imNodeSt = saved;
}

// ---- second family -----------------------------------------------------------------

// The second family's EEPROM register is BTC_EEPPRG (offset 632), reached at port offset
// 2 x 632 = 16 x 79: register 79 of the standard module's window.
constexpr uint32_t kKvxPortRegister = 2 * cam1::BTC_EEPPRG / 16;
constexpr uint16_t kKvxClock = 0x1, kKvxData = 0x2, kKvxDataOut = 0x4, kKvxSelect = 0x8;

class KvxEepromTest : public EepromTest {
protected:
    void TearDown() override
    {
        mpPrvSetKvxInfo(kNode, nullptr);
        EepromTest::TearDown();
    }
    void Attach()
    {
        info_.regs[0] = copy_->bytes;
        mpPrvSetKvxInfo(kNode, &info_);
    }
    KVX_INFO info_{};
    std::unique_ptr<_MP_CAM_ST_1> copy_ = std::make_unique<_MP_CAM_ST_1>();
};

TEST_F(KvxEepromTest, WithoutItsRecordNothingIsTouched)
{
    boardsim::BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_kvx_get_eeprom(1), 0);
    EXPECT_EQ(mp_kvx_set_eeprom(1, 2), 1);
    EXPECT_EQ(mp_kvx_erase_eeprom(1), 1);
    EXPECT_EQ(mp_kvx_erase_eeprom_all(), 1);
    EXPECT_EQ(mp_kvx_set_eeprom_all(2), 1);
    EXPECT_TRUE(boardsim::BoardSim::instance().trace().empty());
    boardsim::BoardSim::instance().setTracing(false);
}

TEST_F(KvxEepromTest, ReadSendsTheCommandOnItsOwnLinesStraightToTheModule)
{
    Attach();
    mp_kvx_get_eeprom(1023);
    const auto bits = CommandBits(kKvxPortRegister, kKvxClock, kKvxData, kKvxSelect);
    ASSERT_GE(bits.size(), 13u);
    EXPECT_EQ(std::vector<int>(bits.begin(), bits.begin() + 13), Join({1, 1, 0}, std::vector<int>(10, 1)));
    EXPECT_EQ(CamSlotAt(copy_.get(), cam1::BTC_EEPPRG)->value & kKvxSelect, 0u);
    EXPECT_TRUE(Grab().eepromCommands().empty()) << "the standard EEPROM saw nothing";
}

TEST_F(KvxEepromTest, DeviceThatNeverAnswersTimesOutAndIsLeftDeselected)
{
    Attach();
    // Register 79 of the module reads back what was written: data out (bit 2) stays low.
    EXPECT_EQ(mp_kvx_set_eeprom(4, 0xABCD), 1);
    const auto v = Values(kKvxPortRegister);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.back(), 0) << "reset after the time-out";
    for (uint16_t x : v) EXPECT_EQ(x & kKvxDataOut, 0);
    const auto bits = CommandBits(kKvxPortRegister, kKvxClock, kKvxData, kKvxSelect);
    // EWEN (0 100 11 eight 0s), the write (1 01, address, data), EWDS (0 100 00 eight 0s).
    const std::vector<int> ewen = Join({0, 1, 0, 0, 1, 1}, std::vector<int>(8, 0));
    const std::vector<int> write = Join(Join({1, 0, 1}, MsbFirst(4, 10)), MsbFirst(0xABCD, 16));
    const std::vector<int> ewds = Join({0, 1, 0, 0, 0, 0}, std::vector<int>(8, 0));
    EXPECT_EQ(bits, Join(Join(ewen, write), ewds));
}

} // namespace
