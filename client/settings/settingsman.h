// The settings console: a minimal local web server on the settings port.
#pragma once

#include <string>

#include "support/nbSocket.h"

enum {
  NBC_ERR_PORT_ALREADY_ASSIGNED = 1,
  NBC_ERR_COULDNOT_LISTEN_PORT = 2,
  NBC_ERR_INVALID_OPERATION = 3,
  NBC_ERR_COULDNOT_EXTRACT_URL = 4,
  NBC_ERR_ALREADY_STARTED = 5,
  NBC_ERR_COULDNOT_OPEN_FILE = 6,
};

class SettingsMan {
 public:
  SettingsMan();
  ~SettingsMan();
  int AssignPort(int iPort);
  int CreateSocket(int iPort);
  int DestroySocket();
  // Server loop; blocks until stopped.
  int Start(int iPort);
  int Stop();
  bool Enabled();
  int GetFileNameFromRequest(std::string& request, std::string& fileName);
  bool IsFileBinary(std::string& fileName);
  bool IsHostValid(std::string host);
  int SendBinaryFile(std::string fileName, nbSocket& Socket);
  int SendSettingsPage(std::string& fileName, nbSocket& Socket);
  int ProcessPostRequest(std::string& settings, nbSocket& Socket);

 private:
  bool m_bEnabled;
  int m_iPort;
  nbSocket* m_pSocket;
};

extern SettingsMan* SetMan;
// Thread entry of the settings console; the argument is ignored.
void StartSettingsMan(void*);
