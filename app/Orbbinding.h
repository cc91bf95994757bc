#pragma once
// The program's binding to the imaging library: its calls (orb.h) with the codes and
// texts the program passes, the board-driver entry of each board kind, the digitizer
// input-channel codes and the error-record texts. Ids are 32-bit values handed back
// through out-parameters; ORB_DEFAULT as an argument asks for the default. No result is
// tested: errors come through the error hook.

#include "orb.h"

#include <cstdint>
#include <string>

// Board kinds (TMainForm::BoardType).
enum TBoardType : int8_t {
    btSorvik = 0,
    btSorvik2 = 1,
    btDrevanSingle = 2,
    btDrevanDouble = 3,   // the only kind with a shared display
    btLumbra = 4,
    btHalcyra = 5,
    btNoBoardVGA = 6,     // no digitizer
    btNoBoardHost = 7,    // no digitizer, no board driver
};
constexpr int kBoardKindCount = 8;

// The per-board driver entry that orbSysOpen opens the kind with: 0 ORBSVK, 1 ORBSVK2,
// 2 and 3 ORBDRV, 4 ORBLMB, 5 ORBHLC, 6 ORBVGA; none for kind 7 and for any other value.
OrbBoardDriverEntry BoardDriverEntry(int boardKind);
// True for the kinds 0-5.
bool BoardKindHasDigitizer(int boardKind);

// Digitizer input channel code of an input item index 0-7 (0x20000000, 0x40000000,
// 0x80000000, 0x1000000, 0x2000000, 0x4000000, 0x8000000, 0x200000); 0 for any other index.
uint32_t InputChannelCode(int itemIndex);
constexpr uint32_t kFirstInputChannel = 0x20000000;

// Texts and codes passed when the library is opened.
constexpr const char* kDigitizerFormat = "O_CCIR";
constexpr const char* kDisplayFormat = "O_DEFAULT";
constexpr OrbInt kAppControlType = 0x40000000;      // orbAppControl(kAppControlType, 0)

// Display control: the window display's overlay switch, set off for image windows.
constexpr OrbInt kDispControlOverlay = 3054;
// Control values.
constexpr double kControlEnable = -9997.0;
constexpr double kControlDisable = -9999.0;

// Digitizer controls and levels used by the panels.
constexpr OrbInt kLevelBlack = 4003;
constexpr OrbInt kLevelWhite = 4005;
constexpr OrbInt kLevelBrightness = 4008;
constexpr OrbInt kLevelContrast = 4009;
constexpr OrbInt kDigScale = 4010;        // both directions
constexpr OrbInt kDigScaleX = 4011;
constexpr OrbInt kDigScaleY = 4012;
constexpr OrbInt kDigGrabMode = 4016;     // 1 synchronous, 2 asynchronous
constexpr OrbInt kDigGrabFrames = 4017;
constexpr OrbInt kDigGrabFields = 4018;
constexpr OrbInt kDigVcrSignal = 4061;
constexpr OrbInt kDigGrabStart = 4074;    // 10 next field, 11 odd, 12 even

// One text of an error record (ORB_ERR_FUNCTION, ORB_ERR_MESSAGE, ORB_ERR_SUBMESSAGE1-3),
// at most 127 characters; "" when the record has none.
std::string OrbErrorText(OrbId errorId, OrbInt code);
// The number of sub-messages of an error record, 0-3.
int OrbErrorSubMessageCount(OrbId errorId);
