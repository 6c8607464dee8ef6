// One client connection of the service.
#include "session.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "accounts.h"
#include "answer_stream.h"
#include "auth.h"
#include "destination.h"
#include "fetcher.h"
#include "http_request.h"
#include "http_response.h"
#include "login_guard.h"
#include "owned_socket.h"
#include "packer.h"
#include "protocol/capabilities.h"
#include "protocol/push.h"
#include "push_fetch.h"
#include "push_scan.h"
#include "service_limits.h"

namespace nbsvc {

HeaderCheck CheckRequestHeader(const nbClientHeader& h) {
  if (h.size > kMaxBodySize || h.decompSize > kMaxBodySize) return HeaderCheck::TooBig;
  if (h.size == 0 || h.decompSize == 0) return HeaderCheck::Empty;
  return HeaderCheck::Ok;
}

namespace {

// Silent when no byte came for idleMs; Slow when the deadline passed first.
ReadOutcome ReadFailure(nbplat::IoStatus st, Deadline deadline) {
  if (st != nbplat::IoStatus::TimedOut) return ReadOutcome::Closed;
  return std::chrono::steady_clock::now() >= deadline ? ReadOutcome::Slow : ReadOutcome::Silent;
}

}  // namespace

ReadOutcome ReadRequest(nbplat::Socket s, int idleMs, nbClientHeader* header, std::string* request,
                        int headerDeadlineMs, std::int64_t* headerClock) {
  auto start = std::chrono::steady_clock::now();
  Deadline headerBy = start + std::chrono::milliseconds(headerDeadlineMs);
  Deadline requestBy = start + std::chrono::milliseconds(kRequestDeadlineMs);
  unsigned char raw[kClientHeaderSize];
  nbplat::IoStatus st = RecvExactBy(s, raw, 1, idleMs, headerBy);
  if (st == nbplat::IoStatus::Closed) return ReadOutcome::Unused;
  if (st == nbplat::IoStatus::Ok) st = RecvExactBy(s, raw + 1, sizeof raw - 1, idleMs, headerBy);
  if (st != nbplat::IoStatus::Ok) return ReadFailure(st, headerBy);
  if (headerClock) *headerClock = ServiceClock();
  *header = DecodeClientHeader(raw);
  HeaderCheck check = CheckRequestHeader(*header);
  if (check == HeaderCheck::TooBig) return ReadOutcome::TooBig;
  if (check == HeaderCheck::Empty) return ReadOutcome::BadBody;
  std::string body(header->size, '\0');
  st = RecvExactBy(s, &body[0], body.size(), idleMs, requestBy);
  if (st != nbplat::IoStatus::Ok) return ReadFailure(st, requestBy);
  if (!Bz2Decompress(body.data(), body.size(), header->decompSize, *request) ||
      request->size() != header->decompSize) {
    return ReadOutcome::BadBody;
  }
  return ReadOutcome::Ok;
}

namespace {

const char* OutcomeName(ReadOutcome o) {
  switch (o) {
    case ReadOutcome::Ok:
      return "ok";
    case ReadOutcome::Silent:
      return "silent";
    case ReadOutcome::Slow:
      return "slow";
    case ReadOutcome::Closed:
      return "closed";
    case ReadOutcome::TooBig:
      return "toobig";
    case ReadOutcome::BadBody:
      return "badbody";
    case ReadOutcome::Unused:
      return "unused";
  }
  return "?";
}

// The connection to the client, and how long a send may make no progress.
struct ClientLink {
  nbplat::Socket s;
  int idleMs;
  std::uint16_t caps = 0;  // this service's bits, in every header when the client set some
};

// What this service does beyond the historic answers.
constexpr std::uint16_t kServiceCaps = NB_CAP_WEBP | NB_CAP_TEXT2 | NB_CAP_SITE_DICT |
                                       NB_CAP_KEEPALIVE | NB_CAP_PUSH | NB_CAP_TEXT_CHAIN |
                                       NB_CAP_AVIF;

// One write per packet: a header sent apart from its body would wait for
// the peer's acknowledgement of the packet before (small segments are held
// back while data is unacknowledged).
bool SendPacket(const ClientLink& link, nbServiceHeader h, const std::string& body) {
  h.caps = link.caps;
  std::string packet(kServiceHeaderSize, '\0');
  EncodeServiceHeader(h, reinterpret_cast<unsigned char*>(&packet[0]));
  packet += body;
  return SendAllWithin(link.s, packet.data(), packet.size(), link.idleMs) == nbplat::IoStatus::Ok;
}

void AddKind(RequestRecord* rec, int kind) {
  if (!rec->kinds.empty()) rec->kinds += ',';
  rec->kinds += std::to_string(kind);
}

// Sends one packet without body (kinds 5, 6, 7) and records it.
void SendBare(const ClientLink& link, RequestRecord* rec, std::uint16_t kind, std::uint32_t size,
              std::int32_t money) {
  nbServiceHeader h;
  h.msg = kind;
  h.size = size;
  h.money = money;
  if (SendPacket(link, h, std::string())) rec->sent += kServiceHeaderSize;
  AddKind(rec, kind);
}

// Tells the client that the answer failed: a content header announcing a
// body that never comes. The client reads it as an answer cut short and
// hands the browser no page that looks whole.
void SendCutMarker(const ClientLink& link, RequestRecord* rec, std::int32_t money) {
  nbServiceHeader h;
  h.msg = NB_PACKET_NOCOMPRESS;
  h.size = 1;
  h.money = money;
  if (SendPacket(link, h, std::string())) rec->sent += kServiceHeaderSize;
  AddKind(rec, h.msg);
}

// The page a browser gets while the account database cannot be reached.
constexpr const char* kNoDatabaseText =
    "The service cannot reach its account database. Please try again later.";

// The log's name for how a fetch ended.
const char* FetchResultName(const FetchResult& f) {
  switch (f.status) {
    case FetchStatus::Complete:
      return "served";
    case FetchStatus::TimedOut:
      return f.received == 0 ? "timeout" : "cut-timeout";
    case FetchStatus::Cut:
      return "cut";
    case FetchStatus::Truncated:
      return "served-truncated";
    case FetchStatus::ConnectFailed:
      return "connect-failed";
    case FetchStatus::SendFailed:
      return "send-failed";
    case FetchStatus::Abandoned:
      return "abandoned";
  }
  return "?";
}

// Pieces of one answer packed at once: the cores help a large answer, up
// to the bound on what one connection holds.
int PackThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 2 : std::min(static_cast<int>(n), kMaxPiecesPacking);
}

class Session {
 public:
  Session(nbplat::Socket s, const ServiceConfig& config, ServiceLog& log, ServiceShared& shared,
          std::uint32_t peer)
      : s_(s),
        link_{s, config.clientSendTimeoutMs},
        config_(config),
        log_(log),
        shared_(shared),
        peer_(peer) {}
  ~Session() {
    if (!quiet_) log_.Write(rec_);
  }
  // Serves one exchange; true when its answer was whole and ended with
  // NB_PACKET_END, so the connection may carry the next request.
  bool Run();

 private:
  // Sends the end-of-answer packet of a kept connection; true when it left.
  bool SendEnd();

  // Clock check with at most one correction; false ends the connection.
  bool SettleClock();
  // Account, authentication and money; false ends the connection.
  bool Admit();
  // Refuses a login or address locked for guessing codes; false when locked.
  bool PassGuard();
  // Counts a failed code and logs the locks it starts.
  void CountFailure(bool knownLogin);
  void Answer();
  // Delivers the rest of a complete answer (then, when push, the page's
  // promised sub-resources) and settles it.
  void FinishAnswer(AnswerStream& stream, bool push = false);
  // Once scan_ holds the page's head part (or all of the page, atEnd):
  // promises the same-site resources it references that the client does
  // not hold and starts fetching them (pushes_).
  void MaybePromise(bool atEnd);
  // Sends what pushes_ fetched, in promised order, each as NB_PACKET_PUSH
  // charged like any answer bytes, or as a push without answer when it is
  // not coming; stops when one cannot be paid for or the client is gone.
  void PushResources();
  // Sends one push packet that is not charged (a promise or "not coming").
  void SendUncharged(std::uint16_t kind, const std::string& body);
  // Packs one fetched answer for url into a push packet; false when it
  // does not fit one packet.
  bool PackPush(const std::string& url, const std::string& answer, AnswerPacket* out);
  // Charges for packets, then sends them; false when the money ran out,
  // the charge failed or the client is gone (then the answer ends).
  bool Deliver(std::vector<AnswerPacket> packets);
  // Checks the balance (when check) before bytes leave, then charges for
  // them; false when they may not leave (noMoney_ or chargeFailed_ set).
  bool PayFor(std::uint64_t bytes, bool check);
  // Takes cents from the account (gives back when negative); balance_
  // receives the balance after it. False when the database failed.
  bool Charge(std::int64_t cents);
  // Reads the balance afresh into balance_; false when the database failed.
  bool ReadBalance();
  // An answer of our own that is not charged (the database failed).
  void SendUnchargedPage(int status, const char* reason, const std::string& text);
  // Ends an answer whose delivery stopped (client gone, failed charge or
  // money spent).
  void EndStoppedDelivery();
  // Gives back what was charged beyond keep hundredths.
  void RefundBeyond(std::int64_t keep);
  // Writes the answer's totals into the log record.
  void Settle();

  bool whole_ = false;  // the answer went out whole and settled
  nbplat::Socket s_;
  ClientLink link_;
  const ServiceConfig& config_;
  ServiceLog& log_;
  ServiceShared& shared_;
  const std::uint32_t peer_;
  RequestRecord rec_;
  bool quiet_ = false;            // no line (more) to write: a refusal during a lock
                                  // after its first, or the line already written
  std::int64_t headerClock_ = 0;  // our clock as the request header arrived
  nbClientHeader header_;
  std::string request_;
  std::int32_t authTime_ = 0;
  std::uint16_t authCode_ = 0;
  PooledAccounts pool_{shared_.accounts};  // a connection for each statement only
  bool charged_ = false;                   // a real account pays; a guest without account does not
  Account account_;
  // The answer so far: bytes and content sent, bytes billed, hundredths
  // taken and the balance after them.
  std::uint64_t sentAll_ = 0, sentBodies_ = 0, sentBefore_ = 0, billed_ = 0;
  std::int64_t cost_ = 0, balance_ = 0;
  bool clientGone_ = false, chargeFailed_ = false, noMoney_ = false;
  bool afterHead_ = false;  // the last packet that left was the answer's head
  std::chrono::steady_clock::time_point balanceAt_;  // when balance_ was read
  // What this client takes beyond today's answers (0 for today's client),
  // the site its pages are kept under, and the page it named.
  std::uint16_t caps_ = 0;
  std::string site_, namedPage_;
  // The page's first kPushScanBytes while its sub-resources may be pushed;
  // promised_ once that is settled; pushes_ fetching what was promised.
  std::string scan_;
  bool promised_ = true;
  std::unique_ptr<PushFetcher> pushes_;
  // Hashes of URLs the client named as held: never pushed.
  std::set<std::string> held_;
};

bool Session::Run() {
  // A client that stops reading frees its slot, thread and memory: each
  // send returns within a slice, and the sending ends after the time-out
  // without progress.
  nbplat::SetSendTimeout(s_, std::min(kSendSliceMs, config_.clientSendTimeoutMs));
  ReadOutcome o = ReadRequest(s_, config_.clientIdleMs, &header_, &request_,
                              config_.headerDeadlineMs, &headerClock_);
  rec_.login = header_.login;
  if (o != ReadOutcome::Ok) {
    rec_.result = std::string("bad-request-") + OutcomeName(o);
    // A connection closed before a byte of a request (kept between
    // exchanges, opened ahead and not needed) carried no request.
    if (o == ReadOutcome::Unused) quiet_ = true;
    return false;
  }
  rec_.received = kClientHeaderSize + header_.size;
  // The service answers with the bits both sides have, on every packet; the
  // header resent after a time correction carries none, so the first
  // header's bits count.
  caps_ = header_.caps & kServiceCaps & config_.capsMask;
  link_.caps = caps_;
  // A kept connection's answers end in a small packet, and a page starts
  // with a small piece: neither waits for what went before to be
  // acknowledged.
  if (caps_ & NB_CAP_KEEPALIVE) nbplat::SetNoDelay(s_);
  // The line naming held URLs is ours too.
  held_.clear();
  if (caps_ & NB_CAP_PUSH) held_ = TakeHeldField(&request_);
  if (caps_ & NB_CAP_SITE_DICT) {
    // The line naming the client's page is ours: it never reaches the site.
    namedPage_ = TakeSitePageField(&request_);
    std::string host = RequestSite(request_);
    if (!host.empty()) {
      site_ = std::to_string(header_.login) + (header_.login == 0 ? "@" + FormatIPv4(peer_) : "") +
              " " + host;
    }
  }
  rec_.destination = FormatIPv4(header_.ipNet) + ":" + std::to_string(header_.port);
  if (!SettleClock() || !Admit()) return false;
  Answer();
  // Only an answer that went out whole leaves the connection in step: after
  // a cut marker or a refusal the client reads no further.
  return whole_ && (caps_ & NB_CAP_KEEPALIVE) && SendEnd();
}

bool Session::SendEnd() {
  nbServiceHeader h;
  h.msg = NB_PACKET_END;
  h.money = MoneyForHeader(charged_ ? balance_ : 0);
  // The exchange's line is written before its end leaves: whoever holds the
  // whole answer finds the line already in the log.
  rec_.sent += kServiceHeaderSize;
  AddKind(&rec_, h.msg);
  if (!quiet_) log_.Write(rec_);
  quiet_ = true;
  return SendPacket(link_, h, std::string());
}

bool Session::SettleClock() {
  authTime_ = header_.time;
  authCode_ = header_.authCode;
  // The time the header was sent is compared with when it came, however
  // long its body took afterwards.
  if (!ClockNeedsCorrection(header_.time, headerClock_)) return true;
  std::int64_t now = ServiceClock();
  SendBare(link_, &rec_, NB_PACKET_TIMESHIFT, static_cast<std::uint32_t>(now), 0);
  // The client answers with a header carrying only login, time and code.
  unsigned char raw[kClientHeaderSize];
  Deadline by =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(config_.headerDeadlineMs);
  if (RecvExactBy(s_, raw, sizeof raw, config_.clientIdleMs, by) != nbplat::IoStatus::Ok) {
    rec_.result = "no-resent-header";
    return false;
  }
  rec_.received += kClientHeaderSize;
  nbClientHeader again = DecodeClientHeader(raw);
  if (again.login != header_.login || ClockNeedsCorrection(again.time, ServiceClock())) {
    rec_.result = "bad-resent-header";
    return false;
  }
  authTime_ = again.time;
  authCode_ = again.authCode;
  return true;
}

bool Session::PassGuard() {
  bool logIt = false;
  LoginGuard::Verdict v = shared_.guard.Check(header_.login, peer_, GuardClock(), &logIt);
  if (v == LoginGuard::Verdict::Open) return true;
  // Refused unchecked, even with the right code; the database is not asked.
  const bool login = v == LoginGuard::Verdict::LoginLocked;
  SendBare(link_, &rec_, NB_PACKET_AUTHFAILED, 0, 0);
  rec_.result = login ? "login-locked" : "address-locked";
  quiet_ = !logIt;
  return false;
}

void Session::CountFailure(bool knownLogin) {
  LoginGuard::Locks locks = shared_.guard.Failed(header_.login, knownLogin, peer_, GuardClock());
  if (locks.loginSec > 0) {
    log_.Note("login " + std::to_string(header_.login) + " locked for " +
              std::to_string(locks.loginSec) + " s after repeated wrong codes");
  }
  if (locks.addressSec > 0) {
    log_.Note("address " + FormatIPv4(peer_) + " locked for " + std::to_string(locks.addressSec) +
              " s after repeated wrong codes");
  }
}

bool Session::Admit() {
  if (!PassGuard()) return false;
  LookupResult found = pool_.Lookup(header_.login, &account_);
  if (found == LookupResult::Error) {
    // Nobody is served while the accounts cannot be read: the browser gets
    // a page saying so, and nothing is charged.
    log_.Note("database error: " + pool_.LastError());
    SendUnchargedPage(503, "Service Unavailable", kNoDatabaseText);
    rec_.result = "db-error";
    return false;
  }
  if (found == LookupResult::Missing) {
    // Login 0 with no stored account is the guest: no secret to check, no
    // money to take.
    if (header_.login == 0 && config_.allowGuests) return true;
    // A guest where guests are off guesses nothing: a fresh client not yet
    // given its account must not lock out its neighbours.
    if (header_.login != 0) CountFailure(false);
    SendBare(link_, &rec_, NB_PACKET_AUTHFAILED, 0, 0);
    rec_.result = "authfailed";
    return false;
  }
  if (!AuthCodeMatches(account_.digest, authTime_, authCode_)) {
    CountFailure(true);
    SendBare(link_, &rec_, NB_PACKET_AUTHFAILED, 0, 0);
    rec_.result = "authfailed";
    return false;
  }
  rec_.money = account_.money;
  balance_ = account_.money;
  balanceAt_ = std::chrono::steady_clock::now();
  if (account_.money <= 0) {
    SendBare(link_, &rec_, NB_PACKET_NOMONEY, static_cast<std::uint32_t>(header_.login),
             MoneyForHeader(account_.money));
    rec_.result = "nomoney";
    return false;
  }
  charged_ = true;
  return true;
}

void Session::Answer() {
  // After a time correction the resent header carries no quality code; the
  // first header's code is the one that counts.
  TextCoding coding;
  coding.text2 = (caps_ & NB_CAP_TEXT2) != 0;
  coding.chain = coding.text2 && (caps_ & NB_CAP_TEXT_CHAIN) != 0;
  if (coding.text2 && !site_.empty() && !namedPage_.empty()) {
    // The client's page when we hold the same bytes; else plain TEXT2.
    coding.page = shared_.sitePages.Find(site_, namedPage_);
    coding.prepared = shared_.preparedPages.For(coding.page);
  }
  if (config_.cacheMb > 0) coding.dense = &shared_.dense;
  const bool webp = (caps_ & NB_CAP_WEBP) != 0 && AcceptsWebp(request_);
  const bool avif = (caps_ & NB_CAP_AVIF) != 0 && AcceptsAvif(request_);
  // A client that keeps connections may take a page's first piece early (it
  // is a newer client; today's client gets today's pieces).
  AnswerStream stream(header_.jpegLevel, config_.cacheMb > 0 ? &shared_.cache : nullptr,
                      PackThreads(), coding, webp,
                      config_.earlyPages && (caps_ & NB_CAP_KEEPALIVE) != 0, avif);
  if (shared_.destinations.Refused(header_.ipNet, header_.port)) {
    rec_.result = "refused";
    stream.Offer(MakeErrorResponse(403, "Forbidden",
                                   "This service does not fetch from " + rec_.destination + "."));
    FinishAnswer(stream);
    return;
  }
  // Only a page fetched by a GET without credentials, for a client that
  // keeps connections and takes pushes, is read for its sub-resources.
  const bool mayPush = (caps_ & NB_CAP_PUSH) && (caps_ & NB_CAP_KEEPALIVE) &&
                       !RequestCarriesCredentials(request_) && !PushUrlOfRequest(request_).empty();
  std::string().swap(scan_);
  promised_ = !mayPush;
  // However the exchange ends, its push fetches end with it.
  struct StopPushes {
    std::unique_ptr<PushFetcher>& p;
    ~StopPushes() { p.reset(); }
  } stopPushes{pushes_};
  FetchLimits limits;
  limits.connectMs = kFetchConnectMs;
  limits.idleMs = config_.fetchIdleMs;
  limits.maxResponse = config_.maxResponse;
  // Packets leave as soon as they are packed, while the rest arrives; a
  // client that does not take them holds up the fetch, never fills memory.
  FetchResult f = Fetch(header_.ipNet, header_.port, WithoutAcceptEncoding(request_), limits,
                        [&](const char* data, std::size_t len) {
                          if (!promised_) {
                            scan_.append(data, std::min(len, kPushScanBytes - scan_.size()));
                            MaybePromise(false);
                          }
                          stream.Offer(data, len);
                          return Deliver(stream.TakeReady());
                        });
  rec_.result = FetchResultName(f);
  if (f.status == FetchStatus::Abandoned) {
    rec_.result = "served";
    EndStoppedDelivery();
    return;
  }
  if (f.status == FetchStatus::Truncated && sentAll_ == 0 && IsRepeatableRequest(request_)) {
    // Too big to serve here: a no-money answer naming login 0 makes the
    // client fetch this one request directly and keep using the service
    // for the next ones, instead of handing the browser a cut-off answer.
    SendBare(link_, &rec_, NB_PACKET_NOMONEY, 0, MoneyForHeader(charged_ ? balance_ : 0));
    rec_.result = "too-big-direct";
    return;
  }
  if (f.received == 0) {
    AnswerStream page(0, nullptr, 1);
    page.Offer(MakeErrorResponse(502, "Bad Gateway",
                                 "The web server " + rec_.destination + " did not answer."));
    FinishAnswer(page);
    return;
  }
  if (f.status == FetchStatus::Complete) {
    if (!promised_) MaybePromise(true);
    FinishAnswer(stream, mayPush);
    return;
  }
  // Cut by the site (reset, closed or silent before the end) or here (over
  // the cap): whatever is out, the client learns the answer is not whole
  // and resets the browser's connection, and nothing is charged.
  if (f.status == FetchStatus::Truncated) rec_.result = "truncated-cut";
  SendCutMarker(link_, &rec_, MoneyForHeader(charged_ ? balance_ : 0));
  RefundBeyond(0);
  Settle();
}

void Session::FinishAnswer(AnswerStream& stream, bool push) {
  std::string whole;
  if (!Deliver(stream.Finish(&whole))) {
    EndStoppedDelivery();
    return;
  }
  // The client keeps the same page once it has it whole.
  if (!site_.empty() && IsSitePage(whole)) {
    shared_.sitePages.Keep(site_, std::move(whole));
  }
  if (push) PushResources();
  if (clientGone_) {
    EndStoppedDelivery();
    return;
  }
  Settle();
  whole_ = true;
}

void Session::MaybePromise(bool atEnd) {
  ResponseHead head = ParseResponseHead(scan_);
  const bool full = atEnd || scan_.size() >= kPushScanBytes;
  if (!head.complete) {
    promised_ = full;
    return;
  }
  if (head.status != 200 || head.contentType != "text/html" || head.encoded) {
    promised_ = true;
    return;
  }
  // The head part: style sheets and scripts are named there, and the
  // browser asks for them as soon as it reads it.
  std::string low = scan_.substr(head.headLen);
  for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!full && low.find("</head") == std::string::npos && low.find("<body") == std::string::npos)
    return;
  promised_ = true;
  std::vector<std::string> urls;
  for (std::string& url :
       FindPushUrls(scan_.substr(head.headLen), PushUrlOfRequest(request_), kMaxPushPerPage)) {
    if (!held_.count(UrlHash(url))) urls.push_back(std::move(url));
  }
  std::string().swap(scan_);
  if (urls.empty()) return;
  SendUncharged(NB_PACKET_PUSH_PROMISE, EncodePromise(urls));
  pushes_ = std::make_unique<PushFetcher>(
      header_.ipNet, header_.port, request_, std::move(urls),
      [this](const std::string& url, const std::string& answer, AnswerPacket* out) {
        return PackPush(url, answer, out);
      });
}

void Session::SendUncharged(std::uint16_t kind, const std::string& body) {
  nbServiceHeader h;
  h.msg = kind;
  h.size = static_cast<std::uint32_t>(body.size());
  h.money = MoneyForHeader(charged_ ? balance_ : 0);
  if (!SendPacket(link_, h, body)) {
    clientGone_ = true;
    return;
  }
  rec_.sent += kServiceHeaderSize + body.size();
  sentBodies_ += body.size();  // the client counts these bodies too
  // Kind 11 in the log counts the resources pushed: "not coming" is none.
  if (kind != NB_PACKET_PUSH) AddKind(&rec_, kind);
}

void Session::PushResources() {
  if (!pushes_) return;
  bool paying = true;
  for (std::size_t i = 0; i < pushes_->urls().size() && !clientGone_; ++i) {
    AnswerPacket packet;
    if (paying && pushes_->Take(i, &packet)) {
      std::vector<AnswerPacket> one;
      one.push_back(std::move(packet));
      if (Deliver(std::move(one))) continue;
      // What could not be paid for is simply not pushed: the page is whole.
      noMoney_ = chargeFailed_ = false;
      paying = false;
    }
    if (!clientGone_) SendUncharged(NB_PACKET_PUSH, EncodePush(pushes_->urls()[i], {}));
  }
  pushes_.reset();
}

bool Session::PackPush(const std::string& url, const std::string& answer, AnswerPacket* out) {
  TextCoding coding;
  coding.text2 = (caps_ & NB_CAP_TEXT2) != 0;
  // Images as the browser would have got them: WebP when its page's
  // request accepts that.
  const bool webp = (caps_ & NB_CAP_WEBP) != 0 && AcceptsWebp(request_);
  PackedAnswer packed = PackResponse(answer, header_.jpegLevel,
                                     config_.cacheMb > 0 ? &shared_.cache : nullptr, coding, webp);
  std::vector<PushPiece> pieces;
  std::size_t decoded = 0;
  for (AnswerPacket& p : packed.packets) {
    decoded += p.header.msg == NB_PACKET_JPG ? p.body.size() : p.header.decompSize;
    pieces.push_back(PushPiece{p.header, std::move(p.body)});
  }
  std::string body = EncodePush(url, pieces);
  if (body.size() > kMaxBodySize || decoded > kMaxBodySize) return false;
  out->header.msg = NB_PACKET_PUSH;
  out->header.size = static_cast<std::uint32_t>(body.size());
  out->header.decompSize = static_cast<std::uint32_t>(decoded);
  out->body = std::move(body);
  return true;
}

void Session::EndStoppedDelivery() {
  if (clientGone_) {
    // The client left or stopped reading: nothing more is sent, and it pays
    // for what it received.
    RefundBeyond(CostOfBytes(sentAll_, config_.pricePerMiB));
    rec_.result += "-client-gone";
  } else if (chargeFailed_) {
    // Nothing leaves unpaid: a page saying why when nothing was out yet,
    // else the mark of a cut answer, and everything is given back.
    rec_.result = "db-error";
    if (sentAll_ == 0) {
      SendUnchargedPage(503, "Service Unavailable", kNoDatabaseText);
    } else {
      SendCutMarker(link_, &rec_, MoneyForHeader(balance_));
      RefundBeyond(0);
    }
  } else if (noMoney_) {
    // The balance ran out on the way: the client goes direct when it can
    // repeat the request itself and nothing is out yet; otherwise the answer
    // ends cut (a POST is never sent twice). What left stays paid for.
    if (sentAll_ == 0 && IsRepeatableRequest(request_)) {
      SendBare(link_, &rec_, NB_PACKET_NOMONEY, static_cast<std::uint32_t>(header_.login),
               MoneyForHeader(balance_));
      rec_.result = "nomoney";
    } else {
      SendCutMarker(link_, &rec_, MoneyForHeader(balance_));
      rec_.result = "nomoney-cut";
    }
  }
  Settle();
}

bool Session::Charge(std::int64_t cents) {
  balanceAt_ = std::chrono::steady_clock::now();
  if (pool_.Charge(header_.login, cents, &balance_)) return true;
  log_.Note("charge of " + std::to_string(cents) + " failed for login " +
            std::to_string(header_.login) + ": " + pool_.LastError());
  return false;
}

bool Session::ReadBalance() {
  Account now;
  if (pool_.Lookup(header_.login, &now) != LookupResult::Found) {
    log_.Note("balance of login " + std::to_string(header_.login) +
              " unreadable: " + pool_.LastError());
    return false;
  }
  balance_ = now.money;
  balanceAt_ = std::chrono::steady_clock::now();
  return true;
}

bool Session::PayFor(std::uint64_t bytes, bool check) {
  if (!charged_) {
    billed_ += bytes;
    return true;
  }
  // Concurrent answers of one account each overdraw by at most the piece
  // they charged last: every one stops once the balance it saw is spent.
  if (check &&
      std::chrono::steady_clock::now() - balanceAt_ > std::chrono::milliseconds(kBalanceFreshMs) &&
      !ReadBalance()) {
    chargeFailed_ = true;
    return false;
  }
  if (check && balance_ <= 0) {
    noMoney_ = true;
    return false;
  }
  // The cost of the whole answer is the cost of all its bytes however they
  // were grouped.
  std::int64_t cost =
      CostOfBytes(billed_ + bytes, config_.pricePerMiB) - CostOfBytes(billed_, config_.pricePerMiB);
  if (cost != 0 && !Charge(cost)) {
    chargeFailed_ = true;
    return false;
  }
  cost_ += cost;
  billed_ += bytes;
  return true;
}

bool Session::Deliver(std::vector<AnswerPacket> packets) {
  if (clientGone_ || chargeFailed_ || noMoney_) return false;
  if (packets.empty()) return true;
  // Charged before sending, so every packet carries the balance after it
  // and nothing leaves unpaid. All packets of a batch in one write, so none
  // waits for the client to acknowledge the one before.
  std::string out;
  std::vector<std::size_t> sizes;  // bytes of each packet in out
  std::size_t paid = 0;
  while (paid < packets.size()) {
    // One charge for a piece and the head packets before it.
    std::size_t end = paid;
    std::uint64_t bytes = 0;
    do {
      bytes += kServiceHeaderSize + packets[end].body.size();
    } while (packets[end++].head && end < packets.size());
    if (!PayFor(bytes, !afterHead_)) break;
    afterHead_ = packets[end - 1].head;
    for (; paid < end; ++paid) {
      AnswerPacket& p = packets[paid];
      p.header.money = MoneyForHeader(charged_ ? balance_ : 0);
      p.header.caps = caps_;
      unsigned char raw[kServiceHeaderSize];
      EncodeServiceHeader(p.header, raw);
      out.append(reinterpret_cast<const char*>(raw), sizeof raw);
      out += p.body;
      sizes.push_back(p.body.size());
      std::string().swap(p.body);  // held once, in out
    }
  }
  std::size_t sent = 0;
  bool ok = SendAllWithin(s_, out.data(), out.size(), config_.clientSendTimeoutMs, &sent) ==
            nbplat::IoStatus::Ok;
  // Packets that went out whole count as sent (and stay paid for).
  std::uint64_t done = 0;
  for (std::size_t i = 0; i < paid; ++i) {
    const AnswerPacket& p = packets[i];
    done += kServiceHeaderSize + sizes[i];
    if (done > sent) break;
    AddKind(&rec_, p.header.msg);
    sentAll_ += kServiceHeaderSize + sizes[i];
    sentBodies_ += sizes[i];
    sentBefore_ += p.header.decompSize;
  }
  if (!ok) clientGone_ = true;
  return ok && paid == packets.size();
}

void Session::SendUnchargedPage(int status, const char* reason, const std::string& text) {
  PackedAnswer page = PackPlain(MakeErrorResponse(status, reason, text));
  for (auto& p : page.packets) {
    if (!SendPacket(link_, p.header, p.body)) return;
    rec_.sent += kServiceHeaderSize + p.body.size();
    AddKind(&rec_, p.header.msg);
  }
}

void Session::RefundBeyond(std::int64_t keep) {
  std::int64_t refund = cost_ - keep;
  if (!charged_ || refund <= 0) return;
  if (Charge(-refund)) cost_ -= refund;
}

void Session::Settle() {
  rec_.before = sentBefore_;
  rec_.after = sentBodies_;
  rec_.sent += sentAll_;
  rec_.charged = cost_;
  rec_.money = charged_ ? balance_ : 0;
}

}  // namespace

namespace {

// Waits for the first byte of the next request on a kept connection; false
// when the client stays silent for kKeepAliveIdleMs, the wait fails or the
// server stops.
bool AwaitNextRequest(nbplat::Socket s, const std::atomic<bool>* stopping) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kKeepAliveIdleMs);
  while (!(stopping && stopping->load())) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    until - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return false;
    int ready = nbplat::WaitReadable(
        s, nbplat::kNoSocket, static_cast<int>(std::min<long long>(left, kKeepAliveSliceMs)));
    if (ready < 0) return false;
    if (ready > 0) return true;
  }
  return false;
}

}  // namespace

void ServeConnection(nbplat::Socket s, const ServiceConfig& config, ServiceLog& log,
                     ServiceShared& shared, std::uint32_t peer, const std::atomic<bool>* stopping) {
  for (bool follow = false;; follow = true) {
    if (follow && !AwaitNextRequest(s, stopping)) return;
    Session session(s, config, log, shared, peer);
    if (!session.Run()) return;
  }
}

}  // namespace nbsvc
