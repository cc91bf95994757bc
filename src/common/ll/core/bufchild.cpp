// Child buffers, keyed fields, pixel access, size changes and paged page-list copies.
#include "bufchild.h"

#include "heap.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodelist.h"

#include <cmath>
#include <cstring>

namespace {

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename T>
T* Ptr(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

// The root of a descriptor (itself for a root).
_MP_BUF_ST* Root(_MP_BUF_ST* b)
{
    _MP_BUF_ST* root = b;
    for (int guard = 0; guard < 64 && root->parent; ++guard) root = mp_buf_parent(root);
    return root ? root : b;
}

// The node whose heap and semaphore a new child uses.
uint32_t ChildNode(const _MP_BUF_ST* parent)
{
    const uint32_t current = mp_sys_this_node_id() & 0xFF;
    return current ? current : parent->node & 0xFF;
}

int32_t ByteOffset(const _MP_BUF_ST* b, int32_t offsetX, int32_t offsetY)
{
    const int64_t bits = static_cast<int64_t>(b->bits) * offsetX;
    return static_cast<int32_t>(static_cast<int64_t>(b->pitch) * offsetY + (bits >> 3));
}

// Points the child's bands into the root at the child's offsets.
void PlaceBands(_MP_BUF_ST* child, const _MP_BUF_ST* root, bool hostForPaged)
{
    const uint32_t offset = static_cast<uint32_t>(ByteOffset(child, child->offsetX, child->offsetY));
    for (uint32_t i = 0; i < child->bands; ++i) {
        const uint32_t rb = child->firstBand + i;
        _MP_BAND_ST& band = child->bandTable[i];
        const uint32_t host = Word(mp_buf_address_band_internal(root, rb));
        const bool has = root->bandTable && rb < root->bands;
        band.mapped = host ? host + offset : 0;
        band.physical = has && root->bandTable[rb].physical ? root->bandTable[rb].physical + offset : 0;
        if (child->location == kLocPaged) {
            band.mapped = 0;
            band.physical = 0;
        }
        if (child->location == kLocHostDma || (hostForPaged && child->location == kLocPaged))
            band.third = has && root->bandTable[rb].third ? root->bandTable[rb].third + offset : 0;
    }
}

bool RegionInside(const _MP_BUF_ST* outer, int64_t x, int64_t y, int64_t sx, int64_t sy)
{
    return x >= 0 && y >= 0 && sx >= 0 && sy >= 0 && x + sx <= outer->sizeX && y + sy <= outer->sizeY;
}

void CopyValue(_MP_FIELD_ST* f, double v)
{
    std::memcpy(f->value, &v, sizeof v);
}

// Truncation toward zero into 64 bits, 0 for values that have none.
int64_t Truncate(double v)
{
    if (!std::isfinite(v) || v >= 9.2e18 || v <= -9.2e18) return 0;
    return static_cast<int64_t>(v);
}

void ReadBytes(uint32_t address, void* out, uint32_t n)
{
    if (HwIsWindowAddress(address)) HwReadBlock(address, 0, out, n);
    else std::memcpy(out, Ptr<void>(address), n);
}

void WriteBytes(uint32_t address, const void* in, uint32_t n)
{
    if (HwIsWindowAddress(address)) HwWriteBlock(address, 0, in, n);
    else std::memcpy(Ptr<void>(address), in, n);
}

// Address of pixel (x, y) of a band, 0 when the pixel or band does not exist.
uint32_t PixelAddress(const _MP_BUF_ST* b, uint32_t band, int32_t x, int32_t y, uint32_t bytes)
{
    if (!b || band >= b->bands || x < 0 || y < 0 || x >= b->sizeX || y >= b->sizeY || !bytes) return 0;
    const uint32_t base = Word(mp_buf_address_band_internal(b, band));
    if (!base) return 0;
    const uint64_t index = static_cast<uint64_t>(b->pitch / bytes) * static_cast<uint32_t>(y) + static_cast<uint32_t>(x);
    return base + static_cast<uint32_t>(index * bytes);
}

// Byte address and bit of a one-bit pixel, 0 when it does not exist.
uint32_t BitAddress(const _MP_BUF_ST* b, uint32_t band, int32_t x, int32_t y, uint32_t* bit)
{
    if (!b || band >= b->bands || x < 0 || y < 0 || x >= b->sizeX || y >= b->sizeY) return 0;
    const uint32_t base = Word(mp_buf_address_band_internal(b, band));
    if (!base) return 0;
    const uint32_t n = static_cast<uint32_t>(b->offsetX & 7) + static_cast<uint32_t>(x);
    *bit = n & 7;
    return base + b->pitch * static_cast<uint32_t>(y) + (n >> 3);
}

// A descriptor this service knows, of any kind and location (never a small reference).
bool Usable(const _MP_BUF_ST* b)
{
    return Word(b) >= kPredefEntries && mp_buf_valid(b, 0xC0000000u);
}

} // namespace

// ---- children --------------------------------------------------------------------------

namespace {

// What every child takes over from its parent: node, owner, pixel type and depth, pitch,
// location, kind, and the bus address moved along with the descriptor.
void InheritFromParent(_MP_BUF_ST* c, const _MP_BUF_ST* parent)
{
    c->node = parent->node;
    c->owner = parent->owner;
    c->type = parent->type;
    c->bits = parent->bits;
    c->typeClass = parent->typeClass;
    c->pitch = parent->pitch;
    c->location = parent->location;
    c->kind = parent->kind;
    c->busAddress = parent->busAddress ? parent->busAddress - Word(parent) + Word(c) : 0;
}

}  // namespace

_MP_BUF_ST* mp_buf_child(_MP_BUF_ST* parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY)
try {
    if (!Usable(parent)) return nullptr;
    // A child shows a region of its parent: one reaching outside would address memory
    // that belongs to no buffer.
    if (!RegionInside(parent, offsetX, offsetY, sizeX, sizeY)) return nullptr;
    _MP_BUF_ST* root = Root(parent);
    const uint32_t node = ChildNode(parent);
    mp_buf_sema_wait(node);
    auto* c = static_cast<_MP_BUF_ST*>(mp_buf_desc_alloc(node, mp_buf_descriptor_bytes(parent->bands)));
    if (!c) {
        mp_buf_sema_signal(node);
        return nullptr;
    }
    std::memset(c, 0, mp_buf_descriptor_bytes(parent->bands));
    InheritFromParent(c, parent);
    c->bands = parent->bands;
    c->firstBand = parent->firstBand;
    c->sizeX = sizeX;
    c->sizeY = sizeY;
    c->parent = root;
    c->offsetX = parent->offsetX + offsetX;
    c->offsetY = parent->offsetY + offsetY;
    c->children = root->children++;
    c->bandTable = c->bands ? reinterpret_cast<_MP_BAND_ST*>(c + 1) : nullptr;
    PlaceBands(c, root, true);
    mp_buf_sema_signal(node);
    return c;
}
HLC_EXPORT_CATCH(mp_buf_child)

_MP_BUF_ST* mp_buf_child_band(_MP_BUF_ST* parent, int32_t band)
try {
    if (!Usable(parent)) return nullptr;
    // A band that the parent does not have would give a child over no memory.
    if (band < 0 || static_cast<uint32_t>(band) >= parent->bands || !parent->bandTable) return nullptr;
    _MP_BUF_ST* root = Root(parent);
    const uint32_t node = ChildNode(parent);
    mp_buf_sema_wait(node);
    auto* c = static_cast<_MP_BUF_ST*>(mp_buf_desc_alloc(node, 128));
    if (!c) {
        mp_buf_sema_signal(node);
        return nullptr;
    }
    std::memset(c, 0, 128);
    InheritFromParent(c, parent);
    c->sizeX = parent->sizeX;
    c->sizeY = parent->sizeY;
    c->offsetX = parent->offsetX;
    c->offsetY = parent->offsetY;
    c->parent = root;
    c->firstBand = static_cast<uint32_t>(band);
    c->bands = 1;
    c->bandTable = reinterpret_cast<_MP_BAND_ST*>(c + 1);
    // Freeing any child lowers the root's count, so a band child is counted as well.
    c->children = root->children++;
    const _MP_BAND_ST& pb = parent->bandTable[band];
    c->bandTable[0].mapped = Word(mp_buf_address_band_internal(parent, static_cast<uint32_t>(band)));
    c->bandTable[0].physical = pb.physical;
    if (c->location == kLocHostDma || c->location == kLocPaged) c->bandTable[0].third = pb.third;
    mp_buf_sema_signal(node);
    return c;
}
HLC_EXPORT_CATCH(mp_buf_child_band)

int mp_buf_child_move(_MP_BUF_ST* child, int32_t deltaX, int32_t deltaY, int32_t sizeX, int32_t sizeY)
try {
    if (!Usable(child) || !mp_core_node_record(child->node & 0xFF)) return -1;
    const uint32_t node = child->node & 0xFF;
    if (mp_buf_is_remote(node)) {
        const uint32_t params[5] = {child->id, static_cast<uint32_t>(deltaX), static_cast<uint32_t>(deltaY),
                                    static_cast<uint32_t>(sizeX), static_cast<uint32_t>(sizeY)};
        uint32_t reply[1];
        if (mp_buf_call_remote(node, 23, "mp_buf_child_move", params, 5, reply, 1) != 0) return -1;
        return static_cast<int32_t>(reply[0]);
    }
    if (!child->parent) return -1;
    _MP_BUF_ST* root = mp_buf_parent(child);
    if (!root) return -1;
    const int64_t ox = static_cast<int64_t>(child->offsetX) + deltaX;
    const int64_t oy = static_cast<int64_t>(child->offsetY) + deltaY;
    const int64_t sx = sizeX >= 0 ? sizeX : child->sizeX;
    const int64_t sy = sizeY >= 0 ? sizeY : child->sizeY;
    // The moved region must stay inside the root, as a new child's must.
    if (!RegionInside(root, ox, oy, sx, sy)) return -1;
    child->offsetX = static_cast<int32_t>(ox);
    child->offsetY = static_cast<int32_t>(oy);
    const uint32_t offset = static_cast<uint32_t>(ByteOffset(child, child->offsetX, child->offsetY));
    for (uint32_t i = 0; i < child->bands; ++i) {
        const uint32_t rb = child->firstBand + i;
        const bool has = root->bandTable && rb < root->bands;
        const uint32_t host = Word(mp_buf_address_band_internal(root, rb));
        _MP_BAND_ST& band = child->bandTable[i];
        band.mapped = host ? host + offset : 0;
        band.physical = has && root->bandTable[rb].physical ? root->bandTable[rb].physical + offset : 0;
        if (child->location == kLocHostDma) band.third = has ? root->bandTable[rb].third + offset : 0;
    }
    child->sizeX = static_cast<int32_t>(sx);
    child->sizeY = static_cast<int32_t>(sy);
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_child_move, -1)

int mp_buf_modify(_MP_BUF_ST* buffer, int32_t sizeX, int32_t sizeY, int32_t type)
try {
    if (!Usable(buffer) || !mp_core_node_record(buffer->node & 0xFF)) return -1;
    const uint32_t node = buffer->node & 0xFF;
    if (mp_buf_is_remote(node)) {
        const uint32_t params[4] = {buffer->id, static_cast<uint32_t>(sizeX), static_cast<uint32_t>(sizeY),
                                    static_cast<uint32_t>(type)};
        uint32_t reply[1];
        if (mp_buf_call_remote(node, 39, "mp_buf_modify", params, 4, reply, 1) != 0) return -1;
        return static_cast<int32_t>(reply[0]);
    }
    const int32_t nx = sizeX == kBufKeep ? buffer->sizeX : sizeX;
    const int32_t ny = sizeY == kBufKeep ? buffer->sizeY : sizeY;
    const uint32_t nt = type == kBufKeep ? buffer->type : static_cast<uint32_t>(type);
    const uint32_t nbits = nt & 255;
    if (nx < 0 || ny < 0) return -1;
    const uint32_t oldBits = buffer->bits;
    const uint32_t natural = oldBits > 1 ? (((oldBits / 8) * static_cast<uint32_t>(buffer->sizeX) + 3) & ~3u)
                                         : static_cast<uint32_t>(buffer->sizeX) / 8;
    uint32_t pitch = buffer->pitch;
    const uint64_t lineBits = static_cast<uint64_t>(nt) * static_cast<uint32_t>(nx);
    if (pitch == natural && lineBits % 32 == 0) pitch = static_cast<uint32_t>(static_cast<uint64_t>(nbits) * nx / 8);
    // The descriptor's memory does not grow: a shape needing more than the bands hold
    // would let pixel access run past them.
    const uint64_t oldBytes = static_cast<uint64_t>(buffer->pitch) * static_cast<uint32_t>(buffer->sizeY);
    const uint64_t newBytes = static_cast<uint64_t>(pitch) * static_cast<uint32_t>(ny);
    const uint64_t lineBytes = (static_cast<uint64_t>(nbits) * static_cast<uint32_t>(nx) + 7) / 8;
    if (buffer->bands && (newBytes > oldBytes || lineBytes > pitch)) return -1;
    buffer->pitch = pitch;
    buffer->sizeX = nx;
    buffer->sizeY = ny;
    buffer->type = nt;
    buffer->bits = nbits;
    if (nt & kBufTypeBinary) buffer->typeClass = kBufTypeBinary;
    else if (nt & kBufTypeFloat) buffer->typeClass = kBufTypeFloat;
    else if (nt & kBufTypeSigned) buffer->typeClass = kBufTypeSigned;
    else buffer->typeClass = 0;
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_modify, -1)

// ---- fields ----------------------------------------------------------------------------

double mp_buf_field_value(const _MP_FIELD_ST* field)
{
    double v = 0.0;
    if (field) std::memcpy(&v, field->value, sizeof v);
    return v;
}

_MP_FIELD_ST* mp_buf_field(const _MP_BUF_ST* buffer)
try {
    if (!buffer) return nullptr;
    return Ptr<_MP_FIELD_ST>(mp_buf_board_to_host(buffer, Word(buffer->fieldList)));
}
HLC_EXPORT_CATCH(mp_buf_field)

_MP_FIELD_ST* mp_buf_field_link(const _MP_BUF_ST* buffer, const _MP_FIELD_ST* field)
try {
    if (!buffer || !field) return nullptr;
    return Ptr<_MP_FIELD_ST>(mp_buf_board_to_host(buffer, Word(field->link)));
}
HLC_EXPORT_CATCH(mp_buf_field_link)

_MP_FIELD_ST* mp_buf_find_field(const _MP_BUF_ST* buffer, uint32_t key, _MP_FIELD_ST** previous)
try {
    if (previous) *previous = nullptr;
    if (!buffer || Word(buffer) < kPredefEntries) return nullptr;
    _MP_FIELD_ST* before = nullptr;
    for (_MP_FIELD_ST* f = mp_buf_field(buffer); f; f = mp_buf_field_link(buffer, f)) {
        if (f->key == key) {
            if (previous) *previous = before;
            return f;
        }
        before = f;
    }
    return nullptr;
}
HLC_EXPORT_CATCH(mp_buf_find_field)

int mp_buf_put_field(_MP_BUF_ST* buffer, uint32_t key, double value)
try {
    if (!Usable(buffer)) return -1;
    const uint32_t node = buffer->node & 0xFF;
    if (!mp_core_node_record(node)) return -1;
    if (mp_buf_is_remote(node)) {
        uint32_t params[4] = {buffer->id, key, 0, 0};
        std::memcpy(&params[2], &value, sizeof value);
        uint32_t reply[1];
        if (mp_buf_call_remote(node, 44, "mp_buf_put_field", params, 4, reply, 1) != 0) return -1;
        return static_cast<int32_t>(reply[0]);
    }
    if (_MP_FIELD_ST* f = mp_buf_find_field(buffer, key)) {
        CopyValue(f, value);
        return 0;
    }
    const uint32_t current = mp_sys_this_node_id() & 0xFF;
    auto* f = static_cast<_MP_FIELD_ST*>(mp_buf_desc_alloc(current ? current : node, sizeof(_MP_FIELD_ST)));
    if (!f) return -1;
    std::memset(f, 0, sizeof *f);
    f->key = key;
    CopyValue(f, value);
    _MP_FIELD_ST* last = buffer->fieldList;
    while (last && last->link) last = last->link;
    if (last) last->link = f;
    else buffer->fieldList = f;
    ++buffer->fieldCount;
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_put_field, -1)

int mp_buf_remove_field(_MP_BUF_ST* buffer, uint32_t key)
try {
    if (!Usable(buffer)) return -1;
    const uint32_t node = buffer->node & 0xFF;
    if (!mp_core_node_record(node)) return -1;
    if (mp_buf_is_remote(node)) {
        const uint32_t params[2] = {buffer->id, key};
        uint32_t reply[1];
        if (mp_buf_call_remote(node, 46, "mp_buf_remove_field", params, 2, reply, 1) != 0) return -1;
        return static_cast<int32_t>(reply[0]);
    }
    _MP_FIELD_ST* previous = nullptr;
    _MP_FIELD_ST* f = mp_buf_find_field(buffer, key, &previous);
    if (!f) return -1;
    if (previous) previous->link = f->link;
    else buffer->fieldList = f->link;
    if (buffer->fieldCount) --buffer->fieldCount;
    if (buffer->fieldCount == 0) buffer->fieldList = nullptr;
    mp_buf_desc_free(node, f);
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_remove_field, -1)

int mp_buf_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, double* value)
try {
    if (!buffer || !cursor || Word(buffer) < kPredefEntries || !buffer->fieldList) return -1;
    _MP_FIELD_ST* f = *cursor;
    if (f == reinterpret_cast<_MP_FIELD_ST*>(-1)) f = mp_buf_field(buffer);
    if (!f) return -3;
    if (key) *key = f->key;
    if (value) *value = mp_buf_field_value(f);
    *cursor = mp_buf_field_link(buffer, f);
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_next_field, -1)

int mp_buf_get_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, int32_t* value)
try {
    double v = 0.0;
    const int r = mp_buf_next_field(buffer, cursor, key, &v);
    if (r == 0 && value) *value = static_cast<int32_t>(Truncate(v));
    return r;
}
HLC_EXPORT_CATCH_AS(mp_buf_get_next_field, -1)

int mp_buf_get_field_double(const _MP_BUF_ST* buffer, uint32_t key, double* value)
try {
    const _MP_FIELD_ST* f = mp_buf_find_field(buffer, key);
    if (!f) return -1;
    if (value) *value = mp_buf_field_value(f);
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_get_field_double, -1)

int mp_buf_get_field(const _MP_BUF_ST* buffer, uint32_t key, int32_t* value)
try {
    double v = 0.0;
    if (mp_buf_get_field_double(buffer, key, &v) != 0) return -1;
    if (value) *value = static_cast<int32_t>(Truncate(v));
    return 0;
}
HLC_EXPORT_CATCH_AS(mp_buf_get_field, -1)

// ---- pixels ----------------------------------------------------------------------------

double mp_buf_get_pix_double(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y)
try {
    if (!buffer || Word(buffer) < kPredefEntries) return 0.0;
    if (buffer->type == 0x40000001u) {
        uint32_t bit = 0;
        const uint32_t a = BitAddress(buffer, band, x, y, &bit);
        if (!a) return 0.0;
        uint8_t v = 0;
        ReadBytes(a, &v, 1);
        return (v >> bit) & 1 ? 1.0 : 0.0;
    }
    const uint32_t bytes = buffer->bits / 8;
    const uint32_t a = PixelAddress(buffer, band, x, y, bytes);
    if (!a) return 0.0;
    switch (buffer->type) {
    case 8: { uint8_t v; ReadBytes(a, &v, 1); return v; }
    case 0x10000008u: { int8_t v; ReadBytes(a, &v, 1); return v; }
    case 16: { uint16_t v; ReadBytes(a, &v, 2); return v; }
    case 0x10000010u: { int16_t v; ReadBytes(a, &v, 2); return v; }
    case 32:
    case 0x10000020u: { int32_t v; ReadBytes(a, &v, 4); return v; }
    case 0x20000020u: { float v; ReadBytes(a, &v, 4); return v; }
    case 0x20000040u: { double v; ReadBytes(a, &v, 8); return v; }
    default: return 0.0;
    }
}
HLC_EXPORT_CATCH(mp_buf_get_pix_double)

int32_t mp_buf_get_pix(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y)
try {
    return static_cast<int32_t>(Truncate(mp_buf_get_pix_double(buffer, band, x, y)));
}
HLC_EXPORT_CATCH_AS(mp_buf_get_pix, 0)

void mp_buf_put_pix(_MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y, double value)
try {
    if (!buffer || Word(buffer) < kPredefEntries) return;
    const int64_t i = Truncate(value);
    switch (buffer->bits) {
    case 1: {
        if (buffer->type != 0x40000001u) return;
        uint32_t bit = 0;
        const uint32_t a = BitAddress(buffer, band, x, y, &bit);
        if (!a) return;
        uint8_t v = 0;
        ReadBytes(a, &v, 1);
        if (i & 0xFF) v = static_cast<uint8_t>(v | (1u << bit));
        else v = static_cast<uint8_t>(v & ~(1u << bit));
        WriteBytes(a, &v, 1);
        return;
    }
    case 8: {
        const uint32_t a = PixelAddress(buffer, band, x, y, 1);
        const uint8_t v = static_cast<uint8_t>(i);
        if (a) WriteBytes(a, &v, 1);
        return;
    }
    case 16: {
        const uint32_t a = PixelAddress(buffer, band, x, y, 2);
        const uint16_t v = static_cast<uint16_t>(i);
        if (a) WriteBytes(a, &v, 2);
        return;
    }
    case 32: {
        const uint32_t a = PixelAddress(buffer, band, x, y, 4);
        if (!a) return;
        if (buffer->type == 0x20000020u) {
            const float f = static_cast<float>(value);
            WriteBytes(a, &f, 4);
        } else {
            const uint32_t v = static_cast<uint32_t>(i);
            WriteBytes(a, &v, 4);
        }
        return;
    }
    case 64: {
        const uint32_t a = PixelAddress(buffer, band, x, y, 8);
        if (a) WriteBytes(a, &value, 8);
        return;
    }
    default: return;
    }
}
HLC_EXPORT_CATCH(mp_buf_put_pix)

// ---- paged host buffers ----------------------------------------------------------------

const uint32_t* mp_buf_page_list(const _MP_BUF_ST* pageList, uint32_t bands, uint32_t band, uint64_t* words)
{
    *words = 0;
    if (!pageList || Word(pageList) < kPredefEntries || band >= bands || pageList->sizeY <= 0) return nullptr;
    const bool byLine = pageList->bands < bands;
    if (byLine && (pageList->bands != 1 || static_cast<uint32_t>(pageList->sizeY) < bands)) return nullptr;
    auto* first = static_cast<const uint8_t*>(mp_buf_address_band_internal(pageList, byLine ? 0 : band));
    if (!first) return nullptr;
    *words = byLine ? pageList->pitch / 4 : static_cast<uint64_t>(pageList->pitch) * static_cast<uint32_t>(pageList->sizeY) / 4;
    return reinterpret_cast<const uint32_t*>(first + (byLine ? static_cast<uint64_t>(pageList->pitch) * band : 0));
}

void mp_buf_lock_paged(_MP_BUF_ST* buffer, const _MP_BUF_ST* pageList)
try {
    if (!buffer || !pageList || Word(buffer) < kPredefEntries || Word(pageList) < kPredefEntries || !buffer->bandTable)
        return;
    for (uint32_t b = 0; b < buffer->bands; ++b) {
        _MP_BAND_ST& band = buffer->bandTable[b];
        if (band.mapped) continue;
        // The count may not run past the list's room.
        uint64_t words = 0;
        const uint32_t* list = mp_buf_page_list(pageList, buffer->bands, b, &words);
        if (!list) continue;
        const uint32_t count = list[0];
        if (words == 0 || count > words - 1) continue;
        auto* copy = static_cast<uint32_t*>(safe_malloc((count + 1) * sizeof(uint32_t)));
        if (!copy) continue;
        std::memcpy(copy, list, (count + 1) * sizeof(uint32_t));
        band.mapped = Word(copy);
    }
}
HLC_EXPORT_CATCH(mp_buf_lock_paged)

void mp_buf_unlock_paged(_MP_BUF_ST* buffer)
try {
    if (!buffer || Word(buffer) < kPredefEntries || !buffer->bandTable) return;
    for (uint32_t b = 0; b < buffer->bands; ++b) {
        _MP_BAND_ST& band = buffer->bandTable[b];
        if (!band.mapped) continue;
        safe_free(Ptr<void>(band.mapped));
        band.mapped = 0;
    }
}
HLC_EXPORT_CATCH(mp_buf_unlock_paged)
