// The settings console: a minimal local web server on the settings port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kernel/context.h"
#include "support/nbSocket.h"

namespace nbset {

inline constexpr int kRequestLimit = 4096;     // URL and header value texts
inline constexpr int kHeadLimit = 16384;       // largest request head read whole
inline constexpr int kHeadDeadlineMs = 10000;  // the whole request, head and body, within this
inline constexpr int kDrainMs = 200;           // unread bytes dropped before a refusal closes
inline constexpr int kFileBlock = 4096;        // image sent in blocks of this size
inline constexpr int kPassPauseMs = 300;       // pause after each connection
inline constexpr int kStopDelayMs = 2000;      // stop page shown, then the program ends
inline constexpr int kRecvTimeoutMs = 5000;    // a silent local connection is dropped
inline constexpr int kMaxFormBytes = 65536;    // largest form body read in full
inline constexpr const char* kTemplateFile = "share/ClientHtmlGUI.htm";
inline constexpr const char* kImageFile = "share/elefant256.jpg";
// Address of the service's login page shown on the settings page.
inline constexpr const char* kLoginPageUrl = "http://nimbrel.example/login";

}  // namespace nbset

enum {
  NBC_ERR_PORT_ALREADY_ASSIGNED = 1,
  NBC_ERR_COULDNOT_LISTEN_PORT = 2,
  NBC_ERR_INVALID_OPERATION = 3,
  NBC_ERR_COULDNOT_EXTRACT_URL = 4,
  NBC_ERR_ALREADY_STARTED = 5,
  NBC_ERR_COULDNOT_OPEN_FILE = 6,
  NBC_ERR_COULDNOT_SAVE = 7,
};

class SettingsMan {
 public:
  // Holds no socket until CreateSocket or Start. Shows and changes ctx's
  // options; ctx outlives the console.
  explicit SettingsMan(ClientContext& ctx);
  // Closes the listener, if any; the loop must have ended.
  ~SettingsMan();
  // CreateSocket(iPort) unless iPort is the port already listened on
  // (NBC_ERR_PORT_ALREADY_ASSIGNED).
  int AssignPort(int iPort);
  // Replaces the listener with one on iPort: 0, or
  // NBC_ERR_COULDNOT_LISTEN_PORT (the port is taken or out of 1..65534).
  int CreateSocket(int iPort);
  // Closes the listener: 0, or NBC_ERR_INVALID_OPERATION when there is none.
  int DestroySocket();
  // Listens on iPort and serves one connection after another until Stop;
  // blocks. NBC_ERR_ALREADY_STARTED while running, or CreateSocket's error.
  int Start(int iPort);
  // Ends the loop of Start from any thread: closes the listener for new
  // connections; the loop frees it as it ends. NBC_ERR_INVALID_OPERATION
  // when not started.
  int Stop();
  // True between Start and Stop.
  bool Enabled();
  // The file or action the request's URL names: the image, "stop",
  // "compress-off", "compress-on" or else the page template. 0, or
  // NBC_ERR_COULDNOT_EXTRACT_URL when the request has no URL.
  int GetFileNameFromRequest(std::string& request, std::string& fileName);
  // True for every file but the .htm template.
  bool IsFileBinary(std::string& fileName);
  // True when host names 127.0.0.1 or localhost.
  bool IsHostValid(std::string host);
  // Sends the file after a 200 head in kFileBlock blocks: 0, or
  // NBC_ERR_COULDNOT_OPEN_FILE (nothing sent).
  int SendBinaryFile(std::string fileName, nbSocket& Socket);
  // Sends the settings page rendered from the template file and the
  // options (or the missing-template page); always 0.
  int SendSettingsPage(std::string& fileName, nbSocket& Socket);
  // Applies the form body to the options and saves the file: 0, or
  // NBC_ERR_COULDNOT_SAVE when the file could not be written (the options in
  // memory are changed all the same).
  int ProcessPostRequest(std::string& settings, nbSocket& Socket);

 private:
  // The listener the loop waits on; nullptr when there is none. The object
  // lives until the loop has ended (Stop only closes it for further
  // connections), so no thread ever uses a deleted socket object.
  nbSocket* CurrentSocket();
  // One pass of the loop on a fresh client object; false when the request
  // had no URL (closed unanswered, next pass at once without a pause).
  bool ServePass(nbSocket& client);
  // Ends the wait of a blocked Accept on iPort with a connection of our own.
  void WakeAccept(int iPort);

  ClientContext& ctx_;
  std::atomic<bool> m_bEnabled;
  int m_iPort;
  std::unique_ptr<nbSocket> m_pSocket;  // the listener
  std::mutex m_mtxSocket;               // guards m_pSocket
  std::atomic<bool> m_bLooping{false};  // the server loop is running
};

// The settings page for a template text and an options record: the
// placeholder words replaced by their values (single pass, so a value that
// contains a placeholder word is shown as it stands). The access line says
// when pages go uncompressed: compression off, or the service not reached.
std::string RenderSettingsPage(const std::string& sTemplate, const Program_Options& po,
                               bool serviceReached = true);
// The template file's text, one "\n" after each line (CR of CR LF dropped);
// false when it cannot be read.
bool ReadSettingsTemplate(const std::string& fileName, std::string& sTemplate);
// The page sent when the template is missing.
std::string SettingsTemplateMissingPage();
// The statistics start in local time as дд.мм.гггг and 24-hour time.
std::string FormatStatSince(double dStatSince);

// Applies the form body as the browser sent it ("name=value&...", each name
// and value encoded, "+" for a blank) to po. Text areas give one entry per
// non-empty line.
void ApplySettingsForm(const std::string& settings, Program_Options& po);

// True when the request has one Host line naming this console: localhost,
// 127.0.0.1 or sLocalAddress (the dotted address it was reached on), with
// the port iPort if one is given. Every request must pass it, so a page of
// another site reaching the console through a rebound name gets nothing.
bool IsConsoleHost(const std::string& request, int iPort, const std::string& sLocalAddress = "");
// True when a request for the form or /stop can only have come from the
// console's own page: IsConsoleHost, and Sec-Fetch-Site, Origin and Referer,
// where present, same-origin.
bool IsSameOriginRequest(const std::string& request, int iPort,
                         const std::string& sLocalAddress = "");

// Outcome of reading a request head: whole (with whatever of the body came
// along), larger than kHeadLimit, or cut off (end of stream, silence, error
// or kHeadDeadlineMs passed).
enum class HeadRead { Complete, TooLarge, Cut };
// Reads until the blank line that ends the head, at most limit bytes and
// within deadlineMs in all.
HeadRead ReadRequestHead(nbSocket& client, std::string& request, std::size_t limit, int deadlineMs);

// The form data of a POST: what follows "idJpgLvl" in the request (or one
// further receive when it is absent), completed up to Content-Length by
// further receives. False when an announced body did not arrive whole, or
// not before deadlineMs after startMs (nbplat::TickCountMs of the request's
// start) had passed.
bool ReadFormData(std::string& request, nbSocket& client, std::string& form, std::uint32_t startMs,
                  int deadlineMs);
// One receive of at most iLength bytes that gives up after timeoutMs of
// silence; false (s empty) on time-out, end of stream or error.
bool RecvWithin(nbSocket& Socket, std::string& s, int iLength, int timeoutMs);

// The answer to a settings form that could not be saved.
std::string SettingsNotSavedPage();
// The answer to a stop request.
std::string SettingsStopPage();
// The answer to a request head larger than kHeadLimit.
std::string SettingsHeadTooLargePage();
