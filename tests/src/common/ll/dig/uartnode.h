// A Sorvik II node (module type 2) whose camera serial port runs against the simulated
// module's UART and its scripted peer: the node information with the port's area, the
// UART lines idle (chip select high, as a camera load leaves them) and the port reset.
#pragma once

#include "camuart.h"
#include "chipsfixture.h"
#include "uartrxinput.h"

#include "../../../../fuzz/seeds.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace uartnode {

class UartNodeTest : public chipsfixture::GrabModuleTest {
protected:
    UartNodeTest() { moduleType_ = 2; }
    void SetUp() override
    {
        chipsfixture::GrabModuleTest::SetUp();
        if (HasFatalFailure()) return;
        state_.assign(kNodeStateBytes / 4, 0);
        area_.assign(kUartAreaBytes, 0);
        info_ = &state_[25];
        info_[kNodeInfoModuleType] = 2;
        info_[kNodeInfoUartArea] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area_.data()));
        mpPrvSetExtReg(cam0::UART_CONTROL, grabregs::kUartSelect);
        ASSERT_EQ(mp_config_uart(info_), 0);
        Grab().clearUartFrames();
    }

    MP_UART_ST* Port() { return reinterpret_cast<MP_UART_ST*>(area_.data()); }
    static double Now() { return mp_time_clock(0.0); }
    // Bytes 0, 1, 2, ... (mod 256).
    static std::vector<uint8_t> Counting(size_t n)
    {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
        return v;
    }
    double Control(int (*handler)(uint32_t*, double*, int32_t), double value, int32_t mode = 0)
    {
        EXPECT_EQ(handler(info_, &value, mode), 0);
        return value;
    }
    double Inquire(int (*handler)(uint32_t*, double*, int32_t)) { return Control(handler, 0.0, 1); }

    // The receive scenario of a test as an input of the receive-path fuzz target, kept as
    // its seed when QSRF_FUZZ_SEEDS names a directory.
    static void SaveRxSeed(const uartrx::RxInput& input)
    {
        if (!std::getenv("QSRF_FUZZ_SEEDS")) return;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        char dir[] = "/tmp/uartrxXXXXXX";
        if (!mkdtemp(dir)) return;
        const std::string path = std::string(dir) + "/" + test->test_suite_name() + "." + test->name();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.bytes.data()), static_cast<std::streamsize>(input.bytes.size()));
        qsrf_fuzz::SaveFuzzSeed("uartrx", path);
        std::remove(path.c_str());
        rmdir(dir);
    }

    std::vector<uint32_t> state_;
    std::vector<uint8_t> area_;
    uint32_t* info_ = nullptr;
};

} // namespace uartnode
