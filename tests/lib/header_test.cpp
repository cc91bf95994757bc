// The public header in one translation unit with the library's internal headers: every
// public declaration must be the same function or datum as the internal one (a different
// parameter or result type is a conflicting C declaration and does not compile), and the
// public error codes must be the library's.  Every named number of the interface is checked
// against the numbers the library's interface documents, listed here by hand.
#include "bufchild.h"
#include "bufid.h"
#include "dispreg.h"
#include "halcyraini.h"
#include "heap.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "im_param.h"
#include "imdev.h"
#include "imsys.h"
#include "inthooks.h"
#include "nodelist.h"
#include "pci.h"
#include "procstubs.h"
#include "regaccess.h"
#include "reqres.h"
#include "syncobj.h"
#include "thread.h"

#include "hlclib.h"
#include "hlclib_board.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

// The hook types a program writes in C are the ones the library calls.
static_assert(std::is_same_v<ImErrorHook, int32_t (*)(int32_t, int32_t, uint32_t)>);
static_assert(std::is_same_v<decltype(&imAppCatchError), void (*)(uint32_t, ImErrorHook, uint32_t)>);
static_assert(std::is_same_v<decltype(imNodeSt), _NODE_ST*>);

TEST(PublicHeader, ErrorCodesAreTheLibrarysWithTheirTexts)
{
    const struct {
        int32_t publicCode;
        int32_t libraryCode;
        const char* text;
    } codes[] = {
        {IM_ERR_INVALID_BUFFER, HLC_ERR_INVALID_BUFFER, "Invalid buffer ID"},
        {IM_ERR_INVALID_DEVICE, HLC_ERR_INVALID_DEVICE, "Invalid device ID, or no such device"},
        {IM_ERR_FILE_ACCESS, HLC_ERR_FILE_ACCESS, "File access error"},
        {IM_ERR_NO_RESOURCES, HLC_ERR_NO_RESOURCES, "Insufficient resources to carry out the operation"},
        {IM_ERR_NOT_PRESENT, HLC_ERR_NOT_PRESENT, "Referenced item not present"},
        {IM_ERR_INVALID_OPCODE, HLC_ERR_INVALID_OPCODE, "Invalid opcode received"},
        {IM_ERR_INVALID_OSB, HLC_ERR_INVALID_OSB, "Invalid OSB ID"},
        {IM_ERR_INVALID_PARAMETER, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable"},
        {IM_ERR_RESTRICTED, HLC_ERR_RESTRICTED, "Operation unable to execute due to a restriction"},
        {IM_ERR_INVALID_THREAD, HLC_ERR_INVALID_THREAD, "Invalid thread ID"},
        {IM_ERR_TIMEOUT, HLC_ERR_TIMEOUT, "Board did not respond within the timeout period"},
        {IM_ERR_NO_SYSTEM, HLC_ERR_NO_SYSTEM, "No such system"},
        {IM_ERR_HALTED, HLC_ERR_HALTED, "Function halted by imThrHalt()"},
        {IM_ERR_BUFFER_ATTRIBUTE, HLC_ERR_BUFFER_ATTRIBUTE, "Unacceptable buffer attribute (size, type, etc.)"},
        {IM_ERR_MISCELLANEOUS, HLC_ERR_MISCELLANEOUS, "Miscellaneous error"},
    };
    for (const auto& c : codes) {
        EXPECT_EQ(c.publicCode, c.libraryCode);
        ASSERT_NE(mp_err_default(c.publicCode), nullptr) << c.publicCode;
        EXPECT_EQ(std::string(mp_err_default(c.publicCode)), c.text) << c.publicCode;
    }
}

// Each named number beside the number the interface documents for it, written out here,
// not taken from the table the names come from.
TEST(PublicHeader, NamedNumbersAreTheDocumentedOnes)
{
    const struct {
        const char* name;
        long long value;
        long long documented;
    } numbers[] = {
#define N(name, documented) {#name, static_cast<long long>(name), documented}
        // control values
        N(IM_DEFAULT, 268435456), N(IM_NONE, 536870912), N(IM_ENABLE, -9997), N(IM_DISABLE, -9999),
        // application and error items
        N(IM_APP_TIMEOUT, 1), N(IM_ERR_ITEM_CLEAR, 1), N(IM_ERR_ITEM_CODE, 2), N(IM_ERR_ITEM_MESSAGE, 4),
        N(IM_ERR_ITEM_FUNCTION, 8), N(IM_ERR_ITEM_TEXT, 12),
        // devices, systems and predefined ids
        N(IM_DEV_SHELL, 1), N(IM_DEV_MEMORY_MB, 7), N(IM_DEV_SYSTEM, 9), N(IM_DEV_BOARD, 10), N(IM_DEV_RING_SLOTS, 11),
        N(IM_DEV_BOARD_FREE, 13), N(IM_DEV_DISPLAY_FREE, 14), N(IM_DEV_MODEL, 15),
        N(IM_DEV_INIT_HOST, 0), N(IM_DEV_INIT_REGISTERS, 1), N(IM_DEV_INIT_DOWNLOAD, 2), N(IM_DEV_INIT_REUSE, 3),
        N(IM_DEV_INIT_NO_WINDOWS, 0x20000000), N(IM_DEV_FPGA_LOAD, 0), N(IM_DEV_FPGA_KEEP, 1),
        N(IM_DEV_FPGA_FORCE, 2), N(IM_DEV_FPGA_KEEP_ALWAYS, 3),
        N(IM_DEV_HALCYRA, 1), N(IM_DEV_HALCYRA_PRO, 2), N(IM_DEV_HALCYRA_LC, 3), N(IM_DEV_HALCYRA_MEMORY, 4),
        N(IM_DEV_SORVIK_II_DIG, 5), N(IM_DEV_DAC, 6), N(IM_DEV_KORVEX_IV, 7), N(IM_DEV_HALCYRA_UNDEF, 0x63),
        N(IM_SYS_NODES, 1), N(IM_SYS_DIGITIZERS, 2), N(IM_SYS_DISPLAYS, 3), N(IM_SYS_SYSTEMS, 4), N(IM_SYS_NODE_TABLE, 5),
        N(IM_MAP_SIZE, 0), N(IM_MAP_BLOCKS, 2), N(IM_MAP_DESCRIPTORS, 3), N(IM_DIAG_RING, 0),
        N(IM_PREDEFINED, 0x40000000), N(IM_THR_SYSTEM, 0x40000010), N(IM_THR_SERVER_C, 0x400000C0),
        N(IM_THR_SERVER_D, 0x400000D0), N(IM_NODE(0, 0), 0x11), N(IM_NODE(2, 5), 0x36), N(IM_NODE_OF(0x02360004u), 0x36),
        N(IM_THR_NODE(0x02110002u), 0x40110010),
        // thread objects
        N(IM_THR_CHECKED, 15001), N(IM_THR_PRIORITY, 15002), N(IM_THR_OWNER, 15003), N(IM_THR_STACK_SIZE, 15004),
        N(IM_THR_VALUE, 15005), N(IM_THR_SWITCH, 15007), N(IM_HALT_NOW, 1), N(IM_HALT_END_OF_GRAB, 2),
        N(IM_HALT_NOW_QUIET, 5),
        // sync objects
        N(IM_OSB_NEW, 10), N(IM_OSB_RECEIVED, 20), N(IM_OSB_READY, 30), N(IM_OSB_STARTED, 40), N(IM_OSB_DONE, 50),
        N(IM_OSB_COUNT, 0x1000000), N(IM_OSB_COUNT_NONE, 0x10FFFFF), N(IM_OSB_ASK_STATE, 0x800000),
        N(IM_OSB_ASK_COUNT, 0x1800000), N(IM_SYNC_STATE, 18000), N(IM_SYNC_MODE, 18001), N(IM_OSB_MODE_REARM, 1),
        N(IM_OSB_MODE_KEEP, 2),
        // buffer types, locations, memory kinds, id bits, inquiries, controls and files
        N(IM_SIGNED, 0x10000000), N(IM_FLOAT, 0x20000000), N(IM_BINARY, 0x40000001), N(IM_ALIGN_64K, 0x80000000LL),
        N(IM_UBYTE, 8), N(IM_USHORT, 16), N(IM_ULONG, 32), N(IM_FLOAT32, 0x20000020), N(IM_DOUBLE, 0x20000040),
        N(IM_LOC_BOARD, 1), N(IM_LOC_DISPLAY, 2), N(IM_LOC_HOST_DMA, 3), N(IM_LOC_HOST_PAGED, 4), N(IM_LOC_INLINE, 6),
        N(IM_LOC_DEFAULT, 0x10000000), N(IM_LOC_NO_MEMORY, 0x40000001), N(IM_LOC_DISPLAY_HEAP, 0x40000020),
        N(IM_LOC_DISPLAY_0MB, 0x40000040), N(IM_LOC_DISPLAY_2MB, 0x40000050), N(IM_LOC_DISPLAY_4MB, 0x40000060),
        N(IM_LOC_CONTROLLER, 0x40000070), N(IM_LOC_FRAME_0MB, 0x60000040), N(IM_LOC_FRAME_2MB, 0x60000050),
        N(IM_LOC_FRAME_4MB, 0x60000060), N(IM_LOC_FRAME_BANDS, 0x60000030), N(IM_LOC_FRAME_CONTROLLER, 0x60000070),
        N(IM_MEM_HOST, 4), N(IM_MEM_BUS, 5), N(IM_MEM_HOST_LIBRARY, 7), N(IM_MEM_BUFFER, 0x10000000),
        N(IM_ID_HOST_DMA, 0x1000000), N(IM_ID_HEAP, 0x2000000), N(IM_ID_GIVEN_MEMORY, 0x4000000),
        N(IM_ID_CONTROLLER, 0x7000000), N(IM_ID_PAGED, 0xC000000),
        N(IM_BUF_SIZE_X, 3), N(IM_BUF_SIZE_Y, 4), N(IM_BUF_BANDS, 6), N(IM_BUF_TYPE, 8), N(IM_BUF_BITS, 10),
        N(IM_BUF_TYPE_CLASS, 11), N(IM_BUF_PARENT, 30), N(IM_BUF_OFFSET_X, 32), N(IM_BUF_OFFSET_Y, 33),
        N(IM_BUF_FIRST_BAND, 37), N(IM_BUF_FIELD_COUNT, 38), N(IM_BUF_LOCATION, 200), N(IM_BUF_BUS_ADDRESS, 201),
        N(IM_BUF_PITCH, 202), N(IM_BUF_DESCRIPTOR, 400), N(IM_BUF_LOCK, 1), N(IM_BUF_UNLOCK, 2),
        N(IM_FILE_RAW, 1), N(IM_FILE_TIFF, 2), N(IM_FILE_TIFF_FIELDS, 10),
        // control-buffer fields
        N(IM_CTL_BAND_MODE, 10000), N(IM_CTL_MIRROR_X, 10001), N(IM_CTL_MIRROR_Y, 10002), N(IM_CTL_PACKING, 10003),
        N(IM_CTL_TRANSFER_MODE, 10004), N(IM_CTL_FACTOR_X, 10005), N(IM_CTL_FACTOR_Y, 10006),
        N(IM_CTL_TAG_BUFFER, 10007), N(IM_CTL_COPY_MODE, 10008), N(IM_CTL_LANE_ORDER, 10009),
        N(IM_CTL_WRITE_MASK, 10010), N(IM_CTL_MODE_X, 10011), N(IM_CTL_MODE_Y, 10012), N(IM_CTL_PIXEL_BITS, 10013),
        N(IM_CTL_MODE_BIT21, 10014), N(IM_CTL_MODE_BIT20, 10015), N(IM_CTL_COUNT, 10016), N(IM_CTL_COUNTED, 10017),
        N(IM_CTL_VM_PORT, 10018), N(IM_CTL_WINDOW_X, 10019), N(IM_CTL_WINDOW_Y, 10020), N(IM_CTL_WINDOW_X_END, 10021),
        N(IM_CTL_WINDOW_Y_END, 10022), N(IM_CTL_COUNT_MODE, 10023), N(IM_CTL_FRAME_MODE, 10024),
        N(IM_CTL_FIELD_MODE, 10025), N(IM_CTL_LINE_INTERRUPT, 10026), N(IM_CTL_WAIT_MODE, 10027),
        N(IM_CTL_CHANNEL, 10028), N(IM_CTL_KEEP_GRAB_MODE, 10029), N(IM_CTL_CAPTURE, 10030),
        N(IM_CTL_INTERRUPT_KIND, 10031), N(IM_CTL_RATE, 10032), N(IM_CTL_CONTINUED, 10033),
        N(IM_CTL_DISPLAY_SYNC, 10034), N(IM_CTL_NODE_RECORDS, 10035), N(IM_CTL_KEEP_VM, 10036),
        N(IM_CTL_MISSING_BAND, 10037), N(IM_CTL_HOST_PATH, 16003), N(IM_CTL_EXT_MODULE, 16036),
        // displays and cursor
        N(IM_DISP_SELECT, 13000), N(IM_DISP_KEY_MODE, 13001), N(IM_DISP_KEY_MASK, 13002), N(IM_DISP_KEY_VALUE, 13003),
        N(IM_DISP_LUT, 13004), N(IM_DISP_FORMAT, 13005), N(IM_DISP_PAN_X, 13006), N(IM_DISP_PAN_Y, 13007),
        N(IM_DISP_KEY_COLOUR, 13008), N(IM_DISP_ZOOM, 13010), N(IM_DISP_WIDTH, 13011), N(IM_DISP_HEIGHT, 13012),
        N(IM_DISP_MODE, 13013), N(IM_DISP_ZOOM_CODE, 13014), N(IM_DISP_ENABLE, 13015), N(IM_DISP_RESTART, 2),
        N(IM_DISP_KEEP_MODE, 0x10000000), N(IM_DISP_SET_UP, 2), N(IM_CUR_DEFAULT_MODE, 0x10000000),
        // cameras and digitizers
        N(IM_CAM_TEXT, 0), N(IM_CAM_FILE, 1), N(IM_CAM_RELOAD, 2), N(IM_CAM_EMPTY, 99), N(IM_DIG_SELECT(3), 0x30000),
        N(IM_DIG_CHANNEL, 30000), N(IM_DIG_SYNC_CHANNEL, 30001), N(IM_DIG_GAIN, 30002), N(IM_DIG_REF_WHITE, 30003),
        N(IM_DIG_REF_BLACK, 30004), N(IM_DIG_LUT_BUF, 30005), N(IM_DIG_USER_IN, 30006), N(IM_DIG_USER_OUT, 30007),
        N(IM_DIG_EXP_ACTIVE, 30008), N(IM_DIG_EXP_DELAY, 30009), N(IM_DIG_TIMER_TRIG_SRC, 30010),
        N(IM_DIG_TIMER_POL, 30011), N(IM_DIG_EXP, 30012), N(IM_DIG_CAPT_SRC, 30013), N(IM_DIG_CAPT_POL, 30014),
        N(IM_DIG_SW_CAPT, 30015), N(IM_DIG_SIZE_X, 30016), N(IM_DIG_SIZE_Y, 30017), N(IM_DIG_SIZE_BIT, 30018),
        N(IM_DIG_TYPE, 30019), N(IM_DIG_NUM_BANDS, 30020), N(IM_DIG_SCAN_MODE, 30021),
        N(IM_DIG_NBR_MAX_CHANNEL, 30022), N(IM_DIG_INPUT_MODE, 30023), N(IM_DIG_USER_IN_FORMAT, 30024),
        N(IM_DIG_USER_OUT_FORMAT, 30025), N(IM_DIG_FRAME_FIELD, 30026), N(IM_DIG_BRIGHTNESS, 30027),
        N(IM_DIG_CONTRAST, 30028), N(IM_DIG_HUE, 30029), N(IM_DIG_SATURATION, 30030),
        N(IM_DIG_VIDEO_AMPLITUDE, 30032), N(IM_DIG_BLACK_LEVEL, 30033), N(IM_DIG_WHITE_LEVEL, 30034),
        N(IM_DIG_PIXEL_CLOCK, 30035), N(IM_DIG_DEC_GAIN, 30036), N(IM_DIG_UART_BAUD_RATE, 30038),
        N(IM_DIG_UART_PARITY, 30039), N(IM_DIG_UART_STOP_BITS, 30040), N(IM_DIG_UART_DATA_BITS, 30041),
        N(IM_DIG_UART_TIMEOUT, 30042), N(IM_DIG_UART_WRITE_CHAR, 30043), N(IM_DIG_UART_READ_CHAR, 30044),
        N(IM_DIG_UART_READ_LENGTH, 30048), N(IM_DIG_UART_READ_MAX_LENGTH, 30049), N(IM_DIG_UART_READ_STRING, 30050),
        N(IM_DIG_UART_WRITE_LENGTH, 30051), N(IM_DIG_UART_WRITE_STRING, 30052), N(IM_DIG_UART_DATA_PRESENT, 30053),
        N(IM_DIG_UART_ERROR, 30054), N(IM_DIG_UART_ERROR_CLEAR, 30055), N(IM_DIG_UART_READ_CONFIG, 30099),
        // JPEG objects and command messages
        N(IM_JPEG_QUANT_TABLE, 19007), N(IM_JPEG_AC_TABLE, 19008), N(IM_JPEG_DC_TABLE, 19009),
        N(IM_JPEG_READ_FILE, 19021), N(IM_SYNC_POLL, 1), N(IM_SYNC_NOWAIT, 2), N(IM_SYNC_READY, 3),
        N(IM_REPLY_NOWAIT, 110), N(IM_REPLY_POLL, 120), N(IM_REPLY_POLL_FOR_READY, 125), N(IM_OPCODE_USER, 10000),
#undef N
    };
    for (const auto& n : numbers) EXPECT_EQ(n.value, n.documented) << n.name;
}

}  // namespace
