#include "procstubs.h"

#include "cmdserver.h"
#include "hlc_errors.h"
#include "im_msgio.h"
#include "im_param.h"

namespace {

void Put(_MSG_ST* msg, uint32_t slot, int32_t value) { im_msg_put_long(msg, slot, value); }
void Put(_MSG_ST* msg, uint32_t slot, double value) { im_msg_put_double(msg, slot, value); }
void Put(_MSG_ST* msg, uint32_t slot, const char* text) { im_msg_put_string(msg, slot, text); }

// One message of sizeof...(args) slots, the arguments in slot order, posted without
// waiting; the post's error goes to the last-error record and is returned.
template <typename... Args>
int32_t Post(uint32_t opcode, const char* name, uint32_t thread, uint32_t control, Args... args)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, sizeof...(Args), name);
    uint32_t slot = 0;
    (Put(&msg, slot++, args), ...);
    im_msg_send(&msg, 0, thread, control, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}

} // namespace

void mp_proc_install()
{
    for (uint32_t opcode : kProcStubOpcodes) mp_server_set_handler(opcode, mp_InvalidOpcode);
}

int32_t imIntConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(64, "imIntConvert", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imIntConvert)

int32_t imIntDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(65, "imIntDyadic", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntDyadic)

int32_t imIntGainOffset(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control)
try {
    return Post(66, "imIntGainOffset", thread, control, p0, p1, p2, p3, p4, p5, p6);
}
HLC_EXPORT_CATCH(imIntGainOffset)

int32_t imIntLutMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(67, "imIntLutMap", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imIntLutMap)

int32_t imIntMac1(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(68, "imIntMac1", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntMac1)

int32_t imIntMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control)
try {
    return Post(69, "imIntMac2", thread, control, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imIntMac2)

int32_t imIntMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(70, "imIntMonadic", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntMonadic)

int32_t imIntTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control)
try {
    return Post(71, "imIntTriadic", thread, control, p0, p1, p2, p3, p4, p5, p6);
}
HLC_EXPORT_CATCH(imIntTriadic)

int32_t imIntConnectMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(72, "imIntConnectMap", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntConnectMap)

int32_t imIntConvolve(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(73, "imIntConvolve", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntConvolve)

int32_t imIntDistance(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(74, "imIntDistance", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntDistance)

int32_t imIntErodeDilate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control)
try {
    return Post(75, "imIntErodeDilate", thread, control, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imIntErodeDilate)

int32_t imIntLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(76, "imIntLabel", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imIntLabel)

int32_t imIntRank(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(77, "imIntRank", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntRank)

int32_t imIntThickThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control)
try {
    return Post(78, "imIntThickThin", thread, control, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imIntThickThin)

int32_t imIntCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(79, "imIntCountDifference", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imIntCountDifference)

int32_t imIntFindExtreme(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(80, "imIntFindExtreme", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imIntFindExtreme)

int32_t imIntHistogram(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(81, "imIntHistogram", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imIntHistogram)

int32_t imIntHistogramEqualize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, double p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control)
try {
    return Post(82, "imIntHistogramEqualize", thread, control, p0, p1, p2, p3, p4, p5, p6, p7);
}
HLC_EXPORT_CATCH(imIntHistogramEqualize)

int32_t imIntLocateEvent(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control)
try {
    return Post(83, "imIntLocateEvent", thread, control, p0, p1, p2, p3, p4, p5, p6, p7);
}
HLC_EXPORT_CATCH(imIntLocateEvent)

int32_t imIntProject(uint32_t thread, int32_t p0, int32_t p1, double p2, int32_t p3, uint32_t control)
try {
    return Post(84, "imIntProject", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntProject)

int32_t imBinConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(85, "imBinConvert", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imBinConvert)

int32_t imBinMorphic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control)
try {
    return Post(86, "imBinMorphic", thread, control, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imBinMorphic)

int32_t imBinTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(87, "imBinTriadic", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imBinTriadic)

int32_t imFloatConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(88, "imFloatConvert", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imFloatConvert)

int32_t imFloatDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(89, "imFloatDyadic", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imFloatDyadic)

int32_t imFloatMac1(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, uint32_t control)
try {
    return Post(90, "imFloatMac1", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imFloatMac1)

int32_t imFloatMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, double p3, double p4, uint32_t control)
try {
    return Post(91, "imFloatMac2", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imFloatMac2)

int32_t imFloatMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(92, "imFloatMonadic", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imFloatMonadic)

int32_t imFloatUnary(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(93, "imFloatUnary", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imFloatUnary)

int32_t imIntFlip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(94, "imIntFlip", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntFlip)

int32_t imIntSubsample(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(95, "imIntSubsample", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntSubsample)

int32_t imIntWarpMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(96, "imIntWarpMatrix", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntWarpMatrix)

int32_t imIntWarpPolynomial(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(97, "imIntWarpPolynomial", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntWarpPolynomial)

int32_t imIntWarpLut(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(98, "imIntWarpLut", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntWarpLut)

int32_t imIntZoom(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(99, "imIntZoom", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntZoom)

int32_t imIntConvertColor(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(100, "imIntConvertColor", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntConvertColor)

int32_t imIntFFT(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control)
try {
    return Post(101, "imIntFFT", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntFFT)

int32_t imGenWarp1stOrder(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control)
try {
    return Post(104, "imGenWarp1stOrder", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imGenWarp1stOrder)

int32_t imGenWarp4Corner(uint32_t thread, int32_t p0, double p1, double p2, double p3, double p4, double p5, double p6, double p7, double p8, int32_t p9, int32_t p10, int32_t p11, int32_t p12, int32_t p13, uint32_t control)
try {
    return Post(105, "imGenWarp4Corner", thread, control, p0, p1, p2, p3, p4, p5, p6, p7, p8, p9, p10, p11, p12, p13);
}
HLC_EXPORT_CATCH(imGenWarp4Corner)

int32_t imGraArc(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7)
try {
    return Post(106, "imGraArc", thread, 0, p0, p1, p2, p3, p4, p5, p6, p7);
}
HLC_EXPORT_CATCH(imGraArc)

int32_t imGraArcFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7)
try {
    return Post(107, "imGraArcFill", thread, 0, p0, p1, p2, p3, p4, p5, p6, p7);
}
HLC_EXPORT_CATCH(imGraArcFill)

int32_t imGraFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3)
try {
    return Post(108, "imGraFill", thread, 0, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imGraFill)

int32_t imGraLine(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5)
try {
    return Post(109, "imGraLine", thread, 0, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imGraLine)

int32_t imGraPlot(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4)
try {
    return Post(110, "imGraPlot", thread, 0, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imGraPlot)

int32_t imGraRect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5)
try {
    return Post(111, "imGraRect", thread, 0, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imGraRect)

int32_t imGraRectFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5)
try {
    return Post(112, "imGraRectFill", thread, 0, p0, p1, p2, p3, p4, p5);
}
HLC_EXPORT_CATCH(imGraRectFill)

int32_t imGraText(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, const char* p4)
try {
    return Post(113, "imGraText", thread, 0, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imGraText)

int32_t imIntBinarize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control)
try {
    return Post(119, "imIntBinarize", thread, control, p0, p1, p2, p3, p4, p5, p6);
}
HLC_EXPORT_CATCH(imIntBinarize)

int32_t imGenWarpLutMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(120, "imGenWarpLutMatrix", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imGenWarpLutMatrix)

int32_t imIntCorrelate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(143, "imIntCorrelate", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imIntCorrelate)

int32_t imIntScale(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control)
try {
    return Post(212, "imIntScale", thread, control, p0, p1, p2, p3, p4);
}
HLC_EXPORT_CATCH(imIntScale)

int32_t imIntRecFilter(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control)
try {
    return Post(215, "imIntRecFilter", thread, control, p0, p1, p2, p3, p4, p5, p6, p7);
}
HLC_EXPORT_CATCH(imIntRecFilter)

int32_t imIntClip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control)
try {
    return Post(216, "imIntClip", thread, control, p0, p1, p2, p3, p4, p5, p6, p7);
}
HLC_EXPORT_CATCH(imIntClip)

int32_t imIntLutSubtract(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control)
try {
    return Post(217, "imIntLutSubtract", thread, control, p0, p1, p2, p3, p4, p5, p6);
}
HLC_EXPORT_CATCH(imIntLutSubtract)

int32_t imRleEncode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(218, "imRleEncode", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imRleEncode)

int32_t imRleDecode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(219, "imRleDecode", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imRleDecode)

int32_t imBinCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control)
try {
    return Post(220, "imBinCountDifference", thread, control, p0, p1, p2);
}
HLC_EXPORT_CATCH(imBinCountDifference)

int32_t imBinThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control)
try {
    return Post(224, "imBinThin", thread, control, p0, p1, p2, p3);
}
HLC_EXPORT_CATCH(imBinThin)

int32_t imGen1d(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t n, const double* coefficients, uint32_t control)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, 103, 5 + n, "imGen1d");
    im_msg_put_long(&msg, 0, p0);
    im_msg_put_long(&msg, 1, p1);
    im_msg_put_long(&msg, 2, p2);
    im_msg_put_long(&msg, 3, p3);
    im_msg_put_long(&msg, 4, static_cast<int32_t>(n));
    if (n > kGen1dMaxCoefficients) {
        im_msg_log_error(&msg, HLC_ERR_RESTRICTED, "Number of parameters exceed maximum allowed");
    } else if (n > 0 && !coefficients) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable");
    } else {
        for (uint32_t i = 0; i < n; ++i) im_msg_put_double(&msg, 5 + i, coefficients[i]);
        im_msg_send(&msg, 0, thread, control, IM_SYNC_NOWAIT);
    }
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imGen1d)
