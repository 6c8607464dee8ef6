// zstd frames for the service link.
#include "protocol/text_codec.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_createCDict_advanced for raw content
#include <zstd.h>

#include <memory>
#include <utility>

namespace {

struct CCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* c) const { ZSTD_freeDCtx(c); }
};

// Codes len bytes with ctx as set up into out; false on a library failure.
bool CompressWith(ZSTD_CCtx* ctx, const char* data, std::size_t len, std::string& out) {
  out.resize(ZSTD_compressBound(len));
  std::size_t n = ZSTD_compress2(ctx, &out[0], out.size(), data, len);
  if (ZSTD_isError(n)) {
    out.clear();
    return false;
  }
  out.resize(n);
  return true;
}

}  // namespace

bool Text2Compress(const char* data, std::size_t len, int level, const std::string& dict,
                   std::string& out) {
  std::unique_ptr<ZSTD_CCtx, CCtxFree> ctx(ZSTD_createCCtx());
  if (!ctx) return false;
  // The page is a raw prefix, whatever its first bytes look like.
  if (ZSTD_isError(ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_compressionLevel, level)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_checksumFlag, 1)) ||
      (!dict.empty() && ZSTD_isError(ZSTD_CCtx_refPrefix(ctx.get(), dict.data(), dict.size())))) {
    return false;
  }
  return CompressWith(ctx.get(), data, len, out);
}

Text2Dictionary::Text2Dictionary(std::shared_ptr<const std::string> page, int level)
    : page_(std::move(page)) {
  if (!page_ || page_->empty()) return;
  // By reference: page_ outlives the tables. Raw content, as the client's
  // prefix is, whatever the page's first bytes look like.
  cdict_ =
      ZSTD_createCDict_advanced(page_->data(), page_->size(), ZSTD_dlm_byRef, ZSTD_dct_rawContent,
                                ZSTD_getCParams(level, 0, page_->size()), ZSTD_defaultCMem);
}

Text2Dictionary::~Text2Dictionary() { ZSTD_freeCDict(cdict_); }

bool Text2Dictionary::Compress(const char* data, std::size_t len, std::string& out) const {
  std::unique_ptr<ZSTD_CCtx, CCtxFree> ctx(ZSTD_createCCtx());
  if (!ctx || !cdict_ || ZSTD_isError(ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_checksumFlag, 1)) ||
      ZSTD_isError(ZSTD_CCtx_refCDict(ctx.get(), cdict_))) {
    return false;
  }
  return CompressWith(ctx.get(), data, len, out);
}

std::string ChainPrefix(const std::string* page, const std::string& before) {
  const std::size_t from = before.size() > kChainWindow ? before.size() - kChainWindow : 0;
  std::string prefix;
  prefix.reserve((page ? page->size() : 0) + before.size() - from);
  if (page) prefix = *page;
  prefix.append(before, from, std::string::npos);
  return prefix;
}

bool Text2Decompress(const char* data, std::size_t len, std::size_t maxOut, const std::string& dict,
                     std::string& out) {
  out.clear();
  std::unique_ptr<ZSTD_DCtx, DCtxFree> ctx(ZSTD_createDCtx());
  if (!ctx) return false;
  // A frame may not ask for a window beyond what we would give out anyway.
  ZSTD_DCtx_setParameter(ctx.get(), ZSTD_d_windowLogMax, 27);
  if (!dict.empty() && ZSTD_isError(ZSTD_DCtx_refPrefix(ctx.get(), dict.data(), dict.size()))) {
    return false;
  }
  ZSTD_inBuffer in{data, len, 0};
  std::string buf(maxOut + 1, '\0');
  ZSTD_outBuffer o{&buf[0], buf.size(), 0};
  std::size_t r = 1;
  while (in.pos < in.size || r != 0) {
    std::size_t before = o.pos + in.pos;
    r = ZSTD_decompressStream(ctx.get(), &o, &in);
    if (ZSTD_isError(r) || o.pos > maxOut) return false;
    if (r == 0 && in.pos == in.size) break;
    if (o.pos + in.pos == before) return false;  // truncated: no progress possible
  }
  if (r != 0) return false;
  buf.resize(o.pos);
  out = std::move(buf);
  return true;
}
