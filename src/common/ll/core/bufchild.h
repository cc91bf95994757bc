// Child buffers (a region or one band of a root, without memory of their own), the
// keyed fields of a descriptor, single-pixel access, size and type changes, and the
// private page-list copies of paged host buffers.
#pragma once

#include "hlc_arch.h"

#include "bufid.h"

#include <cstdint>

constexpr int32_t kBufKeep = -9999;

HLC_API _MP_BUF_ST* mp_buf_child(_MP_BUF_ST* parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY);
HLC_API _MP_BUF_ST* mp_buf_child_band(_MP_BUF_ST* parent, int32_t band);
HLC_API int mp_buf_child_move(_MP_BUF_ST* child, int32_t deltaX, int32_t deltaY, int32_t sizeX, int32_t sizeY);
HLC_API int mp_buf_modify(_MP_BUF_ST* buffer, int32_t sizeX, int32_t sizeY, int32_t type);

HLC_API int mp_buf_put_field(_MP_BUF_ST* buffer, uint32_t key, double value);
HLC_API int mp_buf_remove_field(_MP_BUF_ST* buffer, uint32_t key);
HLC_API _MP_FIELD_ST* mp_buf_find_field(const _MP_BUF_ST* buffer, uint32_t key, _MP_FIELD_ST** previous = nullptr);
// Cursor -1 starts at the first field; it is left on the next field, 0 after the last.
HLC_API int mp_buf_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, double* value = nullptr);
HLC_API int mp_buf_get_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, int32_t* value = nullptr);
HLC_API int mp_buf_get_field_double(const _MP_BUF_ST* buffer, uint32_t key, double* value);
HLC_API int mp_buf_get_field(const _MP_BUF_ST* buffer, uint32_t key, int32_t* value);
HLC_API _MP_FIELD_ST* mp_buf_field(const _MP_BUF_ST* buffer);
HLC_API _MP_FIELD_ST* mp_buf_field_link(const _MP_BUF_ST* buffer, const _MP_FIELD_ST* field);
// The value of a field record.
double mp_buf_field_value(const _MP_FIELD_ST* field);

HLC_API double mp_buf_get_pix_double(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y);
HLC_API int32_t mp_buf_get_pix(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y);
HLC_API void mp_buf_put_pix(_MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y, double value);

// The page list of one band of a buffer with `bands` bands in a page-list buffer: band
// `band` of the page-list buffer, or, when that buffer has one band with a line per band
// of the locked buffer (as the host's page locking builds it), line `band` of band 0.
// *words is the room the list may fill; null (and 0) when there is no such list.
const uint32_t* mp_buf_page_list(const _MP_BUF_ST* pageList, uint32_t bands, uint32_t band, uint64_t* words);
HLC_API void mp_buf_lock_paged(_MP_BUF_ST* buffer, const _MP_BUF_ST* pageList);
HLC_API void mp_buf_unlock_paged(_MP_BUF_ST* buffer);
