#include "../uartnode.h"

#include "analog.h"
#include "camuart.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace uartrx;
using boardsim::UartFrame;
using boardsim::UartParity;
using uartnode::UartNodeTest;

namespace {

constexpr double kDefault = 268435456.0;

std::vector<uint16_t> Sent(const std::vector<UartFrame>& frames)
{
    std::vector<uint16_t> words;
    for (const UartFrame& f : frames) {
        EXPECT_TRUE(f.complete) << "frame 0x" << std::hex << f.sent << " not 16 clocks";
        words.push_back(f.sent);
    }
    return words;
}

// ---- baud rate ------------------------------------------------------------------------

TEST(UartBaudCode, RatesRoundToTheCodesOfTheirBand)
{
    EXPECT_EQ(mp_uart_baud_code(9600), 11);
    EXPECT_EQ(mp_uart_baud_code(10000), 11);
    EXPECT_EQ(mp_uart_baud_code(200000), 0);   // 230400
    EXPECT_EQ(mp_uart_baud_code(172800), 1);   // 115200
    EXPECT_EQ(mp_uart_baud_code(172801), 0);
    EXPECT_EQ(mp_uart_baud_code(0x10000000), 4) << "the default selects the reset rate";
    EXPECT_EQ(mp_uart_baud_code(900), 15);
    EXPECT_EQ(mp_uart_baud_code(901), 14);
    EXPECT_EQ(mp_uart_baud_code(2100), 7);
    EXPECT_EQ(mp_uart_baud_code(16800), 4);
    EXPECT_EQ(mp_uart_baud_code(96000), 8);
    EXPECT_EQ(mp_uart_baud_code(0), 15);
    EXPECT_EQ(mp_uart_baud_code(-5), 15);
}

TEST_F(UartNodeTest, BaudRateControlProgramsTheChipAndInquiresIt)
{
    Control(mp_uart_baud_rate, 10000);
    EXPECT_EQ(Grab().uartConfig() & grabregs::kUartCfgBaudMask, 11);
    EXPECT_EQ(Port()->baudRate, 10000);
    EXPECT_EQ(Inquire(mp_uart_baud_rate), 9600.0) << "the chip runs the code's rate";
    Control(mp_uart_baud_rate, kDefault);
    EXPECT_EQ(Port()->baudRate, 14400);
    EXPECT_EQ(Grab().uartConfig(), 0x0004) << "only the baud bits change";
}

// ---- reset ----------------------------------------------------------------------------

TEST_F(UartNodeTest, ResetSendsItsFramesAndEmptiesTheChipsReceiver)
{
    Grab().uartQueue({0x31, 0x32, 0x33});
    Port()->status = 0x3F;
    Port()->writeIndex = 7;
    Port()->timeout = 9;
    ASSERT_EQ(mp_config_uart(info_), 0);
    // Ready off, the three waiting bytes read and one empty answer, the reset
    // configuration, ready on, one configuration read (its data line high after the first
    // clock, so the command bits read 01).
    const std::vector<uint16_t> expected = {0x8400, 0x0000, 0x0000, 0x0000, 0x0000, 0xC004, 0x8600, 0x7FFF};
    const auto frames = Grab().uartFrames();
    EXPECT_EQ(Sent(frames), expected);
    ASSERT_EQ(frames.size(), expected.size());
    EXPECT_EQ(frames[1].answer & 0x80FF, 0x8031);
    EXPECT_EQ(frames[3].answer & 0x80FF, 0x8033);
    EXPECT_EQ(frames[4].answer & 0x8000, 0);
    EXPECT_EQ(Grab().uartConfig(), 0x0004);
    EXPECT_TRUE(Grab().uartHostReady());
    EXPECT_EQ(Grab().uartQueued(), 0u);
    const MP_UART_ST* u = Port();
    EXPECT_EQ(u->baudRate, 14400);
    EXPECT_EQ(u->parity, kUartParityNone);
    EXPECT_EQ(u->dataBits, 8u);
    EXPECT_EQ(u->stopBits, 1u);
    EXPECT_EQ(u->writeLength, kUartLengthDefault);
    EXPECT_EQ(u->readLength, kUartLengthDefault);
    EXPECT_EQ(u->readMax, 255u);
    EXPECT_EQ(u->timeout, -1);
    EXPECT_EQ(u->readIndex, 0u);
    EXPECT_EQ(u->writeIndex, 0u);
    EXPECT_EQ(u->status, 0u);
    EXPECT_EQ(Inquire(mp_uart_data_present), 0.0) << "reset bytes do not reach the ring";
}

// ---- configuration controls ----------------------------------------------------------------

TEST_F(UartNodeTest, DataStopAndParityBitsOfTheConfiguration)
{
    Control(mp_uart_data_bits, 7.0);
    EXPECT_EQ(Grab().uartConfig() & grabregs::kUartCfgSevenBits, grabregs::kUartCfgSevenBits);
    EXPECT_EQ(Inquire(mp_uart_data_bits), 7.0);
    Control(mp_uart_data_bits, 6.0);
    EXPECT_EQ(Grab().uartConfig() & grabregs::kUartCfgSevenBits, 0) << "anything but 7 is eight bits";
    EXPECT_EQ(Inquire(mp_uart_data_bits), 8.0);
    EXPECT_EQ(Port()->dataBits, 6u);

    Control(mp_uart_stop_bits, 2.0);
    EXPECT_EQ(Grab().uartConfig() & grabregs::kUartCfgTwoStop, grabregs::kUartCfgTwoStop);
    EXPECT_EQ(Inquire(mp_uart_stop_bits), 2.0);
    Control(mp_uart_stop_bits, 1.0);
    EXPECT_EQ(Inquire(mp_uart_stop_bits), 1.0);

    Control(mp_uart_parity, 1.0);
    EXPECT_EQ(Grab().uartConfig() & grabregs::kUartCfgParity, grabregs::kUartCfgParity);
    EXPECT_EQ(Inquire(mp_uart_parity), 1.0);
    Control(mp_uart_parity, kDefault);
    EXPECT_EQ(Grab().uartConfig() & grabregs::kUartCfgParity, 0);
    EXPECT_EQ(Inquire(mp_uart_parity), 536870912.0);
    EXPECT_EQ(Grab().uartConfig() & 0xF, 4) << "the baud code survives the changes";

    double config = 0;
    ASSERT_EQ(mp_uart_read_config(&config), 0);
    EXPECT_EQ(static_cast<uint32_t>(config) & 0x3FFF, 0x0004u);
}

TEST_F(UartNodeTest, LengthAndTimeoutWordsTakeTheirDefaults)
{
    Control(mp_uart_timeout, 3.0);
    EXPECT_EQ(Inquire(mp_uart_timeout), 3.0);
    Control(mp_uart_timeout, kDefault);
    EXPECT_EQ(Inquire(mp_uart_timeout), -1.0);
    Control(mp_uart_read_max_length, 40.0);
    EXPECT_EQ(Inquire(mp_uart_read_max_length), 40.0);
    Control(mp_uart_read_max_length, kDefault);
    EXPECT_EQ(Inquire(mp_uart_read_max_length), 255.0);
    Control(mp_uart_read_length, 12.0);
    EXPECT_EQ(Inquire(mp_uart_read_length), 12.0);
    Control(mp_uart_read_length, kDefault);
    EXPECT_EQ(Port()->readLength, kUartLengthDefault);
    Control(mp_uart_write_length, 5.0);
    EXPECT_EQ(Inquire(mp_uart_write_length), 5.0);
}

// ---- sending ----------------------------------------------------------------------------------

TEST_F(UartNodeTest, ByteGoesOutWithReadyAndParityBitsAboveIt)
{
    ASSERT_EQ(mp_uart_write_char(info_, 0xE9), 0);
    // 0xE9 has five ones.
    Control(mp_uart_parity, 0.0);  // odd: the bit completes an odd count
    ASSERT_EQ(mp_uart_write_char(info_, 0xE9), 0);
    Control(mp_uart_parity, 1.0);  // even
    ASSERT_EQ(mp_uart_write_char(info_, 0xE9), 0);
    EXPECT_EQ(Grab().uartSent(), (std::vector<uint8_t>{0xE9, 0xE9, 0xE9}));
    EXPECT_EQ(Grab().uartSentWords(), (std::vector<uint16_t>{0x82E9, 0x82E9, 0x83E9}));
}

TEST_F(UartNodeTest, StringsGoOutToTheirNulOrTheirWriteLength)
{
    char text[] = "ABC\0DE";
    ASSERT_EQ(mp_uart_write_string(info_, text), 0);
    EXPECT_EQ(Grab().uartSent(), (std::vector<uint8_t>{'A', 'B', 'C'}));
    Control(mp_uart_write_length, 5.0);
    ASSERT_EQ(mp_uart_write_string(info_, text), 0);
    EXPECT_EQ(Grab().uartSent(), (std::vector<uint8_t>{'A', 'B', 'C', 'A', 'B', 'C', 0, 'D'}));
    Control(mp_uart_write_length, 0.0);
    ASSERT_EQ(mp_uart_write_string(info_, text), 0);
    EXPECT_EQ(Grab().uartSent().size(), 8u) << "a write length of 0 sends nothing";
    EXPECT_EQ(mp_uart_write_string(info_, nullptr), -1);
}

TEST_F(UartNodeTest, StringWithoutNulStopsAtTheScanLimit)
{
    std::vector<char> text(kUartWriteScanLimit + 40, 'x');
    ASSERT_EQ(mp_uart_write_string(info_, text.data()), 0);
    EXPECT_EQ(Grab().uartSent().size(), kUartWriteScanLimit);
}

TEST_F(UartNodeTest, PeerNotReadyTimesTheWriteOut)
{
    Grab().setUartPeerReady(false);
    Control(mp_uart_timeout, 2.0);
    const double start = Now();
    EXPECT_EQ(mp_uart_write_char(info_, 'Q'), -1);
    EXPECT_GT(Now() - start, 2.0);
    EXPECT_LT(Now() - start, 3.0);
    EXPECT_EQ(Port()->status & kUartStatusTimeout, kUartStatusTimeout);
    EXPECT_EQ(Port()->status & kUartStatusPeerNotReady, kUartStatusPeerNotReady);
    EXPECT_TRUE(Grab().uartSent().empty());

    // "No limit" still ends.
    Control(mp_uart_timeout, kDefault);
    const double again = Now();
    EXPECT_EQ(mp_uart_write_char(info_, 'Q'), -1);
    EXPECT_LT(Now() - again, 60.0);
    EXPECT_TRUE(Grab().uartSent().empty());

    Grab().setUartPeerReady(true);
    EXPECT_EQ(mp_uart_write_char(info_, 'Q'), 0);
    EXPECT_EQ(Grab().uartSent(), std::vector<uint8_t>{'Q'});
}

TEST_F(UartNodeTest, ZeroBaudRateStillPacesTheWrite)
{
    Control(mp_uart_baud_rate, 0.0);
    EXPECT_EQ(Port()->baudRate, 0);
    EXPECT_EQ(mp_uart_write_char(info_, 'Z'), 0);
    EXPECT_EQ(mp_uart_write_char(info_, 'Y'), 0) << "the second waits for the transmitter";
    EXPECT_EQ(Grab().uartSent(), (std::vector<uint8_t>{'Z', 'Y'}));
}

// ---- receiving ---------------------------------------------------------------------------------

TEST_F(UartNodeTest, FlowControlStopsThePeerAbove1500AndResumesBelow1000)
{
    SaveRxSeed(RxInput(0).op(kOpBurst, 188).op(kOpPoll).op(kOpReadString).op(kOpReadString).op(kOpReadChar).op(kOpPoll));
    Grab().uartQueue(Counting(1500));
    EXPECT_EQ(Inquire(mp_uart_data_present), 1.0);
    EXPECT_TRUE(Grab().uartHostReady()) << "1500 unread bytes keep the peer going";
    EXPECT_EQ(Port()->status & kUartStatusFlowStopped, 0u);

    Grab().uartQueue({0xAB});
    mp_uart_irq_process(info_);
    EXPECT_FALSE(Grab().uartHostReady()) << "the 1501st unread byte stops the peer";
    EXPECT_EQ(Port()->status & kUartStatusFlowStopped, kUartStatusFlowStopped);

    for (int i = 0; i < 501; ++i) ASSERT_EQ(mp_uart_read_char(info_), i & 0xFF);
    EXPECT_FALSE(Grab().uartHostReady()) << "1000 unread bytes";
    EXPECT_EQ(mp_uart_read_char(info_), 501 & 0xFF);
    EXPECT_TRUE(Grab().uartHostReady()) << "999 unread bytes let the peer send again";
    EXPECT_EQ(Port()->status & kUartStatusFlowStopped, 0u);
}

TEST_F(UartNodeTest, RingHoldsAtMost1999BytesAndDropsThe2000th)
{
    SaveRxSeed(RxInput(kRxNoFlow).op(kOpBurst, 250).op(kOpPoll).op(kOpErrors).op(kOpReadString).op(kOpPoll));
    Grab().setUartPeerFlowControl(false);
    Grab().uartQueue(Counting(2000));
    mp_uart_irq_process(info_);
    EXPECT_EQ(Grab().uartQueued(), 0u) << "every byte left the chip";
    EXPECT_EQ(Port()->status & kUartStatusRingFull, kUartStatusRingFull);
    double errors = 0;
    ASSERT_EQ(mp_uart_error(info_, 30054, &errors), 0);
    EXPECT_EQ(errors, static_cast<double>(kUartStatusRingFull));

    // A write while the peer is busy and the ring full gives up at once.
    Grab().setUartPeerReady(false);
    Control(mp_uart_timeout, 100.0);
    const double start = Now();
    EXPECT_EQ(mp_uart_write_char(info_, 'W'), -1);
    EXPECT_LT(Now() - start, 1.0);
    Grab().setUartPeerReady(true);

    for (int i = 0; i < 1999; ++i) ASSERT_EQ(mp_uart_read_char(info_), i & 0xFF) << i;
    EXPECT_EQ(mp_uart_read_char(info_), 0) << "the 2000th byte was dropped";
    EXPECT_EQ(Port()->status & kUartStatusRingFull, 0u) << "a poll with room clears the full bit";
}

TEST_F(UartNodeTest, ErrorInquiryReportsTheLowFourStatusBitsAndClearsThemOn30055)
{
    Port()->status = 0x3F;
    double errors = 0;
    ASSERT_EQ(mp_uart_error(info_, 30054, &errors), 0);
    EXPECT_EQ(errors, 15.0);
    EXPECT_EQ(Port()->status, 0x3Fu);
    ASSERT_EQ(mp_uart_error(info_, 30055, &errors), 0);
    EXPECT_EQ(errors, 15.0);
    EXPECT_EQ(Port()->status, 0x30u) << "flow and peer bits stay";
}

TEST_F(UartNodeTest, EmptyRingReadsZeroAtOnceOrWaitsForItsTimeout)
{
    SaveRxSeed(RxInput(kRxReadLength | kRxPeerBusy, 1).op(kOpReadChar).op(kOpPeer | 0x18).op(kOpQueue, 'k').op(kOpReadChar));
    const double start = Now();
    EXPECT_EQ(mp_uart_read_char(info_), 0);
    EXPECT_LT(Now() - start, 0.01);
    EXPECT_EQ(Port()->status & kUartStatusTimeout, 0u);

    Control(mp_uart_read_length, 1.0);
    Control(mp_uart_timeout, 2.0);
    const double waited = Now();
    EXPECT_EQ(mp_uart_read_char(info_), '?');
    EXPECT_GE(Now() - waited, 2.0);
    EXPECT_EQ(Port()->status & kUartStatusTimeout, kUartStatusTimeout);

    // A byte that arrives during the wait ends it.
    Grab().uartQueue({'k'}, 0.5);
    const double third = Now();
    EXPECT_EQ(mp_uart_read_char(info_), 'k');
    EXPECT_LT(Now() - third, 1.0);
}

TEST_F(UartNodeTest, ReceiveAndParityErrorsSetTheirStatusBits)
{
    SaveRxSeed(RxInput(kRxParity | kRxPeerParity).op(kOpQueue | kOpReceiveError, 'a').op(kOpReadChar).op(kOpQueue, 'b').op(kOpQueue | kOpParityError, 'c').op(kOpReadChar).op(kOpReadChar).op(kOpErrors));
    Grab().uartQueueByte('a', true, false);
    EXPECT_EQ(mp_uart_read_char(info_), 'a');
    EXPECT_EQ(Port()->status & 0x0F, kUartStatusReceiveError);
    double errors = 0;
    mp_uart_error(info_, 30055, &errors);

    Control(mp_uart_parity, 0.0);
    Grab().setUartPeerParity(UartParity::Odd);
    Grab().uartQueueByte('b');
    Grab().uartQueueByte('c', false, true);
    EXPECT_EQ(mp_uart_read_char(info_), 'b');
    EXPECT_EQ(mp_uart_read_char(info_), 'c');
    EXPECT_EQ(Port()->status & 0x0F, kUartStatusParityError);
    mp_uart_error(info_, 30055, &errors);

    Control(mp_uart_parity, 1.0);
    Grab().setUartPeerParity(UartParity::Even);
    Grab().uartQueue({'d', 'e', 0xFF});
    for (int c : {int{'d'}, int{'e'}, 0xFF}) EXPECT_EQ(mp_uart_read_char(info_), c);
    EXPECT_EQ(Port()->status & 0x0F, 0u) << "matching even parity is no error";
}

TEST_F(UartNodeTest, ReadStringIsClampedToTheCallersBufferBound)
{
    SaveRxSeed(RxInput(0, 0, 250).op(kOpBurst, 38).op(kOpReadString).op(kOpReadChar));
    Grab().uartQueue(std::vector<uint8_t>(300, 'r'));
    Control(mp_uart_read_max_length, 100000.0);
    std::vector<char> buffer(400, '#');
    ASSERT_EQ(mp_uart_read_string(info_, buffer.data()), 0);
    EXPECT_EQ(std::string(buffer.data(), kUartReadClamp), std::string(kUartReadClamp, 'r'));
    EXPECT_EQ(buffer[kUartReadClamp], '#') << "nothing past the clamp";
    EXPECT_EQ(mp_uart_read_char(info_), 'r') << "the rest stays in the ring";
}

TEST_F(UartNodeTest, ReadStringStopsAtAStoredZeroOrItsCountOrItsTimeout)
{
    SaveRxSeed(RxInput(kRxReadLength, 3).op(kOpQueue, 'p').op(kOpReadString).op(kOpPeer).op(kOpQueue, 'q').op(kOpDataPresent));
    Grab().uartQueue({'o', 'k', 0, 'x'});
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(mp_uart_read_string(info_, buffer), 0);
    EXPECT_EQ(std::string(buffer, 4), std::string("ok\0#", 4));

    Control(mp_uart_read_length, 1.0);
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(mp_uart_read_string(info_, buffer), 0);
    EXPECT_EQ(std::string(buffer, 2), "x#") << "the read length counts";

    Control(mp_uart_read_length, 3.0);
    Control(mp_uart_timeout, 1.0);
    Grab().uartQueue({'p'});
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(mp_uart_read_string(info_, buffer), 0);
    EXPECT_EQ(std::string(buffer, 3), "p?#") << "a time-out ends the string";
    EXPECT_EQ(Port()->status & kUartStatusTimeout, kUartStatusTimeout);
}

TEST_F(UartNodeTest, StuckAnswerLineEndsEveryLoop)
{
    // The chip's answer line reads 1 whatever it sends: every answer reports a byte, the
    // peer busy and the transmitter empty.
    boardsim::BoardSim::instance().setReadFilter([](const boardsim::HwAccess& a) {
        return a.area == boardsim::HwArea::PrimaryPort && a.offset == grabregs::PortLow(grabregs::kUartPort)
                   ? a.value | grabregs::kUartDataOut
                   : a.value;
    });
    Grab().clearUartFrames();
    EXPECT_EQ(mp_config_uart(info_), 0);
    EXPECT_LT(Grab().uartFrames().size(), 300u) << "the reset's drain is bounded";
    EXPECT_EQ(mp_uart_irq_process(info_), 0);
    EXPECT_EQ(Port()->status & kUartStatusRingFull, kUartStatusRingFull) << "the poll ends at a full ring";
    EXPECT_EQ(mp_uart_write_char(info_, 'x'), -1) << "peer busy and ring full";
    boardsim::BoardSim::instance().setReadFilter(nullptr);
}

// ---- nodes without the port ----------------------------------------------------------------------

TEST_F(UartNodeTest, NodesWithoutThePortRefuseEveryControl)
{
    for (uint32_t type : {1u, 3u, 0u}) {
        info_[kNodeInfoModuleType] = type;
        Grab().clearLog();
        double value = 9600;
        EXPECT_EQ(mp_uart_baud_rate(info_, &value, 0), -1) << type;
        EXPECT_EQ(mp_uart_parity(info_, &value, 1), -1);
        EXPECT_EQ(mp_uart_stop_bits(info_, &value, 0), -1);
        EXPECT_EQ(mp_uart_data_bits(info_, &value, 0), -1);
        EXPECT_EQ(mp_uart_timeout(info_, &value, 0), -1);
        EXPECT_EQ(mp_uart_read_length(info_, &value, 0), -1);
        EXPECT_EQ(mp_uart_read_max_length(info_, &value, 0), -1);
        EXPECT_EQ(mp_uart_write_length(info_, &value, 0), -1);
        EXPECT_EQ(mp_uart_data_present(info_, &value, 1), -1);
        EXPECT_EQ(mp_uart_error(info_, 30055, &value), -1);
        EXPECT_EQ(mp_uart_write_char(info_, 'a'), -1);
        EXPECT_EQ(mp_uart_read_char(info_), -1);
        char buffer[4];
        EXPECT_EQ(mp_uart_read_string(info_, buffer), -1);
        EXPECT_EQ(mp_uart_write_string(info_, "a"), -1);
        EXPECT_EQ(mp_config_uart(info_), -1);
        EXPECT_EQ(mp_uart_irq_process(info_), -1);
        EXPECT_EQ(value, 9600.0);
        EXPECT_EQ(AllWrites(), 0u) << "nothing reached the module";
    }
    info_[kNodeInfoModuleType] = 34;
    info_[kNodeInfoUartArea] = 0;
    double value = 0;
    EXPECT_EQ(mp_uart_timeout(info_, &value, 1), -1) << "a Sorvik II node before its first camera";
    EXPECT_EQ(mp_uart_area(nullptr), nullptr);
}

} // namespace
