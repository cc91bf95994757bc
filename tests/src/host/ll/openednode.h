// A test with node 0x11 opened through imDevAlloc on the simulated board of an ini test,
// and shut down afterwards however the test ended, with the library's handlers, wiring and
// application error record put back for the next test.
#pragma once

#include "initest.h"

#include "bringup.h"
#include "cmdserver.h"
#include "hlc_wiring.h"
#include "im_msgio.h"
#include "imdev.h"
#include "imsys.h"
#include "nodeinit.h"
#include "nodelist.h"

#include <gtest/gtest.h>

#include <string>

namespace openednode {

constexpr uint32_t kOpenedNode = 0x11;
constexpr const char* kOpenedNodeIni = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n";

class OpenedNodeTest : public initest::IniTest {
protected:
    // Writes the ini file naming the one board and opens it (mode 3) into device_.  No
    // FPGA file is named for the board's grab module: an open that loads it reports the
    // load code beside the id.  The record is cleared, so that the test's own calls report
    // their errors.
    void OpenNode()
    {
        WriteIni(kOpenedNodeIni);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        if (device_) imDevFree(device_);
        // A node left open by a failed test is shut down, a bounded number of times.
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kOpenedNode); ++i) im_board_shutdown(kOpenedNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kOpenedNode), nullptr);
        mp_exit_global();
        mp_server_reset_handlers();
        HlcWireLibrary();
        imAppControl(1, 15.0);
        im_msg_reset_application();
        IniTest::TearDown();
    }
    static int32_t LastError() { return im_Application.error.code; }
    static std::string LastText() { return im_Application.messageBuffer; }
    static std::string LastFunction() { return im_Application.functionBuffer; }
    // The error and its text; `function` is the export's name for errors found on the
    // host, the handler's name for errors the node reports.  The record is cleared.
    static void ExpectError(int32_t code, const std::string& text, const std::string& function)
    {
        EXPECT_EQ(LastError(), code);
        EXPECT_EQ(LastText(), text);
        EXPECT_EQ(LastFunction(), function);
        im_msg_reset_application();
    }

    uint32_t device_ = 0;
};

} // namespace openednode
