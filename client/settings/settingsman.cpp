// SettingsMan's socket ownership, URL-to-file choice, address check, image
// sending.
#include "settings/settingsman.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "http/http_head.h"
#include "http/http_text.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "platform/owned_socket.h"
#include "support/debug.h"

SettingsMan::SettingsMan(ClientContext& ctx) : ctx_(ctx), m_bEnabled(false), m_iPort(0) {}

SettingsMan::~SettingsMan() { DestroySocket(); }

int SettingsMan::AssignPort(int iPort) {
  nbTraceScope t("int SettingsMan::AssignPort(int iPort)");
  if (iPort == m_iPort) {
    dbgmsg("SettingsMan::AssignPort ==> NBC_ERR_PORT_ALREADY_ASSIGNED");
    return NBC_ERR_PORT_ALREADY_ASSIGNED;
  }
  return CreateSocket(iPort);
}

int SettingsMan::CreateSocket(int iPort) {
  nbTraceScope t("int SettingsMan::CreateSocket(int iPort)");
  DestroySocket();
  std::lock_guard<std::mutex> lock(m_mtxSocket);
  m_pSocket = std::make_unique<nbSocket>();
  if (!m_pSocket->Listen(iPort)) {
    // The failed object stays (a failed bind may still hold a handle, which
    // DestroySocket closes).
    dbgmsg("SettingsMan::CreateSocket ==> NBC_ERR_COULDNOT_LISTEN_PORT");
    return NBC_ERR_COULDNOT_LISTEN_PORT;
  }
  m_iPort = iPort;
  return 0;
}

int SettingsMan::DestroySocket() {
  nbTraceScope t("int SettingsMan::DestroySocket()");
  std::lock_guard<std::mutex> lock(m_mtxSocket);
  if (m_pSocket == nullptr) {
    dbgmsg("SettingsMan::DestroySocket ==> NBC_ERR_INVALID_OPERATION");
    return NBC_ERR_INVALID_OPERATION;
  }
  // The handle is closed too, so the port can be listened on again at once.
  m_pSocket->Close();
  m_pSocket.reset();
  return 0;
}

nbSocket* SettingsMan::CurrentSocket() {
  std::lock_guard<std::mutex> lock(m_mtxSocket);
  return m_pSocket.get();
}

void SettingsMan::WakeAccept(int iPort) {
  // Where closing the listener does not end the wait (Windows), a
  // connection of our own does; the loop then finds m_bEnabled cleared.
  if (iPort <= 0 || iPort > 65535) return;
  nbplat::OwnedSocket s(nbplat::TcpSocket());
  if (!s.valid()) return;
  nbplat::ConnectIPv4(s.get(), nb::kLoopbackNet, static_cast<std::uint16_t>(iPort), 1000);
}

int SettingsMan::Stop() {
  nbTraceScope t("int SettingsMan::Stop()");
  if (!m_bEnabled) {
    dbgmsg("SettingsMan::Stop ==> NBC_ERR_INVALID_OPERATION");
    return NBC_ERR_INVALID_OPERATION;
  }
  m_bEnabled = false;
  if (!m_bLooping) return DestroySocket();
  // The loop waits in Accept on the listener: close it for further
  // connections and wake the wait; the loop then ends and frees the object.
  int port;
  {
    std::lock_guard<std::mutex> lock(m_mtxSocket);
    if (m_pSocket == nullptr) {
      dbgmsg("SettingsMan::DestroySocket ==> NBC_ERR_INVALID_OPERATION");
      return NBC_ERR_INVALID_OPERATION;
    }
    nbplat::ShutdownSocket(m_pSocket->Handle());
    port = m_iPort;
  }
  WakeAccept(port);
  return 0;
}

bool SettingsMan::Enabled() {
  nbTraceScope t("bool SettingsMan::Enabled()");
  return m_bEnabled;
}

int SettingsMan::GetFileNameFromRequest(std::string& request, std::string& fileName) {
  nbTraceScope t("int SettingsMan::GetFileNameFromRequest(string &request, string &fileName)");
  const std::string sUrl = GetUrlFromHttpRequest(request);
  if (sUrl.empty() || sUrl.size() >= static_cast<std::size_t>(nbset::kRequestLimit)) {
    dbgmsg("SettingsMan::GetFileNameFromRequest ==> NBC_ERR_COULDNOT_EXTRACT_URL");
    dbgmsg("data:");
    dbgmsg(request);
    return NBC_ERR_COULDNOT_EXTRACT_URL;
  }
  dbgmsg("SetMan: URL requested:");
  dbgmsg(sUrl);
  // Only the path /stop ends the program (the stop form adds an empty
  // query); any other URL that merely contains the word shows the page.
  const std::string sPath = sUrl.substr(0, sUrl.find('?'));
  if (sUrl.find("elefant256.jpg") != std::string::npos) {
    fileName = nbset::kImageFile;
  } else if (sPath == "/stop") {
    fileName = "stop";
  } else if (sUrl.find("/compress-off") != std::string::npos) {
    fileName = "compress-off";
  } else if (sUrl.find("/compress-on") != std::string::npos) {
    fileName = "compress-on";
  } else {
    fileName = nbset::kTemplateFile;
  }
  return 0;
}

bool SettingsMan::IsFileBinary(std::string& fileName) {
  nbTraceScope t("bool SettingsMan::IsFileBinary(string &fileName)");
  return fileName.find(".htm") == std::string::npos;
}

bool SettingsMan::IsHostValid(std::string host) {
  nbTraceScope t("bool SettingsMan::IsHostValid(string host)");
  return host.find("127.0.0.1") != std::string::npos || host.find("localhost") != std::string::npos;
}

int SettingsMan::SendBinaryFile(std::string fileName, nbSocket& Socket) {
  nbTraceScope t("int SettingsMan::SendBinaryFile(string fileName, nbSocket &Socket)");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(fileName.c_str(), "rb"),
                                                    &std::fclose);
  if (!f) {
    dbgmsg("SettingsMan::SendBinaryFile ==> NBC_ERR_COULDNOT_OPEN_FILE");
    return NBC_ERR_COULDNOT_OPEN_FILE;
  }
  Socket.Send("HTTP/1.0 200 OK\r\nContent-Type: \r\n\r\n");
  char block[nbset::kFileBlock];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) {
    if (!Socket.Send(std::string(block, n))) break;  // the browser went away
  }
  return 0;
}

std::string SettingsHeadTooLargePage() {
  return "HTTP/1.0 431 Request Header Fields Too Large\r\nContent-Type: text/html\r\n"
         "Connection: Close\r\n\r\n<html><meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=windows-1251\"><body>Слишком длинный запрос</body></html>";
}

std::string SettingsNotSavedPage() {
  return HtmlAnswer("500 Internal Server Error",
                    "<html><meta http-equiv=\"Content-Type\" content=\"text/html; "
                    "charset=windows-1251\"><body><b>Настройки не сохранены:</b> не удалось "
                    "записать файл " +
                        std::string(kOptionsFileName) +
                        ". Изменения действуют до выхода из программы.<br>"
                        "<a href=\"/\">Страница настроек</a></body></html>");
}

std::string SettingsStopPage() {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nConnection: Close\r\n\r\n"
         "<html><meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=windows-1251\"><body>Программа NimbrelClient завершена</body></html>";
}
