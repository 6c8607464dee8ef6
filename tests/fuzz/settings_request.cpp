// What a browser sends the settings console: the request line's file, the
// host and origin checks, the form body and the page it then shows.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/http_text.h"
#include "kernel/options.h"
#include "settings/settingsman.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string request(reinterpret_cast<const char*>(data), size);
  SettingsMan man(gClient);
  std::string fileName;
  man.GetFileNameFromRequest(request, fileName);
  IsConsoleHost(request, 3344, "127.0.0.1");
  IsSameOriginRequest(request, 3344);

  std::string text = request;
  UndecorateHttpString(&text);
  Program_Options po;
  ApplySettingsForm(request, po);
  RenderSettingsPage("<p>idLogin idPassword idProxyName idBlockingUrls idStatSince</p>" + text, po);
  return 0;
}
