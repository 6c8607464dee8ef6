// wininet_fetch <url>: prints the body of url fetched through WinINet with
// the preconfigured (registry) proxy settings, as a browser of the system
// would fetch it. Exit code 0 on a 200 answer, 1 otherwise.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string arg = argv[1];  // a URL: ASCII
  const std::wstring target(arg.begin(), arg.end());
  HINTERNET net =
      InternetOpenW(L"wininet_fetch", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!net) return 1;
  HINTERNET url = InternetOpenUrlW(net, target.c_str(), nullptr, 0,
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  int rc = 1;
  if (url) {
    DWORD status = 0, size = sizeof status;
    HttpQueryInfoW(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    char buf[4096];
    DWORD got = 0;
    while (InternetReadFile(url, buf, sizeof buf, &got) && got > 0)
      std::fwrite(buf, 1, got, stdout);
    rc = status == 200 ? 0 : 1;
    InternetCloseHandle(url);
  }
  InternetCloseHandle(net);
  return rc;
}
