// One client connection of the service.
#include "session.h"

#include <chrono>
#include <memory>

#include "accounts.h"
#include "auth.h"
#include "destination.h"
#include "fetcher.h"
#include "http_request.h"
#include "owned_socket.h"
#include "packer.h"
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
                        int headerDeadlineMs) {
  auto start = std::chrono::steady_clock::now();
  Deadline headerBy = start + std::chrono::milliseconds(headerDeadlineMs);
  Deadline requestBy = start + std::chrono::milliseconds(kRequestDeadlineMs);
  unsigned char raw[kClientHeaderSize];
  nbplat::IoStatus st = RecvExactBy(s, raw, sizeof raw, idleMs, headerBy);
  if (st != nbplat::IoStatus::Ok) return ReadFailure(st, headerBy);
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
  }
  return "?";
}

bool SendPacket(nbplat::Socket s, const nbServiceHeader& h, const std::string& body) {
  unsigned char raw[kServiceHeaderSize];
  EncodeServiceHeader(h, raw);
  if (!nbplat::SendAll(s, raw, sizeof raw).ok()) return false;
  return body.empty() || nbplat::SendAll(s, body.data(), body.size()).ok();
}

void AddKind(RequestRecord* rec, int kind) {
  if (!rec->kinds.empty()) rec->kinds += ',';
  rec->kinds += std::to_string(kind);
}

// Sends one packet without body (kinds 5, 6, 7) and records it.
void SendBare(nbplat::Socket s, RequestRecord* rec, std::uint16_t kind, std::uint32_t size,
              std::int32_t money) {
  nbServiceHeader h;
  h.msg = kind;
  h.size = size;
  h.money = money;
  if (SendPacket(s, h, std::string())) rec->sent += kServiceHeaderSize;
  AddKind(rec, kind);
}

// Tells the client that the answer failed: a content header announcing a
// body that never comes. The client reads it as an answer cut short and
// hands the browser no page that looks whole.
void SendCutMarker(nbplat::Socket s, RequestRecord* rec, std::int32_t money) {
  nbServiceHeader h;
  h.msg = NB_PACKET_NOCOMPRESS;
  h.size = 1;
  h.money = money;
  if (SendPacket(s, h, std::string())) rec->sent += kServiceHeaderSize;
  AddKind(rec, h.msg);
}

// The web server's answer, or an error page of our own. *cut: the server
// sent part of an answer and then reset or fell silent.
std::string FetchOrErrorPage(const nbClientHeader& h, const std::string& request,
                             const ServiceConfig& config, RequestRecord* rec, bool* cut) {
  if (IsRefusedDestination(h.ipNet, h.port, config.allowPrivate)) {
    rec->result = "refused";
    return MakeErrorResponse(403, "Forbidden",
                             "This service does not fetch from " + rec->destination + ".");
  }
  FetchLimits limits;
  limits.connectMs = kFetchConnectMs;
  limits.idleMs = config.fetchIdleMs;
  limits.maxResponse = config.maxResponse;
  FetchResult f = Fetch(h.ipNet, h.port, WithoutAcceptEncoding(request), limits);
  switch (f.status) {
    case FetchStatus::Complete:
      rec->result = "served";
      break;
    case FetchStatus::TimedOut:
      rec->result = f.response.empty() ? "timeout" : "cut-timeout";
      break;
    case FetchStatus::Cut:
      rec->result = "cut";
      break;
    case FetchStatus::Truncated:
      rec->result = "served-truncated";
      break;
    case FetchStatus::ConnectFailed:
      rec->result = "connect-failed";
      break;
    case FetchStatus::SendFailed:
      rec->result = "send-failed";
      break;
  }
  *cut = (f.status == FetchStatus::TimedOut || f.status == FetchStatus::Cut) && !f.response.empty();
  if (f.response.empty()) {
    return MakeErrorResponse(502, "Bad Gateway",
                             "The web server " + rec->destination + " did not answer.");
  }
  return std::move(f.response);
}

class Session {
 public:
  Session(nbplat::Socket s, const ServiceConfig& config, ServiceLog& log)
      : s_(s), config_(config), log_(log) {}
  ~Session() { log_.Write(rec_); }
  void Run();

 private:
  // Clock check with at most one correction; false ends the connection.
  bool SettleClock();
  // Account, authentication and money; false ends the connection.
  bool Admit();
  void Answer();

  nbplat::Socket s_;
  const ServiceConfig& config_;
  ServiceLog& log_;
  RequestRecord rec_;
  nbClientHeader header_;
  std::string request_;
  std::int32_t authTime_ = 0;
  std::uint16_t authCode_ = 0;
  std::unique_ptr<AccountsDb> db_;
  bool charged_ = false;  // a real account pays; a guest without account does not
  Account account_;
};

void Session::Run() {
  ReadOutcome o =
      ReadRequest(s_, config_.clientIdleMs, &header_, &request_, config_.headerDeadlineMs);
  rec_.login = header_.login;
  if (o != ReadOutcome::Ok) {
    rec_.result = std::string("bad-request-") + OutcomeName(o);
    return;
  }
  rec_.received = kClientHeaderSize + header_.size;
  rec_.destination = FormatIPv4(header_.ipNet) + ":" + std::to_string(header_.port);
  if (!SettleClock() || !Admit()) return;
  Answer();
}

bool Session::SettleClock() {
  authTime_ = header_.time;
  authCode_ = header_.authCode;
  std::int64_t now = ServiceClock();
  if (!ClockNeedsCorrection(header_.time, now)) return true;
  SendBare(s_, &rec_, NB_PACKET_TIMESHIFT, static_cast<std::uint32_t>(now), 0);
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

bool Session::Admit() {
  std::string error;
  db_ = AccountsDb::Open(config_.dbPath, &error);
  if (!db_) {
    rec_.result = "db-error";
    log_.Note("database error: " + error);
    return false;
  }
  LookupResult found = db_->Lookup(header_.login, &account_);
  if (found == LookupResult::Error) {
    rec_.result = "db-error";
    log_.Note("database error: " + db_->LastError());
    return false;
  }
  if (found == LookupResult::Missing) {
    // Login 0 with no stored account is the guest: no secret to check, no
    // money to take.
    if (header_.login == 0 && config_.allowGuests) return true;
    SendBare(s_, &rec_, NB_PACKET_AUTHFAILED, 0, 0);
    rec_.result = "authfailed";
    return false;
  }
  if (!AuthCodeMatches(account_.digest, authTime_, authCode_)) {
    SendBare(s_, &rec_, NB_PACKET_AUTHFAILED, 0, 0);
    rec_.result = "authfailed";
    return false;
  }
  rec_.money = account_.money;
  if (account_.money <= 0) {
    SendBare(s_, &rec_, NB_PACKET_NOMONEY, static_cast<std::uint32_t>(header_.login),
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
  bool cut = false;
  std::string response = FetchOrErrorPage(header_, request_, config_, &rec_, &cut);
  if (rec_.result == "served-truncated" && IsRepeatableRequest(request_)) {
    // Too big to hold here: a no-money answer naming login 0 makes the
    // client fetch this one request directly and keep using the service
    // for the next ones, instead of handing the browser a cut-off answer.
    SendBare(s_, &rec_, NB_PACKET_NOMONEY, 0, MoneyForHeader(charged_ ? account_.money : 0));
    rec_.result = "too-big-direct";
    return;
  }
  if (cut) {
    // The site reset or fell silent before the end: nothing of it is
    // served as if it were whole, and nothing is charged.
    SendCutMarker(s_, &rec_, MoneyForHeader(charged_ ? account_.money : 0));
    return;
  }
  PackedAnswer answer = PackResponse(response, header_.jpegLevel);
  response.clear();
  std::uint64_t total = 0;
  for (const auto& p : answer.packets) total += kServiceHeaderSize + p.body.size();

  // Charge for everything before sending, so every packet carries the
  // balance after this answer; what cannot be sent is given back below.
  std::int64_t cost = charged_ ? CostOfBytes(total, config_.pricePerMiB) : 0;
  std::int64_t balance = charged_ ? account_.money : 0;
  if (charged_ && !db_->Charge(header_.login, cost, &balance)) {
    log_.Note("charge failed for login " + std::to_string(header_.login) + ": " + db_->LastError());
    cost = 0;
    balance = account_.money;
  }
  std::uint64_t sentBodies = 0, sentBefore = 0, sentAll = 0;
  bool broken = false;
  for (auto& p : answer.packets) {
    p.header.money = MoneyForHeader(balance);
    if (!SendPacket(s_, p.header, p.body)) {
      broken = true;
      break;
    }
    AddKind(&rec_, p.header.msg);
    sentAll += kServiceHeaderSize + p.body.size();
    sentBodies += p.body.size();
    sentBefore += p.header.decompSize;
  }
  if (broken && charged_ && cost > 0) {
    std::int64_t refund = cost - CostOfBytes(sentAll, config_.pricePerMiB);
    if (refund > 0 && db_->Charge(header_.login, -refund, &balance)) cost -= refund;
    rec_.result += "-client-gone";
  }
  rec_.before = sentBefore;
  rec_.after = sentBodies;
  rec_.sent += sentAll;
  rec_.charged = cost;
  rec_.money = balance;
}

}  // namespace

void ServeConnection(nbplat::Socket s, const ServiceConfig& config, ServiceLog& log) {
  Session session(s, config, log);
  session.Run();
}

}  // namespace nbsvc
