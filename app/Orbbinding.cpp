#include "Orbbinding.h"

#include <algorithm>
#include <cstring>

OrbBoardDriverEntry BoardDriverEntry(int boardKind)
{
    switch (boardKind) {
    case btSorvik: return &ORBSVK_orbBoardDriverEntry;
    case btSorvik2: return &ORBSVK2_orbBoardDriverEntry;
    case btDrevanSingle:
    case btDrevanDouble: return &ORBDRV_orbBoardDriverEntry;
    case btLumbra: return &ORBLMB_orbBoardDriverEntry;
    case btHalcyra: return &ORBHLC_orbBoardDriverEntry;
    case btNoBoardVGA: return &ORBVGA_orbBoardDriverEntry;
    default: return nullptr;
    }
}

bool BoardKindHasDigitizer(int boardKind) { return boardKind != btNoBoardVGA && boardKind != btNoBoardHost; }

uint32_t InputChannelCode(int itemIndex)
{
    static const uint32_t codes[8] = {0x20000000u, 0x40000000u, 0x80000000u, 0x1000000u,
                                      0x2000000u,  0x4000000u,  0x8000000u,  0x200000u};
    return itemIndex >= 0 && itemIndex < 8 ? codes[itemIndex] : 0;
}

std::string OrbErrorText(OrbId errorId, OrbInt code)
{
    char text[ORB_ERROR_TEXT_SIZE];
    std::memset(text, 0, sizeof text);
    if (orbAppGetError(errorId, code, text) != 0)
        return std::string();
    text[ORB_ERROR_TEXT_SIZE - 1] = '\0';
    return text;
}

int OrbErrorSubMessageCount(OrbId errorId)
{
    OrbInt n = 0;
    if (orbAppGetError(errorId, ORB_ERR_SUBMESSAGE_COUNT, &n) != 0)
        return 0;
    return std::clamp<OrbInt>(n, 0, 3);
}
