// Project files (.psm): any bytes given to TPhaseShiftMoire::LoadFromFile are either
// loaded or refused with an error, never read out of bounds.
#include "Apperror.h"
#include "Phaseshiftmoire.h"
#include "fuzzinput.h"
#include "registry.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A new project reads its header defaults from the settings: kept in memory here.
    static qsrf::registry::ScopedProcessBackend settings(
        std::make_shared<qsrf::registry::MemoryBackend>());
    const std::string& path = qsrf_fuzz::WriteFuzzInput(data, size);
    try {
        TPhaseShiftMoire project("fuzz");
        project.LoadFromFile(path);
    } catch (const EAppError&) {
        // A refused file: what the reader is meant to do with bad input.
    }
    return 0;
}
