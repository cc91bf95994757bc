// The context of the running control: the request and digitizer that the control and
// inquire entry points of either grab-module family hand to the handlers they call.
//
// Threads: the node's command-server task that serves the request; the context belongs to
// the calling thread.
#pragma once

#include "camrec.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;

// The request resource of the control running on this thread; null outside an entry point.
MP_RESOURCE_ST* mpPrvCtrlResource();
// The node of the running control: its request's node, else the running task's node, else
// the node selected in the register-control record.
uint32_t mpPrvCtrlNode();
// The camera record last loaded on the running control's digitizer (the one given, else
// the node's own); null when there is none.
_MP_CAM_ST_0* mpPrvCtrlLiveCamera();

// Sets the context for the life of the object (entry points, and tests that call the
// handlers directly); the previous context comes back at its end.
class MpCtrlScope {
public:
    MpCtrlScope(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer);
    ~MpCtrlScope();
    MpCtrlScope(const MpCtrlScope&) = delete;
    MpCtrlScope& operator=(const MpCtrlScope&) = delete;

private:
    MP_RESOURCE_ST* res_;
    _MP_BUF_ST* digitizer_;
};
