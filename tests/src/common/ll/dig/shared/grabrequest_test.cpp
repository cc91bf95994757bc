// The forwarding of one grab phase: the "imDigGrab" message another node receives, served
// here by a capturing handler on a node with a command server.
#include "grabrequest.h"

#include "../../../hl/servednode.h"
#include "reqres.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

using namespace servednode;

constexpr uint32_t kOpDigGrab = 58;
constexpr uint32_t kForwardThread = 0x400000C0u | (kNode << 16);

std::mutex g_mutex;
std::vector<_MSG_BODY_ST> g_seen;
MpThreadLookupFn g_libraryLookup = nullptr;

void Capture(_MSG_BODY_ST* body)
{
    MP_RESOURCE_ST* res = mp_res_alloc(body, kResReplySize, "Capture");
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_seen.push_back(*body);
    }
    mp_res_free(res);
}

// The forwarding thread of the node is served by the node's main thread object.
MP_THREAD_ST* Lookup(uint32_t id) { return g_libraryLookup(id == kForwardThread ? kMain : id); }

class ForwardPhaseTest : public ServedNodeTest {
protected:
    void InstallHandlers() override
    {
        g_seen.clear();
        mp_server_set_handler(kOpDigGrab, Capture);
        g_libraryLookup = mp_server_set_thread_lookup(Lookup);
    }
    _MP_BUF_ST* Sync()
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(kNode, 28, 1, 1, 8, kLocInline);
        if (!b || !mp_buf_alloc_id(b)) return nullptr;
        b->kind = kBufKindSync;
        return b;
    }
    // The message one forwarded phase makes, as the other node received it.
    _MSG_BODY_ST Forward(DIGPARAM* p, _MP_BUF_ST* sync)
    {
        const size_t before = g_seen.size();
        EXPECT_EQ(sendMsg(p, 2, kNode, sync), 0);
        std::lock_guard<std::mutex> lock(g_mutex);
        return g_seen.size() > before ? g_seen.back() : _MSG_BODY_ST{};
    }
    static uint32_t Param(const _MSG_BODY_ST& body, uint32_t slot)
    {
        uint32_t v;
        std::memcpy(&v, body.param[slot], 4);
        return v;
    }
};

TEST_F(ForwardPhaseTest, TheHeaderCarriesOnlyAGivenSyncObjectWhileTheParameterFallsBackToTheRequests)
{
    _MP_BUF_ST* own = Sync();
    _MP_BUF_ST* given = Sync();
    ASSERT_TRUE(own && given);
    MP_RESOURCE_ST res{};
    DIGPARAM p{};
    p.node = kNode;
    p.res = &res;
    p.sync = own;

    _MSG_BODY_ST sent = Forward(&p, given);
    EXPECT_EQ(sent.opcode, kOpDigGrab);
    EXPECT_EQ(sent.control, given->id);
    EXPECT_EQ(Param(sent, 5), given->id);
    EXPECT_EQ(Param(sent, 6), 2u);

    sent = Forward(&p, nullptr);
    EXPECT_EQ(sent.control, 0u);
    EXPECT_EQ(Param(sent, 5), own->id);

    p.sync = nullptr;
    sent = Forward(&p, nullptr);
    EXPECT_EQ(sent.control, 0u);
    EXPECT_EQ(Param(sent, 5), 0u);
    EXPECT_EQ(res.err.code, 0);
}

}  // namespace
