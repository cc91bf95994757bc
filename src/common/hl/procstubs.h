// The image-processing families of the exported interface (integer, binary, float,
// generation, graphics and run-length): each export marshals its arguments into one
// command message and posts it, without waiting, to the thread object given.  The work
// is done by the firmware of a board with its own processor; a host-served node answers
// these opcodes as invalid ones, and that error reaches the caller through the thread's
// error calls.
//
// Every stub takes the thread id first and, except for the graphics family, the message's
// control word (a sync object id or 0) last.  Parameters travel in the order given: an
// integer in the first four bytes of its slot, a double filling its slot, a text starting
// in its slot.  A stub returns the error the message layer recorded for the post (0 when
// it was posted); that error is also copied into the process-wide last-error record.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Opcodes of the stubs, ascending.
inline constexpr uint32_t kProcStubOpcodes[] = {64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 119, 120, 143, 212, 215, 216, 217, 218, 219, 220, 224};
inline constexpr uint32_t kProcStubCount = sizeof kProcStubOpcodes / sizeof kProcStubOpcodes[0];

// Most coefficients imGen1d carries (5 + n parameter slots).
inline constexpr uint32_t kGen1dMaxCoefficients = 10;

// Enters the stub opcodes into the opcode table with the invalid-opcode handler: the host
// does not execute them.
void mp_proc_install();

HLC_API int32_t imIntConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntGainOffset(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
HLC_API int32_t imIntLutMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntMac1(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imIntMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
HLC_API int32_t imIntMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
HLC_API int32_t imIntConnectMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntConvolve(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntDistance(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntErodeDilate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
HLC_API int32_t imIntLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntRank(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imIntThickThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
HLC_API int32_t imIntCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntFindExtreme(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntHistogram(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntHistogramEqualize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, double p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
HLC_API int32_t imIntLocateEvent(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
HLC_API int32_t imIntProject(uint32_t thread, int32_t p0, int32_t p1, double p2, int32_t p3, uint32_t control);
HLC_API int32_t imBinConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imBinMorphic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
HLC_API int32_t imBinTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imFloatConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imFloatDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imFloatMac1(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, uint32_t control);
HLC_API int32_t imFloatMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, double p3, double p4, uint32_t control);
HLC_API int32_t imFloatMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imFloatUnary(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imIntFlip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntSubsample(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imIntWarpMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntWarpPolynomial(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntWarpLut(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imIntZoom(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imIntConvertColor(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntFFT(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
HLC_API int32_t imGenWarp1stOrder(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control);
HLC_API int32_t imGenWarp4Corner(uint32_t thread, int32_t p0, double p1, double p2, double p3, double p4, double p5, double p6, double p7, double p8, int32_t p9, int32_t p10, int32_t p11, int32_t p12, int32_t p13, uint32_t control);
HLC_API int32_t imGraArc(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7);
HLC_API int32_t imGraArcFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7);
HLC_API int32_t imGraFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3);
HLC_API int32_t imGraLine(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
HLC_API int32_t imGraPlot(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
HLC_API int32_t imGraRect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
HLC_API int32_t imGraRectFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
HLC_API int32_t imGraText(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, const char* p4);
HLC_API int32_t imIntBinarize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
HLC_API int32_t imGenWarpLutMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntCorrelate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imIntScale(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control);
HLC_API int32_t imIntRecFilter(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
HLC_API int32_t imIntClip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
HLC_API int32_t imIntLutSubtract(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
HLC_API int32_t imRleEncode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imRleDecode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imBinCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imBinThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);

// Five integers (the fifth is n) and n doubles from coefficients.  More than
// kGen1dMaxCoefficients is refused with -9, no coefficients for n > 0 with -8; nothing is
// posted then.
HLC_API int32_t imGen1d(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t n, const double* coefficients, uint32_t control);
