// The only interface between the client and the operating system. Everything
// that needs a system header lives behind these declarations; the POSIX and
// Win32 implementations sit in posix/ and win32/ and are picked by CMake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nbplat {

// ---- Sockets ---------------------------------------------------------------

// A socket handle as a plain integer. kNoSocket means "no socket"; it is never
// a valid handle on either platform.
using Socket = std::uintptr_t;
inline constexpr Socket kNoSocket = ~static_cast<Socket>(0);

// Outcome of one send or receive: distinct results for data, an orderly end
// of stream, an expired wait and a failure.
enum class IoStatus { Ok, Closed, TimedOut, Failed };
struct IoResult {
  IoStatus status;
  std::size_t bytes;  // bytes moved; 0 unless status is Ok
  bool ok() const { return status == IoStatus::Ok; }
};

// Starts and stops the sockets library (WSAStartup 2.2 / nothing on POSIX).
bool NetStartup();
void NetCleanup();

// New IPv4 TCP stream socket, or kNoSocket.
Socket TcpSocket();
// Closes the handle; kNoSocket is ignored.
void CloseSocket(Socket s);
// Shuts both directions down (no close).
void ShutdownSocket(Socket s);
// Shuts only our sending side down: the peer reads an end of stream, and
// what it still sends can be read.
void ShutdownSend(Socket s);
// Waits until a or b has data, an end of stream or an error to read.
// Returns a mask (1: a, 2: b), 0 when timeoutMs passed with neither ready
// (timeoutMs < 0 waits for ever), -1 on failure. kNoSocket is not watched.
int WaitReadable(Socket a, Socket b, int timeoutMs);
bool SetReuseAddress(Socket s);
// Lets a listening socket bind its port again at once after the program
// restarts, while connections of the previous run still wind down, without
// ever letting a second listener share the port (SO_REUSEADDR on POSIX, where
// two listeners are refused anyway; nothing on Windows, where SO_REUSEADDR
// would let a second copy bind the same port).
bool AllowListenRestart(Socket s);
bool SetBlocking(Socket s);
// Binds to every local IPv4 address (or to ipNet when non-zero) at port.
bool BindIPv4(Socket s, std::uint16_t port, std::uint32_t ipNet = 0);
bool ListenOn(Socket s, int backlog);
// Port the socket is bound to (host order), 0 when unknown.
std::uint16_t LocalPort(Socket s);
// IPv4 address (network byte order) the socket's local end is bound to, 0
// when unknown.
std::uint32_t LocalIPv4(Socket s);
// Blocks for the next connection; *peerIpNet receives the peer's IPv4
// address in network byte order. kNoSocket on failure.
Socket AcceptConnection(Socket listener, std::uint32_t* peerIpNet);
// Connects to ipNet:port; timeoutMs < 0 waits as long as the system does.
bool ConnectIPv4(Socket s, std::uint32_t ipNet, std::uint16_t port, int timeoutMs = -1);
// One send call (never raises SIGPIPE).
IoResult SendSome(Socket s, const void* data, std::size_t len);
// Sends all bytes, looping over partial sends; Ok only when all went out.
IoResult SendAll(Socket s, const void* data, std::size_t len);
// One receive of at most len bytes. timeoutMs < 0 waits for ever; otherwise
// TimedOut when nothing arrives within timeoutMs.
IoResult RecvSome(Socket s, void* data, std::size_t len, int timeoutMs = -1);
// Every later send on s that makes no progress for timeoutMs ends with
// TimedOut instead of waiting for a peer that stopped reading.
bool SetSendTimeout(Socket s, int timeoutMs);
// Makes the next CloseSocket end the connection with a reset (linger 0), so
// the peer sees an abort rather than an orderly end; unsent data is dropped.
bool SetResetOnClose(Socket s);
// Sends small writes at once instead of holding them until what went before
// is acknowledged (for a link whose answers end in a small packet).
bool SetNoDelay(Socket s);
// First IPv4 address of host (network byte order); false when it does not resolve.
bool ResolveIPv4(const std::string& host, std::uint32_t* ipNet);
// IPv4 addresses of this machine's network interfaces that are up, network
// byte order, read afresh on each call (addresses come and go). Loopback may
// or may not be among them. Empty when the system does not tell.
std::vector<std::uint32_t> LocalIPv4Addresses();

// ---- Time, threads, process ------------------------------------------------

// Milliseconds since system start, 32 bits, wrapping like GetTickCount.
std::uint32_t TickCountMs();
void SleepMs(unsigned ms);
// Small integer naming the calling thread, for diagnostics.
unsigned long CurrentThreadId();

// Full path of the running executable, and its folder (no trailing separator).
std::string ProgramPath();
std::string ProgramFolder();
bool SetCurrentDir(const std::string& dir);
// Path separator of the platform ('\\' or '/').
char PathSeparator();

// Makes a write to a closed socket return an error instead of ending the
// process (SIGPIPE), and calls onStop once on SIGINT/SIGTERM (Ctrl+C/close
// on Windows). onStop runs on a thread of its own, never in a signal handler.
void InstallStopHandler(void (*onStop)());

// Claims `name` for this process until it ends. False only when another
// running process (or this one) holds the claim already; true as well when
// the system cannot tell. Scope: the session on Windows, the network
// namespace on Linux.
bool ClaimInstance(const std::string& name);

// Message box with an information icon and OK (stderr on Linux). Texts are
// Windows-1251 bytes.
void ShowMessage(const std::string& caption, const std::string& text);
// The same with an error icon.
void ShowError(const std::string& caption, const std::string& text);
// Opens url in the default browser (ShellExecute "open" / xdg-open).
void OpenUrl(const std::string& url);
// Runs a command line hidden; waits for it to end when wait is true.
// Returns false when it could not be started.
bool RunHidden(const std::string& commandLine, bool wait);
// The routing table as text in which every address stands in numeric dotted
// form (netstat -r on Windows, the kernel's IPv4 routes on Linux). Empty when
// it cannot be read.
std::string ReadRouteTable();

// ---- Files -------------------------------------------------------------------

// Moves the file `from` over `to`, replacing an existing `to` in one step
// (rename / MoveFileEx with MOVEFILE_REPLACE_EXISTING). False on failure,
// and then `to` is left as it was.
bool ReplaceFile(const std::string& from, const std::string& to);

// ---- Re-entrant kernel lock --------------------------------------------------

// A re-entrant mutex. On Windows a named kernel mutex (two objects with the
// same name share one mutex); on POSIX a recursive mutex registered by name.
// Made without a name, the lock is its own and shared with no other object.
class NamedMutex {
 public:
  NamedMutex();
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  void Lock();
  // False when the calling thread did not hold the mutex.
  bool Unlock();
  // Handle value for diagnostics.
  std::uintptr_t Handle() const;

 private:
  void* impl_;
};

}  // namespace nbplat
