// The exports of the board-processor objects through the real sender: JPEG files and
// pattern models moved in and out of objects, result blocks read from board memory, the
// buffer service's remote calls, and the ring snooper.  A served node stands in for the
// board processor: its opcode table gets handlers that keep objects as a firmware would
// (tables, frame words, scan data and models in host memory, results in the node's mapped
// board memory).
#include "servednode.h"

#include "imbuf.h"
#include "imjpeg.h"
#include "impat.h"
#include "jpegfile.h"
#include "mp_msg.h"
#include "patfile.h"
#include "reqres.h"

#include "../../cbinding/jpegboard.h"
#include "../../cbinding/jpegstream.h"
#include "../../cbinding/patmodel.h"

#include "boardsim.h"
#include "bufhandlers.h"
#include "driverreq.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "im_param.h"
#include "nodelist.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace servednode;

constexpr uint32_t kMemorySize = 0x400000;
constexpr uint32_t kOrloBase = 0xE0000000u;

// ---- the stand-in firmware -------------------------------------------------------------

struct Firmware {
    jpegboard::Board jpeg;                 // tables, scans and the layout for the store
    _MP_BUF_ST* object = nullptr;          // the JPEG object: header in band 0
    uint32_t objectId = 0;
    std::vector<uint8_t> scratch = std::vector<uint8_t>(256, 0);
    uint32_t pendingType = 0, pendingId = 0, pendingSize = 0;
    std::map<uint32_t, std::vector<uint8_t>> models;
    uint32_t nextModel = 0x00110100u;
    // Replies the tests set.
    uint32_t reply[15]{};
    double replyDouble = 0;
    uint32_t replyCount = 0;
};
Firmware* g_fw = nullptr;

template <typename Work>
void Serve(_MSG_BODY_ST* msg, const char* name, Work work)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, name);
    if (mp_res_ok(res)) work(res);
    mp_res_free(res);
}

uint8_t* Band(_MP_BUF_ST* b)
{
    return static_cast<uint8_t*>(mp_buf_address_band_internal(b, 0));
}

void JpegAlloc(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegAlloc", [msg](MP_RESOURCE_ST*) {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 512, 1, 1, 8, kLocInline);
        g_fw->object = b;
        g_fw->objectId = b ? mp_buf_alloc_id(b) : 0;
        if (b) std::memset(Band(b), 0, 512);
        mp_msg_put_reply(msg, 0, g_fw->objectId);
    });
}

void Quiet(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegControl", [](MP_RESOURCE_ST*) {});
}

std::atomic<int> freed_{0};

void JpegFree(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegFree", [msg](MP_RESOURCE_ST*) {
        if (g_fw && mp_msg_param(msg, 0) == g_fw->objectId) ++freed_;
    });
}

void JpegPutTable(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegPutTable", [msg](MP_RESOURCE_ST*) {
        g_fw->pendingType = mp_msg_param(msg, 1);
        g_fw->pendingId = mp_msg_param(msg, 2);
        g_fw->pendingSize = mp_msg_param(msg, 3);
        mp_msg_put_reply(msg, 0, jpegboard::Addr(g_fw->scratch.data()));
    });
}

void JpegTableDone(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegPutTable", [](MP_RESOURCE_ST*) {
        const uint8_t* b = g_fw->scratch.data();
        g_fw->jpeg.tables.push_back({g_fw->pendingType, g_fw->pendingId, std::vector<uint8_t>(b, b + g_fw->pendingSize)});
    });
}

void JpegScan(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegScan", [msg](MP_RESOURCE_ST*) {
        uint32_t params[11], reply[3] = {0, 0, 0};
        for (uint32_t i = 0; i < 11; ++i) params[i] = mp_msg_param(msg, i);
        jpegboard::ScanOp(0, params, reply);
        for (uint32_t i = 0; i < 3; ++i) mp_msg_put_reply(msg, i, reply[i]);
    });
}

// Opcode 131: the object laid out for the store (its header in the object's band).
void JpegWrite(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegWrite", [msg](MP_RESOURCE_ST*) {
        uint8_t* header = Band(g_fw->object);
        std::memcpy(g_fw->jpeg.header.data(), header, kJpegHeaderBytes);
        jpegboard::Lay(g_fw->jpeg);
        std::memcpy(header, g_fw->jpeg.header.data(), kJpegHeaderBytes);
        mp_msg_put_reply(msg, 0, 0);
    });
}

void JpegGetTable(_MSG_BODY_ST* msg)
{
    Serve(msg, "JpegGetTable", [msg](MP_RESOURCE_ST*) {
        mp_msg_put_reply(msg, 0, jpegboard::Addr(g_fw->scratch.data()));
        mp_msg_put_reply(msg, 1, g_fw->reply[0]);
    });
}

// Buffer inquiry 401 as a board processor answers it: like 400.
void Inquire(_MSG_BODY_ST* msg)
{
    if (mp_msg_param(msg, 1) != kBufInqDescriptorRemote) {
        mp_BufInquire(msg);
        return;
    }
    Serve(msg, "BufInquire", [msg](MP_RESOURCE_ST*) {
        const _MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(msg, 0));
        mp_msg_put_reply(msg, 0, b ? b->busAddress : 0);
        mp_msg_put_reply(msg, 1, 0);
        mp_msg_put_reply(msg, 2, jpegboard::Addr(b));
    });
}

void PatRead(_MSG_BODY_ST* msg)
{
    Serve(msg, "PatRead", [msg](MP_RESOURCE_ST*) {
        _MP_BUF_ST* b = mp_buf_pointer(mp_msg_param(msg, 0));
        const uint8_t* bytes = Band(b);
        const uint32_t id = g_fw->nextModel++;
        g_fw->models[id].assign(bytes, bytes + b->sizeX);
        mp_msg_put_reply(msg, 0, id);
    });
}

void PatWrite(_MSG_BODY_ST* msg)
{
    Serve(msg, "PatWrite", [msg](MP_RESOURCE_ST*) {
        const std::vector<uint8_t>& m = g_fw->models[mp_msg_param(msg, 0)];
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, static_cast<int32_t>(m.size()), 1, 1, 8, kLocInline);
        std::memcpy(Band(b), m.data(), m.size());
        mp_msg_put_reply(msg, 0, mp_buf_alloc_id(b));
        mp_msg_put_reply(msg, 1, static_cast<uint32_t>(m.size()));
    });
}

// Replies with the words the test set.
void Replies(_MSG_BODY_ST* msg)
{
    Serve(msg, "Replies", [msg](MP_RESOURCE_ST*) {
        for (uint32_t i = 0; i < g_fw->replyCount; ++i) mp_msg_put_reply(msg, i, g_fw->reply[i]);
    });
}

void ReplyDouble(_MSG_BODY_ST* msg)
{
    Serve(msg, "ReplyDouble", [msg](MP_RESOURCE_ST*) {
        mp_msg_put_reply(msg, 0, 0);
        std::memcpy(msg->param[0], &g_fw->replyDouble, 8);
    });
}

// A temporary buffer for results, as the board makes one.
void ResultBuffer(_MSG_BODY_ST* msg)
{
    Serve(msg, "Result", [msg](MP_RESOURCE_ST*) {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 16, 1, 1, 8, kLocInline);
        mp_msg_put_reply(msg, 0, mp_buf_alloc_id(b));
        mp_msg_put_reply(msg, 1, g_fw->reply[1]);
        mp_msg_put_reply(msg, 2, g_fw->reply[2]);
    });
}

class BoardObjectsTest : public ServedNodeTest {
protected:
    void InstallHandlers() override
    {
        g_fw = &fw_;
        jpegboard::Current() = &fw_.jpeg;
        mp_server_set_handler(122, JpegAlloc);
        mp_server_set_handler(123, Quiet);
        mp_server_set_handler(127, JpegFree);
        freed_ = 0;
        mp_server_set_handler(129, JpegPutTable);
        mp_server_set_handler(130, JpegTableDone);
        mp_server_set_handler(131, JpegWrite);
        mp_server_set_handler(132, JpegScan);
        mp_server_set_handler(133, JpegGetTable);
        mp_server_set_handler(36, Inquire);
        mp_server_set_handler(159, PatRead);
        mp_server_set_handler(160, PatWrite);
        for (uint32_t op : {155u, 156u, 172u}) mp_server_set_handler(op, Replies);
        for (uint32_t op : {157u, 189u, 191u}) mp_server_set_handler(op, ReplyDouble);
        for (uint32_t op : {188u, 190u}) mp_server_set_handler(op, ResultBuffer);
        // The node list as the library keeps it, for the address conversions.
        imNodeSt = &g_host;
        dir_ = std::string(std::getenv("TMPDIR") && *std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
               "/boardobjects-" + std::to_string(::getpid());
        ::mkdir(dir_.c_str(), 0755);
    }
    void TearDown() override
    {
        ServedNodeTest::TearDown();
        imNodeSt = nullptr;
        jpegboard::Current() = nullptr;
        g_fw = nullptr;
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
    }
    std::string Path(const char* name) const { return dir_ + "/" + name; }
    static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    static std::vector<uint8_t> ReadFile(const std::string& path)
    {
        std::vector<uint8_t> out;
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return out;
        for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
        return out;
    }
    static int32_t LastError(std::string* text = nullptr)
    {
        const int32_t code = im_Application.error.code;
        if (text) *text = im_Application.error.message ? im_Application.error.message : "";
        im_msg_reset_application();
        return code;
    }
    // The node's board memory window, as a processor's node has it (the node then has
    // board memory for its buffers, which it serves from its descriptor arena otherwise).
    static void MapBoardMemory()
    {
        ASSERT_TRUE(HlcDrvMap(g_record.device, nullptr, kNode, HLC_REGION_PRIMARY, kMemorySize,
                              0x4000000 - kMemorySize, &g_record.primaryMemory));
        g_nodeState.orlo[0].present = 1;
        g_nodeState.orlo[0].memorySize = kMemorySize;
        g_nodeState.orlo[0].base = kOrloBase;
        g_nodeState.primaryWindow = kOrloBase + 0x4000000 - kMemorySize;
    }
    // Bus address of a byte offset in the board memory window.
    static uint32_t Bus(uint32_t offset) { return mp_util_virtual_to_pci(kNode, g_record.primaryMemory + offset); }
    static void PutBoard(uint32_t offset, const void* bytes, uint32_t n) { HwWriteBlock(g_record.primaryMemory, offset, bytes, n); }

    Firmware fw_;
    std::string dir_;
};

// ---- JPEG -------------------------------------------------------------------------------

TEST_F(BoardObjectsTest, AJpegFileRestoredIntoAnObjectIsSavedBackByteForByte)
{
    jpegstream::Stream s;
    s.lossless = true;
    s.lines = 8;
    s.samples = 64;
    s.quantIds = {};
    s.acIds = {};
    s.restartInterval = 128;
    s.scans = {{0, 0, 0, 400, 3, true}};
    const std::vector<uint8_t> file = jpegstream::Write(s);
    WriteFile(Path("in.jpg"), file);
    fw_.jpeg.restartEntries = 3;
    uint32_t id = 0;
    ASSERT_NE(imJpegRestore(kMain, Path("in.jpg").c_str(), &id), 0u);
    std::string text;
    ASSERT_EQ(LastError(&text), 0) << text << " in " << im_Application.error.function;
    EXPECT_EQ(id, fw_.objectId);
    // The frame went to the object's header through the descriptor the node gave.
    uint32_t mode = 0;
    std::memcpy(&mode, Band(fw_.object) + kJpegHdrMode, 4);
    EXPECT_EQ(mode, 3u);
    ASSERT_EQ(fw_.jpeg.tables.size(), 1u);
    EXPECT_EQ(fw_.jpeg.tables[0].type, kJpegTableDc);

    ASSERT_EQ(imJpegSave(kMain, Path("out.jpg").c_str(), id), 0);
    EXPECT_EQ(ReadFile(Path("out.jpg")), file);
}

TEST_F(BoardObjectsTest, AFailedJpegSaveLeavesTheExistingFile)
{
    uint32_t id = imJpegAlloc(kMain, 0, nullptr);
    ASSERT_NE(id, 0u);
    // Nothing laid out: no scans, and a header segment the host cannot reach.
    fw_.jpeg.knownObject = true;
    WriteFile(Path("keep.jpg"), {1, 2, 3});
    mp_server_set_handler(131, Replies);   // the board answers 0 without laying out
    fw_.replyCount = 1;
    fw_.reply[0] = 0;
    uint32_t bad = 0xFFFFFFF0u;
    std::memcpy(Band(fw_.object) + kJpegHdrSegments, &bad, 4);
    std::memcpy(Band(fw_.object) + kJpegHdrSegmentBytes, &bad, 4);
    imJpegSave(kMain, Path("keep.jpg").c_str(), id);
    std::string text;
    EXPECT_EQ(LastError(&text), -8);
    EXPECT_EQ(text, "Error Storing to File");
    EXPECT_EQ(ReadFile(Path("keep.jpg")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(BoardObjectsTest, ANonRegularJpegPathIsNotOpened)
{
    std::string text;
    uint32_t id = 0x1234;
    EXPECT_EQ(imJpegRestore(kMain, dir_.c_str(), &id), 0u);
    EXPECT_EQ(LastError(&text), -2);
    EXPECT_EQ(text, "Can not open given Jpeg File");
    EXPECT_EQ(id, 0x1234u);   // not set
    // The object made for the file went back to the board.
    ASSERT_TRUE(WaitUntil([&] { return freed_ == 1; }));
}

TEST_F(BoardObjectsTest, ATableLargerThanItsTypeIsCutOnTheWayOut)
{
    ASSERT_NE(imJpegAlloc(kMain, 0, nullptr), 0u);
    for (size_t i = 0; i < fw_.scratch.size(); ++i) fw_.scratch[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> out(300, 0xCC);
    uint32_t size = 0;
    fw_.reply[0] = 200;                // the board says 200 bytes of a DC table
    EXPECT_EQ(imJpegGetTable(kMain, fw_.objectId, kJpegTableDc, 0, &size, out.data()), 0);
    EXPECT_EQ(size, 33u);
    EXPECT_EQ(out[32], 32);
    EXPECT_EQ(out[33], 0xCC);
    // Another type: the caller's size on entry bounds the copy.
    size = 10;
    std::fill(out.begin(), out.end(), 0xCC);
    EXPECT_EQ(imJpegGetTable(kMain, fw_.objectId, 4242, 0, &size, out.data()), 0);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(out[10], 0xCC);
}

TEST_F(BoardObjectsTest, ATablePutIsCutToItsTypesLimit)
{
    ASSERT_NE(imJpegAlloc(kMain, 0, nullptr), 0u);
    std::vector<uint8_t> table(100);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(200 - i);
    EXPECT_EQ(imJpegPutTable(kMain, fw_.objectId, kJpegTableQuant, 2, 100, table.data()), 0);
    ASSERT_EQ(fw_.jpeg.tables.size(), 1u);
    EXPECT_EQ(fw_.jpeg.tables[0].id, 2u);
    EXPECT_EQ(fw_.jpeg.tables[0].bytes, std::vector<uint8_t>(table.begin(), table.begin() + 64));
    // Any other type travels whole.
    EXPECT_EQ(imJpegPutTable(kMain, fw_.objectId, 4242, 0, 100, table.data()), 0);
    EXPECT_EQ(fw_.jpeg.tables[1].bytes, table);
}

// ---- pattern models ------------------------------------------------------------------------

TEST_F(BoardObjectsTest, PatternModelsOfEachMagicRoundTripThroughTheBoard)
{
    const std::vector<std::vector<uint8_t>> models{
        patmodel::Model(kPatMagic1, {{16, 8}}),
        patmodel::Model(kPatMagic2, {{4, 4}, {2, 2}}),
        patmodel::Model(kPatMagic3, {}),
        patmodel::Model(kPatMagicSized, {}, 1000),
    };
    for (const auto& m : models) {
        SCOPED_TRACE(m[0]);
        // The model sits 100 bytes into its file.
        std::vector<uint8_t> file(100 + m.size(), 0x42);
        std::copy(m.begin(), m.end(), file.begin() + 100);
        WriteFile(Path("model.pat"), file);
        FILE* f = std::fopen(Path("model.pat").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 100, SEEK_SET);
        uint32_t model = 0;
        EXPECT_EQ(imPatRead(kMain, f, &model), 0);
        std::fclose(f);
        ASSERT_NE(model, 0u);
        EXPECT_EQ(fw_.models[model], m);
        ASSERT_EQ(imPatSave(kMain, Path("saved.pat").c_str(), model), 0);
        EXPECT_EQ(ReadFile(Path("saved.pat")), m);
        uint32_t again = 0;
        EXPECT_EQ(imPatRestore(kMain, Path("saved.pat").c_str(), &again), 0);
        EXPECT_EQ(fw_.models[again], m);
        EXPECT_EQ(LastError(), 0);
    }
}

TEST_F(BoardObjectsTest, ModelFilesAreRefusedWithTheirTexts)
{
    std::string text;
    uint32_t model = 77;
    auto v2 = patmodel::Model(kPatMagic1, {});
    v2[4] = 2;
    WriteFile(Path("v2.pat"), v2);
    EXPECT_NE(imPatRestore(kMain, Path("v2.pat").c_str(), &model), 0);
    EXPECT_EQ(model, 0u);
    EXPECT_EQ(LastError(&text), -3);
    EXPECT_EQ(text, "File does not contain valid model");

    model = 77;
    EXPECT_NE(imPatRestore(kMain, dir_.c_str(), &model), 0);
    EXPECT_EQ(model, 0u);
    EXPECT_EQ(LastError(&text), -3);
    EXPECT_EQ(text, "Can't open file for reading");

    EXPECT_NE(imPatSave(kMain, (dir_ + "/absent/x.pat").c_str(), 5), 0);
    EXPECT_EQ(LastError(&text), -3);
    EXPECT_EQ(text, "Can't open file for writing");
    EXPECT_TRUE(fw_.models.empty());
}

// ---- result readers -------------------------------------------------------------------------

TEST_F(BoardObjectsTest, PatternResultsAreReadFromBoardMemory)
{
    MapBoardMemory();
    // A block of 3 results at 0x1000: the count at byte 4, 28-byte records from byte 24.
    std::vector<uint8_t> block(24 + 3 * 28, 0);
    block[4] = 3;
    for (uint32_t k = 0; k < 3; ++k)
        for (uint32_t w = 0; w < 3; ++w) {
            const uint32_t v = 0x1000 * (k + 1) + w;
            std::memcpy(&block[24 + 28 * k + 4 * w], &v, 4);
        }
    PutBoard(0x1000, block.data(), static_cast<uint32_t>(block.size()));
    fw_.reply[0] = Bus(0x1000);
    fw_.replyCount = 1;
    std::vector<uint8_t> out(3 * 16, 0xCC);
    EXPECT_EQ(imPatGetResult(kMain, kNode << 16 | 5, 0, out.data()), 0);
    for (uint32_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(out[16 * k], 3);
        EXPECT_EQ(out[16 * k + 1], 0);
        EXPECT_EQ(out[16 * k + 2], 0xCC);   // left as they were
        for (uint32_t w = 0; w < 3; ++w) {
            uint32_t v;
            std::memcpy(&v, &out[16 * k + 4 + 4 * w], 4);
            EXPECT_EQ(v, 0x1000 * (k + 1) + w);
        }
    }
}

TEST_F(BoardObjectsTest, AModelDescriptionIsFilledFromItsHeaderBlock)
{
    MapBoardMemory();
    std::vector<uint8_t> h(186, 0);
    auto put16 = [&](uint32_t at, int16_t v) { std::memcpy(&h[at], &v, 2); };
    put16(2, 10);
    put16(4, -20);
    put16(12, 7);
    const float x = 1.5f, y = 2.5f;
    std::memcpy(&h[16], &x, 4);
    std::memcpy(&h[20], &y, 4);
    put16(116, 111);
    put16(128, 222);
    put16(172, -32768);
    put16(174, -5);
    put16(184, 9);
    PutBoard(0x2000, h.data(), static_cast<uint32_t>(h.size()));
    fw_.replyDouble = static_cast<double>(Bus(0x2000));
    uint8_t d[kPatDescriptionBytes];
    std::memset(d, 0xCC, sizeof d);
    EXPECT_EQ(static_cast<uint32_t>(imPatInquire(kMain, kNode << 16 | 9, 0, d)), Bus(0x2000));
    int16_t s;
    std::memcpy(&s, d + 0, 2);
    EXPECT_EQ(s, 10);
    std::memcpy(&s, d + 10, 2);
    EXPECT_EQ(s, 7);
    float f;
    std::memcpy(&f, d + 20, 4);
    EXPECT_EQ(f, 1.5f - 20.0f);   // x plus the i16 at description 2 (header 4)
    std::memcpy(&f, d + 24, 4);
    EXPECT_EQ(f, 2.5f + 0.0f);    // y plus the i16 at description 4 (header 6)
    std::memcpy(&s, d + 28, 2);
    EXPECT_EQ(s, 111);
    std::memcpy(&s, d + 40, 2);
    EXPECT_EQ(s, 222);
    EXPECT_EQ(d[42], 0xCC);
    uint32_t w;
    std::memcpy(&w, d + 52, 4);
    EXPECT_EQ(w, 0x10000000u);
    std::memcpy(&w, d + 56, 4);
    EXPECT_EQ(static_cast<int32_t>(w), -5);
    std::memcpy(&w, d + 68, 4);
    EXPECT_EQ(w, 9u);
    // Another type stores the double itself.
    fw_.replyDouble = 3.75;
    double out = 0;
    EXPECT_EQ(imPatInquire(kMain, kNode << 16 | 9, 4, &out), 3);
    EXPECT_EQ(out, 3.75);
}

TEST_F(BoardObjectsTest, BlobResultCountsBeyondTheCallersBufferAreCut)
{
    MapBoardMemory();
    std::vector<uint8_t> runs(3 * 64);
    for (size_t i = 0; i < runs.size(); ++i) runs[i] = static_cast<uint8_t>(i);
    PutBoard(0x3000, runs.data(), static_cast<uint32_t>(runs.size()));
    fw_.reply[1] = Bus(0x3000);
    fw_.reply[2] = 64;       // the board's byte count
    std::vector<uint8_t> a(64, 0xCC);
    EXPECT_EQ(imBlobGetResult(kMain, 1, 2, 3, a.data(), 16), 0);
    EXPECT_EQ(a[15], 15);
    EXPECT_EQ(a[16], 0xCC);
    std::vector<uint8_t> first(64, 0xCC), third(64, 0xCC);
    EXPECT_EQ(imBlobGetRuns(kMain, 1, 2, 3, first.data(), nullptr, third.data(), 20), 0);
    EXPECT_EQ(first[19], 19);
    EXPECT_EQ(first[20], 0xCC);
    EXPECT_EQ(third[0], 128);   // the third array starts 2 x 64 bytes in
    EXPECT_EQ(third[19], 147);
    EXPECT_EQ(third[20], 0xCC);
    EXPECT_EQ(LastError(), 0);
}

TEST_F(BoardObjectsTest, AutoModelIdsStopAtTheFourteenSlotsThatExist)
{
    fw_.replyCount = 15;
    fw_.reply[0] = 40;          // the board claims 40 models
    for (uint32_t i = 1; i < 15; ++i) fw_.reply[i] = 0x100 + i;
    std::vector<uint32_t> ids(40, 0);
    EXPECT_EQ(imPatAllocAutoModel(kMain, 0, 0, 0, 0, 0, 0, 0, ids.data()), 14);
    EXPECT_EQ(ids[13], 0x10Eu);
    EXPECT_EQ(ids[14], 0u);
}

TEST_F(BoardObjectsTest, BlobInquiriesStoreTheWidthTheTypeAsks)
{
    fw_.replyDouble = 3.9;
    int16_t s = 0;
    EXPECT_EQ(imBlobInquire(kMain, 1, 0x20000 | 7, &s), 3);
    EXPECT_EQ(s, 3);
    int8_t c[2] = {0, 0x55};
    fw_.replyDouble = -3.9;
    EXPECT_EQ(imBlobGetResultSingle(kMain, 1, 2, 0x10000 | 0x80000, 4, c), -3);
    EXPECT_EQ(c[0], -3);
    EXPECT_EQ(c[1], 0x55);
}

// ---- the buffer service's remote calls --------------------------------------------------

TEST_F(BoardObjectsTest, RemoteBufferOperationsTravelAsMessagesToTheNodesSystemThread)
{
    // Allocation (17), lookup (36, inquiry 400) and free (29) as the buffer service sends
    // them to a node with its own processor; this node answers them as its firmware would.
    uint32_t reply[3] = {0, 0, 0};
    const uint32_t alloc[6] = {64, 4, 1, 8, kLocInline, 0};
    ASSERT_EQ(mp_buf_call_remote(kNode, 17, "mp_buf_alloc_on_node", alloc, 6, reply, 1), 0);
    const uint32_t id = reply[0];
    ASSERT_NE(id, 0u);
    EXPECT_EQ((id >> 16) & 0xFF, kNode);
    const uint32_t lookup[2] = {id, 400};
    ASSERT_EQ(mp_buf_call_remote(kNode, 36, "mp_buf_buf_pointer", lookup, 2, reply, 3), 0);
    auto* b = reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(reply[2]));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->id, id);
    EXPECT_EQ(b->sizeX, 64);
    EXPECT_EQ(reply[0], b->busAddress);
    const uint32_t child[5] = {id, 8, 1, 16, 2};
    ASSERT_EQ(mp_buf_call_remote(kNode, 21, "mp_buf_child", child, 5, reply, 1), 0);
    EXPECT_NE(reply[0], 0u);
    const uint32_t childId = reply[0];
    const uint32_t freeChild[1] = {childId};
    EXPECT_EQ(mp_buf_call_remote(kNode, 29, "mp_buf_free", freeChild, 1, nullptr, 0), 0);
    const uint32_t freeRoot[1] = {id};
    EXPECT_EQ(mp_buf_call_remote(kNode, 29, "mp_buf_free", freeRoot, 1, nullptr, 0), 0);
    // The free was synchronous: the id is gone once the call returns.
    EXPECT_NE(mp_buf_call_remote(kNode, 36, "mp_buf_buf_pointer", lookup, 2, reply, 3), 0);
    EXPECT_EQ(LastError(), 0);   // the buffer service reports by result only
}

// ---- the snooper -----------------------------------------------------------------------

TEST_F(BoardObjectsTest, TheSnooperRecordsPostsReceiptsAndCompletions)
{
    // Every slot is a kernel message of this node; the snooping tool clears the busy bit.
    for (uint32_t i = 0; i < kRingNodeSlots; ++i) g_ring[64 + 256 * i - kTaskMsgHeaderSize + 4] = kNode;
    std::atomic<bool> stop{false};
    std::thread tool([&] {
        while (!stop) {
            if (HwRead32(g_record.primaryRegs, kOrloInterruptSet) & kSnoopBusy)
                HwWrite32(g_record.primaryRegs, kOrloInterruptClear, kSnoopBusy);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (uint32_t w : {8u, 9u, 10u, 14u}) g_header[w] = 0xFFFFFFFFu;
    g_header[kRingDebug] = 1;
    const double before = mp_time_clock(0.0);
    uint32_t id = 0;
    imBufAlloc1d(kDevice, 16, 8, kLocInline, &id);      // waits: slot 0
    ASSERT_NE(id, 0u);
    const uint32_t allocSlot = g_header[kRingSnoopPosted];
    imBufFree(kDevice, id);                             // posted only: slot 1
    ASSERT_TRUE(WaitUntil([] { return g_header[kRingSnoopCompletions] == 3; }));
    // A failing command: an opcode nobody serves, waited for.
    imJpegInquire(kMain, 1, 2, nullptr);
    ASSERT_TRUE(WaitUntil([] { return g_header[kRingSnoopCompletions] == 5; }));
    stop = true;
    tool.join();
    g_header[kRingDebug] = 0;

    EXPECT_EQ(g_header[kRingSnoopPosts], 3u);
    EXPECT_EQ(g_header[kRingSnoopReceipts], 3u);
    // The waited commands count twice: the node's reply and the sender's release.
    EXPECT_EQ(g_header[kRingSnoopCompletions], 5u);
    // Slots 0, 1 and 2 in turn: offsets from the slot base.
    EXPECT_EQ(allocSlot, 64u);
    EXPECT_EQ(g_header[kRingSnoopPosted], 64u + 256u * 2);
    EXPECT_EQ(g_header[kRingSnoopReceived], 64u + 256u * 2);
    EXPECT_EQ(g_header[kRingSnoopCompleted], 64u + 256u * 2);
    EXPECT_EQ(g_header[kRingSnoopError], 64u + 256u * 2);
    // Slot 0's stamps: posted, then completed, both within the test.
    double posted = 0, completed = 0;
    std::memcpy(&posted, g_ring + 64 + kSlotPostStamp, 8);
    std::memcpy(&completed, g_ring + 64 + kSlotCompletionStamp, 8);
    EXPECT_GE(posted, before);
    EXPECT_GE(completed, posted);
    EXPECT_LE(completed, mp_time_clock(0.0));
    LastError();
}

TEST_F(BoardObjectsTest, WithoutADebugModeTheSnooperLeavesTheRingAlone)
{
    for (uint32_t i = 0; i < kRingNodeSlots; ++i) g_ring[64 + 256 * i - kTaskMsgHeaderSize + 4] = kNode;
    uint32_t id = 0;
    imBufAlloc1d(kDevice, 16, 8, kLocInline, &id);
    imBufFree(kDevice, id);
    EXPECT_EQ(g_header[kRingSnoopPosts], 0u);
    EXPECT_EQ(g_header[kRingSnoopCompletions], 0u);
    double stamp = 1;
    std::memcpy(&stamp, g_ring + 64 + kSlotCompletionStamp, 8);
    EXPECT_EQ(stamp, 0.0);
}

}  // namespace
