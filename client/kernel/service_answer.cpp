// The answer packets of the service: read, checked and delivered.
#include "kernel/service_answer.h"

#include <string>

#include "kernel/context.h"
#include "kernel/events.h"
#include "kernel/filters.h"
#include "protocol/capabilities.h"
#include "protocol/push.h"
#include "protocol/text_codec.h"
#include "support/debug.h"

namespace {

// Sends len bytes to the browser; a packet without content is no failure.
bool DeliverToBrowser(ThreadArgs* thArgs, const char* data, std::size_t len,
                      AnswerProgress* progress) {
  if (len == 0) return true;
  progress->delivered = true;
  // Only a service that keeps pages makes what was delivered worth keeping
  // whole, and only one that chains pieces needs its end beyond that.
  const bool chain = (progress->serviceCaps & NB_CAP_TEXT_CHAIN) != 0;
  if ((!progress->tooLong && (progress->serviceCaps & NB_CAP_SITE_DICT)) || chain) {
    progress->tooLong = progress->tooLong || progress->answer.size() + len > kSitePageMaxBytes;
    if (progress->tooLong && !chain) {
      std::string().swap(progress->answer);
    } else {
      progress->answer.append(data, len);
      if (progress->answer.size() > kChainWindow && progress->tooLong) {
        progress->answer.erase(0, progress->answer.size() - kChainWindow);
      }
    }
  }
  return nbplat::SendAll(thArgs->sckBrowser.get(), data, len).ok();
}

// Checks text content for forbidden words, then delivers it. A word ends
// the answer; when part of it already went out, with a reset, so the page
// does not look whole.
bool DeliverChecked(ThreadArgs* thArgs, const char* data, std::size_t len,
                    AnswerProgress* progress) {
  if (progress->words.Found(data, len)) {
    dbgmsg("badkeywords is found. blocking");
    if (progress->delivered) CutAnswer(thArgs);
    return false;
  }
  return DeliverToBrowser(thArgs, data, len, progress);
}

// Kind 2: decompresses the body held in buff and delivers the content.
bool DeliverBz2(ThreadArgs* thArgs, const nbServiceHeader& h, AnswerProgress* progress) {
  std::string content;
  if (!Bz2Decompress(thArgs->buff, h.size, static_cast<std::size_t>(h.decompSize) + kBz2Slack,
                     content)) {
    dbgmsg("bz2 don't worked. skeep packet");
    return true;
  }
  bool ok = true;
  if (!content.empty()) {
    dbgmsg(content.c_str());
    if (content.size() != h.decompSize) {
      dprintf("decompressed length %u differs from decompSize %u", unsigned(content.size()),
              unsigned(h.decompSize));
    }
    // The content itself is delivered, whatever length the header announced.
    ok = DeliverChecked(thArgs, content.data(), content.size(), progress);
  }
  dbgmsg("nbpacket is bz2. decompress and send to browser OK");
  return ok;
}

// Kinds 8 and 9: decodes the zstd frame in buff (kind 9 against the page
// named for this request) and delivers the content. A frame that does not
// decode to exactly decompSize bytes cuts the answer: skipping it would
// hand the browser a page with a hole that looks whole.
bool DeliverText2(ThreadArgs* thArgs, const nbServiceHeader& h, AnswerProgress* progress) {
  const bool dict = h.msg == NB_PACKET_TEXT2_DICT;
  std::string content;
  if ((dict && !progress->named) ||
      !Text2Decompress(thArgs->buff, h.size, h.decompSize, dict ? *progress->named : std::string(),
                       content) ||
      content.size() != h.decompSize) {
    dbgmsg("text packet does not decode: answer cut");
    CutAnswer(thArgs);
    return false;
  }
  return DeliverChecked(thArgs, content.data(), content.size(), progress);
}

// Kind 12: the flag byte and zstd frame in buff, coded against the named
// page (when the flag says so) and the answer delivered so far. A frame that
// does not decode to exactly decompSize bytes, or names a page this answer
// has not, cuts the answer.
bool DeliverChained(ThreadArgs* thArgs, const nbServiceHeader& h, AnswerProgress* progress) {
  std::string content;
  const bool withPage = h.size > 0 && thArgs->buff[0] == kChainWithPage;
  // A service that chains keeps the whole answer's end here, unless a
  // service that kept no end set the bit only now.
  const bool held = !progress->delivered || !progress->answer.empty();
  if (h.size < 2 || (!withPage && thArgs->buff[0] != kChainNoPage) ||
      (withPage && !progress->named) || !held ||
      !Text2Decompress(thArgs->buff + 1, h.size - 1, h.decompSize,
                       ChainPrefix(withPage ? progress->named.get() : nullptr, progress->answer),
                       content) ||
      content.size() != h.decompSize) {
    dbgmsg("chained text packet does not decode: answer cut");
    CutAnswer(thArgs);
    return false;
  }
  return DeliverChecked(thArgs, content.data(), content.size(), progress);
}

}  // namespace

AnswerHead ReadAnswerHeader(nbplat::Socket s, int idleMs, nbServiceHeader* h, std::size_t* gotOut) {
  unsigned char raw[kServiceHeaderSize];
  std::size_t got = 0;
  nbplat::IoStatus end = nbplat::IoStatus::Ok;
  while (got < sizeof raw) {
    const nbplat::IoResult r = nbplat::RecvSome(s, raw + got, sizeof raw - got, idleMs);
    if (!r.ok()) {
      end = r.status;
      break;
    }
    got += r.bytes;
  }
  if (gotOut) *gotOut = got;
  if (got != sizeof raw) {
    // The service ends its answer by closing between packets; a close
    // inside a header, a reset or a silence cut the answer.
    return got == 0 && end == nbplat::IoStatus::Closed ? AnswerHead::End : AnswerHead::Cut;
  }
  *h = DecodeServiceHeader(raw);
  return AnswerHead::Read;
}

bool ReadAnswerBody(nbplat::Socket s, const nbServiceHeader& h, char* buff, int idleMs) {
  std::size_t received = 0;
  while (received < h.size) {
    nbkernel::Events().TrafficActivity();
    const nbplat::IoResult r = nbplat::RecvSome(s, buff + received, h.size - received, idleMs);
    if (!r.ok()) break;
    received += r.bytes;
    dbgmsg("receive packet body part");
  }
  dprintf("iSize, serviceHeader.size = %u, %u", unsigned(received), unsigned(h.size));
  return received == h.size;
}

bool ServicePacketFits(const nbServiceHeader& h) {
  return h.size <= kMaxBodySize && h.decompSize <= kMaxBodySize;
}

void CutAnswer(ThreadArgs* thArgs) {
  dbgmsg("service answer cut short: the browser's connection ends with a reset");
  nbplat::SetResetOnClose(thArgs->sckBrowser.get());
}

bool HandlePacket(ThreadArgs* thArgs, const nbServiceHeader& h, AnswerProgress* progress) {
  if (h.msg >= NB_PACKET_BZ2 && h.msg <= NB_PACKET_JPG) progress->serviceCaps |= h.caps;
  switch (h.msg) {
    case NB_PACKET_TEXT2:
    case NB_PACKET_TEXT2_DICT:
      // Only a service that says it codes them sends these kinds; from any
      // other they are unknown, read and dropped as ever.
      if (!(h.caps & NB_CAP_TEXT2) ||
          (h.msg == NB_PACKET_TEXT2_DICT && !(h.caps & NB_CAP_SITE_DICT))) {
        dbgmsg("Unknow packet.");
        return true;
      }
      progress->serviceCaps |= h.caps;
      return DeliverText2(thArgs, h, progress);
    case NB_PACKET_TEXT2_CHAIN:
      if ((h.caps & (NB_CAP_TEXT2 | NB_CAP_TEXT_CHAIN)) != (NB_CAP_TEXT2 | NB_CAP_TEXT_CHAIN)) {
        dbgmsg("Unknow packet.");
        return true;
      }
      progress->serviceCaps |= h.caps;
      return DeliverChained(thArgs, h, progress);
    case NB_PACKET_EMPTY:
      return true;
    case NB_PACKET_PUSH: {
      // A resource the page references, kept until the browser asks for it.
      // Only a service that announced pushes sends these.
      std::string url, answer;
      if (!(h.caps & NB_CAP_PUSH) || !DecodePush(thArgs->buff, h.size, kMaxBodySize, &url, &answer))
        return true;
      if (answer.empty()) {
        thArgs->ctx.pushed.Withdraw(url, progress->exchange);  // not coming
      } else {
        thArgs->ctx.pushed.Put(url, std::move(answer), nbplat::TickCountMs(), progress->exchange);
      }
      return true;
    }
    case NB_PACKET_PUSH_PROMISE: {
      // What will be pushed after this page: the browser's requests for
      // these wait for their pushes rather than go to the service.
      std::vector<std::string> urls;
      if (!(h.caps & NB_CAP_PUSH) || !DecodePromise(thArgs->buff, h.size, &urls)) return true;
      if (urls.size() > nb::kPushPromisesPerPage) urls.resize(nb::kPushPromisesPerPage);
      for (const std::string& url : urls) thArgs->ctx.pushed.Promise(url, progress->exchange);
      return true;
    }
    case NB_PACKET_BZ2:
      return DeliverBz2(thArgs, h, progress);
    case NB_PACKET_NOCOMPRESS: {
      thArgs->buff[h.size] = '\0';
      dbgmsg(thArgs->buff);
      const bool ok = DeliverChecked(thArgs, thArgs->buff, h.size, progress);
      dbgmsg("nbpacket is nocompress. send to browser OK");
      return ok;
    }
    case NB_PACKET_JPG: {
      bool ok = DeliverToBrowser(thArgs, thArgs->buff, h.size, progress);
      if (ok) dbgmsg("nbpacket is jpg. send to browser OK");
      return ok;
    }
    default:
      dbgmsg("Unknow packet.");
      return true;
  }
}
