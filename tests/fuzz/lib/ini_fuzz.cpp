// The board ini file: any bytes read as "halcyra.ini" are parsed into records (or refused)
// without reading out of bounds, and every ring walk over the result ends.
#include "fuzzinput.h"
#include "halcyraini.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A console pipe path too long to use keeps the console off: messages of the reader
    // are dropped instead of starting the console program for every input.
    setenv("HLCCOUT_PIPE", std::string(200, 'p').c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    if (HalcyraIniLoad(path.c_str(), nullptr, 1) == nullptr)
        return 0;
    // Walk every ring of every record, as bring-up does, and read a few settings back.
    for (_HALCYRA_INI_ST* r = HalcyraIniSt->Next; r != nullptr; r = r->Next) {
        for (uint32_t offset : {0x30u, 0x34u, 0x3Cu}) {
            _HALCYRA_INI_ST* cursor = HalcyraIniSt;
            while (HalcyraIniLink(&cursor, r->DeviceNbr, offset) != 0) {
            }
        }
        HalcyraIniReadText(r->NodeId, "FpgaName");
    }
    uint32_t word = 0;
    HalcyraIniReadTag(0, "primary.hbusctrl.orlorcmd", &word);
    HalcyraIniReadText(0, "CoffPath");
    HalcyraIniFree(nullptr);
    return 0;
}
