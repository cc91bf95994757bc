// Control and inquire dispatch of both grab-module families.  A control sets one property
// of a camera record or of the live digitizer, an inquiry reads it; the four entry points
// per family (camera control and inquiry on a record, digitizer control and inquiry on the
// module now) funnel into one dispatcher per family, which picks the handler by the
// control number.
//
// Control type: bits 0-15 the control number (0-166 index the handler table mpDigFunc,
// 30000-30099 are named controls), bits 16-31 a selector whose meaning belongs to the
// control.  The value is a double passed by address.  Mode: 0 set, 1 inquire; 2 set and
// 3 inquire on the Sorvik II second path of controls 127, 30006 and 30007, and on the
// exposure handlers of 30008 and 30009.
//
// The entry points log a handler's refusal (-1) as -8 and return the handler's result; an
// inquiry hands the caller its double also after a refusal (0.0 when nothing was written).
//
// Threads: the node's command-server task that serves the request.  While a handler runs,
// the request and digitizer of its entry point are known to it (mpPrvCtrlResource,
// mpPrvCtrlLiveCamera); they belong to the calling thread.
#pragma once

#include "camdispatch.h"
#include "camrec.h"
#include "ctrlcontext.h"

#include <cstdint>

// A control handler: (camera record or null, control type, address of the value, mode);
// 0 done, -1 refused.
using MpDigHandler = int (*)(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);

// The standard family's handler table, indexed by control number 0-166; the entry after
// the last is empty.
constexpr int32_t kDigFuncCount = 167;
extern const MpDigHandler mpDigFunc[kDigFuncCount + 1];

// Named controls of the switch.
constexpr int32_t kDigNamedFirst = 30000;
constexpr int32_t kDigNamedLast = 30099;
constexpr int32_t kKvxNamedLast = 30036;

// 2 for the Sorvik II second path (module type 2 or 34, and control 127, 30006, or 30007
// with a selector other than 0 and 1), else 0.
int CheckIfSorvik2(MP_RESOURCE_ST* res, int32_t type);

// The standard dispatcher: node information (the node state from word 25 on) or null,
// camera record or null.  Numbers outside 0-166 and 30000-30099 give -1.  For controls
// 30050 and 30052 the value address is that of the string block (at least 256 bytes).
int mp_dig_ctrl_inq(uint32_t* nodeInfo, _MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);
// The second family's dispatcher: below 30000 -1, above 30036 accepted with nothing done.
int mp_kvx_ctrl_inq(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode);

// Entry points (reached through camdispatch.h).  Camera functions refuse (-1 logged) a
// camera that is not a valid camera buffer; digitizer functions do nothing on a node whose
// module type is 0 or whose module is not present.  `out` receives 8 bytes, except for
// inquiry 30050, which writes a string block there (at least 256 bytes).
int32_t mpCamControl_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, double value);
int32_t mpCamInquire_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, void* out);
int32_t mpDigControl_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, double value);
int32_t mpDigInquire_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, void* out);
int32_t mpCamControl_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, double value);
int32_t mpCamInquire_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, void* out);
int32_t mpDigControl_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, double value);
int32_t mpDigInquire_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, void* out);
