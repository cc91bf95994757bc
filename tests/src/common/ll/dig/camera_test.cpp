#include "bufchild.h"
#include "camerafixture.h"
#include "dcftable.h"
#include "hlc_errors.h"

#include <algorithm>
#include <set>

using namespace camerafixture;

namespace {

// The unnamed slots that allocation fills with defaults, and their values.
const std::vector<std::pair<uint32_t, uint32_t>> kDefaults = {
    {cam0::SYN_AMPL, 286},      {cam0::BLACK_LEVEL, 0},       {cam0::WHITE_LEVEL, 0},
    {cam0::BLACK_REF, 0},       {cam0::WHITE_REF_RED, 100},   {cam0::WHITE_REF_GREEN, 100},
    {cam0::WHITE_REF_BLUE, 100}, {cam0::WHITE_REF_ALPHA, 100},
};

// Every keyword of the standard table with a distinct value.
std::vector<_DCF_ENTRY> AllKeywords()
{
    std::vector<_DCF_ENTRY> list = Entries(kCamTypeStd, {});
    for (uint32_t i = 0; i < cam0::kKeywordRows; ++i) {
        _DCF_ENTRY e{};
        std::strncpy(e.name, cam0::dcfNameTable[i].keyword, sizeof e.name - 1);
        e.value = 1000 + 7 * i;
        list.push_back(e);
    }
    return list;
}

class CameraTest : public CameraNodeTest {};

// ---- building the record -----------------------------------------------------------------

TEST_F(CameraTest, NoEntriesGiveOnlyTheDefaults)
{
    const uint32_t id = Alloc(Entries(kCamTypeStd, {}), 0, 0);
    ASSERT_NE(id, 0u) << Text();
    _MP_BUF_ST* b = mp_buf_pointer(id);
    EXPECT_EQ(b->kind, kBufKindCamera);
    EXPECT_EQ(b->sizeX, 4544);
    EXPECT_EQ(b->sizeY, 1);
    EXPECT_EQ(b->bands, 1u);
    EXPECT_EQ(b->type, 0x10000008u);
    int32_t type = -1;
    ASSERT_EQ(mp_buf_get_field(b, 20000, &type), 0);
    EXPECT_EQ(type, 1);

    const _MP_CAM_ST_0* cam = Camera(id);
    std::set<uint32_t> defaulted;
    for (const auto& d : kDefaults) {
        EXPECT_EQ(CamSlotAt(cam, d.first)->value, d.second) << d.first;
        EXPECT_EQ(CamSlotAt(cam, d.first)->file, d.second) << d.first;
        defaulted.insert(d.first);
    }
    for (uint32_t offset = 0; offset < cam0::kRecordBytes; offset += 8) {
        if (defaulted.count(offset)) continue;
        EXPECT_EQ(CamSlotAt(cam, offset)->value, 0u) << offset;
        EXPECT_EQ(CamSlotAt(cam, offset)->file, 0u) << offset;
    }
    EXPECT_EQ(Code(), 0) << Text();
}

TEST_F(CameraTest, EntriesFillBothWordsAndTheLevelsFollowThem)
{
    const uint32_t id = Alloc(Entries(kCamTypeStd, {{"DIG_HTOTAL", 858},
                                                    {"VDL_AMPL", 714},
                                                    {"VDL_PED_AMP", 54},
                                                    {"SYN_AMPL", 300},
                                                    {"NO_SUCH_KEYWORD", 5},
                                                    {"INFO_PIXCLK", 13500000}}));
    ASSERT_NE(id, 0u);
    const _MP_CAM_ST_0* cam = Camera(id);
    EXPECT_EQ(CamSlotAt(cam, cam0::DIG_HTOTAL)->value, 858u);
    EXPECT_EQ(CamSlotAt(cam, cam0::DIG_HTOTAL)->file, 858u);
    EXPECT_EQ(Get(cam, cam0::INFO_PIXCLK), 13500000u);
    EXPECT_EQ(Get(cam, cam0::WHITE_LEVEL), 660u) << "amplitude less pedestal";
    EXPECT_EQ(CamSlotAt(cam, cam0::WHITE_LEVEL)->file, 660u);
    EXPECT_EQ(Get(cam, cam0::SYN_AMPL), 286u) << "the file's sync amplitude is overridden";
    EXPECT_EQ(CamSlotAt(cam, cam0::SYN_AMPL)->file, 286u);
    EXPECT_EQ(Code(), 0) << "an unknown keyword is skipped silently";
}

TEST_F(CameraTest, AReversedListGivesTheSameRecord)
{
    std::vector<_DCF_ENTRY> forward = AllKeywords();
    std::vector<_DCF_ENTRY> reversed(forward.begin() + 1, forward.end());
    std::reverse(reversed.begin(), reversed.end());
    reversed.insert(reversed.begin(), forward[0]);
    const uint32_t a = Alloc(forward);
    const uint32_t b = Alloc(reversed);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(std::memcmp(Camera(a)->bytes, Camera(b)->bytes, cam0::kRecordBytes), 0);
    // Each keyword's value reached its slot.
    for (uint32_t i = 0; i < cam0::kKeywordRows; ++i) {
        const uint32_t offset = cam0::dcfNameTable[i].offset;
        if (offset == cam0::SYN_AMPL) continue;
        EXPECT_EQ(Get(Camera(a), offset), 1000 + 7 * i) << cam0::dcfNameTable[i].keyword;
    }
}

TEST_F(CameraTest, NamesWithoutTheirZeroAreReadOnlyWithinTheirField)
{
    std::vector<_DCF_ENTRY> list = Entries(kCamTypeStd, {{"DIG_VTOTAL", 525}});
    _DCF_ENTRY full{};
    std::memset(full.name, 'D', sizeof full.name);  // 32 bytes, no zero
    full.value = 77;
    list.push_back(full);
    const uint32_t id = Alloc(list);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(Get(Camera(id), cam0::DIG_VTOTAL), 525u);
    EXPECT_EQ(Code(), 0);
}

TEST_F(CameraTest, OnlyTheExactStandardTypeLineIsAccepted)
{
    for (const char* type : {"HALCYRA_GRAB_0 ", "HALCYRA_GRAB_1", "halcyra_grab_0", "HALCYRA_GRAB_", ""}) {
        ClearError();
        EXPECT_EQ(Alloc(Entries(type, {{"DIG_HTOTAL", 1}})), 0u) << type;
        EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER) << type;
        EXPECT_EQ(Text(), "Unrecognized digitizer type") << type;
    }
    ClearError();
    EXPECT_EQ(mpCamAlloc_Std(&res_, nullptr, 0, 0), 0u);
    EXPECT_EQ(Text(), "Unrecognized digitizer type");
}

TEST_F(CameraTest, ANegativeCountStoresNoEntry)
{
    const uint32_t id = Alloc(Entries(kCamTypeStd, {{"DIG_HTOTAL", 858}}), 0, 0);
    ASSERT_NE(id, 0u);
    const uint32_t negative = mpCamAlloc_Std(&res_, Entries(kCamTypeStd, {{"DIG_HTOTAL", 858}}).data(), -5, 0);
    ASSERT_NE(negative, 0u);
    EXPECT_EQ(Get(Camera(negative), cam0::DIG_HTOTAL), 0u);
    EXPECT_EQ(Get(Camera(negative), cam0::SYN_AMPL), 286u);
}

TEST_F(CameraTest, ModeNinetyNineLeavesTheRecordEmpty)
{
    const uint32_t id = Alloc(Entries(kCamTypeStd, {{"DIG_HTOTAL", 858}, {"VDL_AMPL", 714}}), kCamAllocEmpty);
    ASSERT_NE(id, 0u);
    const _MP_CAM_ST_0* cam = Camera(id);
    for (uint32_t offset = 0; offset < cam0::kRecordBytes; offset += 4) {
        uint32_t word = 0;
        std::memcpy(&word, cam->bytes + offset, 4);
        EXPECT_EQ(word, 0u) << offset;
    }
}

// ---- the Sorvik II module ------------------------------------------------------------------

TEST_F(CameraTest, SorvikControlWordFollowsTheGrabModeAndInputBits)
{
    // Bits 4-6 of each grab mode g (DIG_GRABCTL bits 12-14), with DIG_DICTL bit 12 clear and set.
    const uint32_t clear[8] = {0, 1, 4, 3, 6, 5, 4, 4};
    const uint32_t set[8] = {0, 1, 2, 3, 6, 5, 2, 2};
    for (uint32_t g = 0; g < 8; ++g) {
        // DIG_DICTL bits 14 and 11 set: bit 3 and bits 11-12 stay clear.
        EXPECT_EQ((mpPrvSorvik2Control(0, g << 12, 0x4800, 0) >> 4) & 7, clear[g]) << g;
        EXPECT_EQ((mpPrvSorvik2Control(0, g << 12, 0x5800, 0) >> 4) & 7, set[g]) << g;
    }
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x4800, 0), 0u);
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x0800, 0), 0x8u) << "bit 3: DIG_DICTL bit 14 clear";
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x4000, 0), 0x1800u) << "bits 11 and 12: DIG_DICTL bit 11 clear";
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x6800, 0), 0x80u) << "bit 7 = DIG_DICTL bit 13";
    // DIMREG0 bits 0, 1, 2 land in bits 10, 9, 8.
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x4800, 1), 0x400u);
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x4800, 2), 0x200u);
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x4800, 4), 0x100u);
    EXPECT_EQ(mpPrvSorvik2Control(0, 0, 0x4800, 0xF8), 0u) << "higher DIM bits are not used";
    // Bits 0-2 are cleared; bits 13 and up keep their value.
    EXPECT_EQ(mpPrvSorvik2Control(0xFFFFFFFFu, 0, 0x4800, 0), 0xFFFFE000u);
}

TEST_F(CameraTest, SorvikRecordsCarryTheirFlagUartLinesAndControlWord)
{
    for (uint32_t type : {2u, 34u}) {
        SetModuleType(type);
        const uint32_t id = Alloc(Entries(kCamTypeStd, {{"DIG_GRABCTL", 0xC123},
                                                        {"DIG_DICTL", 0x1000},
                                                        {"DIMREG0", 5}}));
        ASSERT_NE(id, 0u) << Text();
        const _MP_CAM_ST_0* cam = Camera(id);
        EXPECT_EQ(Get(cam, cam0::SORVIK2_FLAG), type);
        EXPECT_EQ(Get(cam, cam0::UART_CONTROL) & 0xFFFF, 2u);
        EXPECT_EQ(Get(cam, cam0::DIG_GRABCTL), 0x4123u) << "the PLL is never used";
        // g = 4 gives 110; bit 3 (DICTL bit 14 clear); DIM 101 gives bits 10 and 8; bits
        // 11-12 (DICTL bit 11 clear).
        EXPECT_EQ(Get(cam, cam0::SORVIK2_CONTROL), 0x60u | 0x8u | 0x500u | 0x1800u);
        int32_t field = 0;
        ASSERT_EQ(mp_buf_get_field(mp_buf_pointer(id), 20000, &field), 0);
        EXPECT_EQ(field, static_cast<int32_t>(type));
    }
}

TEST_F(CameraTest, SorvikNodesGetOneUartAreaFreedAtShutDown)
{
    SetModuleType(2);
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {})), 0u);
    const uint32_t area = Info()[kNodeInfoUartArea];
    EXPECT_NE(area, 0u);
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {})), 0u);
    EXPECT_EQ(Info()[kNodeInfoUartArea], area) << "made once per node";
    mpPrvFreeCamUartArea(Info());
    EXPECT_EQ(Info()[kNodeInfoUartArea], 0u);
    // On a second-family node the word is the family's own record: left alone.
    SetModuleType(4);
    Info()[kNodeInfoUartArea] = 0x1234;
    mpPrvFreeCamUartArea(Info());
    EXPECT_EQ(Info()[kNodeInfoUartArea], 0x1234u);
    Info()[kNodeInfoUartArea] = 0;
}

TEST_F(CameraTest, StandardRecordsHaveNoUartArea)
{
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {})), 0u);
    EXPECT_EQ(Info()[kNodeInfoUartArea], 0u);
    EXPECT_EQ(Get(Camera(Alloc(Entries(kCamTypeStd, {}))), cam0::SORVIK2_FLAG), 0u);
}

// ---- module outputs ------------------------------------------------------------------------

TEST_F(CameraTest, AnAbsentTypeOneModuleHasItsOutputsTurnedOff)
{
    mpPrvSetExtReg(cam0::DIG_GPCTL, 0x0085);
    Grab().clearLog();
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {})), 0u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GPCTL), 0x0082);
    EXPECT_EQ(Info()[kNodeInfoModuleLoaded], 0u);
}

TEST_F(CameraTest, AnAbsentModuleOfAnotherTypeIsNotTouched)
{
    SetModuleType(2);
    mpPrvSetExtReg(cam0::DIG_GPCTL, 0x0085);
    Grab().clearLog();
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {})), 0u);
    EXPECT_TRUE(Values(grabregs::DIG_GPCTL).empty());
}

TEST_F(CameraTest, APresentModuleIsLoadedByTheFirstCameraOnly)
{
    Info()[kNodeInfoModulePresent] = 1;
    const auto file = Entries(kCamTypeStd, {{"DIG_HTOTAL", 858}, {"DIG_VTOTAL", 525}, {"DIG_HVRCTL", 0x1000}});
    ASSERT_NE(Alloc(file), 0u) << Text();
    EXPECT_EQ(Info()[kNodeInfoModuleLoaded], 1u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 858);
    EXPECT_EQ(Grab().reg(grabregs::DIG_GPCTL) & 0x5, 0x5) << "outputs on";

    Grab().clearLog();
    const auto other = Entries(kCamTypeStd, {{"DIG_HTOTAL", 1716}, {"DIG_HVRCTL", 0x1000}});
    ASSERT_NE(Alloc(other), 0u);
    EXPECT_EQ(AllWrites(), 0u) << "a loaded node only gets a record";

    ASSERT_NE(Alloc(other, kCamAllocForceLoad), 0u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 1716) << "mode 2 loads anyway";
    EXPECT_EQ(Code(), 0) << Text();
}

TEST_F(CameraTest, AnEmptyRecordIsStillLoadedIntoAnUnloadedModule)
{
    Info()[kNodeInfoModulePresent] = 1;
    mpPrvSetExtReg(cam0::DIG_HTOTAL, 0x0123);
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {{"DIG_HTOTAL", 858}}), kCamAllocEmpty), 0u) << Text();
    EXPECT_EQ(Info()[kNodeInfoModuleLoaded], 1u);
    EXPECT_EQ(Grab().reg(grabregs::DIG_HTOTAL), 0) << "the empty record's timing";
}

TEST_F(CameraTest, AFailedLoadStillGivesTheCameraButLeavesTheNodeUnloaded)
{
    Info()[kNodeInfoModulePresent] = 1;
    // Calibrated levels on a module whose EEPROM holds no calibration.
    const uint32_t id = Alloc(Entries(kCamTypeStd, {{"INFO_MISC", 0x2}}));
    EXPECT_NE(id, 0u);
    EXPECT_EQ(Info()[kNodeInfoModuleLoaded], 0u);
    EXPECT_EQ(Code(), HLC_ERR_RESTRICTED);
    EXPECT_EQ(Text(), "Error programming grab module references");
}

TEST_F(CameraTest, APresentSorvikModuleGetsItsCameraPortReset)
{
    SetModuleType(34);
    Info()[kNodeInfoModulePresent] = 1;
    ASSERT_NE(Alloc(Entries(kCamTypeStd, {{"DIG_HVRCTL", 0x1000}})), 0u) << Text();
    EXPECT_EQ(Info()[kNodeInfoModuleLoaded], 1u);
    const MP_UART_ST* port = mp_uart_area(Info());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->baudRate, 14400);
    EXPECT_EQ(port->timeout, -1);
    EXPECT_EQ(Grab().reg(47) & 0x1800, 0x1800) << "the rebuilt control word reached the module";
}

// ---- clone -----------------------------------------------------------------------------------

TEST_F(CameraTest, ACloneCopiesTheRecordAndItsFields)
{
    const uint32_t id = Alloc(AllKeywords());
    ASSERT_NE(id, 0u);
    _MP_BUF_ST* source = mp_buf_pointer(id);
    source->typeClass = 0x55;
    ASSERT_EQ(mp_buf_put_field(source, 20010, 2.5), 0);
    for (auto clone : {mpCamClone_Std, mpCamClone_Async}) {
        _MP_BUF_ST* copy = clone(&res_, source, 0);
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, source);
        EXPECT_EQ(copy->kind, kBufKindCamera);
        EXPECT_EQ(copy->typeClass, 0x55u);
        EXPECT_EQ(copy->sizeX, source->sizeX);
        EXPECT_EQ(copy->type, source->type);
        int32_t type = 0;
        EXPECT_EQ(mp_buf_get_field(copy, 20000, &type), 0);
        EXPECT_EQ(type, 1);
        double value = 0;
        EXPECT_EQ(mp_buf_get_field_double(copy, 20010, &value), 0);
        EXPECT_EQ(value, 2.5);
        EXPECT_EQ(std::memcmp(mp_buf_address_band_internal(copy, 0), Camera(id)->bytes, cam0::kRecordBytes), 0);
        mp_buf_free(copy);
    }
    EXPECT_EQ(Code(), 0);
}

TEST_F(CameraTest, OnlyCameraBuffersAreCloned)
{
    _MP_BUF_ST* image = LutBuffer(256, 1, 8);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(mpCamClone_Std(&res_, image, 0), nullptr);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
    ClearError();
    EXPECT_EQ(mpCamClone_Std(&res_, nullptr, 0), nullptr);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
}

// ---- save ------------------------------------------------------------------------------------

TEST_F(CameraTest, SaveListsTheTypeLineThenEveryKeywordInTableOrder)
{
    const uint32_t id = Alloc(AllKeywords());
    ASSERT_NE(id, 0u);
    uint32_t list = 0;
    int32_t count = 0;
    mpCamSave_Std(&res_, mp_buf_pointer(id), &list, &count);
    ASSERT_NE(list, 0u) << Text();
    EXPECT_EQ(count, 200);
    _MP_BUF_ST* b = mp_buf_pointer(list);
    EXPECT_EQ(b->sizeX, 7200);
    EXPECT_EQ(b->type, 0x10000008u);
    const auto* entries = static_cast<const _DCF_ENTRY*>(mp_buf_address_band_internal(b, 0));
    EXPECT_STREQ(entries[0].name, "HALCYRA_GRAB_0");
    for (uint32_t i = 0; i < cam0::kKeywordRows; ++i) {
        EXPECT_STREQ(entries[i + 1].name, cam0::dcfNameTable[i].keyword);
        const uint32_t expected = cam0::dcfNameTable[i].offset == cam0::SYN_AMPL ? 286 : 1000 + 7 * i;
        EXPECT_EQ(entries[i + 1].value, expected) << entries[i + 1].name;
    }
}

TEST_F(CameraTest, SavingAndAllocatingAgainRestoresEveryNamedSlot)
{
    const uint32_t id = Alloc(AllKeywords());
    _MP_CAM_ST_0* original = Camera(id);
    // Controls change word 0 only: the save carries the current values.
    CamSlotAt(original, cam0::DIG_HTOTAL)->value = 1716;
    CamSlotAt(original, cam0::VDL_PED_AMP)->value = 54;
    uint32_t list = 0;
    int32_t count = 0;
    mpCamSave_Std(&res_, mp_buf_pointer(id), &list, &count);
    ASSERT_NE(list, 0u);
    const auto* entries = static_cast<const _DCF_ENTRY*>(mp_buf_address_band_internal(mp_buf_pointer(list), 0));
    const uint32_t again = mpCamAlloc_Std(&res_, entries, count, 0);
    ASSERT_NE(again, 0u);
    const _MP_CAM_ST_0* copy = Camera(again);
    for (const _DCF_NAME_ROW& row : cam0::dcfNameTable) {
        EXPECT_EQ(CamSlotAt(copy, row.offset)->value, CamSlotAt(original, row.offset)->value) << row.keyword;
        EXPECT_EQ(CamSlotAt(copy, row.offset)->file, CamSlotAt(original, row.offset)->value) << row.keyword;
    }
    EXPECT_EQ(Get(copy, cam0::VDL_PED_AMP), 54u) << "the pedestal is kept";
    EXPECT_EQ(Get(copy, cam0::WHITE_LEVEL), Get(copy, cam0::VDL_AMPL) - 54);
}

TEST_F(CameraTest, SaveRefusesCamerasOfOtherModuleTypes)
{
    SetModuleType(2);
    const uint32_t sorvik = Alloc(Entries(kCamTypeStd, {}));
    ASSERT_NE(sorvik, 0u);
    uint32_t list = 7;
    int32_t count = 7;
    mpCamSave_Std(&res_, mp_buf_pointer(sorvik), &list, &count);
    EXPECT_EQ(list, 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Code(), HLC_ERR_BUFFER_ATTRIBUTE);

    ClearError();
    SetModuleType(1);
    const uint32_t standard = Alloc(Entries(kCamTypeStd, {}));
    mpCamSave_Async(&res_, mp_buf_pointer(standard), &list, &count);
    EXPECT_EQ(list, 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Code(), HLC_ERR_BUFFER_ATTRIBUTE) << "a standard camera is no second-family camera";
}

TEST_F(CameraTest, SaveRefusesWhatIsNoCamera)
{
    uint32_t list = 7;
    int32_t count = 7;
    mpCamSave_Std(&res_, LutBuffer(256, 1, 8), &list, &count);
    EXPECT_EQ(list, 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
    ClearError();
    mpCamSave_Std(&res_, nullptr, &list, &count);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
}

TEST_F(CameraTest, SecondFamilyCamerasAreSavedWithTheirOwnTable)
{
    // A second-family record as its allocation leaves it: kind 2, 5760 bytes, its module type.
    _MP_BUF_ST* b = mp_buf_alloc_on_node(chipsfixture::kNode, 5760, 1, 1, 0x10000008, kLocInline);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(mp_buf_alloc_id(b), 0u);
    b->kind = kBufKindCamera;
    auto* record = static_cast<uint8_t*>(mp_buf_address_band_internal(b, 0));
    std::memset(record, 0, 5760);
    for (uint32_t i = 0; i < cam1::kKeywordRows; ++i) CamSlotAt(record, cam1::dcfNameTable[i].offset)->value = 3 * i + 1;
    for (int32_t type : {3, 4, 5, 6}) {
        ClearError();
        ASSERT_EQ(mp_buf_put_field(b, 20000, type), 0);
        uint32_t list = 0;
        int32_t count = 0;
        mpCamSave_Async(&res_, b, &list, &count);
        ASSERT_NE(list, 0u) << type << " " << Text();
        EXPECT_EQ(count, 336);
        _MP_BUF_ST* saved = mp_buf_pointer(list);
        EXPECT_EQ(saved->sizeX, 12096);
        const auto* entries = static_cast<const _DCF_ENTRY*>(mp_buf_address_band_internal(saved, 0));
        EXPECT_STREQ(entries[0].name, "HALCYRA_GRAB_1");
        for (uint32_t i = 0; i < cam1::kKeywordRows; ++i) {
            EXPECT_STREQ(entries[i + 1].name, cam1::dcfNameTable[i].keyword);
            EXPECT_EQ(entries[i + 1].value, 3 * i + 1);
        }
        mp_buf_free(saved);
        // The standard family never saves it.
        mpCamSave_Std(&res_, b, &list, &count);
        EXPECT_EQ(list, 0u);
        EXPECT_EQ(count, 0);
    }
}

}  // namespace

// ---- second family ---------------------------------------------------------------------------

namespace {

class SecondFamilyCameraTest : public CameraNodeTest {
protected:
    SecondFamilyCameraTest() { moduleType_ = 4; }
    uint32_t AllocAsync(const std::vector<_DCF_ENTRY>& list, int32_t mode = 0)
    {
        return mpCamAlloc_Async(&res_, list.data(), static_cast<int32_t>(list.size()), mode);
    }
    static const uint8_t* Record1(uint32_t id)
    {
        _MP_BUF_ST* b = mp_buf_pointer(id);
        return b ? static_cast<const uint8_t*>(mp_buf_address_band_internal(b, 0)) : nullptr;
    }
};

TEST_F(SecondFamilyCameraTest, RecordsTakeTheFileAndTheirOwnDefaults)
{
    const uint32_t id = AllocAsync(Entries(kCamTypeAsync, {{"VDL_AMPL", 700}, {"VDL_PED_AMP", 50}, {"SYN_AMPL", 500},
                                                           {"DEC_CDEM", 0x5A}, {"DESCRIPTION_INFO_XSIZE", 768}}));
    ASSERT_NE(id, 0u) << Text();
    _MP_BUF_ST* b = mp_buf_pointer(id);
    EXPECT_EQ(b->sizeX, 5760);
    EXPECT_EQ(b->kind, kBufKindCamera);
    int32_t type = 0;
    ASSERT_EQ(mp_buf_get_field(b, kCamModuleTypeField, &type), 0);
    EXPECT_EQ(type, 4);
    const uint8_t* r = Record1(id);
    EXPECT_EQ(CamSlotAt(r, cam1::SYN_AMPL)->value, 286u) << "the file's value is overridden";
    EXPECT_EQ(CamSlotAt(r, cam1::WHITE_LEVEL)->value, 650u);
    EXPECT_EQ(CamSlotAt(r, cam1::WHITE_LEVEL)->file, 650u);
    EXPECT_EQ(CamSlotAt(r, cam1::BLACK_LEVEL)->value, 0u);
    EXPECT_EQ(CamSlotAt(r, cam1::DESCRIPTION_INFO_REFPOSRED)->value, 100u);
    EXPECT_EQ(CamSlotAt(r, cam1::DESCRIPTION_INFO_REFPOSALPHA)->file, 100u);
    EXPECT_EQ(CamSlotAt(r, cam1::DEC_CDEM)->value, 0x5Au);
    EXPECT_EQ(CamSlotAt(r, cam1::DESCRIPTION_INFO_XSIZE)->file, 768u);
    EXPECT_EQ(Info()[kNodeInfoModuleLoaded], 0u) << "an absent module is not loaded";
}

TEST_F(SecondFamilyCameraTest, OnlyTheSecondFamilysTypeLineIsAccepted)
{
    EXPECT_EQ(AllocAsync(Entries(kCamTypeStd, {})), 0u);
    EXPECT_EQ(Code(), HLC_ERR_INVALID_BUFFER);
    EXPECT_EQ(Text(), "Unrecognized digitizer type");
}

TEST_F(SecondFamilyCameraTest, SavingAndAllocatingAgainRestoresTheNamedSlots)
{
    const uint32_t id = AllocAsync(Entries(kCamTypeAsync, {{"FAF_HTOTAL", 910}, {"PLL_ICS1522REG3", 0x2A}}));
    ASSERT_NE(id, 0u);
    uint32_t list = 0;
    int32_t count = 0;
    mpCamSave_Async(&res_, mp_buf_pointer(id), &list, &count);
    ASSERT_NE(list, 0u) << Text();
    const auto* entries = static_cast<const _DCF_ENTRY*>(mp_buf_address_band_internal(mp_buf_pointer(list), 0));
    const uint32_t again = mpCamAlloc_Async(&res_, entries, count, 0);
    ASSERT_NE(again, 0u);
    EXPECT_EQ(CamSlotAt(Record1(again), cam1::FAF_HTOTAL)->value, 910u);
    EXPECT_EQ(CamSlotAt(Record1(again), cam1::PLL_ICS1522REG(3))->file, 0x2Au);
}

}  // namespace
