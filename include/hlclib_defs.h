/* hlclib_defs.h: the numbers of HLCLIB's interface, each named once.
 *
 * Error codes, control values, the control, inquire and field numbers of every object,
 * buffer types, locations and memory kinds, sync states and requests, and the predefined
 * ids.  The public header hlclib.h includes this file, and the library's own code takes its
 * names from it, so a program and the library always agree on a number.  Plain C99 and
 * C++; no declarations, only macros.
 */
#ifndef HLCLIB_DEFS_H
#define HLCLIB_DEFS_H

/* ==== Error codes (default texts in quotes; a call may give a more specific text) ==== */
#define IM_ERR_INVALID_BUFFER      (-1)  /* "Invalid buffer ID" */
#define IM_ERR_INVALID_DEVICE      (-2)  /* "Invalid device ID, or no such device" */
#define IM_ERR_FILE_ACCESS         (-3)  /* "File access error" */
#define IM_ERR_NO_RESOURCES        (-4)  /* "Insufficient resources to carry out the operation" */
#define IM_ERR_NOT_PRESENT         (-5)  /* "Referenced item not present" */
#define IM_ERR_INVALID_OPCODE      (-6)  /* "Invalid opcode received" */
#define IM_ERR_INVALID_OSB         (-7)  /* "Invalid OSB ID" */
#define IM_ERR_INVALID_PARAMETER   (-8)  /* "Parameter invalid or unacceptable" */
#define IM_ERR_RESTRICTED          (-9)  /* "Operation unable to execute due to a restriction" */
#define IM_ERR_INVALID_THREAD      (-10) /* "Invalid thread ID" */
#define IM_ERR_TIMEOUT             (-11) /* "Board did not respond within the timeout period" */
#define IM_ERR_NO_SYSTEM           (-12) /* "No such system" */
#define IM_ERR_HALTED              (-13) /* "Function halted by imThrHalt()" */
#define IM_ERR_BUFFER_ATTRIBUTE    (-14) /* "Unacceptable buffer attribute (size, type, etc.)" */
#define IM_ERR_MISCELLANEOUS       (-15) /* "Miscellaneous error" */

/* ==== Control values (passed as doubles) ==== */
#define IM_DEFAULT                 0x10000000  /* 268435456.0: the default of a value */
#define IM_NONE                    0x20000000  /* 536870912.0: none */
#define IM_ENABLE                  (-9997)
#define IM_DISABLE                 (-9999)

/* ==== Application (imAppControl, imAppInquire, the error items of imAppGetError,
   imThrGetError and imSyncGetError) ==== */
#define IM_APP_TIMEOUT             1    /* communication time-out in seconds (0 and -1: 365 days) */
#define IM_ERR_ITEM_CLEAR          1    /* or-ed into a mode: clear the record after reading it */
#define IM_ERR_ITEM_CODE           2    /* the code (32-bit) */
#define IM_ERR_ITEM_MESSAGE        4    /* the message (80 bytes) */
#define IM_ERR_ITEM_FUNCTION       8    /* the function name (32 bytes) */
#define IM_ERR_ITEM_TEXT           12   /* "Error in <function>():\n<<message>>" */

/* ==== Nodes, devices and predefined ids ==== */
/* Node number of board b (0-14) of system s (0-14); every id carries it in bits 16-23. */
#define IM_NODE(s, b)              ((((s) + 1) << 4) | ((b) + 1))
#define IM_NODE_OF(id)             (((id) >> 16) & 0xFF)
#define IM_PREDEFINED              0x40000000u  /* bit of a predefined id */
#define IM_THR_SYSTEM              0x40000010u  /* a node's own thread object ... */
#define IM_THR_SERVER_C            0x400000C0u  /* ... and its two server thread objects */
#define IM_THR_SERVER_D            0x400000D0u
/* The own thread object of the node of a device (or any id of that node). */
#define IM_THR_NODE(id)            (IM_THR_SYSTEM | ((id) & 0x00FF0000u))
/* Init modes (imDevAlloc initMode): how the open treats the board's own processor. */
#define IM_DEV_INIT_HOST           0    /* the host serves the board; its processor is left out */
#define IM_DEV_INIT_REGISTERS      1    /* the processor is left as it is and nothing serves the node:
                                           registers only, id IM_NODE << 16 with error -9 "DSP is ignored" */
#define IM_DEV_INIT_DOWNLOAD       2    /* the processor's shell is always downloaded and the processor restarted */
#define IM_DEV_INIT_REUSE          3    /* a running processor whose shell matches is kept (every other value alike) */
#define IM_DEV_INIT_NO_WINDOWS     0x20000000  /* or-ed in: no board-memory or display-frame windows mapped */
/* FPGA load options (imDevAlloc loadOption): the grab module's FPGA, from the file named by
   FPGANAME (or the ini file's FpgaName) found along FPGAPATH (or FpgaPath). */
#define IM_DEV_FPGA_LOAD           0    /* loaded, even when it is configured already */
#define IM_DEV_FPGA_KEEP           1    /* a configured FPGA is kept, unless COFFLOADOPTION holds "F+";
                                           IM_DEFAULT alike */
#define IM_DEV_FPGA_FORCE          2    /* loaded, even when it is configured already (as IM_DEV_FPGA_LOAD) */
#define IM_DEV_FPGA_KEEP_ALWAYS    3    /* a configured FPGA is kept whatever COFFLOADOPTION holds
                                           (every other value alike) */
/* Device inquiries (imDevInquire). */
#define IM_DEV_SHELL               1    /* the board processor runs its shell */
#define IM_DEV_MEMORY_MB           7    /* board memory in MiB */
#define IM_DEV_SYSTEM              9    /* system number of the device id */
#define IM_DEV_BOARD               10   /* board number of the device id */
#define IM_DEV_RING_SLOTS          11   /* slots of the node's communication ring */
#define IM_DEV_BOARD_FREE          13   /* free bytes of the board memory heap */
#define IM_DEV_DISPLAY_FREE        14   /* free bytes of the display heaps */
#define IM_DEV_MODEL               15   /* board model */
/* Board products (the product id of a node). */
#define IM_DEV_HALCYRA             1
#define IM_DEV_HALCYRA_PRO         2
#define IM_DEV_HALCYRA_LC          3
#define IM_DEV_HALCYRA_MEMORY      4
#define IM_DEV_SORVIK_II_DIG       5
#define IM_DEV_DAC                 6
#define IM_DEV_KORVEX_IV           7
#define IM_DEV_HALCYRA_UNDEF       99
/* System inquiries (imSysInquire), from the ini file. */
#define IM_SYS_NODES               1    /* [Node] sections of the system */
#define IM_SYS_DIGITIZERS          2    /* ... with a grab module */
#define IM_SYS_DISPLAYS            3    /* ... with a display */
#define IM_SYS_SYSTEMS             4    /* distinct systems */
#define IM_SYS_NODE_TABLE          5    /* a new table of six words per node (free() it) */
/* Memory map modes (imSysGetMemoryMap) and the ring dump (imSysDiag). */
#define IM_MAP_SIZE                0    /* size in MiB */
#define IM_MAP_BLOCKS              2    /* a buffer of the used blocks */
#define IM_MAP_DESCRIPTORS         3    /* a buffer of the buffer descriptors */
#define IM_DIAG_RING               0

/* ==== Thread objects: attributes, controls and inquiries (imThrAlloc, imThrControl,
   imThrInquire) ==== */
#define IM_THR_CHECKED             15001  /* 1-4, checked and not kept (inquiry: 0) */
#define IM_THR_PRIORITY            15002  /* 1-15, default 8 */
#define IM_THR_OWNER               15003  /* owner device id (inquiry only) */
#define IM_THR_STACK_SIZE          15004  /* 4096-65536, default 4096 */
#define IM_THR_VALUE               15005  /* a value kept for the thread, default IM_DISABLE */
#define IM_THR_SWITCH              15007  /* IM_ENABLE or IM_DISABLE */
/* Halt modes (imThrHalt). */
#define IM_HALT_NOW                1      /* stop the grab now */
#define IM_HALT_END_OF_GRAB        2      /* stop it at the end of the grab in flight */
#define IM_HALT_NOW_QUIET          5      /* as IM_HALT_NOW without signalling the VM servers */

/* ==== Sync objects (OSB): states, requests (imSyncHost, imSyncThread) and controls ==== */
#define IM_OSB_NEW                 10
#define IM_OSB_RECEIVED            20
#define IM_OSB_READY               30
#define IM_OSB_STARTED             40
#define IM_OSB_DONE                50
#define IM_OSB_COUNT               0x1000000  /* or-ed with a count (low 16 bits): wait for it */
#define IM_OSB_COUNT_NONE          0x10FFFFF  /* sets the count to -1 */
#define IM_OSB_ASK_STATE           0x800000   /* imSyncHost: the state, without waiting */
#define IM_OSB_ASK_COUNT           0x1800000  /* the count, without waiting */
#define IM_SYNC_STATE              18000      /* imSyncControl: set the state */
#define IM_SYNC_MODE               18001      /* imSyncControl: set the mode */
#define IM_OSB_MODE_REARM          1          /* a wait for IM_OSB_DONE sets it back to IM_OSB_NEW */
#define IM_OSB_MODE_KEEP           2          /* the state stays */

/* ==== Buffers ==== */
/* Types: bits per pixel in bits 0-7 with a class bit. */
#define IM_SIGNED                  0x10000000
#define IM_FLOAT                   0x20000000
#define IM_BINARY                  0x40000001  /* one bit per pixel */
#define IM_ALIGN_64K               0x80000000u /* or-ed into a type: 64 KB aligned bands */
#define IM_UBYTE                   8
#define IM_USHORT                  16
#define IM_ULONG                   32
#define IM_FLOAT32                 (IM_FLOAT | 32)
#define IM_DOUBLE                  (IM_FLOAT | 64)
/* Locations. */
#define IM_LOC_BOARD               1           /* board memory */
#define IM_LOC_DISPLAY             2           /* display memory, the first heap with room */
#define IM_LOC_HOST_DMA            3           /* host DMA memory */
#define IM_LOC_HOST_PAGED          4           /* the caller's paged memory */
#define IM_LOC_INLINE              6           /* inside the descriptor */
#define IM_LOC_DEFAULT             IM_DEFAULT  /* board memory when mapped, else display memory */
#define IM_LOC_NO_MEMORY           0x40000001  /* a descriptor without bands */
#define IM_LOC_DISPLAY_HEAP        0x40000020  /* the 4 MB display heap or the controller's */
#define IM_LOC_DISPLAY_0MB         0x40000040  /* display heap at frame-buffer offset 0 */
#define IM_LOC_DISPLAY_2MB         0x40000050  /* ... at 2 MB */
#define IM_LOC_DISPLAY_4MB         0x40000060  /* ... at 4 MB */
#define IM_LOC_CONTROLLER          0x40000070  /* the display controller's memory window */
#define IM_LOC_FRAME_0MB           0x60000040  /* fixed: the frame buffer's base */
#define IM_LOC_FRAME_2MB           0x60000050  /* fixed: base + 2 MB */
#define IM_LOC_FRAME_4MB           0x60000060  /* fixed: base + 4 MB */
#define IM_LOC_FRAME_BANDS         0x60000030  /* fixed: band i at base + i x 2 MB */
#define IM_LOC_FRAME_CONTROLLER    0x60000070  /* fixed: the controller window's base */
/* Memory kinds of imBufCreate. */
#define IM_MEM_HOST                4           /* host addresses */
#define IM_MEM_BUS                 5           /* bus addresses */
#define IM_MEM_HOST_LIBRARY        7           /* host memory the library allocated */
#define IM_MEM_BUFFER              IM_DEFAULT  /* ids of buffers whose band 0 is taken */
/* Memory-kind bits of a buffer id. */
#define IM_ID_HOST_DMA             0x1000000
#define IM_ID_HEAP                 0x2000000
#define IM_ID_GIVEN_MEMORY         0x4000000
#define IM_ID_CONTROLLER           0x7000000
#define IM_ID_PAGED                0xC000000
/* Inquiries (imBufInquire). */
#define IM_BUF_SIZE_X              3
#define IM_BUF_SIZE_Y              4
#define IM_BUF_BANDS               6
#define IM_BUF_TYPE                8
#define IM_BUF_BITS                10
#define IM_BUF_TYPE_CLASS          11
#define IM_BUF_PARENT              30
#define IM_BUF_OFFSET_X            32
#define IM_BUF_OFFSET_Y            33
#define IM_BUF_FIRST_BAND          37
#define IM_BUF_FIELD_COUNT         38
#define IM_BUF_LOCATION            200
#define IM_BUF_BUS_ADDRESS         201
#define IM_BUF_PITCH               202
#define IM_BUF_DESCRIPTOR          400
/* Controls (imBufControl). */
#define IM_BUF_LOCK                1           /* lock a paged buffer's pages */
#define IM_BUF_UNLOCK              2
/* File formats (imBufLoad, imBufRestore, imBufSave). */
#define IM_FILE_RAW                1
#define IM_FILE_TIFF               2
#define IM_FILE_TIFF_FIELDS        10          /* TIFF with the buffer's fields */

/* ==== Fields of a grab or copy control buffer (imBufPutField on a control buffer) ==== */
#define IM_CTL_BAND_MODE           10000  /* IM_ENABLE: refuse multi-band copies; packed pixel format of a grab */
#define IM_CTL_MIRROR_X            10001  /* 2: mirrored horizontally */
#define IM_CTL_MIRROR_Y            10002  /* 2: mirrored vertically */
#define IM_CTL_PACKING             10003  /* packing selector of the pixel format */
#define IM_CTL_TRANSFER_MODE       10004  /* transfer kind of a copy */
#define IM_CTL_FACTOR_X            10005  /* 1-16: horizontal factor */
#define IM_CTL_FACTOR_Y            10006  /* 1-16: vertical factor */
#define IM_CTL_TAG_BUFFER          10007  /* id of a tag buffer */
#define IM_CTL_COPY_MODE           10008  /* 3, 4 or IM_DEFAULT */
#define IM_CTL_LANE_ORDER          10009  /* receiving side: 1 or 2 */
#define IM_CTL_WRITE_MASK          10010  /* data write mask (default 0xFFFFFF) */
#define IM_CTL_MODE_X              10011  /* horizontal mode */
#define IM_CTL_MODE_Y              10012  /* vertical mode */
#define IM_CTL_PIXEL_BITS          10013  /* bits per word or per pixel */
#define IM_CTL_MODE_BIT21          10014  /* IM_DISABLE sets bit 21 of the transfer mode */
#define IM_CTL_MODE_BIT20          10015  /* IM_DISABLE sets bit 20 of the transfer mode */
#define IM_CTL_COUNT               10016  /* VM: transfer count (-1 endless) */
#define IM_CTL_COUNTED             10017  /* VM: 1 counts transfers */
#define IM_CTL_VM_PORT             10018  /* VM port 0-14 */
#define IM_CTL_WINDOW_X            10019  /* window x start */
#define IM_CTL_WINDOW_Y            10020  /* window y start */
#define IM_CTL_WINDOW_X_END        10021  /* window x stop */
#define IM_CTL_WINDOW_Y_END        10022  /* window y stop */
#define IM_CTL_COUNT_MODE          10023  /* 0, 1 or 2 */
#define IM_CTL_FRAME_MODE          10024  /* 0 clears the frame mode */
#define IM_CTL_FIELD_MODE          10025  /* count or field kind */
#define IM_CTL_LINE_INTERRUPT      10026  /* line of the line interrupt */
#define IM_CTL_WAIT_MODE           10027  /* grab: 1 wait for grabs elsewhere, 2 no wait */
#define IM_CTL_CHANNEL             10028  /* grab: channel selection */
#define IM_CTL_KEEP_GRAB_MODE      10029  /* grab: keep the single/continuous bits */
#define IM_CTL_CAPTURE             10030  /* grab: capture mode */
#define IM_CTL_INTERRUPT_KIND      10031  /* kind of the line interrupt */
#define IM_CTL_RATE                10032  /* grab: lines per ms; VM: frames of the sync object */
#define IM_CTL_CONTINUED           10033  /* 1: continues a request already set up */
#define IM_CTL_DISPLAY_SYNC        10034  /* IM_ENABLE: copy synchronised with the display */
#define IM_CTL_NODE_RECORDS        10035  /* on a node's base buffer: its timer and copy-parameter records */
#define IM_CTL_KEEP_VM             10036  /* present: keep the VM registers after a host copy */
#define IM_CTL_MISSING_BAND        10037  /* IM_ENABLE: a missing partner counts as one band */
#define IM_CTL_HOST_PATH           16003  /* host grab: buffer that selects the second path */
#define IM_CTL_EXT_MODULE          16036  /* VM sending side of an external module */

/* ==== Displays: control fields (imDispControl) and inquiries (imDispInquire) ==== */
#define IM_DISP_SELECT             13000  /* the buffer shown */
#define IM_DISP_KEY_MODE           13001  /* keying mode 2-5 */
#define IM_DISP_KEY_MASK           13002
#define IM_DISP_KEY_VALUE          13003
#define IM_DISP_LUT                13004  /* palette buffer, 0: grey ramp */
#define IM_DISP_FORMAT             13005  /* display buffer location */
#define IM_DISP_PAN_X              13006
#define IM_DISP_PAN_Y              13007
#define IM_DISP_KEY_COLOUR         13008
#define IM_DISP_ZOOM               13010  /* 1, 2 or 4 */
#define IM_DISP_WIDTH              13011  /* inquiry only */
#define IM_DISP_HEIGHT             13012  /* inquiry only */
#define IM_DISP_MODE               13013  /* inquiry only */
#define IM_DISP_ZOOM_CODE          13014
#define IM_DISP_ENABLE             13015  /* IM_ENABLE or IM_DISABLE */
#define IM_DISP_RESTART            2      /* imDispControl type: restart at vertical sync first */
#define IM_DISP_KEEP_MODE          IM_DEFAULT  /* imDispAlloc mode: keep an equal running mode */
#define IM_DISP_SET_UP             2      /* imDispAlloc mode: set the controller up again */

/* ==== Cursor ==== */
#define IM_CUR_DEFAULT_MODE        IM_DEFAULT  /* imCurAlloc: cursor mode 1 */

/* ==== Cameras ==== */
#define IM_CAM_TEXT                0      /* imCamAlloc: the name is camera-file text */
#define IM_CAM_FILE                1      /* imCamAlloc: a camera file along DCFPATH */
#define IM_CAM_RELOAD              2      /* ... and load the digitizer again */
#define IM_CAM_EMPTY               99     /* an empty camera */

/* ==== Camera and digitizer controls and inquiries (imCamControl, imCamInquire,
   imDigControl, imDigInquire); bits 16-31 of a type select an input, output or timer ==== */
#define IM_DIG_SELECT(n)           ((n) << 16)
#define IM_DIG_CHANNEL             30000
#define IM_DIG_SYNC_CHANNEL        30001
#define IM_DIG_GAIN                30002  /* percent */
#define IM_DIG_REF_WHITE           30003
#define IM_DIG_REF_BLACK           30004
#define IM_DIG_LUT_BUF             30005
#define IM_DIG_USER_IN             30006
#define IM_DIG_USER_OUT            30007
#define IM_DIG_EXP_ACTIVE          30008  /* exposure time, seconds */
#define IM_DIG_EXP_DELAY           30009
#define IM_DIG_TIMER_TRIG_SRC      30010
#define IM_DIG_TIMER_POL           30011
#define IM_DIG_EXP                 30012
#define IM_DIG_CAPT_SRC            30013
#define IM_DIG_CAPT_POL            30014
#define IM_DIG_SW_CAPT             30015
#define IM_DIG_SIZE_X              30016
#define IM_DIG_SIZE_Y              30017
#define IM_DIG_SIZE_BIT            30018
#define IM_DIG_TYPE                30019
#define IM_DIG_NUM_BANDS           30020
#define IM_DIG_SCAN_MODE           30021
#define IM_DIG_NBR_MAX_CHANNEL     30022
#define IM_DIG_INPUT_MODE          30023
#define IM_DIG_USER_IN_FORMAT      30024
#define IM_DIG_USER_OUT_FORMAT     30025
#define IM_DIG_FRAME_FIELD         30026  /* 1 frame, 2 field */
#define IM_DIG_BRIGHTNESS          30027
#define IM_DIG_CONTRAST            30028
#define IM_DIG_HUE                 30029
#define IM_DIG_SATURATION          30030
#define IM_DIG_VIDEO_AMPLITUDE     30032  /* volts */
#define IM_DIG_BLACK_LEVEL         30033  /* volts */
#define IM_DIG_WHITE_LEVEL         30034  /* volts */
#define IM_DIG_PIXEL_CLOCK         30035  /* inquiry */
#define IM_DIG_DEC_GAIN            30036
#define IM_DIG_UART_BAUD_RATE      30038
#define IM_DIG_UART_PARITY         30039
#define IM_DIG_UART_STOP_BITS      30040
#define IM_DIG_UART_DATA_BITS      30041
#define IM_DIG_UART_TIMEOUT        30042
#define IM_DIG_UART_WRITE_CHAR     30043
#define IM_DIG_UART_READ_CHAR      30044
#define IM_DIG_UART_READ_LENGTH    30048
#define IM_DIG_UART_READ_MAX_LENGTH 30049
#define IM_DIG_UART_READ_STRING    30050  /* inquiry: the string into the caller's buffer */
#define IM_DIG_UART_WRITE_LENGTH   30051
#define IM_DIG_UART_WRITE_STRING   30052
#define IM_DIG_UART_DATA_PRESENT   30053
#define IM_DIG_UART_ERROR          30054  /* status bits 0-3 */
#define IM_DIG_UART_ERROR_CLEAR    30055  /* the same, then cleared */
#define IM_DIG_UART_READ_CONFIG    30099

/* ==== JPEG objects ==== */
#define IM_JPEG_QUANT_TABLE        19007  /* at most 64 bytes */
#define IM_JPEG_AC_TABLE           19008  /* at most 178 bytes */
#define IM_JPEG_DC_TABLE           19009  /* at most 33 bytes */
#define IM_JPEG_READ_FILE          19021  /* control sent before a file is read into an object */

/* ==== Command messages (the sync type of im_msg_send, the reply modes of a ring slot) ==== */
#define IM_SYNC_POLL               1      /* wait for completion */
#define IM_SYNC_NOWAIT             2      /* post only */
#define IM_SYNC_READY              3      /* wait for "ready" */
#define IM_REPLY_NOWAIT            110
#define IM_REPLY_POLL              120
#define IM_REPLY_POLL_FOR_READY    125
#define IM_OPCODE_USER             10000  /* first user opcode */

#endif /* HLCLIB_DEFS_H */
