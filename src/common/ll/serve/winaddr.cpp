// Window arithmetic of grabs and VM copies: frame and tag addresses, burst lengths and the
// counting mode.
#include "intserver.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "reqres.h"

namespace {

constexpr uint32_t kTypeOneBit = 0x40000001u;
constexpr uint32_t kTypeWide = 0x20000040u;
constexpr uint32_t kTypePackedColour = 0x40000030u;

int Refuse(MP_RESOURCE_ST* resource, int32_t code)
{
    if (resource) _mp_res_log_error(resource, code, nullptr);
    return -1;
}

uint32_t BandAddress(const _MP_BUF_ST* buffer, uint32_t band)
{
    if (!buffer->bandTable || band >= buffer->bands) return 0;
    const _MP_BAND_ST& b = buffer->bandTable[band];
    return b.physical ? b.physical : b.mapped;
}

uint32_t Divisor(uint32_t value)
{
    return value ? value : 1;
}

// Width of the window after decimation, times its replication.
uint32_t DecimatedWidth(const WININFO_ST* w)
{
    return ((w->lastColumn - w->firstColumn) / Divisor(w->decimationX) + 1) * w->replicationX;
}

}  // namespace

int mpPrvFrameAddr(MP_RESOURCE_ST* resource, const _MP_BUF_ST* buffer, WININFO_ST* w, uint32_t frames,
                   uint32_t fields, uint32_t planes, uint32_t packing, uint32_t bandsWanted, uint32_t bits,
                   uint32_t tag, uint32_t decimationMode, uint32_t keep)
{
    if (!buffer || !w) return Refuse(resource, HLC_ERR_INVALID_PARAMETER);
    if (w->replicationX != 1 && buffer->bits != 8) return Refuse(resource, HLC_ERR_RESTRICTED);
    const uint32_t n = frames * fields * planes;
    uint32_t bands = buffer->bands;
    if (bandsWanted == 1 && bits == 8 && buffer->type == kTypePackedColour)
        bands = 1;
    else if (bits == 8 && bandsWanted < buffer->bands &&
             !(buffer->bands == 3 && buffer->location == kLocSdram && bandsWanted == 1 && keep))
        bands = bandsWanted;
    int32_t width = static_cast<int32_t>(w->lastColumn - w->firstColumn + 1);
    int32_t height = static_cast<int32_t>(w->lastLine - w->firstLine + 1);
    int32_t pixelBytes;
    if (buffer->type == kTypeOneBit) {
        width /= 8;
        pixelBytes = 1;
    } else if (buffer->type == kTypeWide) {
        width *= 2;
        pixelBytes = 4;
    } else {
        pixelBytes = frames <= 1 || packing == 0 ? static_cast<int32_t>(bits / 8) : 1;
    }
    if (!(keep && buffer->location == kLocHostDma))
        for (uint32_t i = 0; i < bands && i < 4; ++i) w->address[i] = BandAddress(buffer, i);
    const int32_t pitch = static_cast<int32_t>(buffer->pitch);
    w->pitch = pitch;
    if (decimationMode == 1) {
        width = ((width - 1) / static_cast<int32_t>(Divisor(w->decimationX)) + 1) * static_cast<int32_t>(w->replicationX);
        height = ((height - 1) / static_cast<int32_t>(Divisor(w->decimationY)) + 1) * static_cast<int32_t>(w->replicationY);
    }
    const int32_t row = pixelBytes * width;
    const int32_t frame = pitch * height;
    int32_t line = 0;
    uint32_t* a = w->address;
    if (n > 1) {
        bands *= n;
        int32_t step;
        if (frames > 1) {
            step = row;
        } else if (fields < 2) {
            line = static_cast<int32_t>(w->replicationY) * pitch;
            step = line;
            w->pitch = line * static_cast<int32_t>(planes);
        } else {
            step = frame;
        }
        if (n == 2 && bands == 4) {
            a[2] = a[1];
            a[1] = a[0] + step;
            a[3] = a[2] + step;
        } else if (frames == 2 && fields == 2) {
            a[2] = a[0] + frame;
            a[1] = a[0] + row;
            a[3] = a[2] + row;
        } else {
            for (int i = 1; i < 4; ++i) a[i] = a[i - 1] + step;
        }
    }
    const uint32_t addressed = bands < 4 ? bands : 4;
    if (w->flipY == 2) {
        for (uint32_t i = 0; i < addressed; ++i) a[i] += frame - 2 * static_cast<int32_t>(i) * line - pitch;
        w->pitch = -w->pitch;
    }
    if (w->flipX == 2)
        for (uint32_t i = 0; i < addressed; ++i) a[i] += row - 1;
    if (tag != 0) {
        if (bands < 3) return Refuse(resource, HLC_ERR_RESTRICTED);
        if (((tag >> 14) & 0x3FFF) == 0) tag |= (tag & 0x3FFF) << 14;
        const int32_t first = static_cast<int32_t>(tag & 0x3FFF);
        const int32_t second = static_cast<int32_t>((tag >> 14) & 0x3FFF);
        const uint32_t at = static_cast<uint32_t>(first * w->pitch);
        const uint32_t after = static_cast<uint32_t>((first + second) * w->pitch);
        static const int kPlaces[6][2] = {{1, 2}, {2, 1}, {0, 2}, {2, 0}, {1, 0}, {0, 1}};
        const uint32_t choice = (tag >> 28) & 7;
        if (choice > 5) return Refuse(resource, HLC_ERR_RESTRICTED);
        a[kPlaces[choice][0]] += at;
        a[kPlaces[choice][1]] += after;
    }
    if (bands >= 2)
        for (uint32_t i = 1; i < addressed; ++i) a[i] = (a[i] - a[0]) & 0x3FFFFFFu;
    return 0;
}

int mpPrvTagAddr(MP_RESOURCE_ST* resource, const _MP_BUF_ST* buffer, const _MP_BUF_ST* tag, WININFO_ST* w,
                 uint32_t flag)
{
    if (!buffer || !tag || !w) return Refuse(resource, HLC_ERR_INVALID_PARAMETER);
    const uint32_t width = DecimatedWidth(w);
    if (!flag) {
        if (static_cast<uint32_t>(tag->sizeX) < width) return Refuse(resource, HLC_ERR_RESTRICTED);
        if (tag->sizeY > 1 && tag->sizeY < buffer->sizeY) return Refuse(resource, HLC_ERR_RESTRICTED);
    }
    if (tag->type != kTypeOneBit || tag->location == kLocHostDma || (tag->node & 0xFF) != (buffer->node & 0xFF))
        return Refuse(resource, HLC_ERR_RESTRICTED);
    const uint32_t bands = tag->bands < 4 ? tag->bands : 4;
    for (uint32_t i = 0; i < bands; ++i) {
        w->address[i] = BandAddress(tag, i);
        if ((w->address[i] & 3) != (w->address[0] & 3)) return Refuse(resource, HLC_ERR_RESTRICTED);
    }
    w->pitch = tag->sizeY > 1 ? static_cast<int32_t>(tag->pitch) : 0;
    if (w->flipY == 2) {
        const int32_t lines = static_cast<int32_t>((w->lastLine - w->firstLine) / Divisor(w->decimationY));
        for (uint32_t i = 0; i < bands; ++i) w->address[i] += static_cast<uint32_t>(lines * w->pitch);
        w->pitch = -w->pitch;
    }
    if (w->flipX == 2)
        for (uint32_t i = 0; i < bands; ++i) w->address[i] += (width + 7) / 8 - 1;
    for (uint32_t i = 1; i < bands; ++i) w->address[i] -= w->address[0];
    return 0;
}

int mpPrvBlength(MP_RESOURCE_ST* resource, const WININFO_ST* w, uint32_t mode, uint32_t bands,
                 const _MP_BUF_ST* buffer, uint32_t kind, int32_t* exponent)
{
    if (!w || !exponent) return Refuse(resource, HLC_ERR_INVALID_PARAMETER);
    uint32_t limit = 0;
    uint32_t factor = 1;
    if (kind == 2) {
        limit = 128;
    } else if (buffer) {
        factor = buffer->bands == 3 ? 4 : buffer->bands;
        limit = buffer->bands < 3 ? 256 : 128;
    } else {
        if (bands == 0) return Refuse(resource, HLC_ERR_INVALID_PARAMETER);
        limit = bands == 3 ? 128 : 512 / bands;
    }
    const uint64_t perBurst = static_cast<uint64_t>(w->replicationX) * factor;
    while (*exponent >= 3 && (static_cast<uint64_t>(4) << *exponent) * perBurst > limit) --*exponent;
    if (*exponent < 3) return Refuse(resource, HLC_ERR_INVALID_PARAMETER);
    if (*exponent == 3 && w->replicationX == 1 && mode != 1) return Refuse(resource, HLC_ERR_BUFFER_ATTRIBUTE);
    return 0;
}

void mpPrvCountMode(uint32_t fieldMode, uint32_t single, int32_t count, int32_t* fieldWord, uint32_t* code)
{
    if (!fieldWord || !code) return;
    if (!single) {
        *code = 6;
        return;
    }
    const bool inRange = count >= 0 && count <= 2;
    if (fieldMode == 3 && *fieldWord == 1) {
        if (inRange) *code = 3 + static_cast<uint32_t>(count);
        return;
    }
    if (fieldMode == 3 && *fieldWord != -1) *fieldWord >>= 1;
    if (inRange) *code = static_cast<uint32_t>(count);
}
