// Answer packets from a web server's response.
#include "packer.h"

#include <algorithm>
#include <atomic>

#include "avif_recode.h"
#include "dense_packer.h"
#include "http_response.h"
#include "jpeg_recode.h"
#include "pack_cache.h"
#include "protocol/capabilities.h"
#include "protocol/text_codec.h"
#include "service_limits.h"
#include "webp_recode.h"

namespace nbsvc {

int JpegQualityForCode(int code) {
  if (code == 1) return kJpegQualityMedium;
  if (code == 2) return kJpegQualityLow;
  return 0;
}

namespace {

AnswerPacket MakePacket(std::uint16_t kind, std::string body, std::size_t len) {
  AnswerPacket p;
  p.header.msg = kind;
  p.body = std::move(body);
  p.header.size = static_cast<std::uint32_t>(p.body.size());
  p.header.decompSize = static_cast<std::uint32_t>(len);
  return p;
}

// bzip2 of a piece, or empty when plain is smaller.
std::string Bz2OrEmpty(const char* data, std::size_t len) {
  std::string packed;
  if (!Bz2Compress(data, len, packed) || packed.size() >= len) packed.clear();
  return packed;
}

// A piece for a client that takes the denser coder. The cache holds the
// densest form made in the background under 'T', and the quick choice
// under 't': a kind letter ('8' zstd, '2' bzip2, '3' plain) and the body.
AnswerPacket PackText2Alone(const char* data, std::size_t len, PackCache* cache,
                            const TextCoding& coding) {
  std::string denseKey = cache ? PackKey('T', kText2DenseLevel, data, len) : std::string();
  std::string value;
  if (cache && cache->Get(denseKey, &value)) {
    return MakePacket(NB_PACKET_TEXT2, std::move(value), len);
  }
  std::string key = cache ? PackKey('t', kText2Level, data, len) : std::string();
  if (cache && cache->Get(key, &value) && !value.empty()) {
    // Asked for again: worth packing hard once.
    if (coding.dense && value[0] != '3')
      coding.dense->Offer(denseKey, std::string(data, len), value.size() - 1);
  } else {
    std::string z, b = Bz2OrEmpty(data, len);
    if (!Text2Compress(data, len, kText2Level, std::string(), z)) z.clear();
    if (!z.empty() && z.size() < len && (b.empty() || z.size() < b.size())) {
      value = '8' + z;
    } else if (!b.empty()) {
      value = '2' + b;
    } else {
      value = "3";
    }
    if (cache) cache->Put(key, value);
  }
  if (value[0] == '3') return MakePacket(NB_PACKET_NOCOMPRESS, std::string(data, len), len);
  return MakePacket(value[0] == '8' ? std::uint16_t{NB_PACKET_TEXT2} : std::uint16_t{NB_PACKET_BZ2},
                    value.substr(1), len);
}

// With the site's page, coded against it when that is smaller than the
// piece coded alone.
AnswerPacket PackText2(const char* data, std::size_t len, PackCache* cache,
                       const TextCoding& coding) {
  AnswerPacket alone = PackText2Alone(data, len, cache, coding);
  std::string framed;
  const bool coded =
      coding.prepared && coding.prepared->page() == coding.page
          ? coding.prepared->Compress(data, len, framed)
          : coding.page && Text2Compress(data, len, kText2Level, *coding.page, framed);
  if (coded && framed.size() < alone.body.size()) {
    return MakePacket(NB_PACKET_TEXT2_DICT, std::move(framed), len);
  }
  return alone;
}

}  // namespace

AnswerPacket PackPiece(const char* data, std::size_t len, PackCache* cache,
                       const TextCoding& coding) {
  if (coding.text2) return PackText2(data, len, cache, coding);
  // A cached value is the bzip2 body, or empty when plain is smaller.
  std::string key = cache ? PackKey('z', 0, data, len) : std::string();
  std::string packed;
  bool known = cache && cache->Get(key, &packed);
  if (!known) {
    packed = Bz2OrEmpty(data, len);
    if (cache) cache->Put(key, packed);
  }
  if (!packed.empty()) return MakePacket(NB_PACKET_BZ2, std::move(packed), len);
  return MakePacket(NB_PACKET_NOCOMPRESS, std::string(data, len), len);
}

AnswerPacket PackAnswerPiece(const char* data, std::size_t len, const std::string& before,
                             PackCache* cache, const TextCoding& coding) {
  if (!coding.text2 || !coding.chain || before.empty() ||
      (!coding.page && before.size() < kChainMinBefore)) {
    return PackPiece(data, len, cache, coding);
  }
  // The piece alone (cached, and packed densely once popular), or against
  // what the client holds: the page it named, then the answer so far. The
  // page alone (kind 9) is not tried: the chained prefix holds it too.
  TextCoding alone = coding;
  alone.page = nullptr;
  AnswerPacket best = PackPiece(data, len, cache, alone);
  std::string framed;
  if (Text2Compress(data, len, kChainLevel, ChainPrefix(coding.page.get(), before), framed) &&
      framed.size() + 1 < best.body.size()) {
    framed.insert(framed.begin(), coding.page ? kChainWithPage : kChainNoPage);
    return MakePacket(NB_PACKET_TEXT2_CHAIN, std::move(framed), len);
  }
  return best;
}

std::size_t HeadEnd(const std::string& response) {
  std::size_t from = FinalResponseOffset(response);
  ResponseHead head = ParseResponseHead(response.substr(from, 65536));
  if (!head.complete || head.status < 200) return 0;
  return from + head.headLen;
}

namespace {

// Pieces of content[from, to) added to r.
void AddPieces(const std::string& content, std::size_t from, std::size_t to, PackCache* cache,
               const TextCoding& coding, PackedAnswer* r, bool head = false) {
  const bool chain = coding.text2 && coding.chain;
  for (std::size_t pos = from; pos < to; pos += kMaxBodySize) {
    std::size_t len = std::min<std::size_t>(kMaxBodySize, to - pos);
    const std::size_t back = chain ? std::min(pos, kChainWindow) : 0;
    AnswerPacket p =
        PackAnswerPiece(content.data() + pos, len, content.substr(pos - back, back), cache, coding);
    p.head = head;
    r->before += len;
    r->after += p.body.size();
    r->packets.push_back(std::move(p));
  }
}

// With a cache: the head uncached, then the body's pieces through the cache.
PackedAnswer PackCached(const std::string& content, PackCache* cache, const TextCoding& coding) {
  PackedAnswer r;
  std::size_t headEnd = HeadEnd(content);
  AddPieces(content, 0, headEnd, nullptr, coding, &r, true);
  AddPieces(content, headEnd, content.size(), cache, coding, &r);
  return r;
}

// The image body of a complete JPEG response; false when it is not whole.
bool ExtractBody(const std::string& data, std::size_t from, const ResponseHead& head,
                 std::string* body) {
  std::size_t start = from + head.headLen;
  if (head.chunked) {
    std::size_t end = 0;
    return Dechunk(data, start, body, &end) == ChunkState::Complete;
  }
  if (head.hasContentLength) {
    if (data.size() - start < head.contentLength) return false;
    body->assign(data, start, static_cast<std::size_t>(head.contentLength));
    return true;
  }
  body->assign(data, start, std::string::npos);
  return true;
}

// Kind 4 pieces of content; decompSize of the pieces adds up to original,
// and no piece's size or decompSize exceeds the packet limit.
PackedAnswer PackImage(const std::string& content, std::uint64_t original) {
  PackedAnswer r;
  r.jpeg = true;
  std::uint64_t total = content.size();
  std::uint64_t step = kMaxBodySize;
  if (original > total && total > 0) {
    step = std::max<std::uint64_t>(1, kMaxBodySize * total / original);
  }
  std::uint64_t given = 0;
  for (std::uint64_t pos = 0; pos < total; pos += step) {
    std::uint64_t len = std::min(step, total - pos);
    std::uint64_t upTo = total == 0 ? 0 : original * (pos + len) / total;
    AnswerPacket p;
    p.header.msg = NB_PACKET_JPG;
    p.body.assign(content, static_cast<std::size_t>(pos), static_cast<std::size_t>(len));
    p.header.size = static_cast<std::uint32_t>(len);
    p.header.decompSize = static_cast<std::uint32_t>(upTo - given);
    given = upTo;
    r.before += p.header.decompSize;
    r.after += len;
    r.packets.push_back(std::move(p));
  }
  return r;
}

}  // namespace

PackedAnswer PackPlain(const std::string& content, const TextCoding& coding) {
  PackedAnswer r;
  AddPieces(content, 0, content.size(), nullptr, coding, &r);
  return r;
}

namespace {

// The answer as WebP kind 4 pieces; false when it does not become smaller.
bool PackWebp(const std::string& response, std::size_t from, const ResponseHead& head,
              const std::string& image, ImageType type, int quality, PackCache* cache,
              PackedAnswer* r) {
  // A cached value is the WebP image, or empty when recoding fails.
  std::string key = cache ? PackKey('w', quality, image.data(), image.size()) : std::string();
  std::string webp;
  if (!(cache && cache->Get(key, &webp))) {
    if (!RecodeToWebp(image, type, quality, &webp)) webp.clear();
    if (cache) cache->Put(key, webp);
  }
  if (webp.empty() || webp.size() >= image.size()) return false;
  std::string rebuilt = response.substr(0, from) + RebuildAsWebp(response.substr(from), head, webp);
  if (rebuilt.size() >= response.size()) return false;
  *r = PackImage(rebuilt, response.size());
  r->recoded = true;
  return true;
}

// Holds one of the kMaxAvifEncodes places for an AVIF encode while it lives;
// taken() is false when all were in use (the image then takes another road).
class AvifPlace {
 public:
  AvifPlace() : taken_(Count().fetch_add(1) < kMaxAvifEncodes) {
    if (!taken_) Count().fetch_sub(1);
  }
  ~AvifPlace() {
    if (taken_) Count().fetch_sub(1);
  }
  AvifPlace(const AvifPlace&) = delete;
  AvifPlace& operator=(const AvifPlace&) = delete;
  bool taken() const { return taken_; }

 private:
  static std::atomic<int>& Count() {
    static std::atomic<int> count{0};
    return count;
  }
  const bool taken_;
};

// The answer as AVIF kind 4 pieces; false when it does not become smaller
// or every AVIF encoder place is busy.
bool PackAvif(const std::string& response, std::size_t from, const ResponseHead& head,
              const std::string& image, ImageType type, int quantizer, PackCache* cache,
              PackedAnswer* r) {
  // A cached value is the AVIF image, or empty when recoding fails.
  std::string key = cache ? PackKey('a', quantizer, image.data(), image.size()) : std::string();
  std::string avif;
  if (!(cache && cache->Get(key, &avif))) {
    AvifPlace place;
    if (!place.taken()) return false;  // not cached: the next request may find a place
    if (!RecodeToAvif(image, type, quantizer, ServiceAvifEncoding(), &avif)) avif.clear();
    if (cache) cache->Put(key, avif);
  }
  if (avif.empty() || avif.size() >= image.size()) return false;
  std::string rebuilt =
      response.substr(0, from) + RebuildAsImage(response.substr(from), head, avif, "image/avif");
  if (rebuilt.size() >= response.size()) return false;
  *r = PackImage(rebuilt, response.size());
  r->recoded = true;
  return true;
}

// Today's JPEG road: the image recoded at quality when that makes the answer
// smaller, else the original, as kind 4 pieces.
PackedAnswer PackJpeg(const std::string& response, std::size_t from, const ResponseHead& head,
                      const std::string& image, int quality, PackCache* cache) {
  // A cached value is the recoded image, or empty when recoding fails.
  std::string key = cache ? PackKey('j', quality, image.data(), image.size()) : std::string();
  std::string smaller;
  bool recoded;
  if (cache && cache->Get(key, &smaller)) {
    recoded = !smaller.empty();
  } else {
    recoded = RecodeJpeg(image, quality, &smaller);
    if (!recoded) smaller.clear();
    if (cache) cache->Put(key, smaller);
  }
  if (recoded) {
    std::string rebuilt =
        response.substr(0, from) + RebuildWithBody(response.substr(from), head, smaller);
    if (rebuilt.size() < response.size()) {
      PackedAnswer r = PackImage(rebuilt, response.size());
      r.recoded = true;
      return r;
    }
  }
  return PackImage(response, response.size());
}

}  // namespace

PackedAnswer PackResponse(const std::string& response, int jpegCode, PackCache* cache,
                          const TextCoding& coding, bool webp, bool avif) {
  int quality = JpegQualityForCode(jpegCode);
  auto plain = [&] {
    return cache ? PackCached(response, cache, coding) : PackPlain(response, coding);
  };
  if (quality == 0) return plain();
  std::size_t from = FinalResponseOffset(response);
  ResponseHead head = ParseResponseHead(response.substr(from));
  ImageType type = webp || avif ? WebpSource(head) : ImageType::None;
  if (!IsRecodableJpeg(head) && type == ImageType::None) return plain();
  std::string image;
  if (!ExtractBody(response, from, head, &image)) return plain();
  // Of the recodings at matching quality, the fewest bytes go.
  PackedAnswer best;
  bool haveBest = false;
  PackedAnswer road;
  if (webp && type != ImageType::None &&
      PackWebp(response, from, head, image, type, WebpQualityForCode(jpegCode, type), cache,
               &road)) {
    best = std::move(road);
    haveBest = true;
  }
  if (type == ImageType::Jpeg || (type == ImageType::None && IsRecodableJpeg(head))) {
    road = PackJpeg(response, from, head, image, quality, cache);
    if (!haveBest || road.after <= best.after) best = std::move(road);
    haveBest = true;
  }
  if (avif && type != ImageType::None &&
      PackAvif(response, from, head, image, type, AvifQuantizerForCode(jpegCode, type), cache,
               &road) &&
      (!haveBest || road.after < best.after)) {
    best = std::move(road);
    haveBest = true;
  }
  return haveBest ? best : plain();
}

std::string MakeErrorResponse(int status, const std::string& reason, const std::string& text) {
  std::string body =
      "<html><head><title>" + reason + "</title></head><body><p>" + text + "</p></body></html>\r\n";
  return "HTTP/1.0 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace nbsvc
