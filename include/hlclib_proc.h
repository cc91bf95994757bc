/* hlclib_proc.h: the image-processing commands of HLCLIB (imBin, imFloat, imGen, imGra, imInt,
 * imRle), included by hlclib.h.
 *
 * These commands are run by the firmware of a board with its own processor; a host-served
 * node answers each with IM_ERR_INVALID_OPCODE.  The library fixes only how each call is
 * sent, and the firmware gives the arguments their meaning, so they keep positional
 * names: p<n> goes unchanged into slot n of thread's command, an integer as 32 bits, a
 * double in its own 8-byte slot.  Each call posts without waiting (a trailing control
 * names a sync object that follows the command, 0 none; the imGra calls have none) and
 * returns 0 or the error of the post.  Any thread may call them.
 *   imGraText: text is sent from slot 4 on, at most 87 characters (longer text is cut).
 *   imGen1d:   n goes into slot 4 and the n doubles of coefficients (n x 8 bytes are read)
 *              into slots 5 onwards; more than 10 is IM_ERR_RESTRICTED, and n above 0
 *              without coefficients IM_ERR_INVALID_PARAMETER, with nothing posted.
 */
#ifndef HLCLIB_PROC_H
#define HLCLIB_PROC_H

#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__) || \
    (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ != 4)
#error "hlclib_proc.h: HLCLIB is a 32-bit x86 library; compile with -m32 (the flags of pkg-config --cflags hlclib)"
#endif

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int32_t imIntConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntGainOffset(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imIntLutMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntMac1(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imIntMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imIntConnectMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntConvolve(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntDistance(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntErodeDilate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imIntLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntRank(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntThickThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imIntCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntFindExtreme(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntHistogram(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntHistogramEqualize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, double p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntLocateEvent(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntProject(uint32_t thread, int32_t p0, int32_t p1, double p2, int32_t p3, uint32_t control);
int32_t imBinConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imBinMorphic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imBinTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imFloatConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imFloatDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imFloatMac1(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, uint32_t control);
int32_t imFloatMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, double p3, double p4, uint32_t control);
int32_t imFloatMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imFloatUnary(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntFlip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntSubsample(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntWarpMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntWarpPolynomial(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntWarpLut(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntZoom(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntConvertColor(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntFFT(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imGenWarp1stOrder(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control);
int32_t imGenWarp4Corner(uint32_t thread, int32_t p0, double p1, double p2, double p3, double p4, double p5, double p6, double p7, double p8, int32_t p9, int32_t p10, int32_t p11, int32_t p12, int32_t p13, uint32_t control);
int32_t imGraArc(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7);
int32_t imGraArcFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7);
int32_t imGraFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3);
int32_t imGraLine(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
int32_t imGraPlot(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
int32_t imGraRect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
int32_t imGraRectFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
int32_t imGraText(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, const char* text);
int32_t imIntBinarize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imGenWarpLutMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntCorrelate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntScale(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control);
int32_t imIntRecFilter(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntClip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntLutSubtract(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imRleEncode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imRleDecode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imBinCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imBinThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imGen1d(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t n, const double* coefficients, uint32_t control);

#ifdef __cplusplus
}
#endif

#endif /* HLCLIB_PROC_H */
